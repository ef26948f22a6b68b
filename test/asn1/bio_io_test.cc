// Whole DER objects from and to streams: the reader takes exactly one object
// (definite or indefinite) off a BIO or a FILE, whatever the read sizes, and
// grows its buffer only with what arrived; the writers write everything in
// as many calls as the stream needs.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "scripted_stream.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::Script;
using morvane_test::ScriptStep;

// Three DER objects back to back: an INTEGER, an OCTET STRING and a
// SEQUENCE of two INTEGERs (X.690, 8.3, 8.7, 8.9).
const char* const kObjects[] = {"020105", "0403616263", "3006020101020102"};

std::string AsString(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

// A d2i function that keeps the octets it is handed (whatever they hold)
// and returns them.
void* KeepOctets(void** a, const unsigned char** pp, long len) {
  auto* s = new std::string(reinterpret_cast<const char*>(*pp), len);
  *pp += len;
  if (a != nullptr) *a = s;
  return s;
}

std::string TakeOctets(void* p) {
  auto* s = static_cast<std::string*>(p);
  std::string out = *s;
  delete s;
  return out;
}

void* TypeD2i(void** a, const unsigned char** pp, long len) {
  return d2i_ASN1_TYPE(reinterpret_cast<ASN1_TYPE**>(a), pp, len);
}
int TypeI2d(void* a, unsigned char** pp) {
  return i2d_ASN1_TYPE(static_cast<ASN1_TYPE*>(a), pp);
}

std::string Encode(ASN1_TYPE* t) {
  unsigned char* der = nullptr;
  const int n = i2d_ASN1_TYPE(t, &der);
  std::string out(reinterpret_cast<char*>(der), n > 0 ? n : 0);
  MORVANE_free(der);
  return out;
}

TEST(Asn1ReadBio, ThreeObjectsInOneByteReads) {
  BIO* b = morvane_test::NewScriptedStream();
  std::string all;
  for (const char* o : kObjects) all += AsString(FromHex(o));
  Script(b).input = all;
  Script(b).max_read = 1;
  for (const char* o : kObjects) {
    SCOPED_TRACE(o);
    auto* t = static_cast<ASN1_TYPE*>(ASN1_item_d2i_bio(&ASN1_ANY_it, b, nullptr));
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(AsString(FromHex(o)), Encode(t));
    ASN1_TYPE_free(t);
  }
  EXPECT_EQ("", Script(b).input);
  EXPECT_EQ(static_cast<int>(all.size()), Script(b).reads);  // one octet a read, none wasted
  // Past the last object the stream is empty: the header cannot be read.
  EXPECT_EQ(nullptr, ASN1_item_d2i_bio(&ASN1_ANY_it, b, nullptr));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_GET_OBJECT, ASN1_R_HEADER_TOO_LONG}});
  BIO_free(b);
}

// The next call starts with the octets that follow the object, whatever a
// read could have delivered: nothing past the object is asked for.
TEST(Asn1ReadBio, LeavesTheRestOfTheStream) {
  BIO* b = morvane_test::NewScriptedStream();
  Script(b).input = AsString(FromHex("020105 0403616263 ffff"));
  void* x = ASN1_d2i_bio(nullptr, KeepOctets, b, nullptr);
  ASSERT_NE(nullptr, x);
  EXPECT_EQ(AsString(FromHex("020105")), TakeOctets(x));
  EXPECT_EQ(AsString(FromHex("0403616263ffff")), Script(b).input);
  // A high tag number (X.690, 8.1.2.4) and a long-form length (8.1.3.5).
  Script(b).input = AsString(FromHex("5f810002aabb 05 ff"));
  x = ASN1_d2i_bio(nullptr, KeepOctets, b, nullptr);
  ASSERT_NE(nullptr, x);
  EXPECT_EQ(AsString(FromHex("5f810002aabb")), TakeOctets(x));
  Script(b).input = AsString(FromHex("048103616263 00"));
  x = ASN1_d2i_bio(nullptr, KeepOctets, b, nullptr);
  ASSERT_NE(nullptr, x);
  EXPECT_EQ(AsString(FromHex("048103616263")), TakeOctets(x));
  EXPECT_EQ(std::string(1, '\0'), Script(b).input);
  BIO_free(b);
  EXPECT_ERRORS({});
}

// An indefinite SEQUENCE holding a definite SEQUENCE and an OCTET STRING is
// returned up to and including its outer end-of-contents octets.  A
// context-specific [0] of length 0 inside it is not an end-of-contents, nor
// is a tag 0 with a long-form length.
TEST(Asn1ReadBio, IndefiniteLengthToItsEnd) {
  const struct {
    const char* object;
    const char* after;
  } cases[] = {
      {"3080 3003020107 0402aabb 0000", "0500"},
      {"3080 3080 0401aa 0000 8000 0000", "0101ff"},
      {"2480 0401aa 0000", ""},
      {"3080 008100 0000", "05"},  // only 00 00 ends it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.object);
    BIO* b = morvane_test::NewScriptedStream();
    Script(b).input = AsString(FromHex(c.object)) + AsString(FromHex(c.after));
    Script(b).max_read = 3;
    void* x = ASN1_d2i_bio(nullptr, KeepOctets, b, nullptr);
    ASSERT_NE(nullptr, x);
    EXPECT_EQ(AsString(FromHex(c.object)), TakeOctets(x));
    EXPECT_EQ(AsString(FromHex(c.after)), Script(b).input);
    BIO_free(b);
  }
  EXPECT_ERRORS({});
}

TEST(Asn1ReadBio, StreamEndsInsideTheObject) {
  const struct {
    const char* input;
    ScriptStep::Kind end;
    int func;
    int reason;
  } cases[] = {
      {"0405616263", ScriptStep::kEof, ASN1_F_ASN1_D2I_READ_BIO, ASN1_R_NOT_ENOUGH_DATA},
      {"0405616263", ScriptStep::kFail, ASN1_F_ASN1_D2I_READ_BIO, ASN1_R_NOT_ENOUGH_DATA},
      {"3080020101", ScriptStep::kEof, ASN1_F_ASN1_GET_OBJECT, ASN1_R_HEADER_TOO_LONG},
      {"0482", ScriptStep::kEof, ASN1_F_ASN1_GET_OBJECT, ASN1_R_HEADER_TOO_LONG},
      {"", ScriptStep::kFail, ASN1_F_ASN1_D2I_READ_BIO, ASN1_R_NOT_ENOUGH_DATA},
      {"", ScriptStep::kEof, ASN1_F_ASN1_GET_OBJECT, ASN1_R_HEADER_TOO_LONG},
      // A length of 2^31 is beyond what the header reader accepts.
      {"048480000000", ScriptStep::kEof, ASN1_F_ASN1_GET_OBJECT, ASN1_R_HEADER_TOO_LONG},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    BIO* b = morvane_test::NewScriptedStream();
    const std::string in = AsString(FromHex(c.input));
    Script(b).input = in;
    Script(b).read_script.assign(in.size(), ScriptStep::Move(0));
    Script(b).read_script.push_back({c.end, 0, 0});
    Script(b).max_read = 1;
    EXPECT_EQ(nullptr, ASN1_d2i_bio(nullptr, KeepOctets, b, nullptr));
    EXPECT_ERRORS({{ERR_LIB_ASN1, c.func, c.reason}});
    BIO_free(b);
  }
}

// Allocation hooks that note the largest block asked for.
size_t g_largest = 0;
bool g_watch = false;
void* NoteMalloc(size_t n) {
  if (g_watch && n > g_largest) g_largest = n;
  return malloc(n);
}
void* NoteRealloc(void* p, size_t n) {
  if (g_watch && n > g_largest) g_largest = n;
  return realloc(p, n);
}

// A header announcing 2 GiB - 1 content octets with 10 behind it: the
// reader fails with "not enough data" having held no more than what came.
TEST(Asn1ReadBio, AnnouncedLengthIsNotAllocated) {
  ASSERT_EQ(1, CRYPTO_set_mem_functions(NoteMalloc, NoteRealloc, free));
  BIO* b = morvane_test::NewScriptedStream();
  Script(b).input = AsString(FromHex("04847fffffff")) + std::string(10, 'x');
  ERR_put_error(ERR_LIB_USER, 0, 1, "warm-up", 0);  // the queue exists before
  ERR_clear_error();
  g_watch = true;
  EXPECT_EQ(nullptr, ASN1_d2i_bio(nullptr, KeepOctets, b, nullptr));
  g_watch = false;
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_D2I_READ_BIO, ASN1_R_NOT_ENOUGH_DATA}});
  EXPECT_GT(g_largest, 0u);   // the hooks saw the reader's buffer
  EXPECT_LE(g_largest, 64u);  // 16 octets arrived; the buffer rounds them up a little
  EXPECT_EQ("", Script(b).input);
  BIO_free(b);
}

// The caller's error queue is left alone: the "too long" that the header of
// a not yet read content raises is taken back, nothing else is removed.
TEST(Asn1ReadBio, CallersErrorsStay) {
  BIO* b = morvane_test::NewScriptedStream();
  Script(b).input = AsString(FromHex("0403616263"));
  ERR_put_error(ERR_LIB_USER, 7, 9, "caller", 1);
  void* x = ASN1_d2i_bio(nullptr, KeepOctets, b, nullptr);
  ASSERT_NE(nullptr, x);
  TakeOctets(x);
  EXPECT_ERRORS({{ERR_LIB_USER, 7, 9}});
  // Nor does the reader leave a mark behind on the caller's entry.
  ERR_put_error(ERR_LIB_USER, 7, 1, "caller", 2);
  Script(b).input = AsString(FromHex("0403616263"));
  TakeOctets(ASN1_d2i_bio(nullptr, KeepOctets, b, nullptr));
  ERR_put_error(ERR_LIB_USER, 7, 2, "caller", 3);
  EXPECT_EQ(0, ERR_pop_to_mark());  // no mark anywhere: the queue empties
  EXPECT_ERRORS({});
  BIO_free(b);
}

TEST(Asn1ReadFile, ThreeObjectsThenTheRest) {
  morvane_test::TempPath tmp;
  std::string all;
  for (const char* o : kObjects) all += AsString(FromHex(o));
  morvane_test::WriteFile(tmp.path(), all + "tail");
  FILE* f = fopen(tmp.c_str(), "rb");
  ASSERT_NE(nullptr, f);
  for (const char* o : kObjects) {
    SCOPED_TRACE(o);
    auto* t = static_cast<ASN1_TYPE*>(ASN1_d2i_fp(nullptr, TypeD2i, f, nullptr));
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(AsString(FromHex(o)), Encode(t));
    ASN1_TYPE_free(t);
  }
  char rest[8] = {};
  EXPECT_EQ(4u, fread(rest, 1, sizeof rest, f));  // the FILE stays open where the objects end
  EXPECT_EQ("tail", std::string(rest));
  rewind(f);
  ASN1_TYPE* t = nullptr;
  void* r = ASN1_item_d2i_fp(&ASN1_ANY_it, f, &t);  // decoded into the place given
  EXPECT_EQ(r, t);
  EXPECT_EQ(AsString(FromHex(kObjects[0])), Encode(t));
  ASN1_TYPE_free(t);
  fclose(f);
  EXPECT_ERRORS({});
}

// ---- writers -------------------------------------------------------------------

TEST(Asn1WriteBio, ThreeOctetsPerWrite) {
  const Bytes der = FromHex(kObjects[2]);
  const unsigned char* p = der.data();
  ASN1_TYPE* t = d2i_ASN1_TYPE(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(nullptr, t);
  BIO* b = morvane_test::NewScriptedStream();
  Script(b).max_write = 3;
  EXPECT_EQ(1, ASN1_i2d_bio(TypeI2d, b, t));
  EXPECT_EQ(AsString(der), Script(b).output);
  EXPECT_EQ(3, Script(b).writes);
  EXPECT_EQ(1, ASN1_item_i2d_bio(&ASN1_ANY_it, b, t));
  EXPECT_EQ(AsString(der) + AsString(der), Script(b).output);
  // A write that fails midway gives 0.
  Script(b).output.clear();
  Script(b).write_script = {ScriptStep::Move(0), ScriptStep::Fail()};
  EXPECT_EQ(0, ASN1_i2d_bio(TypeI2d, b, t));
  Script(b).write_script = {ScriptStep::Eof()};
  EXPECT_EQ(0, ASN1_item_i2d_bio(&ASN1_ANY_it, b, t));
  BIO_free(b);
  // Through a FILE, which stays open.
  morvane_test::TempPath tmp;
  FILE* f = fopen(tmp.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(1, ASN1_i2d_fp(TypeI2d, f, t));
  EXPECT_EQ(1, ASN1_item_i2d_fp(&ASN1_ANY_it, f, t));
  EXPECT_EQ(0, fclose(f));
  EXPECT_EQ(AsString(der) + AsString(der), morvane_test::ReadFile(tmp.path()));
  ASN1_TYPE_free(t);
  EXPECT_ERRORS({});
}

}  // namespace
