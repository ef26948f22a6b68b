// See print_util.h.

#include "print_util.h"

#include <cstdlib>
#include <sstream>

namespace print_test {

std::string Expected(const std::string& name) {
  std::string text = morvane_test::ReadFile(morvane_test::TestDataFile("print/" + name));
  while (text.compare(0, 2, "##") == 0) {
    const size_t nl = text.find('\n');
    text.erase(0, nl == std::string::npos ? text.size() : nl + 1);
  }
  return text;
}

std::vector<std::vector<std::string>> Rows(const std::string& file, const std::string& section) {
  return morvane_test::ReadTableRows(morvane_test::TestDataFile("print/" + file), section);
}

unsigned long Flags(const std::string& text) {
  return std::strtoul(text.c_str(), nullptr, 0);
}

ASN1_STRING* MakeString(int type, const morvane_test::Bytes& content) {
  ASN1_STRING* s = ASN1_STRING_type_new(type);
  EXPECT_EQ(1, ASN1_STRING_set(s, content.data(), static_cast<int>(content.size())));
  return s;
}

}  // namespace print_test
