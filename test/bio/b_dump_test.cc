// Hex dumps: the exact lines of test/data/bio/hex_dump.txt, row widths by
// indentation (every indentation prints at least one byte per row), and the
// stream, FILE and callback sinks with their results.

#include <stdio.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/bio.h>

#include "test_support.h"

namespace {

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

std::string Joined(const std::string& data, int indent) {
  std::string out;
  for (const auto& line : Dump(data, indent)) out += line;
  return out;
}

TEST(HexDump, GoldenLines) {
  auto records = morvane_test::ReadRsp(morvane_test::TestDataFile("bio/hex_dump.txt"));
  ASSERT_EQ(records.size(), 9u);
  for (const auto& r : records) {
    morvane_test::Bytes bytes = morvane_test::FromHex(r.Get("data"));
    const std::string data(bytes.begin(), bytes.end());
    const int indent = std::stoi(r.Get("indent"));
    const std::string pad(static_cast<size_t>(std::clamp(indent, 0, 128)), ' ');
    std::vector<std::string> want;
    for (int i = 0; r.Has("line" + std::to_string(i)); i++)
      want.push_back(pad + r.Get("line" + std::to_string(i)) + "\n");
    EXPECT_EQ(Dump(data, indent), want) << r.Get("data") << " at " << indent;
  }
}

TEST(HexDump, NothingForEmptyNegativeOrNull) {
  Lines l;
  EXPECT_EQ(BIO_dump_cb(Collect, &l, "abc", 0), 0);
  EXPECT_EQ(BIO_dump_cb(Collect, &l, "abc", -5), 0);
  EXPECT_EQ(BIO_dump_cb(Collect, &l, nullptr, 5), 0);
  EXPECT_TRUE(l.lines.empty());
}

// Every indentation prints every byte, at least one a row (indentations 67
// to 128 once divided by zero): read the hexadecimal columns back.
TEST(HexDump, EveryIndentationPrintsAllBytes) {
  std::mt19937 rng(5);
  std::string data(50, '\0');
  for (auto& c : data) c = static_cast<char>(rng());
  data.back() = 'z';  // nothing trimmed
  for (int indent = -2; indent <= 140; indent++) {
    const size_t pad = static_cast<size_t>(std::clamp(indent, 0, 128));
    std::string back;
    for (const std::string& line : Dump(data, indent)) {
      ASSERT_EQ(line.substr(0, pad), std::string(pad, ' ')) << indent;
      char offset[16];
      snprintf(offset, sizeof(offset), "%04zx - ", back.size());
      ASSERT_EQ(line.substr(pad, 7), offset) << indent;
      ASSERT_NE(line[pad + 7], ' ') << indent;  // a byte in every row
      for (size_t pos = pad + 7; line[pos] != ' '; pos += 3)
        back += static_cast<char>(std::stoi(line.substr(pos, 2), nullptr, 16));
    }
    EXPECT_EQ(back, data) << indent;
  }
}

// The stream sink returns the bytes written, the FILE sink the lines, the
// callback sink the sum of the callback's results (a failing callback does
// not stop the dump).
TEST(HexDump, Sinks) {
  std::string data(40, 'q');
  data += "  ";
  for (int indent : {0, 9}) {
    BIO* mem = BIO_new(BIO_s_mem());
    ASSERT_NE(mem, nullptr);
    const int len = static_cast<int>(data.size());
    int n = indent == 0 ? BIO_dump(mem, data.data(), len) : BIO_dump_indent(mem, data.data(), len, indent);
    char* p = nullptr;
    long got = BIO_get_mem_data(mem, &p);
    EXPECT_EQ(std::string(p, static_cast<size_t>(got)), Joined(data, indent));
    EXPECT_EQ(n, got);
    BIO_free(mem);
  }

  FILE* fp = tmpfile();
  ASSERT_NE(fp, nullptr);
  EXPECT_EQ(BIO_dump_fp(fp, data.data(), 40), 3);
  EXPECT_EQ(BIO_dump_indent_fp(fp, data.data(), 40, 30), 4);  // 10 bytes per row
  rewind(fp);
  std::string got(4096, '\0');
  got.resize(fread(got.data(), 1, got.size(), fp));
  fclose(fp);
  EXPECT_EQ(got, Joined(data.substr(0, 40), 0) + Joined(data.substr(0, 40), 30));

  Lines l;
  l.result = -2;
  EXPECT_EQ(BIO_dump_indent_cb(Collect, &l, "0123456789abcdefXYZ\0", 20, 0), -6);
  EXPECT_EQ(l.lines.size(), 3u);
  EXPECT_EQ(l.lines.back(), "0014 - <SPACES/NULS>\n");
}

}  // namespace
