// CONF_parse_list uses its separator as a char: one whose low byte is 0 is no
// separator at all (the text stays one element and nothing past its end is
// read), and 256 + ',' splits at commas.

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/conf.h>

namespace {

std::vector<std::string> Split(const char* list, int sep) {
  std::vector<std::string> out;
  const int r = CONF_parse_list(
      list, sep, 0,
      [](const char* elem, int len, void* arg) {
        static_cast<std::vector<std::string>*>(arg)->push_back(
            elem == nullptr ? "<null>" : std::string(elem, static_cast<size_t>(len)));
        return 1;
      },
      &out);
  out.push_back("=" + std::to_string(r));
  return out;
}

TEST(ConfParseListSeparator, ComparedAsChar) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Split("a,b", 256), (V{"a,b", "=1"}));
  EXPECT_EQ(Split("a,b", 0x10000), (V{"a,b", "=1"}));
  EXPECT_EQ(Split("a,b", 256 + ','), (V{"a", "b", "=1"}));
}

}  // namespace
