// Hex dumps: the exact line layout, the trailing spaces/NULs line, row widths
// by indentation (every indentation prints at least one byte per row), and
// the stream, FILE and callback sinks with their results.

#include <stdio.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/bio.h>

namespace {

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; i++) out += s;
  return out;
}

// Collects the lines handed to a callback sink.
struct Lines {
  std::vector<std::string> lines;
  int result = 1;  // what the sink returns per line
};

int Collect(const void* data, size_t len, void* u) {
  auto* l = static_cast<Lines*>(u);
  l->lines.emplace_back(static_cast<const char*>(data), len);
  return l->result;
}

std::vector<std::string> Dump(const std::string& data, int indent) {
  Lines l;
  BIO_dump_indent_cb(Collect, &l, data.data(), static_cast<int>(data.size()), indent);
  return l.lines;
}

std::string MemContents(BIO* b) {
  char* p = nullptr;
  long n = BIO_get_mem_data(b, &p);
  return n > 0 ? std::string(p, static_cast<size_t>(n)) : std::string();
}

TEST(HexDump, ThreeLettersAndTwoSpaces) {
  auto lines = Dump("ABC  ", 0);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "0000 - 41 42 43 " + Repeat("   ", 13) + "  ABC\n");
  EXPECT_EQ(lines[1], "0005 - <SPACES/NULS>\n");
}

TEST(HexDump, OnlyNulsGiveOnlyTheTrimLine) {
  auto lines = Dump(std::string(16, '\0'), 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "0010 - <SPACES/NULS>\n");
}

TEST(HexDump, SeventeenBytes) {
  auto lines = Dump(std::string(17, 'a'), 0);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "0000 - 61 61 61 61 61 61 61 61-61 61 61 61 61 61 61 61   aaaaaaaaaaaaaaaa\n");
  EXPECT_EQ(lines[1], "0010 - 61 " + Repeat("   ", 15) + "  a\n");
  // With the widest indentation of 16-byte rows, a full line with a 4-digit
  // offset is 79 characters before its newline.
  EXPECT_EQ(Dump(std::string(17, 'a'), 6)[0].size(), 80u);
}

TEST(HexDump, IndentSevenGivesFifteenBytesPerRow) {
  auto lines = Dump(std::string(40, 'x'), 7);
  ASSERT_EQ(lines.size(), 3u);
  std::string pad(7, ' ');
  EXPECT_EQ(lines[0], pad + "0000 - 78 78 78 78 78 78 78 78-78 78 78 78 78 78 78   " +
                          std::string(15, 'x') + "\n");
  EXPECT_EQ(lines[1].substr(0, 14), pad + "000f - ");
  EXPECT_EQ(lines[2], pad + "001e - 78 78 78 78 78 78 78 78-78 78 " + Repeat("   ", 5) + "  " +
                          std::string(10, 'x') + "\n");
}

TEST(HexDump, CharacterColumn) {
  const std::string data = std::string("a b") + '\x7f' + '\x80' + '\x1f' + '~' + '\0' + "z";
  auto lines = Dump(data, 0);
  ASSERT_EQ(lines.size(), 1u);  // inner spaces and NULs are dumped
  EXPECT_EQ(lines[0], "0000 - 61 20 62 7f 80 1f 7e 00-7a " + Repeat("   ", 7) + "  a b...~.z\n");
}

TEST(HexDump, NothingForEmptyOrNegativeLength) {
  Lines l;
  EXPECT_EQ(BIO_dump_cb(Collect, &l, "abc", 0), 0);
  EXPECT_EQ(BIO_dump_cb(Collect, &l, "abc", -5), 0);
  EXPECT_TRUE(l.lines.empty());
}

TEST(HexDump, IndentIsClampedTo128) {
  EXPECT_EQ(Dump("hello", 200), Dump("hello", 128));
  EXPECT_EQ(Dump("hello", -3), Dump("hello", 0));
  auto lines = Dump("hi", 128);
  ASSERT_EQ(lines.size(), 2u);  // one byte per row
  EXPECT_EQ(lines[0], std::string(128, ' ') + "0000 - 68   h\n");
  EXPECT_EQ(lines[1], std::string(128, ' ') + "0001 - 69   i\n");
}

// Every indentation prints every byte: read the hexadecimal columns back.
TEST(HexDump, EveryIndentationPrintsAllBytes) {
  std::mt19937 rng(5);
  std::string data(50, '\0');
  for (auto& c : data) c = static_cast<char>(rng());
  data.back() = 'z';  // nothing trimmed
  for (int indent = -2; indent <= 140; indent++) {
    int pad = std::min(std::max(indent, 0), 128);
    int width = 16 - (pad - std::min(pad, 6) + 3) / 4;
    if (width < 1) width = 1;
    auto lines = Dump(data, indent);
    ASSERT_EQ(lines.size(), (data.size() + width - 1) / width) << indent;
    std::string back;
    for (size_t row = 0; row < lines.size(); row++) {
      const std::string& line = lines[row];
      ASSERT_EQ(line.substr(0, pad), std::string(pad, ' ')) << indent;
      char offset[16];
      snprintf(offset, sizeof(offset), "%04zx - ", row * width);
      ASSERT_EQ(line.substr(pad, 7), offset) << indent;
      for (int j = 0; j < width && back.size() < data.size(); j++) {
        back += static_cast<char>(std::stoi(line.substr(pad + 7 + 3 * j, 2), nullptr, 16));
      }
    }
    EXPECT_EQ(back, data) << indent;
  }
}

TEST(HexDump, StreamSinkAddsUpBytes) {
  std::string data(40, 'q');
  data += "  ";
  BIO* mem = BIO_new(BIO_s_mem());
  ASSERT_NE(mem, nullptr);
  int n = BIO_dump(mem, data.data(), static_cast<int>(data.size()));
  std::string out = MemContents(mem);
  EXPECT_EQ(n, static_cast<int>(out.size()));
  std::string expected;
  for (const auto& line : Dump(data, 0)) expected += line;
  EXPECT_EQ(out, expected);
  BIO_free(mem);

  mem = BIO_new(BIO_s_mem());
  n = BIO_dump_indent(mem, data.data(), static_cast<int>(data.size()), 9);
  out = MemContents(mem);
  EXPECT_EQ(n, static_cast<int>(out.size()));
  expected.clear();
  for (const auto& line : Dump(data, 9)) expected += line;
  EXPECT_EQ(out, expected);
  BIO_free(mem);
}

TEST(HexDump, FileSinkCountsLines) {
  std::string data(40, 'f');
  FILE* fp = tmpfile();
  ASSERT_NE(fp, nullptr);
  EXPECT_EQ(BIO_dump_fp(fp, data.data(), 40), 3);
  EXPECT_EQ(BIO_dump_indent_fp(fp, data.data(), 40, 30), 4);  // 10 bytes per row
  rewind(fp);
  std::string got;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), fp)) > 0) got.append(buf, n);
  fclose(fp);
  std::string expected;
  for (const auto& line : Dump(data, 0)) expected += line;
  for (const auto& line : Dump(data, 30)) expected += line;
  EXPECT_EQ(got, expected);
}

TEST(HexDump, CallbackResultsAreSummed) {
  Lines l;
  l.result = -2;  // a failing sink does not stop the dump
  EXPECT_EQ(BIO_dump_indent_cb(Collect, &l, "0123456789abcdefXYZ\0", 20, 0), -6);
  EXPECT_EQ(l.lines.size(), 3u);
  EXPECT_EQ(l.lines.back(), "0014 - <SPACES/NULS>\n");
}

}  // namespace
