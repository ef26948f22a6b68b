// Arguments that the headers give no meaning, refused before anything is
// read or written: negative lengths where only -1 (or nothing) is named, a
// gets size without room for the terminator, null input to the hand-written
// decoders, null functions handed to the registries, and the last null
// arguments that crashed.  Each call runs in a forked child under the
// sanitizers and checks its own result and error there (exit status 3 when
// they differ), so a crash shows as that call's failure.

#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/conf.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pkcs12.h>
#include <morvane/rand.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/txt_db.h>
#include <morvane/ui.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "cert_builder.h"
#include "child.h"
#include "rsa_key.h"
#include "test_support.h"

namespace {

using morvane_test::Call;
using morvane_test::Require;
using morvane_test::RunAll;

// Fails the child unless the newest queued error has this library and
// reason (and, when func is not -1, this function code).
void RequireError(int lib, int func, int reason) {
  const unsigned long e = ERR_peek_last_error();
  Require(ERR_GET_LIB(e) == lib && ERR_GET_REASON(e) == reason &&
          (func == -1 || ERR_GET_FUNC(e) == func));
}

// A memory stream holding `text`.
BIO* MemWithText(const char* text) {
  BIO* b = BIO_new(BIO_s_mem());
  BIO_puts(b, text);
  return b;
}

// ---- lengths -------------------------------------------------------------

// Three unterminated bytes in their own heap block: reading past them is a
// heap over-read under the address sanitizer.
const char* Unterminated(const char* three) {
  char* p = static_cast<char*>(malloc(3));
  memcpy(p, three, 3);
  return p;
}

// A file of ten bytes, made before the calls.
const char* g_seed_file = nullptr;

TEST(Refusals, NegativeLengths) {
  static char text[] = "some text";
  morvane_test::TempPath seed;
  morvane_test::WriteFile(seed.path(), "0123456789");
  g_seed_file = seed.c_str();
  const std::vector<Call> calls = {
      {"BIO_new_mem_buf -2",
       [] {
         Require(BIO_new_mem_buf(text, -2) == nullptr);
         RequireError(ERR_LIB_BIO, BIO_F_BIO_NEW_MEM_BUF, BIO_R_INVALID_ARGUMENT);
       }},
      {"BIO_new_mem_buf INT_MIN",
       [] {
         Require(BIO_new_mem_buf(text, INT_MIN) == nullptr);
         RequireError(ERR_LIB_BIO, BIO_F_BIO_NEW_MEM_BUF, BIO_R_INVALID_ARGUMENT);
       }},
      {"BIO_new_mem_buf -1 still takes the text's length",
       [] {
         BIO* b = BIO_new_mem_buf(text, -1);
         Require(b != nullptr && BIO_ctrl_pending(b) == strlen(text));
       }},
      {"BIO_read of a negative length from a memory stream holding data",
       [] {
         BIO* b = BIO_new_mem_buf(text, -1);
         char buf[4] = {'x', 'x', 'x', 'x'};
         Require(BIO_read(b, buf, -5) == 0 && buf[0] == 'x' &&
                 BIO_ctrl_pending(b) == strlen(text));
       }},
      {"BIO_indent with max INT_MIN",
       [] {
         BIO* b = BIO_new(BIO_s_mem());
         Require(BIO_indent(b, 4, INT_MIN) == 1 && BIO_ctrl_pending(b) == 0);
       }},
      {"BIO_write of -1 to the null stream",
       [] {
         Require(BIO_write(BIO_new(BIO_s_null()), text, -1) == -1);
         RequireError(ERR_LIB_BIO, BIO_F_BIO_WRITE, BIO_R_INVALID_ARGUMENT);
       }},
      {"BIO_nread and BIO_nwrite of a negative length commit nothing",
       [] {
         BIO *a = nullptr, *b = nullptr;
         Require(BIO_new_bio_pair(&a, 64, &b, 64) == 1 && BIO_write(a, "data", 4) == 4);
         char* p = nullptr;
         Require(BIO_nread(b, &p, -1) == -1 && BIO_ctrl_pending(b) == 4);
         RequireError(ERR_LIB_BIO, BIO_F_BIO_NREAD, BIO_R_INVALID_ARGUMENT);
         Require(BIO_nwrite(a, &p, INT_MIN) == -1 && BIO_ctrl_pending(b) == 4);
         RequireError(ERR_LIB_BIO, BIO_F_BIO_NWRITE, BIO_R_INVALID_ARGUMENT);
       }},
      {"a2d_ASN1_OBJECT num -2 over an unterminated text",
       [] {
         unsigned char out[16];
         Require(a2d_ASN1_OBJECT(out, sizeof out, Unterminated("1.2"), -2) == 0);
         RequireError(ERR_LIB_ASN1, ASN1_F_A2D_ASN1_OBJECT, ASN1_R_LENGTH_ERROR);
       }},
      {"a2d_ASN1_OBJECT num INT_MIN",
       [] {
         Require(a2d_ASN1_OBJECT(nullptr, 0, Unterminated("1.2"), INT_MIN) == 0);
         RequireError(ERR_LIB_ASN1, ASN1_F_A2D_ASN1_OBJECT, ASN1_R_LENGTH_ERROR);
       }},
      {"a2d_ASN1_OBJECT num -1 still reads up to the zero",
       [] { Require(a2d_ASN1_OBJECT(nullptr, 0, "1.2.840", -1) == 3); }},
      {"ASN1_parse -1",
       [] {
         const unsigned char der[] = {0x05, 0x00};
         BIO* b = BIO_new(BIO_s_mem());
         Require(ASN1_parse(b, der, -1, 0) == 0 && BIO_ctrl_pending(b) == 0);
         RequireError(ERR_LIB_ASN1, -1, ASN1_R_LENGTH_ERROR);
       }},
      {"ASN1_parse LONG_MIN",
       [] {
         const unsigned char der[] = {0x05, 0x00};
         BIO* b = BIO_new(BIO_s_mem());
         Require(ASN1_parse(b, der, LONG_MIN, 0) == 0 && BIO_ctrl_pending(b) == 0);
       }},
      {"ASN1_parse_dump LONG_MIN",
       [] {
         const unsigned char der[] = {0x05, 0x00};
         Require(ASN1_parse_dump(BIO_new(BIO_s_null()), der, LONG_MIN, 0, -1) == 0);
       }},
      {"ASN1_STRING_set -2 leaves the string as it was",
       [] {
         ASN1_STRING* s = ASN1_OCTET_STRING_new();
         ASN1_STRING_set(s, "ab", 2);
         Require(ASN1_STRING_set(s, "text", -2) == 0 && s->length == 2 &&
                 memcmp(s->data, "ab", 2) == 0);
         RequireError(ERR_LIB_ASN1, ASN1_F_ASN1_STRING_SET, ASN1_R_LENGTH_ERROR);
       }},
      {"ASN1_OCTET_STRING_set INT_MIN",
       [] {
         Require(ASN1_OCTET_STRING_set(ASN1_OCTET_STRING_new(),
                                       reinterpret_cast<const unsigned char*>("ab"), INT_MIN) == 0);
       }},
      {"ASN1_BIT_STRING_set -2",
       [] {
         unsigned char bits[] = "\x80";
         Require(ASN1_BIT_STRING_set(ASN1_BIT_STRING_new(), bits, -2) == 0);
       }},
      {"X509_alias_set1 -2",
       [] {
         Require(X509_alias_set1(X509_new(), reinterpret_cast<const unsigned char*>("ca"), -2) ==
                 0);
       }},
      {"PKCS12_add_localkeyid -1 (the id bytes are no ASN1_STRING)",
       [] {
         PKCS12_SAFEBAG* bag = PKCS12_SAFEBAG_new();
         unsigned char id[] = "abcdefgh";
         Require(PKCS12_add_localkeyid(bag, id, -1) == 0 && bag->attrib == nullptr);
         RequireError(ERR_LIB_PKCS12, PKCS12_F_PKCS12_ADD_LOCALKEYID, PKCS12_R_INVALID_LENGTH);
         Require(PKCS12_add_friendlyname_uni(bag, id, -1) == 0);
         Require(PKCS12_add_friendlyname_asc(bag, "name", -2) == 0);
         Require(PKCS12_add_CSPName_asc(bag, "name", INT_MIN) == 0 && bag->attrib == nullptr);
         RequireError(ERR_LIB_PKCS12, PKCS12_F_PKCS12_ADD_CSPNAME_ASC, PKCS12_R_INVALID_LENGTH);
       }},
      {"PKCS12_add_friendlyname_asc -1 still takes the text's length",
       [] { Require(PKCS12_add_friendlyname_asc(PKCS12_SAFEBAG_new(), "name", -1) == 1); }},
      {"OBJ_bsearch_ex size -1",
       [] {
         int* table = static_cast<int*>(malloc(4 * sizeof(int)));
         for (int i = 0; i < 4; i++) table[i] = 10 * i;
         const int key = 15;
         auto cmp = [](const void* a, const void* b) {
           return *static_cast<const int*>(a) - *static_cast<const int*>(b);
         };
         Require(OBJ_bsearch_ex(reinterpret_cast<const char*>(&key),
                                reinterpret_cast<const char*>(table), 4, -1, cmp,
                                OBJ_BSEARCH_VALUE_ON_NOMATCH) == nullptr);
         RequireError(ERR_LIB_OBJ, OBJ_F_OBJ_BSEARCH_EX, OBJ_R_INVALID_ELEMENT_SIZE);
         Require(OBJ_bsearch(reinterpret_cast<const char*>(&key),
                             reinterpret_cast<const char*>(table), 4, INT_MIN, cmp) == nullptr);
       }},
      {"ASN1_put_object -1",
       [] {
         unsigned char buf[8];
         memset(buf, 0xee, sizeof buf);
         unsigned char* p = buf;
         ASN1_put_object(&p, 0, -1, ASN1_UT_OCTET_STRING, ASN1_CLASS_UNIVERSAL);
         Require(p == buf && buf[0] == 0xee);
         RequireError(ERR_LIB_ASN1, ASN1_F_ASN1_PUT_OBJECT, ASN1_R_LENGTH_ERROR);
       }},
      {"RAND_load_file -2",
       [] {
         Require(RAND_load_file(g_seed_file, -2) == 0);
         RequireError(ERR_LIB_RAND, RAND_F_RAND_LOAD_FILE, RAND_R_INVALID_LENGTH);
         Require(RAND_load_file(g_seed_file, -1) == 10);
       }},
      {"OAEP with a label of length -1",
       [] {
         const unsigned char label[] = "label", msg[] = "m";
         unsigned char to[64];
         Require(RSA_padding_add_PKCS1_OAEP(to, 64, msg, 1, label, -1) == 0);
         RequireError(ERR_LIB_RSA, RSA_F_RSA_PADDING_ADD_PKCS1_OAEP, RSA_R_INVALID_LENGTH);
         Require(RSA_padding_add_PKCS1_OAEP(to, 64, msg, 1, nullptr, -1) == 1);  // no label
         Require(RSA_padding_check_PKCS1_OAEP(to, 64, to + 1, 63, 64, label, -1) == -1);
         RequireError(ERR_LIB_RSA, RSA_F_RSA_PADDING_CHECK_PKCS1_OAEP, RSA_R_INVALID_LENGTH);
       }},
      {"MGF1 -1",
       [] {
         const unsigned char seed[4] = {1, 2, 3, 4};
         unsigned char mask[4] = {'x', 'x', 'x', 'x'};
         Require(MGF1(mask, -1, seed, 4) == -1 && mask[0] == 'x');
         RequireError(ERR_LIB_RSA, RSA_F_PKCS1_MGF1, RSA_R_INVALID_LENGTH);
         Require(PKCS1_MGF1(mask, LONG_MIN, seed, 4, EVP_sha1()) == -1);
       }},
      {"EVP_DecodeBlock -4",
       [] {
         unsigned char out[8];
         Require(EVP_DecodeBlock(out, reinterpret_cast<const unsigned char*>("QUJD"), -4) == -1);
         RequireError(ERR_LIB_EVP, EVP_F_EVP_DECODEBLOCK, EVP_R_INVALID_LENGTH);
       }},
      {"BN_mod_lshift -1",
       [] {
         BIGNUM *r = BN_new(), *a = BN_new(), *m = BN_new();
         BN_set_word(a, 5);
         BN_set_word(m, 7);
         Require(BN_mod_lshift(r, a, -1, m, BN_CTX_new()) == 0);
         RequireError(ERR_LIB_BN, BN_F_BN_MOD_LSHIFT, BN_R_INVALID_LENGTH);
         Require(BN_mod_lshift_quick(r, a, INT_MIN, m) == 0);
       }},
      {"a2i_ASN1_STRING without room for a character",
       [] {
         for (int size : {1, 0, -1}) {
           ASN1_STRING* bs = ASN1_OCTET_STRING_new();
           ASN1_STRING_set(bs, "\xee", 1);
           BIO* in = MemWithText("0102\n");
           char buf[4];
           Require(a2i_ASN1_STRING(in, bs, buf, size) == 0 && bs->length == 1 &&
                   BIO_ctrl_pending(in) == 5);
           RequireError(ERR_LIB_ASN1, ASN1_F_A2I_ASN1_STRING, ASN1_R_LENGTH_ERROR);
         }
       }},
      {"SXNET_add_id_asc userlen -2",
       [] {
         SXNET* sx = nullptr;
         Require(SXNET_add_id_asc(&sx, "1", "user", -2) == 0 && sx == nullptr);
         RequireError(ERR_LIB_X509V3, X509V3_F_SXNET_ADD_ID_INTEGER, X509V3_R_INVALID_LENGTH);
         Require(SXNET_add_id_ulong(&sx, 1, "user", INT_MIN) == 0 && sx == nullptr);
         Require(SXNET_add_id_asc(&sx, "1", "user", -1) == 1);
       }},
      {"ASN1_OBJECT_create -1",
       [] {
         unsigned char der[] = {0x2a, 0x03};
         Require(ASN1_OBJECT_create(0, der, -1, "sn", "ln") == nullptr);
         RequireError(ERR_LIB_ASN1, ASN1_F_ASN1_OBJECT_CREATE, ASN1_R_LENGTH_ERROR);
       }},
      {"ASN1_STRING_TABLE_add with a bound below -1",
       [] {
         ASN1_STRING_TABLE* cn = ASN1_STRING_TABLE_get(13);  // commonName
         Require(cn != nullptr);
         const ASN1_STRING_TABLE before = *cn;
         Require(ASN1_STRING_TABLE_add(13, -2, 10, 0, 0) == 0);
         RequireError(ERR_LIB_ASN1, ASN1_F_ASN1_STRING_TABLE_ADD, ASN1_R_LENGTH_ERROR);
         Require(ASN1_STRING_TABLE_add(13, 1, LONG_MIN, 0, 0) == 0);
         Require(cn->minsize == before.minsize && cn->maxsize == before.maxsize &&
                 cn->mask == before.mask);
         Require(ASN1_STRING_TABLE_add(1000, -2, -1, 0, 0) == 0 &&
                 ASN1_STRING_TABLE_get(1000) == nullptr);
       }},
      {"UI_add_input_string with maxsize -1 or minsize above maxsize",
       [] {
         UI* ui = UI_new();
         char buf[8];
         Require(UI_add_input_string(ui, "p", 0, buf, 0, -1) == -1);
         RequireError(ERR_LIB_UI, UI_F_GENERAL_ALLOCATE_STRING, UI_R_INVALID_RESULT_SIZE);
         Require(UI_add_input_string(ui, "p", 0, buf, 5, 4) == -1);
         Require(UI_dup_verify_string(ui, "p", 0, buf, 0, INT_MIN, buf) == -1);
         Require(UI_add_input_string(ui, "p", 0, buf, 4, 4) == 1);
       }},
  };
  RunAll(calls);
}

// ---- gets without room ---------------------------------------------------

// A stream of each type the library makes, ready where it can be.
struct Stream {
  const char* name;
  BIO* (*make)();
};

BIO* Over(BIO_METHOD* filter) {
  return BIO_push(BIO_new(filter), BIO_new_mem_buf(const_cast<char*>("line\n"), -1));
}

BIO* SocketHalf() {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return nullptr;
  if (write(sv[1], "line\n", 5) != 5) return nullptr;
  return BIO_new_socket(sv[0], BIO_CLOSE);
}

const Stream kStreams[] = {
    {"memory",
     [] {
       BIO* b = BIO_new(BIO_s_mem());
       BIO_write(b, "line\n", 5);
       return b;
     }},
    {"read-only memory", [] { return BIO_new_mem_buf(const_cast<char*>("line\n"), -1); }},
    {"null", [] { return BIO_new(BIO_s_null()); }},
    {"FILE",
     [] {
       FILE* f = tmpfile();
       fputs("line\n", f);
       rewind(f);
       return BIO_new_fp(f, BIO_CLOSE);
     }},
    {"descriptor",
     [] {
       int p[2];
       if (pipe(p) != 0 || write(p[1], "line\n", 5) != 5) return static_cast<BIO*>(nullptr);
       return BIO_new_fd(p[0], BIO_CLOSE);
     }},
    {"system log", [] { return BIO_new(BIO_s_log()); }},
    {"socket", SocketHalf},
    {"connect", [] { return BIO_new(BIO_s_connect()); }},
    {"accept", [] { return BIO_new(BIO_s_accept()); }},
    {"datagram", [] { return BIO_new(BIO_s_datagram()); }},
    {"stream pair",
     [] {
       BIO *a = nullptr, *b = nullptr;
       BIO_new_bio_pair(&a, 0, &b, 0);
       BIO_write(a, "line\n", 5);
       return b;
     }},
    {"buffer filter", [] { return Over(BIO_f_buffer()); }},
    {"line-buffer filter", [] { return Over(BIO_f_linebuffer()); }},
    {"null filter", [] { return Over(BIO_f_null()); }},
    {"non-blocking test filter", [] { return Over(BIO_f_nbio_test()); }},
    {"base64 filter", [] { return Over(BIO_f_base64()); }},
    {"digest filter",
     [] {
       BIO* b = Over(BIO_f_md());
       BIO_set_md(b, EVP_sha1());
       return b;
     }},
    {"cipher filter",
     [] {
       static const unsigned char key[16] = {};
       BIO* b = Over(BIO_f_cipher());
       BIO_set_cipher(b, EVP_aes_128_cbc(), key, key, 0);
       return b;
     }},
    {"reliable filter", [] { return Over(BIO_f_reliable()); }},
};

// A size of 0 or less stores nothing (not even the terminator), reads
// nothing and gives 0 on every type, with gets or without; a stream not yet
// initialised answers -2 as for any data call.
TEST(Refusals, GetsWithoutRoom) {
  std::vector<Call> calls;
  for (const Stream& s : kStreams) {
    for (int size : {0, -1, INT_MIN}) {
      calls.push_back({s.name, [&s, size] {
                         BIO* b = s.make();
                         Require(b != nullptr);
                         const size_t pending = BIO_ctrl_pending(b);
                         char buf[8];
                         memset(buf, 'x', sizeof buf);
                         const int r = BIO_gets(b, buf, size);
                         Require(b->init ? r == 0 : r == -2);
                         Require(buf[0] == 'x' && BIO_ctrl_pending(b) == pending);
                       }});
    }
  }
  RunAll(calls);
}

// ---- null input to the hand-written decoders ----------------------------

// Each decoder called with the input pointer `in` and a length of 10; the
// result says whether it refused (null, or -1 for the boolean).
struct Decoder {
  const char* name;
  int func;  // the function code of the refusal, -1 when not checked
  bool (*refuses)(const unsigned char** in, long len);
};

void* AnyD2i(void** a, const unsigned char** in, long len) {
  return d2i_ASN1_TYPE(reinterpret_cast<ASN1_TYPE**>(a), in, len);
}
void AnyFree(void* p) { ASN1_TYPE_free(static_cast<ASN1_TYPE*>(p)); }

const Decoder kDecoders[] = {
    {"d2i_AutoPrivateKey", ASN1_F_D2I_PRIVATEKEY,
     [](const unsigned char** in, long len) { return d2i_AutoPrivateKey(nullptr, in, len) == nullptr; }},
    {"d2i_X509_PKEY", ASN1_F_D2I_X509_PKEY,
     [](const unsigned char** in, long len) { return d2i_X509_PKEY(nullptr, in, len) == nullptr; }},
    {"d2i_ASN1_OBJECT", ASN1_F_D2I_ASN1_OBJECT,
     [](const unsigned char** in, long len) { return d2i_ASN1_OBJECT(nullptr, in, len) == nullptr; }},
    {"c2i_ASN1_OBJECT", ASN1_F_C2I_ASN1_OBJECT,
     [](const unsigned char** in, long len) { return c2i_ASN1_OBJECT(nullptr, in, len) == nullptr; }},
    {"c2i_ASN1_INTEGER", ASN1_F_C2I_ASN1_INTEGER,
     [](const unsigned char** in, long len) { return c2i_ASN1_INTEGER(nullptr, in, len) == nullptr; }},
    {"d2i_ASN1_UINTEGER", ASN1_F_D2I_ASN1_UINTEGER,
     [](const unsigned char** in, long len) {
       return d2i_ASN1_UINTEGER(nullptr, in, len) == nullptr;
     }},
    {"d2i_ASN1_bytes", ASN1_F_D2I_ASN1_BYTES,
     [](const unsigned char** in, long len) {
       return d2i_ASN1_bytes(nullptr, in, len, ASN1_UT_OCTET_STRING, ASN1_CLASS_UNIVERSAL) ==
              nullptr;
     }},
    {"d2i_ASN1_type_bytes", ASN1_F_D2I_ASN1_TYPE_BYTES,
     [](const unsigned char** in, long len) {
       return d2i_ASN1_type_bytes(nullptr, in, len, ~0UL) == nullptr;
     }},
    {"d2i_ASN1_BOOLEAN", ASN1_F_D2I_ASN1_BOOLEAN,
     [](const unsigned char** in, long len) { return d2i_ASN1_BOOLEAN(nullptr, in, len) == -1; }},
    {"d2i_ASN1_SET", ASN1_F_D2I_ASN1_SET,
     [](const unsigned char** in, long len) {
       return d2i_ASN1_SET(nullptr, in, len, AnyD2i, AnyFree, ASN1_UT_SEQUENCE,
                           ASN1_CLASS_UNIVERSAL) == nullptr;
     }},
    {"d2i_ASN1_HEADER", ASN1_F_D2I_ASN1_HEADER,
     [](const unsigned char** in, long len) { return d2i_ASN1_HEADER(nullptr, in, len) == nullptr; }},
    {"ASN1_item_d2i", ASN1_F_ASN1_ITEM_EX_D2I,
     [](const unsigned char** in, long len) {
       return ASN1_item_d2i(nullptr, in, len, &ASN1_OCTET_STRING_it) == nullptr;
     }},
    // The other hand-written decoders; -1: refused by a decoder below them.
    {"d2i_PrivateKey", -1,
     [](const unsigned char** in, long len) {
       return d2i_PrivateKey(EVP_PKEY_RSA, nullptr, in, len) == nullptr;
     }},
    {"d2i_PublicKey", -1,
     [](const unsigned char** in, long len) {
       return d2i_PublicKey(EVP_PKEY_RSA, nullptr, in, len) == nullptr;
     }},
    {"d2i_PUBKEY", ASN1_F_ASN1_ITEM_EX_D2I,
     [](const unsigned char** in, long len) { return d2i_PUBKEY(nullptr, in, len) == nullptr; }},
    {"d2i_RSA_PUBKEY", ASN1_F_ASN1_ITEM_EX_D2I,
     [](const unsigned char** in, long len) { return d2i_RSA_PUBKEY(nullptr, in, len) == nullptr; }},
    {"d2i_DSA_PUBKEY", ASN1_F_ASN1_ITEM_EX_D2I,
     [](const unsigned char** in, long len) { return d2i_DSA_PUBKEY(nullptr, in, len) == nullptr; }},
    {"d2i_EC_PUBKEY", ASN1_F_ASN1_ITEM_EX_D2I,
     [](const unsigned char** in, long len) { return d2i_EC_PUBKEY(nullptr, in, len) == nullptr; }},
    {"d2i_X509_AUX", ASN1_F_ASN1_ITEM_EX_D2I,
     [](const unsigned char** in, long len) { return d2i_X509_AUX(nullptr, in, len) == nullptr; }},
    {"d2i_ECPKParameters", -1,
     [](const unsigned char** in, long len) {
       return d2i_ECPKParameters(nullptr, in, len) == nullptr;
     }},
    {"d2i_ECParameters", -1,
     [](const unsigned char** in, long len) { return d2i_ECParameters(nullptr, in, len) == nullptr; }},
    {"d2i_ECPrivateKey", -1,
     [](const unsigned char** in, long len) { return d2i_ECPrivateKey(nullptr, in, len) == nullptr; }},
    {"d2i_RSA_NET", -1,
     [](const unsigned char** in, long len) {
       return d2i_RSA_NET(nullptr, in, len, nullptr, 0) == nullptr;
     }},
    {"d2i_Netscape_RSA", -1,
     [](const unsigned char** in, long len) {
       return d2i_Netscape_RSA(nullptr, in, len, nullptr) == nullptr;
     }},
    {"c2i_ASN1_BIT_STRING", ASN1_F_C2I_ASN1_BIT_STRING,
     [](const unsigned char** in, long len) {
       return c2i_ASN1_BIT_STRING(nullptr, in, len) == nullptr;
     }},
};

TEST(Refusals, NullDecoderInput) {
  std::vector<Call> calls;
  for (const Decoder& d : kDecoders) {
    for (bool no_pointer : {false, true}) {
      calls.push_back({d.name, [&d, no_pointer] {
                         const unsigned char* p = nullptr;
                         Require(d.refuses(no_pointer ? nullptr : &p, 10) && p == nullptr);
                         if (d.func != -1)
                           RequireError(ERR_LIB_ASN1, d.func, ERR_R_PASSED_NULL_PARAMETER);
                       }});
    }
  }
  RunAll(calls);
}

// The object passed in stays as it was.
TEST(Refusals, NullDecoderInputKeepsTheObject) {
  ASN1_OBJECT* obj = OBJ_txt2obj("1.2.3.4", 1);
  ASN1_OBJECT* const kept = obj;
  const unsigned char* p = nullptr;
  EXPECT_EQ(nullptr, d2i_ASN1_OBJECT(&obj, &p, 5));
  EXPECT_EQ(kept, obj);
  ASN1_OBJECT* same = OBJ_txt2obj("1.2.3.4", 1);
  EXPECT_EQ(0, OBJ_cmp(obj, same));
  ASN1_OBJECT_free(same);
  EXPECT_TRUE(morvane_test::ErrorsAre(
      {{ERR_LIB_ASN1, ASN1_F_D2I_ASN1_OBJECT, ERR_R_PASSED_NULL_PARAMETER}}));
  ASN1_OBJECT_free(obj);
}

// ---- registries ---------------------------------------------------------

int g_cleanups = 0;

TEST(Refusals, RegistriesKeepNoNullFunction) {
  const std::vector<Call> calls = {
      {"engine_cleanup_add_first/last(NULL)",
       [] {
         engine_cleanup_add_first(nullptr);
         RequireError(ERR_LIB_ENGINE, -1, ERR_R_PASSED_NULL_PARAMETER);
         engine_cleanup_add_last(nullptr);
         engine_cleanup_add_last([] { g_cleanups++; });
         ENGINE_cleanup();
         Require(g_cleanups == 1);
       }},
      {"X509_TRUST_add a new id",
       [] {
         const int count = X509_TRUST_get_count();
         Require(X509_TRUST_add(1000, 0, nullptr, "none", 0, nullptr) == 0);
         RequireError(ERR_LIB_X509, X509_F_X509_TRUST_ADD, ERR_R_PASSED_NULL_PARAMETER);
         Require(X509_TRUST_get_count() == count && X509_TRUST_get_by_id(1000) == -1);
         X509* x = morvane_test::MakeCert({"leaf"});
         X509_check_trust(x, 1000, 0);  // the default trust function
       }},
      {"X509_TRUST_add a built-in id",
       [] {
         X509_TRUST* before = X509_TRUST_get0(X509_TRUST_get_by_id(X509_TRUST_EMAIL));
         auto* const check = before->check_trust;
         Require(X509_TRUST_add(X509_TRUST_EMAIL, 0, nullptr, "none", 0, nullptr) == 0);
         Require(before->check_trust == check && strcmp(before->name, "none") != 0);
         X509_check_trust(morvane_test::MakeCert({"leaf"}), X509_TRUST_EMAIL, 0);
       }},
      {"X509_PURPOSE_add a new id",
       [] {
         const int count = X509_PURPOSE_get_count();
         Require(X509_PURPOSE_add(1000, 0, 0, nullptr, "none", "none", nullptr) == 0);
         RequireError(ERR_LIB_X509V3, X509V3_F_X509_PURPOSE_ADD, ERR_R_PASSED_NULL_PARAMETER);
         Require(X509_PURPOSE_get_count() == count && X509_PURPOSE_get_by_id(1000) == -1);
         Require(X509_check_purpose(morvane_test::MakeCert({"leaf"}), 1000, 0) == -1);
       }},
      {"X509_PURPOSE_add a built-in id",
       [] {
         X509_PURPOSE* before = X509_PURPOSE_get0(X509_PURPOSE_get_by_id(X509_PURPOSE_SSL_SERVER));
         auto* const check = before->check_purpose;
         Require(X509_PURPOSE_add(X509_PURPOSE_SSL_SERVER, 0, 0, nullptr, "none", "none",
                                  nullptr) == 0);
         Require(before->check_purpose == check && strcmp(before->name, "none") != 0);
         X509_check_purpose(morvane_test::MakeCert({"leaf"}), X509_PURPOSE_SSL_SERVER, 0);
       }},
  };
  RunAll(calls);
}

// ---- null method slots ----------------------------------------------------

// A null operation slot of a method table is an operation not offered: the
// call fails with a reason instead of jumping to address 0.
TEST(Refusals, NullMethodSlots) {
  static const unsigned char digest[20] = {1, 2, 3};
  const std::vector<Call> calls = {
      {"X509_STORE_CTX_set_verify_cb(NULL) restores the built-in callback",
       [] {
         X509_STORE_CTX* ctx = X509_STORE_CTX_new();
         Require(X509_STORE_CTX_init(ctx, X509_STORE_new(), morvane_test::MakeCert({"leaf"}),
                                     nullptr) == 1);
         X509_STORE_CTX_set_verify_cb(ctx, nullptr);
         Require(X509_verify_cert(ctx) == 0 &&
                 X509_STORE_CTX_get_error(ctx) == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT);
       }},
      {"RSA_public_encrypt through a method without it",
       [] {
         static RSA_METHOD m = *RSA_PKCS1_Quorix();
         m.rsa_pub_enc = nullptr;
         RSA* key = morvane_test::SweepRsaKey();
         RSA_set_method(key, &m);
         unsigned char to[64];
         Require(RSA_public_encrypt(3, digest, to, key, RSA_PKCS1_PADDING) == -1);
         RequireError(ERR_LIB_RSA, RSA_F_RSA_PUBLIC_ENCRYPT, RSA_R_RSA_OPERATIONS_NOT_SUPPORTED);
         Require(RSA_private_encrypt(3, digest, to, key, RSA_PKCS1_PADDING) == 64);
       }},
      {"RSA_private_decrypt through a method without it",
       [] {
         static RSA_METHOD m = *RSA_PKCS1_Quorix();
         m.rsa_priv_dec = nullptr;
         RSA* key = morvane_test::SweepRsaKey();
         RSA_set_method(key, &m);
         unsigned char from[64] = {}, to[64];
         Require(RSA_private_decrypt(64, from, to, key, RSA_PKCS1_PADDING) == -1);
         RequireError(ERR_LIB_RSA, RSA_F_RSA_PRIVATE_DECRYPT, RSA_R_RSA_OPERATIONS_NOT_SUPPORTED);
       }},
      {"DH without generate_key or compute_key",
       [] {
         static DH_METHOD m = *DH_Morvane();
         m.generate_key = nullptr;
         m.compute_key = nullptr;
         DH* dh = DH_new();
         DH_set_method(dh, &m);
         Require(DH_generate_key(dh) == 0);
         RequireError(ERR_LIB_DH, DH_F_DH_GENERATE_KEY, DH_R_OPERATION_NOT_SUPPORTED);
         unsigned char key[8];
         Require(DH_compute_key(key, BN_value_one(), dh) == -1);
         RequireError(ERR_LIB_DH, DH_F_DH_COMPUTE_KEY, DH_R_OPERATION_NOT_SUPPORTED);
       }},
      {"the built-in RSA and DH operations with a null exponentiation slot",
       [] {
         static RSA_METHOD no_bn = *RSA_PKCS1_Quorix(), no_crt = *RSA_PKCS1_Quorix();
         no_bn.bn_mod_exp = nullptr;
         no_crt.rsa_mod_exp = nullptr;
         RSA* key = morvane_test::SweepRsaKey();
         RSA_set_method(key, &no_bn);
         unsigned char to[64];
         Require(RSA_public_encrypt(3, digest, to, key, RSA_PKCS1_PADDING) == -1);
         RequireError(ERR_LIB_RSA, RSA_F_RSA_VEK_PUBLIC_ENCRYPT,
                      RSA_R_RSA_OPERATIONS_NOT_SUPPORTED);
         Require(RSA_private_encrypt(3, digest, to, key, RSA_PKCS1_PADDING) == -1);
         RequireError(ERR_LIB_RSA, RSA_F_RSA_VEK_MOD_EXP, RSA_R_RSA_OPERATIONS_NOT_SUPPORTED);
         RSA_set_method(key, &no_crt);
         Require(RSA_private_encrypt(3, digest, to, key, RSA_PKCS1_PADDING) == -1);
         RequireError(ERR_LIB_RSA, RSA_F_RSA_VEK_PRIVATE_ENCRYPT,
                      RSA_R_RSA_OPERATIONS_NOT_SUPPORTED);
         static DH_METHOD m = *DH_Morvane();
         m.bn_mod_exp = nullptr;
         DH* dh = DH_new();
         dh->p = get_rfc2409_prime_768(nullptr);
         dh->g = BN_new();
         BN_set_word(dh->g, 2);
         DH_set_method(dh, &m);
         Require(DH_generate_key(dh) == 0 && dh->priv_key == nullptr);
         RequireError(ERR_LIB_DH, DH_F_GENERATE_KEY, DH_R_OPERATION_NOT_SUPPORTED);
         dh->priv_key = BN_new();
         BN_set_word(dh->priv_key, 5);
         unsigned char key_out[96];
         Require(DH_compute_key(key_out, dh->g, dh) == -1);
         RequireError(ERR_LIB_DH, DH_F_COMPUTE_KEY, DH_R_OPERATION_NOT_SUPPORTED);
       }},
      {"DSA without its three operations",
       [] {
         static DSA_METHOD m = *DSA_get_default_method();
         m.dsa_do_sign = nullptr;
         m.dsa_sign_setup = nullptr;
         m.dsa_do_verify = nullptr;
         DSA* dsa = DSA_new();
         DSA_set_method(dsa, &m);
         unsigned char sig[64];
         unsigned int siglen = 1;
         Require(DSA_sign(0, digest, 20, sig, &siglen, dsa) == 0 && siglen == 0);
         RequireError(ERR_LIB_DSA, DSA_F_DSA_DO_SIGN, DSA_R_OPERATION_NOT_SUPPORTED);
         BIGNUM *kinv = nullptr, *r = nullptr;
         Require(DSA_sign_setup(dsa, nullptr, &kinv, &r) == 0);
         RequireError(ERR_LIB_DSA, DSA_F_DSA_SIGN_SETUP, DSA_R_OPERATION_NOT_SUPPORTED);
         Require(DSA_do_verify(digest, 20, DSA_SIG_new(), dsa) == -1);
         RequireError(ERR_LIB_DSA, DSA_F_DSA_DO_VERIFY, DSA_R_OPERATION_NOT_SUPPORTED);
       }},
      {"a digest without update",
       [] {
         static EVP_MD md = *EVP_sha1();
         md.update = nullptr;
         EVP_MD_CTX ctx;
         EVP_MD_CTX_init(&ctx);
         Require(EVP_DigestInit_ex(&ctx, &md, nullptr) == 0 && ctx.digest == nullptr);
         RequireError(ERR_LIB_EVP, EVP_F_EVP_DIGESTINIT_EX, EVP_R_OPERATION_NOT_SUPPORTED);
         unsigned char out[EVP_MAX_MD_SIZE];
         Require(EVP_Digest("abc", 3, out, nullptr, &md, nullptr) == 0);
       }},
      {"a cipher without do_cipher",
       [] {
         static EVP_CIPHER c = *EVP_aes_128_cbc();
         c.do_cipher = nullptr;
         static const unsigned char key[16] = {};
         EVP_CIPHER_CTX ctx;
         EVP_CIPHER_CTX_init(&ctx);
         Require(EVP_EncryptInit_ex(&ctx, &c, nullptr, key, key) == 0);
         RequireError(ERR_LIB_EVP, EVP_F_EVP_CIPHERINIT_EX, EVP_R_OPERATION_NOT_SUPPORTED);
         unsigned char out[32];
         int outl = 0;
         Require(EVP_EncryptUpdate(&ctx, out, &outl, key, 16) == 0);
       }},
      {"a cipher without init, given a key",
       [] {
         static EVP_CIPHER c = *EVP_aes_128_cbc();
         c.init = nullptr;
         static const unsigned char key[16] = {};
         EVP_CIPHER_CTX ctx;
         EVP_CIPHER_CTX_init(&ctx);
         Require(EVP_EncryptInit_ex(&ctx, &c, nullptr, key, key) == 0);
         RequireError(ERR_LIB_EVP, EVP_F_EVP_CIPHERINIT_EX, EVP_R_OPERATION_NOT_SUPPORTED);
       }},
      {"configuration methods with null slots",
       [] {
         static CONF_METHOD no_init = *NCONF_default();
         no_init.init = nullptr;
         Require(NCONF_new(&no_init) == nullptr);
         RequireError(ERR_LIB_CONF, CONF_F_NCONF_NEW, CONF_R_OPERATION_NOT_SUPPORTED);
         Require(CONF_set_default_method(&no_init) == 0);
         LHASH* hash = CONF_load_bio(nullptr, MemWithText("n = v\n"), nullptr);  // default kept
         Require(hash != nullptr && strcmp(CONF_get_string(hash, nullptr, "n"), "v") == 0);
         static CONF_METHOD no_io = *NCONF_default();
         no_io.load_bio = nullptr;
         no_io.dump = nullptr;
         no_io.is_number = nullptr;
         CONF conf = {&no_io, nullptr, nullptr};
         Require(NCONF_load_bio(&conf, BIO_new(BIO_s_mem()), nullptr) == 0);
         RequireError(ERR_LIB_CONF, CONF_F_NCONF_LOAD_BIO, CONF_R_OPERATION_NOT_SUPPORTED);
         Require(NCONF_load(&conf, "/dev/null", nullptr) == 0);  // the built-in load
         Require(NCONF_dump_bio(&conf, BIO_new(BIO_s_mem())) == 0);
         long n = 0;
         Require(NCONF_get_number_e(&conf, nullptr, "HOME", &n) == 0);
         RequireError(ERR_LIB_CONF, CONF_F_NCONF_GET_NUMBER_E, CONF_R_OPERATION_NOT_SUPPORTED);
       }},
      {"a lookup method without ctrl",
       [] {
         static X509_LOOKUP_METHOD m{};
         m.name = "none";
         X509_LOOKUP* l = X509_LOOKUP_new(&m);
         Require(l != nullptr && X509_LOOKUP_ctrl(l, X509_L_FILE_LOAD, "f", 1, nullptr) == 0);
       }},
      {"TXT_DB_create_index without hash and compare functions",
       [] {
         TXT_DB* db = TXT_DB_read(MemWithText("a\tb\n"), 2);
         Require(db != nullptr && TXT_DB_create_index(db, 0, nullptr, nullptr, nullptr) == 0 &&
                 db->error == DB_ERROR_NO_FUNCTION && db->index[0] == nullptr);
       }},
  };
  RunAll(calls);
}

// ---- the last null arguments ----------------------------------------------

// The 512-bit RSA test key in a container of its own.
EVP_PKEY* RsaPkey() {
  RSA* key = morvane_test::SweepRsaKey();
  RSA_up_ref(key);
  EVP_PKEY* k = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(k, key);
  return k;
}

int I2dOctets(void* a, unsigned char** pp) {
  return i2d_ASN1_OCTET_STRING(static_cast<ASN1_OCTET_STRING*>(a), pp);
}

ASN1_OCTET_STRING* Octets() {
  ASN1_OCTET_STRING* s = ASN1_OCTET_STRING_new();
  ASN1_STRING_set(s, "data", 4);
  return s;
}

void RequireNull(int lib, int func) { RequireError(lib, func, ERR_R_PASSED_NULL_PARAMETER); }

TEST(Refusals, LastNullArguments) {
  const std::vector<Call> calls = {
      {"ASN1_sign: no encoder",
       [] {
         Require(ASN1_sign(nullptr, nullptr, nullptr, ASN1_BIT_STRING_new(),
                           reinterpret_cast<char*>(Octets()), RsaPkey(), EVP_sha1()) == 0);
         RequireNull(ERR_LIB_ASN1, ASN1_F_ASN1_SIGN);
       }},
      {"ASN1_sign: no signature",
       [] {
         X509_ALGOR* alg = X509_ALGOR_new();
         const ASN1_OBJECT* const before = alg->algorithm;
         Require(ASN1_sign(I2dOctets, alg, nullptr, nullptr, reinterpret_cast<char*>(Octets()),
                           RsaPkey(), EVP_sha1()) == 0);
         Require(alg->algorithm == before);  // refused before the identifiers change
         RequireNull(ERR_LIB_ASN1, ASN1_F_ASN1_SIGN);
       }},
      {"ASN1_sign: no digest",
       [] {
         Require(ASN1_sign(I2dOctets, X509_ALGOR_new(), nullptr, ASN1_BIT_STRING_new(),
                           reinterpret_cast<char*>(Octets()), RsaPkey(), nullptr) == 0);
       }},
      {"ASN1_item_sign: no item",
       [] {
         Require(ASN1_item_sign(nullptr, nullptr, nullptr, ASN1_BIT_STRING_new(), Octets(),
                                RsaPkey(), EVP_sha1()) == 0);
         RequireNull(ERR_LIB_ASN1, ASN1_F_ASN1_ITEM_SIGN);
       }},
      {"ASN1_item_sign: no signature",
       [] {
         Require(ASN1_item_sign(&ASN1_OCTET_STRING_it, nullptr, nullptr, nullptr, Octets(),
                                RsaPkey(), EVP_sha1()) == 0);
       }},
      {"ASN1_item_sign: no key",
       [] {
         Require(ASN1_item_sign(&ASN1_OCTET_STRING_it, nullptr, nullptr, ASN1_BIT_STRING_new(),
                                Octets(), nullptr, EVP_sha1()) == 0);
       }},
      {"ASN1_item_sign: no digest",
       [] {
         Require(ASN1_item_sign(&ASN1_OCTET_STRING_it, X509_ALGOR_new(), nullptr,
                                ASN1_BIT_STRING_new(), Octets(), RsaPkey(), nullptr) == 0);
       }},
      {"ASN1_digest: no encoder",
       [] {
         unsigned char md[EVP_MAX_MD_SIZE];
         unsigned int len = 0;
         Require(ASN1_digest(nullptr, EVP_sha1(), reinterpret_cast<char*>(Octets()), md, &len) ==
                 0);
         RequireNull(ERR_LIB_ASN1, ASN1_F_ASN1_DIGEST);
       }},
      {"ASN1_digest: no md",
       [] {
         unsigned int len = 0;
         Require(ASN1_digest(I2dOctets, EVP_sha1(), reinterpret_cast<char*>(Octets()), nullptr,
                             &len) == 0);
       }},
      {"ASN1_digest: no digest",
       [] {
         unsigned char md[EVP_MAX_MD_SIZE];
         Require(ASN1_digest(I2dOctets, nullptr, reinterpret_cast<char*>(Octets()), md,
                             nullptr) == 0);
       }},
      {"ASN1_item_digest: no item",
       [] {
         unsigned char md[EVP_MAX_MD_SIZE];
         Require(ASN1_item_digest(nullptr, EVP_sha1(), Octets(), md, nullptr) == 0);
       }},
      {"ASN1_item_digest: no md",
       [] { Require(ASN1_item_digest(&ASN1_OCTET_STRING_it, EVP_sha1(), Octets(), nullptr, nullptr) == 0); }},
      {"ASN1_item_verify: no item",
       [] {
         Require(ASN1_item_verify(nullptr, X509_ALGOR_new(), ASN1_BIT_STRING_new(), Octets(),
                                  RsaPkey()) == -1);
       }},
      {"BIO_new_bio_pair: no first half",
       [] {
         BIO* b = BIO_new(BIO_s_null());
         Require(BIO_new_bio_pair(nullptr, 0, &b, 0) == 0 && b == nullptr);
         RequireNull(ERR_LIB_BIO, BIO_F_BIO_MAKE_PAIR);
       }},
      {"BIO_new_bio_pair: no second half",
       [] {
         BIO* a = nullptr;
         Require(BIO_new_bio_pair(&a, 0, nullptr, 0) == 0 && a == nullptr);
       }},
      {"CONF_set_nconf(NULL)", [] { CONF_set_nconf(nullptr, nullptr); }},
      {"_CONF_add_string",
       [] {
         CONF* conf = NCONF_new(nullptr);
         Require(_CONF_new_data(conf) == 1);
         CONF_VALUE* section = _CONF_new_section(conf, "s");
         Require(section != nullptr);
         CONF_VALUE value = {nullptr, const_cast<char*>("n"), const_cast<char*>("v")};
         Require(_CONF_add_string(nullptr, section, &value) == 0);
         Require(_CONF_add_string(conf, nullptr, &value) == 0);
         Require(_CONF_add_string(conf, section, nullptr) == 0);
         CONF empty = {};  // a CONF without a store
         Require(_CONF_add_string(&empty, section, &value) == 0);
         Require(sk_num(_CONF_get_section_values(conf, "s")) == 0);
       }},
      {"ERR_load_strings(NULL), ERR_unload_strings(NULL)",
       [] {
         ERR_load_strings(0, nullptr);
         ERR_load_strings(ERR_LIB_USER, nullptr);
         ERR_unload_strings(ERR_LIB_USER, nullptr);
       }},
      {"EVP_SignFinal: no siglen",
       [] {
         EVP_MD_CTX ctx;
         EVP_MD_CTX_init(&ctx);
         EVP_SignInit(&ctx, EVP_sha1());
         EVP_SignUpdate(&ctx, "data", 4);
         unsigned char sig[128];
         Require(EVP_SignFinal(&ctx, sig, nullptr, RsaPkey()) == 0);
         RequireNull(ERR_LIB_EVP, EVP_F_EVP_SIGNFINAL);
       }},
      {"EVP_SignFinal: no signature buffer",
       [] {
         EVP_MD_CTX ctx;
         EVP_MD_CTX_init(&ctx);
         EVP_SignInit(&ctx, EVP_sha1());
         unsigned int n = 7;
         Require(EVP_SignFinal(&ctx, nullptr, &n, RsaPkey()) == 0);
       }},
      {"OBJ_cmp with a null side",
       [] {
         const ASN1_OBJECT* o = OBJ_nid2obj(OBJ_sn2nid("SHA1"));
         Require(OBJ_cmp(nullptr, o) < 0 && OBJ_cmp(o, nullptr) > 0 &&
                 OBJ_cmp(nullptr, nullptr) == 0);
       }},
      {"X509V3_EXT_nconf: no value",
       [] {
         Require(X509V3_EXT_nconf(nullptr, nullptr, "basicConstraints", nullptr) == nullptr);
         RequireError(ERR_LIB_X509V3, X509V3_F_X509V3_EXT_NCONF, X509V3_R_INVALID_NULL_VALUE);
       }},
      {"X509V3_EXT_nconf_nid: no value",
       [] {
         Require(X509V3_EXT_nconf_nid(nullptr, nullptr, OBJ_sn2nid("basicConstraints"), nullptr) ==
                 nullptr);
       }},
      {"X509V3_EXT_conf: no value",
       [] { Require(X509V3_EXT_conf(nullptr, nullptr, "keyUsage", nullptr) == nullptr); }},
      {"X509V3_EXT_conf_nid: no value",
       [] { Require(X509V3_EXT_conf_nid(nullptr, nullptr, OBJ_sn2nid("keyUsage"), nullptr) == nullptr); }},
      {"X509_policy_check: no chain",
       [] {
         X509_POLICY_TREE* tree = nullptr;
         int explicit_policy = 7;
         Require(X509_policy_check(&tree, &explicit_policy, nullptr, nullptr, 0) == 0);
         Require(tree == nullptr && explicit_policy == 0);
         RequireError(ERR_LIB_X509V3, -1, ERR_R_PASSED_NULL_PARAMETER);
       }},
      {"X509_policy_check: no tree or flag pointer",
       [] {
         STACK* chain = sk_new_null();
         sk_push(chain, reinterpret_cast<char*>(morvane_test::MakeCert({"leaf"})));
         sk_push(chain, reinterpret_cast<char*>(morvane_test::MakeCert({"root"})));
         int explicit_policy = 0;
         X509_POLICY_TREE* tree = nullptr;
         Require(X509_policy_check(nullptr, &explicit_policy, chain, nullptr, 0) == 0);
         Require(X509_policy_check(&tree, nullptr, chain, nullptr, 0) == 0);
       }},
      {"i2a_ACCESS_DESCRIPTION(NULL)",
       [] {
         BIO* b = BIO_new(BIO_s_mem());
         Require(i2a_ACCESS_DESCRIPTION(b, nullptr) == 0 && BIO_ctrl_pending(b) == 0);
       }},
      {"X509_REVOKED_cmp with a null side",
       [] {
         X509_REVOKED* rev = X509_REVOKED_new();
         ASN1_INTEGER_set(rev->serialNumber, 5);
         const X509_REVOKED* none = nullptr;
         const X509_REVOKED* some = rev;
         Require(X509_REVOKED_cmp(&none, &some) < 0 && X509_REVOKED_cmp(&some, &none) > 0 &&
                 X509_REVOKED_cmp(&none, &none) == 0 && X509_REVOKED_cmp(nullptr, &some) < 0);
       }},
  };
  RunAll(calls);
}

}  // namespace
