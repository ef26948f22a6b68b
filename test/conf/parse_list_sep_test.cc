// CONF_parse_list uses its separator as a char: one whose low byte is 0 is no
// separator (one element, nothing read past the text), 256 + ',' is a comma.

#include <string>

#include <gtest/gtest.h>
#include <morvane/conf.h>

namespace {

std::string Split(const char* list, int sep) {
  std::string out;
  CONF_parse_list(
      list, sep, 0,
      [](const char* elem, int len, void* arg) {
        static_cast<std::string*>(arg)->append(elem, static_cast<size_t>(len)).append("|");
        return 1;
      },
      &out);
  return out;
}

TEST(ConfParseListSeparator, ComparedAsChar) {
  EXPECT_EQ(Split("a,b", 256), "a,b|");
  EXPECT_EQ(Split("a,b", 0x10000), "a,b|");
  EXPECT_EQ(Split("a,b", 256 + ','), "a|b|");
}

}  // namespace
