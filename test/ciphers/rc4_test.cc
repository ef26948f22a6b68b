// RC4: the RFC 6229 keystreams (test/data/rc4/rfc6229.txt), pieces of any
// size and in place.  Key lengths and texts are in the shared suites.

#include <cstring>
#include <random>

#include <gtest/gtest.h>
#include <morvane/rc4.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

RC4_KEY Keyed(const Bytes& key) {
  RC4_KEY k;
  RC4_set_key(&k, static_cast<int>(key.size()), key.data());
  return k;
}

// RFC 6229, section 2: 16 keystream bytes at each of the listed offsets.
TEST(Rc4, Rfc6229Keystreams) {
  const auto records = morvane_test::ReadRsp(morvane_test::TestDataFile("rc4/rfc6229.txt"));
  ASSERT_EQ(records.size(), 9u);
  for (const auto& r : records) {
    RC4_KEY k = Keyed(FromHex(r.Get("Key")));
    const Bytes zeros(4112, 0);
    Bytes stream(zeros.size());
    RC4(&k, zeros.size(), zeros.data(), stream.data());
    ASSERT_EQ(r.fields.size(), 19u);
    for (const auto& [offset, want] : r.fields) {
      if (offset == "Key") continue;
      EXPECT_EQ(ToHex(&stream[std::stoul(offset)], 16), want) << r.Get("Key") << " @" << offset;
    }
  }
}

// Pieces of any size (0 included) continue one keystream; in place equals
// out of place, and a second pass restores the text.
TEST(Rc4, PiecesAndInPlace) {
  std::mt19937 rng(11);
  Bytes msg(1000);
  for (auto& b : msg) b = static_cast<uint8_t>(rng());
  const RC4_KEY fresh = Keyed(FromHex("0102030405060708090A0B0C0D0E0F10"));
  RC4_KEY whole = fresh, split = fresh, in_place = fresh, back = fresh;
  Bytes a(msg.size()), b(msg.size()), buf = msg;
  RC4(&whole, msg.size(), msg.data(), a.data());
  const size_t sizes[] = {1, 7, 0, 8, 9, 100};
  for (size_t i = 0, off = 0; off < msg.size(); i++) {
    const size_t n = std::min(sizes[i % 6], msg.size() - off);
    RC4(&split, n, msg.data() + off, b.data() + off);
    off += n;
  }
  EXPECT_EQ(a, b);
  EXPECT_EQ(std::memcmp(&whole, &split, sizeof whole), 0);
  RC4(&in_place, buf.size(), buf.data(), buf.data());
  EXPECT_EQ(buf, a);
  RC4(&back, buf.size(), buf.data(), buf.data());
  EXPECT_EQ(buf, msg);
  uint8_t out = 0x42;  // a length of 0 writes nothing
  RC4(&back, 0, nullptr, &out);
  EXPECT_EQ(out, 0x42);
}

}  // namespace
