// Every exported function that takes an int length or count, called with -1,
// -2, INT_MIN and INT_MAX, each call in a forked child under the sanitizers:
// no report, no crash, no hang.  The long lengths of the ASN.1 codec (the
// hand-written decoders, the header and dump readers) are called with -1, -2,
// LONG_MIN and INT_MAX + 1 over the same buffer.  The other arguments are valid objects; where
// the length sizes a caller's buffer, the buffer is a zero-filled mapping of
// INT_MAX + 64 bytes, committed only where touched.  tools/check_length_sweep.py
// (Structure.LengthSweepCoversEveryLength) finds the functions in the public
// headers and fails while one has no entry here.
//
// An entry is {"Name", call}: call(len) makes one call with `len` in the
// length being swept.  A function with two lengths has one entry per length
// ("Name" then "Name:second"), the other length kept valid and small.  A long
// length's entry is {"Name:param", call} in kLong.

#include <fcntl.h>
#include <sys/mman.h>

#include <climits>
#include <initializer_list>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/aes.h>
#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bio.h>
#include <morvane/blowfish.h>
#include <morvane/bn.h>
#include <morvane/buffer.h>
#include <morvane/cast.h>
#include <morvane/comp.h>
#include <morvane/crypto.h>
#include <morvane/des.h>
#include <morvane/des_old.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/ecdsa.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/hmac.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/pem.h>
#include <morvane/pkcs12.h>
#include <morvane/rand.h>
#include <morvane/rc2.h>
#include <morvane/rc4.h>
#include <morvane/rpc_des.h>
#include <morvane/rsa.h>
#include <morvane/txt_db.h>
#include <morvane/ui.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>
#include <morvane/x509_vfy.h>

#include "child.h"
#include "rsa_key.h"
#include "test_support.h"

// A structure with a cached encoding.
struct SweepEnc {
  ASN1_ENCODING enc;
  ASN1_INTEGER* n;
};
ASN1_SEQUENCE_enc(SweepEnc, enc, NULL) = {
    ASN1_SIMPLE(SweepEnc, n, ASN1_INTEGER),
} ASN1_SEQUENCE_END_enc(SweepEnc, SweepEnc);

namespace {

// ---- the runner ---------------------------------------------------------

// INT_MAX + 64 zero bytes, readable and writable (private to each child).
unsigned char* g_big = nullptr;
constexpr size_t kBigSize = static_cast<size_t>(INT_MAX) + 64;

unsigned char* Big() { return g_big; }

struct Entry {
  const char* name;
  void (*call)(int len);
};
void PrintTo(const Entry& e, std::ostream* os) { *os << e.name; }
struct LongEntry {
  const char* name;
  void (*call)(long len);
};
void PrintTo(const LongEntry& e, std::ostream* os) { *os << e.name; }

// Seconds a child may take: the slowest calls read, hash or write 2 GB
// (a pass phrase of INT_MAX bytes through MD5 takes about a minute under the
// sanitizers on a loaded machine); below the test's own 300-second limit.
constexpr unsigned kChildSeconds = 240;

// The built-in generator would take minutes to mix or produce 2 GB (SHA-1
// over 10 or 20 bytes a step): the sweep's calls that draw or add random
// bytes go to this method, which only touches the buffer.
const RAND_METHOD kQuickRandom = {
    [](const void* buf, int num) {
      if (num > 0) (void)*static_cast<const volatile unsigned char*>(buf);
    },
    [](unsigned char* buf, int num) {
      if (num > 0) buf[0] = buf[num - 1] = 0x5a;
      return 1;
    },
    nullptr,
    [](const void* buf, int num, double) {
      if (num > 0) (void)*static_cast<const volatile unsigned char*>(buf);
    },
    [](unsigned char* buf, int num) {
      if (num > 0) buf[0] = buf[num - 1] = 0x5a;
      return 1;
    },
    [] { return 1; },
};

// Calls `call` with each of `lengths` in its own child.
template <typename Len>
void Sweep(const char* name, void (*call)(Len), std::initializer_list<Len> lengths) {
  RAND_set_rand_method(&kQuickRandom);
  if (g_big == nullptr) {
    void* p = mmap(nullptr, kBigSize, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(MAP_FAILED, p);
    g_big = static_cast<unsigned char*>(p);
  }
  for (Len len : lengths) {
    EXPECT_EQ("", morvane_test::RunInChild([&] { call(len); }, kChildSeconds))
        << name << "(" << len << ")";
  }
}

// A stream holding `n` bytes of text.
BIO* MemWith(const char* text) {
  BIO* b = BIO_new(BIO_s_mem());
  BIO_write(b, text, static_cast<int>(strlen(text)));
  return b;
}

ASN1_STRING* NewString() {
  ASN1_STRING* s = ASN1_OCTET_STRING_new();
  ASN1_STRING_set(s, "abc", 3);
  return s;
}

// ---- entries --------------------------------------------------------------

const std::vector<Entry> kAsn1 = {
    {"ASN1_seq_unpack",
     [](int len) {
       ASN1_seq_unpack(Big(), len, reinterpret_cast<d2i_of_void*>(d2i_ASN1_INTEGER),
                       reinterpret_cast<void (*)(void*)>(ASN1_INTEGER_free));
     }},
    {"ASN1_put_object",
     [](int len) {
       unsigned char buf[16], *p = buf;
       if (ASN1_object_size(0, len, 4) > 0) p = Big();  // sized by the caller
       ASN1_put_object(&p, 0, len, 4, 0);
     }},
    {"ASN1_object_size", [](int len) { ASN1_object_size(0, len, 4); }},
    {"ASN1_STRING_set", [](int len) { ASN1_STRING_set(NewString(), len < 0 ? "text" : reinterpret_cast<char*>(Big()), len); }},
    {"ASN1_STRING_set0",
     [](int len) {
       ASN1_STRING* s = NewString();
       ASN1_STRING_set0(s, Big(), len);
       ASN1_STRING_dup(s);
     }},
    {"ASN1_STRING_length_set",
     [](int len) {
       ASN1_STRING* s = NewString();
       ASN1_STRING_set0(s, Big(), INT_MAX);  // the data holds INT_MAX bytes
       ASN1_STRING_length_set(s, len);
       ASN1_STRING_dup(s);
     }},
    {"asn1_ex_c2i",
     [](int len) {
       ASN1_VALUE* v = nullptr;
       char take = 0;
       asn1_ex_c2i(&v, Big(), len, ASN1_UT_OCTET_STRING, &take, &ASN1_OCTET_STRING_it);
     }},
    {"ASN1_OBJECT_create", [](int len) { ASN1_OBJECT_create(0, Big(), len, "sn", "ln"); }},
    {"a2i_ASN1_INTEGER",
     [](int size) {
       a2i_ASN1_INTEGER(MemWith("0102\\\n0304\n"), ASN1_INTEGER_new(),
                        reinterpret_cast<char*>(Big()), size);
     }},
    {"a2i_ASN1_ENUMERATED",
     [](int size) {
       a2i_ASN1_ENUMERATED(MemWith("0102\n"), ASN1_ENUMERATED_new(),
                           reinterpret_cast<char*>(Big()), size);
     }},
    {"a2i_ASN1_STRING",
     [](int size) {
       a2i_ASN1_STRING(MemWith("0102\n"), NewString(), reinterpret_cast<char*>(Big()), size);
     }},
    {"ASN1_BIT_STRING_set",
     [](int len) {
       ASN1_BIT_STRING_set(ASN1_BIT_STRING_new(), len < 0 ? (unsigned char*)"\x01" : Big(), len);
     }},
    {"ASN1_BIT_STRING_set_bit", [](int n) { ASN1_BIT_STRING_set_bit(ASN1_BIT_STRING_new(), n, 1); }},
    {"ASN1_BIT_STRING_get_bit",
     [](int n) {
       ASN1_BIT_STRING* b = ASN1_BIT_STRING_new();
       ASN1_BIT_STRING_set(b, (unsigned char*)"\xff\xff", 2);
       ASN1_BIT_STRING_get_bit(b, n);
     }},
    {"ASN1_OCTET_STRING_set",
     [](int len) {
       ASN1_OCTET_STRING_set(ASN1_OCTET_STRING_new(), len < 0 ? (unsigned char*)"ab" : Big(), len);
     }},
    {"ASN1_TYPE_set_octetstring", [](int len) { ASN1_TYPE_set_octetstring(ASN1_TYPE_new(), Big(), len); }},
    {"ASN1_TYPE_get_octetstring",
     [](int len) {
       ASN1_TYPE* t = ASN1_TYPE_new();
       ASN1_TYPE_set_octetstring(t, (unsigned char*)"abcdef", 6);
       ASN1_TYPE_get_octetstring(t, Big(), len);
     }},
    {"ASN1_TYPE_set_int_octetstring",
     [](int len) { ASN1_TYPE_set_int_octetstring(ASN1_TYPE_new(), 5, Big(), len); }},
    {"ASN1_TYPE_get_int_octetstring",
     [](int len) {
       ASN1_TYPE* t = ASN1_TYPE_new();
       ASN1_TYPE_set_int_octetstring(t, 5, (unsigned char*)"abcdef", 6);
       long num = 0;
       ASN1_TYPE_get_int_octetstring(t, &num, Big(), len);
     }},
    {"a2d_ASN1_OBJECT",  // olen: the output's room
     [](int olen) { a2d_ASN1_OBJECT(Big(), olen, "1.2.840.113549", -1); }},
    {"a2d_ASN1_OBJECT:num",  // num: the text's length (-1: up to its zero)
     [](int num) {
       unsigned char out[64];
       const char* text = "1.2.840.113549";
       a2d_ASN1_OBJECT(out, sizeof out, num < 0 ? text : reinterpret_cast<char*>(Big()), num);
     }},
    {"i2t_ASN1_OBJECT",
     [](int len) { i2t_ASN1_OBJECT(reinterpret_cast<char*>(Big()), len, OBJ_nid2obj(6)); }},
    {"asn1_enc_save",
     [](int len) {
       ASN1_VALUE* v = ASN1_item_new(ASN1_ITEM_ref(SweepEnc));
       asn1_enc_save(&v, Big(), len, ASN1_ITEM_ref(SweepEnc));
       int n = 0;
       asn1_enc_restore(&n, nullptr, &v, ASN1_ITEM_ref(SweepEnc));
     }},
    // Text to convert; a mask whose types need no walk over 2 GB.
    {"ASN1_mbstring_ncopy",
     [](int len) {
       ASN1_STRING* out = nullptr;
       ASN1_mbstring_ncopy(&out, len < 0 ? (const unsigned char*)"text" : Big(), len,
                           ASN1_MB_ASCII, ASN1_MASK_UNIVERSALSTRING, 0, 0);
     }},
    {"ASN1_mbstring_copy",
     [](int len) {
       ASN1_STRING* out = nullptr;
       ASN1_mbstring_copy(&out, len < 0 ? (const unsigned char*)"text" : Big(), len,
                          ASN1_MB_BMP, ASN1_MASK_UNIVERSALSTRING);
     }},
    {"ASN1_STRING_set_by_NID",
     [](int len) {
       ASN1_STRING_set_by_NID(nullptr, len < 0 ? (const unsigned char*)"text" : Big(), len,
                              ASN1_MB_ASCII, 13);
     }},
    {"ASN1_PRINTABLE_type", [](int len) { ASN1_PRINTABLE_type(Big(), len); }},
    {"UTF8_getc",
     [](int len) {
       unsigned long v;
       UTF8_getc(Big(), len, &v);
     }},
    {"UTF8_putc", [](int len) { UTF8_putc(Big(), len, 0x10000); }},
    {"OBJ_bsearch",
     [](int num) {
       const char key = 1;
       OBJ_bsearch(&key, reinterpret_cast<char*>(Big()), num, 1,
                   [](const void* a, const void* b) {
                     return *static_cast<const char*>(a) - *static_cast<const char*>(b);
                   });
     }},
    {"OBJ_bsearch:size",
     [](int size) {
       const char key = 1;
       OBJ_bsearch(&key, reinterpret_cast<char*>(Big()), 1, size,
                   [](const void* a, const void* b) {
                     return *static_cast<const char*>(a) - *static_cast<const char*>(b);
                   });
     }},
    {"OBJ_bsearch_ex",
     [](int num) {
       const char key = 1;
       OBJ_bsearch_ex(&key, reinterpret_cast<char*>(Big()), num, 1,
                      [](const void* a, const void* b) {
                        return *static_cast<const char*>(a) - *static_cast<const char*>(b);
                      },
                      OBJ_BSEARCH_VALUE_ON_NOMATCH);
     }},
    {"OBJ_bsearch_ex:size",
     [](int size) {
       const char key = 1;
       OBJ_bsearch_ex(&key, reinterpret_cast<char*>(Big()), 1, size,
                      [](const void* a, const void* b) {
                        return *static_cast<const char*>(a) - *static_cast<const char*>(b);
                      },
                      OBJ_BSEARCH_FIRST_VALUE_ON_MATCH);
     }},
    {"OBJ_new_nid", [](int num) { OBJ_new_nid(num); }},
    {"OBJ_nid2obj", [](int n) { OBJ_nid2obj(n); }},
    {"OBJ_nid2sn", [](int n) { OBJ_nid2sn(n); }},
    {"OBJ_nid2ln", [](int n) { OBJ_nid2ln(n); }},
    {"OBJ_obj2txt",
     [](int len) { OBJ_obj2txt(reinterpret_cast<char*>(Big()), len, OBJ_nid2obj(6), 0); }},
};

const std::vector<Entry> kBio = {
    {"BIO_read",
     [](int len) {
       BIO* b = MemWith("some text");
       BIO_read(b, Big(), len);
     }},
    {"BIO_write", [](int len) { BIO_write(BIO_new(BIO_s_mem()), Big(), len); }},
    {"BIO_gets",
     [](int size) {
       BIO* b = MemWith("a line\nanother");
       BIO_gets(b, reinterpret_cast<char*>(Big()), size);
     }},
    {"BIO_indent", [](int max) { BIO_indent(BIO_new(BIO_s_null()), 4, max); }},
    {"BIO_new_mem_buf",
     [](int len) {
       char text[] = "text";
       BIO* b = BIO_new_mem_buf(len < 0 ? static_cast<void*>(text) : Big(), len);
       char buf[8];
       if (b != nullptr) BIO_read(b, buf, sizeof buf);
     }},
    {"BIO_dump_cb",
     [](int len) {
       BIO_dump_cb([](const void*, size_t n, void*) { return static_cast<int>(n); }, nullptr,
                   reinterpret_cast<char*>(Big()), len);
     }},
    {"BIO_dump_indent_cb",
     [](int len) {
       BIO_dump_indent_cb([](const void*, size_t n, void*) { return static_cast<int>(n); },
                          nullptr, reinterpret_cast<char*>(Big()), len, 2);
     }},
    {"BIO_dump",
     [](int len) { BIO_dump(BIO_new(BIO_s_null()), reinterpret_cast<char*>(Big()), len); }},
    {"BIO_dump_indent",
     [](int len) {
       BIO_dump_indent(BIO_new(BIO_s_null()), reinterpret_cast<char*>(Big()), len, 2);
     }},
    {"BIO_dump_fp",
     [](int len) {
       FILE* f = fopen("/dev/null", "w");
       BIO_dump_fp(f, reinterpret_cast<char*>(Big()), len);
     }},
    {"BIO_dump_indent_fp",
     [](int len) {
       FILE* f = fopen("/dev/null", "w");
       BIO_dump_indent_fp(f, reinterpret_cast<char*>(Big()), len, 3);
     }},
    {"BIO_nread",
     [](int num) {
       BIO *a = nullptr, *b = nullptr;
       BIO_new_bio_pair(&a, 64, &b, 64);
       BIO_write(a, "data", 4);
       char* p = nullptr;
       BIO_nread(b, &p, num);
     }},
    {"BIO_nwrite",
     [](int num) {
       BIO *a = nullptr, *b = nullptr;
       BIO_new_bio_pair(&a, 64, &b, 64);
       char* p = nullptr;
       BIO_nwrite(a, &p, num);
     }},
    {"BUF_MEM_grow", [](int len) { BUF_MEM_grow(BUF_MEM_new(), len); }},
    {"BUF_MEM_grow_clean", [](int len) { BUF_MEM_grow_clean(BUF_MEM_new(), len); }},
    {"TXT_DB_read", [](int num) { TXT_DB_read(MemWith("a\tb\n"), num); }},
};

const std::vector<Entry> kCrypto = {
    {"CRYPTO_malloc", [](int num) { CRYPTO_free(CRYPTO_malloc(num, __FILE__, __LINE__)); }},
    {"CRYPTO_malloc_locked",
     [](int num) { CRYPTO_free_locked(CRYPTO_malloc_locked(num, __FILE__, __LINE__)); }},
    {"CRYPTO_realloc",
     [](int num) {
       void* p = CRYPTO_malloc(16, __FILE__, __LINE__);
       void* q = CRYPTO_realloc(p, num, __FILE__, __LINE__);
       CRYPTO_free(q != nullptr ? q : p);
     }},
    {"CRYPTO_realloc_clean",  // old_len: the block's size
     [](int old_len) {
       const int n = old_len < 0 ? 16 : old_len;
       void* p = CRYPTO_malloc(n, __FILE__, __LINE__);
       if (p == nullptr) return;
       void* q = CRYPTO_realloc_clean(p, old_len, 32, __FILE__, __LINE__);
       CRYPTO_free(q != nullptr ? q : p);
     }},
    {"CRYPTO_realloc_clean:num",
     [](int num) {
       void* p = CRYPTO_malloc(16, __FILE__, __LINE__);
       void* q = CRYPTO_realloc_clean(p, 16, num, __FILE__, __LINE__);
       CRYPTO_free(q != nullptr ? q : p);
     }},
    {"CRYPTO_remalloc",
     [](int num) {
       void* p = CRYPTO_malloc(16, __FILE__, __LINE__);
       CRYPTO_free(CRYPTO_remalloc(p, num, __FILE__, __LINE__));
     }},
    {"CRYPTO_dbg_malloc",
     [](int num) {
       CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON);
       static char block[16];
       CRYPTO_dbg_malloc(block, num, __FILE__, __LINE__, 1);
       CRYPTO_dbg_malloc(block, num, __FILE__, __LINE__, 0);
     }},
    {"CRYPTO_dbg_realloc",
     [](int num) {
       CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON);
       static char a[16], b[16];
       CRYPTO_dbg_malloc(a, 16, __FILE__, __LINE__, 0);
       CRYPTO_dbg_realloc(a, b, num, __FILE__, __LINE__, 0);
     }},
    {"RAND_seed", [](int num) { RAND_seed(Big(), num); }},
    {"RAND_add", [](int num) { RAND_add(Big(), num, 0.0); }},
    {"RAND_bytes", [](int num) { RAND_bytes(Big(), num); }},
    {"RAND_pseudo_bytes", [](int num) { RAND_pseudo_bytes(Big(), num); }},
    {"RAND_query_egd_bytes",
     [](int bytes) { RAND_query_egd_bytes("/nonexistent/egd-socket", Big(), bytes); }},
    {"RAND_egd_bytes", [](int bytes) { RAND_egd_bytes("/nonexistent/egd-socket", bytes); }},
    {"UI_add_input_string",
     [](int minsize) {
       UI_add_input_string(UI_new(), "p", 0, reinterpret_cast<char*>(Big()), minsize, 8);
     }},
    {"UI_add_input_string:maxsize",
     [](int maxsize) {
       UI_add_input_string(UI_new(), "p", 0, reinterpret_cast<char*>(Big()), 0, maxsize);
     }},
    {"UI_dup_input_string",
     [](int minsize) {
       UI_dup_input_string(UI_new(), "p", 0, reinterpret_cast<char*>(Big()), minsize, 8);
     }},
    {"UI_dup_input_string:maxsize",
     [](int maxsize) {
       UI_dup_input_string(UI_new(), "p", 0, reinterpret_cast<char*>(Big()), 0, maxsize);
     }},
    {"UI_add_verify_string",
     [](int minsize) {
       UI_add_verify_string(UI_new(), "p", 0, reinterpret_cast<char*>(Big()), minsize, 8, "x");
     }},
    {"UI_add_verify_string:maxsize",
     [](int maxsize) {
       UI_add_verify_string(UI_new(), "p", 0, reinterpret_cast<char*>(Big()), 0, maxsize, "x");
     }},
    {"UI_dup_verify_string",
     [](int minsize) {
       UI_dup_verify_string(UI_new(), "p", 0, reinterpret_cast<char*>(Big()), minsize, 8, "x");
     }},
    {"UI_dup_verify_string:maxsize",
     [](int maxsize) {
       UI_dup_verify_string(UI_new(), "p", 0, reinterpret_cast<char*>(Big()), 0, maxsize, "x");
     }},
    {"UI_UTIL_read_pw",
     [](int size) {
       UI_UTIL_read_pw(reinterpret_cast<char*>(Big()), reinterpret_cast<char*>(Big()) + 1024,
                       size, "p", 0);
     }},
    {"UI_UTIL_read_pw_string",
     [](int length) { UI_UTIL_read_pw_string(reinterpret_cast<char*>(Big()), length, "p", 0); }},
    {"_qarn_old_des_read_pw",
     [](int size) {
       _qarn_old_des_read_pw(reinterpret_cast<char*>(Big()),
                             reinterpret_cast<char*>(Big()) + 1024, size, "p", 0);
     }},
    {"_qarn_old_des_read_pw_string",
     [](int length) {
       _qarn_old_des_read_pw_string(reinterpret_cast<char*>(Big()), length, "p", 0);
     }},
};

unsigned char g_key[64] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

const std::vector<Entry> kCiphers = {
    {"AES_set_encrypt_key",
     [](int bits) {
       AES_KEY k;
       AES_set_encrypt_key(g_key, bits, &k);
     }},
    {"AES_set_decrypt_key",
     [](int bits) {
       AES_KEY k;
       AES_set_decrypt_key(g_key, bits, &k);
     }},
    {"AES_cfbr_encrypt_block",
     [](int nbits) {
       AES_KEY k;
       AES_set_encrypt_key(g_key, 128, &k);
       unsigned char in[16] = {}, out[16], iv[16] = {};
       AES_cfbr_encrypt_block(in, out, nbits, &k, iv, AES_ENCRYPT);
     }},
    {"BF_set_key",
     [](int len) {
       BF_KEY k;
       BF_set_key(&k, len, len < 0 ? g_key : Big());
     }},
    {"CAST_set_key",
     [](int len) {
       CAST_KEY k;
       CAST_set_key(&k, len, len < 0 ? g_key : Big());
     }},
    {"RC2_set_key",
     [](int len) {
       RC2_KEY k;
       RC2_set_key(&k, len, len < 0 ? g_key : Big(), 128);
     }},
    {"RC2_set_key:bits",
     [](int bits) {
       RC2_KEY k;
       RC2_set_key(&k, 16, g_key, bits);
     }},
    {"RC4_set_key",
     [](int len) {
       RC4_KEY k;
       RC4_set_key(&k, len, len < 0 ? g_key : Big());
     }},
    {"DES_cfb_encrypt",
     [](int numbits) {
       DES_key_schedule ks;
       DES_set_key_unchecked(reinterpret_cast<const_DES_cblock*>(g_key), &ks);
       unsigned char in[64] = {}, out[64];
       DES_cblock iv = {};
       DES_cfb_encrypt(in, out, numbits, 16, &ks, &iv, DES_ENCRYPT);
     }},
    {"DES_ede3_cfb_encrypt",
     [](int numbits) {
       DES_key_schedule ks;
       DES_set_key_unchecked(reinterpret_cast<const_DES_cblock*>(g_key), &ks);
       unsigned char in[64] = {}, out[64];
       DES_cblock iv = {};
       DES_ede3_cfb_encrypt(in, out, numbits, 16, &ks, &ks, &ks, &iv, DES_ENCRYPT);
     }},
    {"DES_ofb_encrypt",
     [](int numbits) {
       DES_key_schedule ks;
       DES_set_key_unchecked(reinterpret_cast<const_DES_cblock*>(g_key), &ks);
       unsigned char in[256] = {}, out[256];
       DES_cblock iv = {};
       DES_ofb_encrypt(in, out, numbits, 2, &ks, &iv);
     }},
    {"DES_quad_cksum",
     [](int out_count) {
       DES_cblock out[8], seed = {};
       DES_quad_cksum(g_key, out, 16, out_count, &seed);
     }},
    {"DES_enc_write",
     [](int len) {
       DES_key_schedule ks;
       DES_set_key_unchecked(reinterpret_cast<const_DES_cblock*>(g_key), &ks);
       DES_cblock iv = {};
       const int fd = open("/dev/null", O_RDONLY);  // every write fails at once
       DES_enc_write(fd, Big(), len, &ks, &iv);
     }},
    {"DES_enc_read",
     [](int len) {
       DES_key_schedule ks;
       DES_set_key_unchecked(reinterpret_cast<const_DES_cblock*>(g_key), &ks);
       DES_cblock iv = {};
       const int fd = open("/dev/null", O_RDONLY);  // end of file at once
       DES_enc_read(fd, Big(), len, &ks, &iv);
     }},
    {"_qarn_old_des_cfb_encrypt",
     [](int numbits) {
       _qarn_old_des_key_schedule ks;
       _qarn_old_des_set_key(reinterpret_cast<_qarn_old_des_cblock*>(g_key), ks);
       unsigned char in[64] = {}, out[64];
       _qarn_old_des_cblock iv = {};
       _qarn_old_des_cfb_encrypt(in, out, numbits, 16, ks, &iv, 1);
     }},
    {"_qarn_old_des_ofb_encrypt",
     [](int numbits) {
       _qarn_old_des_key_schedule ks;
       _qarn_old_des_set_key(reinterpret_cast<_qarn_old_des_cblock*>(g_key), ks);
       unsigned char in[256] = {}, out[256];
       _qarn_old_des_cblock iv = {};
       _qarn_old_des_ofb_encrypt(in, out, numbits, 2, ks, &iv);
     }},
    {"_qarn_old_des_quad_cksum",
     [](int out_count) {
       _qarn_old_des_cblock out[8], seed = {};
       _qarn_old_des_quad_cksum(reinterpret_cast<_qarn_old_des_cblock*>(g_key), out, 16,
                                out_count, &seed);
     }},
    {"_qarn_old_des_enc_write",
     [](int len) {
       _qarn_old_des_key_schedule ks;
       _qarn_old_des_set_key(reinterpret_cast<_qarn_old_des_cblock*>(g_key), ks);
       _qarn_old_des_cblock iv = {};
       const int fd = open("/dev/null", O_RDONLY);
       _qarn_old_des_enc_write(fd, reinterpret_cast<char*>(Big()), len, ks, &iv);
     }},
    {"_qarn_old_des_enc_read",
     [](int len) {
       _qarn_old_des_key_schedule ks;
       _qarn_old_des_set_key(reinterpret_cast<_qarn_old_des_cblock*>(g_key), ks);
       _qarn_old_des_cblock iv = {};
       const int fd = open("/dev/null", O_RDONLY);
       _qarn_old_des_enc_read(fd, reinterpret_cast<char*>(Big()), len, ks, &iv);
     }},
    {"_des_crypt",
     [](int len) {
       desparams p = {};
       memcpy(p.des_key, g_key, 8);
       p.des_dir = ENCRYPT;
       p.des_mode = ECB;  // one block: the length is not read
       p.UDES.UDES_buf = Big();
       _des_crypt(nullptr, len, &p);
     }},
    // One byte held first: INT_MAX more would make the count pass INT_MAX.
    {"EVP_EncryptUpdate",
     [](int inl) {
       EVP_CIPHER_CTX c;
       EVP_CIPHER_CTX_init(&c);
       EVP_EncryptInit_ex(&c, EVP_aes_128_cbc(), nullptr, g_key, g_key);
       int n = 0;
       EVP_EncryptUpdate(&c, Big(), &n, g_key, 1);
       EVP_EncryptUpdate(&c, Big(), &n, Big(), inl);
     }},
    {"EVP_DecryptUpdate",
     [](int inl) {
       EVP_CIPHER_CTX c;
       EVP_CIPHER_CTX_init(&c);
       EVP_DecryptInit_ex(&c, EVP_aes_128_cbc(), nullptr, g_key, g_key);
       int n = 0;
       EVP_DecryptUpdate(&c, Big(), &n, g_key, 16);  // a block held back
       EVP_DecryptUpdate(&c, Big(), &n, Big(), inl);
     }},
    {"EVP_CipherUpdate",
     [](int inl) {
       EVP_CIPHER_CTX c;
       EVP_CIPHER_CTX_init(&c);
       EVP_CipherInit_ex(&c, EVP_bf_cbc(), nullptr, g_key, g_key, 1);
       int n = 0;
       EVP_CipherUpdate(&c, Big(), &n, g_key, 3);
       EVP_CipherUpdate(&c, Big(), &n, Big(), inl);
     }},
    {"EVP_CIPHER_CTX_set_key_length",
     [](int keylen) {
       EVP_CIPHER_CTX c;
       EVP_CIPHER_CTX_init(&c);
       EVP_CipherInit_ex(&c, EVP_rc4(), nullptr, nullptr, nullptr, 1);
       if (EVP_CIPHER_CTX_set_key_length(&c, keylen))  // the key then holds keylen bytes
         EVP_CipherInit_ex(&c, nullptr, nullptr, Big(), nullptr, 1);
     }},
};

// Word vectors of INT_MAX words would need 8 GB each: the word kernels take
// -1 only (their other lengths are the caller's, as for memcpy).
template <void (*F)(int)>
void NegativeOnly(int n) {
  if (n < 0) F(n);
}

BN_ULONG g_w[8] = {1, 2, 3, 4, 5, 6, 7, 8}, g_r[32];

const std::vector<Entry> kBn = {
    {"bn_expand2", [](int words) { bn_expand2(BN_new(), words); }},
    {"bn_dup_expand",
     [](int words) {
       BIGNUM* a = BN_new();
       BN_set_word(a, 5);
       bn_dup_expand(a, words);
     }},
    {"BN_bin2bn", [](int len) { BN_bin2bn(Big(), len, nullptr); }},
    {"BN_set_bit", [](int n) { BN_set_bit(BN_new(), n); }},
    {"BN_clear_bit",
     [](int n) {
       BIGNUM* a = BN_new();
       BN_set_word(a, 7);
       BN_clear_bit(a, n);
     }},
    {"BN_is_bit_set",
     [](int n) {
       BIGNUM* a = BN_new();
       BN_set_word(a, 7);
       BN_is_bit_set(a, n);
     }},
    {"BN_mask_bits",
     [](int n) {
       BIGNUM* a = BN_new();
       BN_set_word(a, 7);
       BN_mask_bits(a, n);
     }},
    {"BN_lshift",
     [](int n) {
       BIGNUM* a = BN_new();
       BN_set_word(a, 7);
       BN_lshift(BN_new(), a, n);
     }},
    {"BN_rshift",
     [](int n) {
       BIGNUM* a = BN_new();
       BN_set_word(a, 7);
       BN_rshift(BN_new(), a, n);
     }},
    {"BN_mpi2bn", [](int n) { BN_mpi2bn(Big(), n, nullptr); }},
    // Shifting 0 by a long modulus takes INT_MAX / 8192 rounds; any other
    // residue moves one bit a round once it nears the modulus (2^31 rounds).
    {"BN_mod_lshift",
     [](int n) {
       BIGNUM *a = BN_new(), *m = BN_new();
       BN_set_bit(m, 8192);
       BN_add_word(m, 1);
       BN_CTX* ctx = BN_CTX_new();
       BN_mod_lshift(BN_new(), a, n, m, ctx);
     }},
    {"BN_mod_lshift_quick",
     [](int n) {
       BIGNUM *a = BN_new(), *m = BN_new();
       BN_set_bit(m, 8192);
       BN_add_word(m, 1);
       BN_mod_lshift_quick(BN_new(), a, n, m);
     }},
    {"BN_reciprocal",
     [](int len) {
       BIGNUM* m = BN_new();
       BN_set_word(m, 1000003);
       BN_CTX* ctx = BN_CTX_new();
       BN_reciprocal(BN_new(), m, len, ctx);
     }},
    {"BN_pseudo_rand", [](int bits) { BN_pseudo_rand(BN_new(), bits, 0, 0); }},
    {"BN_rand", [](int bits) { BN_rand(BN_new(), bits, 0, 0); }},
    {"BN_bntest_rand", [](int bits) { BN_bntest_rand(BN_new(), bits, 0, 0); }},
    {"BN_generate_prime_ex",
     [](int bits) { BN_generate_prime_ex(BN_new(), bits, 0, nullptr, nullptr, nullptr); }},
    {"BN_generate_prime",
     [](int bits) { BN_generate_prime(nullptr, bits, 0, nullptr, nullptr, nullptr, nullptr); }},
    {"BN_X931_generate_Xpq",
     [](int nbits) {
       BN_CTX* ctx = BN_CTX_new();
       BN_X931_generate_Xpq(BN_new(), BN_new(), nbits, ctx);
     }},
    {"BN_GF2m_poly2arr",
     [](int max) {
       unsigned int p[5];
       BIGNUM* a = BN_new();
       BN_hex2bn(&a, "800000000000000000000000000000000000000C9");  // 5 terms
       BN_GF2m_poly2arr(a, p, max);
     }},
    {"bn_cmp_words", NegativeOnly<+[](int n) { bn_cmp_words(g_w, g_w, n); }>},
    {"bn_mul_add_words", NegativeOnly<+[](int n) { bn_mul_add_words(g_r, g_w, n, 3); }>},
    {"bn_mul_words", NegativeOnly<+[](int n) { bn_mul_words(g_r, g_w, n, 3); }>},
    {"bn_sqr_words", NegativeOnly<+[](int n) { bn_sqr_words(g_r, g_w, n); }>},
    {"bn_add_words", NegativeOnly<+[](int n) { bn_add_words(g_r, g_w, g_w, n); }>},
    {"bn_sub_words", NegativeOnly<+[](int n) { bn_sub_words(g_r, g_w, g_w, n); }>},
    {"bn_mul_part_recursive",
     NegativeOnly<+[](int n) {
       BN_ULONG t[64];
       bn_mul_part_recursive(g_r, g_w, g_w, n, 0, 0, t);
     }>},
    {"bn_mul_low_normal", NegativeOnly<+[](int n) { bn_mul_low_normal(g_r, g_w, g_w, n); }>},
    {"bn_sqr_normal",
     NegativeOnly<+[](int n) {
       BN_ULONG t[64];
       bn_sqr_normal(g_r, g_w, n, t);
     }>},
};

// Base64 coding and block compression: outputs sized by the caller.
const std::vector<Entry> kCoding = {
    {"EVP_EncodeUpdate",
     [](int inl) {
       EVP_ENCODE_CTX c;
       EVP_EncodeInit(&c);
       int n = 0;
       EVP_EncodeUpdate(&c, Big(), &n, g_key, 5);  // five bytes held
       EVP_EncodeUpdate(&c, Big(), &n, Big(), inl);
     }},
    {"EVP_DecodeUpdate",
     [](int inl) {
       EVP_ENCODE_CTX c;
       EVP_DecodeInit(&c);
       int n = 0;
       EVP_DecodeUpdate(&c, Big(), &n, Big(), inl);
     }},
    {"EVP_EncodeBlock", [](int n) { EVP_EncodeBlock(Big(), Big(), n); }},
    {"EVP_DecodeBlock", [](int n) { EVP_DecodeBlock(Big(), Big(), n); }},
    {"COMP_compress_block",
     [](int olen) { COMP_compress_block(COMP_CTX_new(COMP_rle()), Big(), olen, g_key, 16); }},
    {"COMP_compress_block:ilen",
     [](int ilen) { COMP_compress_block(COMP_CTX_new(COMP_rle()), Big(), 64, Big(), ilen); }},
    {"COMP_expand_block",
     [](int olen) { COMP_expand_block(COMP_CTX_new(COMP_rle()), Big(), olen, g_key, 16); }},
    {"COMP_expand_block:ilen",
     [](int ilen) { COMP_expand_block(COMP_CTX_new(COMP_rle()), Big(), 64, Big(), ilen); }},
};

// A DSA key with a 160-bit q (p = 2q + 1, no real group: the sweep needs
// only that the checks before the length run), x = 3 and y = g^3.
DSA* SweepDsa() {
  DSA* dsa = DSA_new();
  BN_hex2bn(&dsa->q, "8000000000000000000000000000000000000001");
  dsa->p = BN_new();
  BN_lshift1(dsa->p, dsa->q);
  BN_add_word(dsa->p, 1);
  BN_hex2bn(&dsa->g, "4");
  BN_hex2bn(&dsa->priv_key, "3");
  BN_hex2bn(&dsa->pub_key, "40");
  return dsa;
}

// The generators draw until they find primes: they run on the real random
// generator, not on the sweep's quick one.
const std::vector<Entry> kGenerators = {
    {"DSA_generate_parameters_ex",
     [](int bits) {
       RAND_set_rand_method(nullptr);
       DSA_generate_parameters_ex(DSA_new(), bits, nullptr, 0, nullptr, nullptr, nullptr);
     }},
    {"DSA_generate_parameters_ex:seed_len",
     [](int seed_len) {
       RAND_set_rand_method(nullptr);
       DSA_generate_parameters_ex(DSA_new(), 512, Big(), seed_len, nullptr, nullptr, nullptr);
     }},
    {"DSA_generate_parameters",
     [](int bits) {
       RAND_set_rand_method(nullptr);
       DSA_generate_parameters(bits, nullptr, 0, nullptr, nullptr, nullptr, nullptr);
     }},
    {"DSA_generate_parameters:seed_len",
     [](int seed_len) {
       RAND_set_rand_method(nullptr);
       DSA_generate_parameters(512, Big(), seed_len, nullptr, nullptr, nullptr, nullptr);
     }},
    {"DH_generate_parameters_ex",
     [](int prime_len) {
       RAND_set_rand_method(nullptr);
       DH_generate_parameters_ex(DH_new(), prime_len, 2, nullptr);
     }},
    {"DH_generate_parameters",
     [](int prime_len) {
       RAND_set_rand_method(nullptr);
       DH_generate_parameters(prime_len, 2, nullptr, nullptr);
     }},
};

// A P-256 key with a fresh private scalar, for the ECDSA entries.
EC_KEY* SweepEcKey() {
  EC_KEY* key = EC_KEY_new_by_curve_name(415);  // prime256v1
  EC_KEY_generate_key(key);
  return key;
}

// The public-key operations: each refuses the length at once, or (ECDSA,
// not built yet) refuses to run.
const std::vector<Entry> kPublicKey = {
    {"EVP_PKEY_encrypt",
     [](int key_len) {
       EVP_PKEY* k = EVP_PKEY_new();
       EVP_PKEY_encrypt(Big(), Big(), key_len, k);
     }},
    {"EVP_PKEY_decrypt",
     [](int ekl) {
       EVP_PKEY* k = EVP_PKEY_new();
       EVP_PKEY_decrypt(Big(), Big(), ekl, k);
     }},
    {"DSA_sign",
     [](int dlen) {
       unsigned char sig[128];
       unsigned int siglen = 0;
       DSA_sign(0, Big(), dlen, sig, &siglen, DSA_new());
     }},
    {"DSA_verify", [](int dlen) { DSA_verify(0, Big(), dlen, g_key, 8, DSA_new()); }},
    {"DSA_do_sign", [](int dlen) { DSA_do_sign(Big(), dlen, SweepDsa()); }},
    {"DSA_do_verify",
     [](int dgst_len) {
       DSA_SIG* sig = DSA_SIG_new();
       BN_hex2bn(&sig->r, "1");
       BN_hex2bn(&sig->s, "1");
       DSA_do_verify(Big(), dgst_len, sig, SweepDsa());
     }},
    {"DSA_verify:siglen", [](int siglen) { DSA_verify(0, g_key, 20, Big(), siglen, DSA_new()); }},
    {"ECDSA_sign",
     [](int dlen) {
       unsigned char sig[128];
       unsigned int siglen = 0;
       ECDSA_sign(0, Big(), dlen, sig, &siglen, nullptr);
     }},
    {"ECDSA_do_sign", [](int dlen) { ECDSA_do_sign(Big(), dlen, SweepEcKey()); }},
    {"ECDSA_do_sign_ex",
     [](int dlen) { ECDSA_do_sign_ex(Big(), dlen, nullptr, nullptr, SweepEcKey()); }},
    {"ECDSA_do_verify",
     [](int dgst_len) {
       ECDSA_SIG* sig = ECDSA_SIG_new();
       BN_one(sig->r);
       BN_one(sig->s);
       ECDSA_do_verify(Big(), dgst_len, sig, SweepEcKey());
     }},
    {"ECDSA_sign_ex",
     [](int dlen) {
       unsigned char sig[160];
       unsigned int siglen = 0;
       ECDSA_sign_ex(0, Big(), dlen, sig, &siglen, nullptr, nullptr, SweepEcKey());
     }},
    {"ECDSA_verify", [](int dlen) { ECDSA_verify(0, Big(), dlen, g_key, 8, nullptr); }},
    {"ECDSA_verify:siglen",
     [](int siglen) { ECDSA_verify(0, g_key, 20, Big(), siglen, nullptr); }},
};

// RSA: the raw operations on the 512-bit test key, the paddings on blocks of
// 64 bytes (g_key) with 60 bytes of room and message.
RSA* RsaKey() { return morvane_test::SweepRsaKey(); }
const std::vector<Entry> kRsa = {
    {"RSA_public_encrypt",
     [](int flen) { RSA_public_encrypt(flen, Big(), Big(), RsaKey(), RSA_PKCS1_PADDING); }},
    {"RSA_public_decrypt",
     [](int flen) { RSA_public_decrypt(flen, Big(), Big(), RsaKey(), RSA_PKCS1_PADDING); }},
    {"RSA_private_encrypt",
     [](int flen) { RSA_private_encrypt(flen, Big(), Big(), RsaKey(), RSA_PKCS1_PADDING); }},
    {"RSA_private_decrypt",
     [](int flen) { RSA_private_decrypt(flen, Big(), Big(), RsaKey(), RSA_PKCS1_PADDING); }},
    {"RSA_padding_add_PKCS1_type_1",
     [](int tlen) { RSA_padding_add_PKCS1_type_1(Big(), tlen, g_key, 20); }},
    {"RSA_padding_add_PKCS1_type_1:flen",
     [](int flen) { RSA_padding_add_PKCS1_type_1(Big(), 64, Big(), flen); }},
    {"RSA_padding_add_PKCS1_type_2",
     [](int tlen) { RSA_padding_add_PKCS1_type_2(Big(), tlen, g_key, 20); }},
    {"RSA_padding_add_PKCS1_type_2:flen",
     [](int flen) { RSA_padding_add_PKCS1_type_2(Big(), 64, Big(), flen); }},
    {"RSA_padding_add_SSLv23", [](int tlen) { RSA_padding_add_SSLv23(Big(), tlen, g_key, 20); }},
    {"RSA_padding_add_SSLv23:flen",
     [](int flen) { RSA_padding_add_SSLv23(Big(), 64, Big(), flen); }},
    {"RSA_padding_add_none", [](int tlen) { RSA_padding_add_none(Big(), tlen, g_key, 64); }},
    {"RSA_padding_add_none:flen", [](int flen) { RSA_padding_add_none(Big(), 64, Big(), flen); }},
    {"RSA_padding_add_X931", [](int tlen) { RSA_padding_add_X931(Big(), tlen, g_key, 20); }},
    {"RSA_padding_add_X931:flen", [](int flen) { RSA_padding_add_X931(Big(), 64, Big(), flen); }},
    {"RSA_padding_add_PKCS1_OAEP",
     [](int tlen) { RSA_padding_add_PKCS1_OAEP(Big(), tlen, g_key, 20, g_key, 4); }},
    {"RSA_padding_add_PKCS1_OAEP:flen",
     [](int flen) { RSA_padding_add_PKCS1_OAEP(Big(), 64, Big(), flen, g_key, 4); }},
    {"RSA_padding_add_PKCS1_OAEP:plen",
     [](int plen) { RSA_padding_add_PKCS1_OAEP(Big(), 64, g_key, 20, Big(), plen); }},
    {"RSA_padding_add_PKCS1_PSS",
     [](int slen) { RSA_padding_add_PKCS1_PSS(RsaKey(), Big(), g_key, EVP_sha1(), slen); }},
    {"RSA_verify_PKCS1_PSS",
     [](int slen) { RSA_verify_PKCS1_PSS(RsaKey(), g_key, EVP_sha1(), Big(), slen); }},
    {"RSA_generate_key_ex",
     [](int bits) {
       BIGNUM* e = BN_new();
       BN_set_word(e, 65537);
       RSA_generate_key_ex(RSA_new(), bits, e, nullptr);
     }},
    {"RSA_generate_key", [](int bits) { RSA_generate_key(bits, 65537, nullptr, nullptr); }},
    {"RSA_X931_generate_key_ex",
     [](int bits) {
       BIGNUM* e = BN_new();
       BN_set_word(e, 65537);
       RSA_X931_generate_key_ex(RSA_new(), bits, e, nullptr);
     }},
};

// A check function swept in each of its lengths: tlen, flen, num (and the
// OAEP label's plen), the others those of a 64-byte block.
template <int (*Check)(unsigned char*, int, const unsigned char*, int, int)>
void CheckTlen(int tlen) {
  Check(Big(), tlen, g_key, 63, 64);
}
template <int (*Check)(unsigned char*, int, const unsigned char*, int, int)>
void CheckFlen(int flen) {
  Check(Big(), 64, Big(), flen, 64);
}
template <int (*Check)(unsigned char*, int, const unsigned char*, int, int)>
void CheckNum(int num) {
  Check(Big(), 64, g_key, 63, num);
}
int OaepCheck(unsigned char* to, int tlen, const unsigned char* from, int flen, int num) {
  return RSA_padding_check_PKCS1_OAEP(to, tlen, from, flen, num, g_key, 4);
}
const std::vector<Entry> kRsaChecks = {
    {"RSA_padding_check_PKCS1_type_1", CheckTlen<RSA_padding_check_PKCS1_type_1>},
    {"RSA_padding_check_PKCS1_type_1:flen", CheckFlen<RSA_padding_check_PKCS1_type_1>},
    {"RSA_padding_check_PKCS1_type_1:num", CheckNum<RSA_padding_check_PKCS1_type_1>},
    {"RSA_padding_check_PKCS1_type_2", CheckTlen<RSA_padding_check_PKCS1_type_2>},
    {"RSA_padding_check_PKCS1_type_2:flen", CheckFlen<RSA_padding_check_PKCS1_type_2>},
    {"RSA_padding_check_PKCS1_type_2:num", CheckNum<RSA_padding_check_PKCS1_type_2>},
    {"RSA_padding_check_SSLv23", CheckTlen<RSA_padding_check_SSLv23>},
    {"RSA_padding_check_SSLv23:flen", CheckFlen<RSA_padding_check_SSLv23>},
    {"RSA_padding_check_SSLv23:num", CheckNum<RSA_padding_check_SSLv23>},
    {"RSA_padding_check_none", CheckTlen<RSA_padding_check_none>},
    {"RSA_padding_check_none:flen", CheckFlen<RSA_padding_check_none>},
    {"RSA_padding_check_none:num", CheckNum<RSA_padding_check_none>},
    {"RSA_padding_check_X931", CheckTlen<RSA_padding_check_X931>},
    {"RSA_padding_check_X931:flen", CheckFlen<RSA_padding_check_X931>},
    {"RSA_padding_check_X931:num", CheckNum<RSA_padding_check_X931>},
    {"RSA_padding_check_PKCS1_OAEP", CheckTlen<OaepCheck>},
    {"RSA_padding_check_PKCS1_OAEP:flen", CheckFlen<OaepCheck>},
    {"RSA_padding_check_PKCS1_OAEP:num", CheckNum<OaepCheck>},
    {"RSA_padding_check_PKCS1_OAEP:plen",
     [](int plen) { RSA_padding_check_PKCS1_OAEP(Big(), 64, g_key, 63, 64, Big(), plen); }},
};

// HMAC keys, pass phrases and key derivation.
const std::vector<Entry> kPasswords = {
    {"HMAC_Init_ex",
     [](int len) {
       HMAC_CTX c;
       HMAC_CTX_init(&c);
       HMAC_Init_ex(&c, Big(), len, EVP_sha1(), nullptr);
       HMAC_CTX_cleanup(&c);
     }},
    {"HMAC_Init",
     [](int len) {
       HMAC_CTX c;
       HMAC_Init(&c, Big(), len, EVP_sha256());
       HMAC_CTX_cleanup(&c);
     }},
    {"HMAC", [](int key_len) { HMAC(EVP_sha1(), Big(), key_len, g_key, 16, nullptr, nullptr); }},
    {"EVP_BytesToKey",
     [](int datal) {
       unsigned char key[32], iv[16];
       EVP_BytesToKey(EVP_aes_256_cbc(), EVP_sha1(), nullptr, Big(), datal, 1, key, iv);
     }},
    {"EVP_read_pw_string",
     [](int length) { EVP_read_pw_string(reinterpret_cast<char*>(Big()), length, "p", 0); }},
    {"PKCS5_PBKDF2_HMAC_SHA1",
     [](int passlen) {
       unsigned char out[20];
       PKCS5_PBKDF2_HMAC_SHA1(reinterpret_cast<char*>(Big()), passlen, g_key, 8, 1, 20, out);
     }},
    {"PKCS5_PBKDF2_HMAC_SHA1:saltlen",
     [](int saltlen) {
       unsigned char out[20];
       PKCS5_PBKDF2_HMAC_SHA1("p", 1, Big(), saltlen, 1, 20, out);
     }},
    // INT_MAX bytes of output are 2^27 MACs, minutes under the sanitizers.
    {"PKCS5_PBKDF2_HMAC_SHA1:keylen",
     NegativeOnly<+[](int keylen) { PKCS5_PBKDF2_HMAC_SHA1("p", 1, g_key, 8, 1, keylen, Big()); }>},
    {"PKCS12_key_gen_uni",
     [](int passlen) {
       unsigned char out[24];
       PKCS12_key_gen_uni(Big(), passlen, g_key, 8, 1, 1, 24, out, EVP_sha1());
     }},
    {"PKCS12_key_gen_uni:saltlen",
     [](int saltlen) {
       unsigned char out[24], pass[4] = {0, 'a', 0, 0};
       PKCS12_key_gen_uni(pass, 4, Big(), saltlen, 1, 1, 24, out, EVP_sha1());
     }},
    // INT_MAX bytes of output are 2^27 digests, minutes under the sanitizers.
    {"PKCS12_key_gen_uni:n",
     NegativeOnly<+[](int n) { PKCS12_key_gen_uni(nullptr, 0, g_key, 8, 1, 1, n, Big(), EVP_sha1()); }>},
    {"PKCS12_key_gen_asc",
     [](int passlen) {
       unsigned char out[24];
       PKCS12_key_gen_asc(reinterpret_cast<char*>(Big()), passlen, g_key, 8, 1, 1, 24, out,
                          EVP_sha1());
     }},
    {"PKCS12_key_gen_asc:saltlen",
     [](int saltlen) {
       unsigned char out[24];
       PKCS12_key_gen_asc("p", 1, Big(), saltlen, 1, 1, 24, out, EVP_sha1());
     }},
    {"PKCS12_key_gen_asc:n",
     NegativeOnly<+[](int n) { PKCS12_key_gen_asc("p", 1, g_key, 8, 1, 1, n, Big(), EVP_sha1()); }>},
    {"asc2uni",
     [](int asclen) {
       unsigned char* uni = nullptr;
       int unilen = 0;
       MORVANE_free(asc2uni(reinterpret_cast<char*>(Big()), asclen, &uni, &unilen));
     }},
    {"uni2asc", [](int unilen) { MORVANE_free(uni2asc(Big(), unilen)); }},
    {"PKCS12_PBE_keyivgen",
     [](int passlen) {
       X509_ALGOR* alg = PKCS5_pbe_set(146, 1, nullptr, 0);
       EVP_CIPHER_CTX c;
       EVP_CIPHER_CTX_init(&c);
       PKCS12_PBE_keyivgen(&c, reinterpret_cast<char*>(Big()), passlen, alg->parameter,
                           EVP_des_ede3_cbc(), EVP_sha1(), 1);
     }},
    {"PKCS12_pbe_crypt",
     [](int passlen) {
       Morvane_add_all_ciphers();
       X509_ALGOR* alg = PKCS5_pbe_set(146, 1, nullptr, 0);
       MORVANE_free(PKCS12_pbe_crypt(alg, reinterpret_cast<char*>(Big()), passlen, g_key, 8,
                                     nullptr, nullptr, 1));
     }},
    {"PKCS12_pbe_crypt:inlen",
     [](int inlen) {
       Morvane_add_all_ciphers();
       X509_ALGOR* alg = PKCS5_pbe_set(146, 1, nullptr, 0);
       MORVANE_free(PKCS12_pbe_crypt(alg, "p", 1, Big(), inlen, nullptr, nullptr, 1));
     }},
    {"PKCS12_item_decrypt_d2i",
     [](int passlen) {
       Morvane_add_all_ciphers();
       X509_ALGOR* alg = PKCS5_pbe_set(146, 1, nullptr, 0);
       ASN1_OCTET_STRING* oct = ASN1_OCTET_STRING_new();
       ASN1_STRING_set(oct, g_key, 16);
       PKCS12_item_decrypt_d2i(alg, &ASN1_INTEGER_it, reinterpret_cast<char*>(Big()), passlen, oct,
                               1);
     }},
    {"PKCS12_item_i2d_encrypt",
     [](int passlen) {
       Morvane_add_all_ciphers();
       X509_ALGOR* alg = PKCS5_pbe_set(146, 1, nullptr, 0);
       ASN1_INTEGER* n = ASN1_INTEGER_new();
       ASN1_INTEGER_set(n, 5);
       PKCS12_item_i2d_encrypt(alg, &ASN1_INTEGER_it, reinterpret_cast<char*>(Big()), passlen, n, 1);
     }},
    {"PKCS8_encrypt",
     [](int passlen) {
       Morvane_add_all_ciphers();
       PKCS8_PRIV_KEY_INFO* p8 = PKCS8_PRIV_KEY_INFO_new();
       PKCS8_encrypt(146, nullptr, reinterpret_cast<char*>(Big()), passlen, nullptr, 0, 1, p8);
     }},
    {"PKCS8_encrypt:saltlen",
     [](int saltlen) {
       Morvane_add_all_ciphers();
       PKCS8_PRIV_KEY_INFO* p8 = PKCS8_PRIV_KEY_INFO_new();
       PKCS8_encrypt(146, nullptr, "p", 1, Big(), saltlen, 1, p8);
     }},
    {"PKCS8_decrypt",
     [](int passlen) {
       Morvane_add_all_ciphers();
       X509_SIG* sig = X509_SIG_new();
       X509_ALGOR_free(sig->algor);
       sig->algor = PKCS5_pbe_set(146, 1, nullptr, 0);
       ASN1_STRING_set(sig->digest, g_key, 16);
       PKCS8_decrypt(sig, reinterpret_cast<char*>(Big()), passlen);
     }},
    {"PKCS12_MAKE_SHKEYBAG",
     [](int passlen) {
       Morvane_add_all_ciphers();
       PKCS12_MAKE_SHKEYBAG(146, reinterpret_cast<char*>(Big()), passlen, nullptr, 0, 1,
                            PKCS8_PRIV_KEY_INFO_new());
     }},
    {"PKCS12_MAKE_SHKEYBAG:saltlen",
     [](int saltlen) {
       Morvane_add_all_ciphers();
       PKCS12_MAKE_SHKEYBAG(146, "p", 1, Big(), saltlen, 1, PKCS8_PRIV_KEY_INFO_new());
     }},
    {"PKCS12_add_localkeyid",
     [](int namelen) { PKCS12_add_localkeyid(PKCS12_SAFEBAG_new(), Big(), namelen); }},
    {"PKCS12_add_friendlyname_asc",
     [](int namelen) {
       PKCS12_add_friendlyname_asc(PKCS12_SAFEBAG_new(), reinterpret_cast<char*>(Big()), namelen);
     }},
    {"PKCS12_add_friendlyname_uni",
     [](int namelen) { PKCS12_add_friendlyname_uni(PKCS12_SAFEBAG_new(), Big(), namelen); }},
    {"PKCS12_add_CSPName_asc",
     [](int namelen) {
       PKCS12_add_CSPName_asc(PKCS12_SAFEBAG_new(), reinterpret_cast<char*>(Big()), namelen);
     }},
    {"PKCS12_decrypt_skey",
     [](int passlen) {
       Morvane_add_all_ciphers();
       PKCS8_PRIV_KEY_INFO* p8 = nullptr;
       const unsigned char der[] = {0x30, 0x0e, 0x02, 0x01, 0x00, 0x30, 0x05, 0x06, 0x03,
                                    0x2a, 0x03, 0x04, 0x04, 0x02, 0x00, 0x01};
       const unsigned char* p = der;
       p8 = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, sizeof der);
       PKCS12_SAFEBAG* bag = PKCS12_MAKE_SHKEYBAG(146, "p", 1, nullptr, 0, 1, p8);
       PKCS12_decrypt_skey(bag, reinterpret_cast<char*>(Big()), passlen);
     }},
    {"PKCS12_gen_mac",
     [](int passlen) {
       Morvane_add_all_ciphers();
       Morvane_add_all_digests();
       PKCS12* p12 = PKCS12_init(21);
       PKCS12_setup_mac(p12, 1, nullptr, 0, EVP_sha1());
       unsigned char mac[64];
       unsigned int maclen = 0;
       PKCS12_gen_mac(p12, reinterpret_cast<char*>(Big()), passlen, mac, &maclen);
     }},
    {"PKCS12_verify_mac",
     [](int passlen) {
       Morvane_add_all_ciphers();
       Morvane_add_all_digests();
       PKCS12* p12 = PKCS12_init(21);
       PKCS12_set_mac(p12, "p", 1, nullptr, 0, 1, nullptr);
       PKCS12_verify_mac(p12, reinterpret_cast<char*>(Big()), passlen);
     }},
    {"PKCS12_set_mac",
     [](int passlen) {
       Morvane_add_all_ciphers();
       Morvane_add_all_digests();
       PKCS12_set_mac(PKCS12_init(21), reinterpret_cast<char*>(Big()), passlen, nullptr, 0, 1,
                      nullptr);
     }},
    {"PKCS12_set_mac:saltlen",
     [](int saltlen) {
       Morvane_add_all_ciphers();
       Morvane_add_all_digests();
       PKCS12_set_mac(PKCS12_init(21), "p", 1, Big(), saltlen, 1, nullptr);
     }},
    {"PKCS12_setup_mac",
     [](int saltlen) { PKCS12_setup_mac(PKCS12_init(21), 1, Big(), saltlen, EVP_sha1()); }},
    {"PKCS12_pack_p7encdata",
     [](int passlen) {
       Morvane_add_all_ciphers();
       PKCS12_pack_p7encdata(146, reinterpret_cast<char*>(Big()), passlen, nullptr, 0, 1,
                             sk_new_null());
     }},
    {"PKCS12_pack_p7encdata:saltlen",
     [](int saltlen) {
       Morvane_add_all_ciphers();
       PKCS12_pack_p7encdata(146, "p", 1, Big(), saltlen, 1, sk_new_null());
     }},
    {"PKCS12_unpack_p7encdata",
     [](int passlen) {
       Morvane_add_all_ciphers();
       PKCS7* p7 = PKCS12_pack_p7encdata(146, "p", 1, nullptr, 0, 1, sk_new_null());
       PKCS12_unpack_p7encdata(p7, reinterpret_cast<char*>(Big()), passlen);
     }},
    {"PKCS5_pbe_set", [](int saltlen) { X509_ALGOR_free(PKCS5_pbe_set(10, 1, Big(), saltlen)); }},
    {"PKCS5_pbe2_set",
     [](int saltlen) { X509_ALGOR_free(PKCS5_pbe2_set(EVP_aes_128_cbc(), 1, Big(), saltlen)); }},
    {"EVP_PBE_CipherInit",
     [](int passlen) {
       Morvane_add_all_ciphers();
       X509_ALGOR* alg = PKCS5_pbe2_set(EVP_aes_128_cbc(), 1, nullptr, 0);
       EVP_CIPHER_CTX c;
       EVP_CIPHER_CTX_init(&c);
       EVP_PBE_CipherInit(alg->algorithm, reinterpret_cast<char*>(Big()), passlen, alg->parameter,
                          &c, 1);
     }},
    {"PKCS5_PBE_keyivgen",
     [](int passlen) {
       X509_ALGOR* alg = PKCS5_pbe_set(10, 1, nullptr, 0);
       EVP_CIPHER_CTX c;
       EVP_CIPHER_CTX_init(&c);
       PKCS5_PBE_keyivgen(&c, reinterpret_cast<char*>(Big()), passlen, alg->parameter,
                          EVP_des_cbc(), EVP_md5(), 1);
     }},
    {"PKCS5_v2_PBE_keyivgen",
     [](int passlen) {
       EVP_add_cipher(EVP_aes_128_cbc());
       X509_ALGOR* alg = PKCS5_pbe2_set(EVP_aes_128_cbc(), 1, nullptr, 0);
       EVP_CIPHER_CTX c;
       EVP_CIPHER_CTX_init(&c);
       PKCS5_v2_PBE_keyivgen(&c, reinterpret_cast<char*>(Big()), passlen, alg->parameter,
                             nullptr, nullptr, 1);
     }},
    {"X509at_add1_attr_by_OBJ",
     [](int len) {
       STACK* sk = nullptr;
       X509at_add1_attr_by_OBJ(&sk, OBJ_nid2obj(49), ASN1_UT_OCTET_STRING, Big(), len);
     }},
    {"X509at_add1_attr_by_NID",
     [](int len) {
       STACK* sk = nullptr;
       X509at_add1_attr_by_NID(&sk, 49, ASN1_UT_OCTET_STRING, Big(), len);
     }},
    {"X509at_add1_attr_by_txt",
     [](int len) {
       STACK* sk = nullptr;
       X509at_add1_attr_by_txt(&sk, "unstructuredName", ASN1_UT_OCTET_STRING, Big(), len);
     }},
    {"EVP_PKEY_add1_attr_by_OBJ",
     [](int len) {
       EVP_PKEY_add1_attr_by_OBJ(EVP_PKEY_new(), OBJ_nid2obj(49), ASN1_UT_OCTET_STRING, Big(), len);
     }},
    {"EVP_PKEY_add1_attr_by_NID",
     [](int len) { EVP_PKEY_add1_attr_by_NID(EVP_PKEY_new(), 49, ASN1_UT_OCTET_STRING, Big(), len); }},
    {"EVP_PKEY_add1_attr_by_txt",
     [](int len) {
       EVP_PKEY_add1_attr_by_txt(EVP_PKEY_new(), "unstructuredName", ASN1_UT_OCTET_STRING, Big(),
                                 len);
     }},
};

// PEM header lines and pass phrases.
const std::vector<Entry> kPem = {
    {"PEM_dek_info",
     [](int len) {
       char buf[PEM_BUFSIZE] = "";
       PEM_dek_info(buf, "AES-128-CBC", len, reinterpret_cast<char*>(Big()));
     }},
    {"PEM_def_callback",
     [](int num) {
       char phrase[] = "phrase";
       PEM_def_callback(reinterpret_cast<char*>(Big()), num, 0, phrase);
     }},
    {"PEM_ASN1_write_bio",
     [](int klen) {
       PEM_ASN1_write_bio(reinterpret_cast<i2d_of_void*>(i2d_ASN1_OCTET_STRING), "T",
                          BIO_new(BIO_s_null()), reinterpret_cast<char*>(NewString()),
                          EVP_aes_128_cbc(), Big(), klen, nullptr, nullptr);
     }},
    {"PEM_ASN1_write",
     [](int klen) {
       FILE* f = fopen("/dev/null", "w");
       PEM_ASN1_write(reinterpret_cast<i2d_of_void*>(i2d_ASN1_OCTET_STRING), "T", f,
                      reinterpret_cast<char*>(NewString()), EVP_des_ede3_cbc(), Big(), klen,
                      nullptr, nullptr);
     }},
};

// Typed PEM writers and the printable envelope: the key writers without
// cipher (the pass-phrase length is then not read), the envelope with the
// 512-bit test key.
EVP_PKEY* RsaPkey() {
  EVP_PKEY* k = EVP_PKEY_new();
  RSA* rsa = RsaKey();
  RSA_up_ref(rsa);
  EVP_PKEY_assign_RSA(k, rsa);
  return k;
}
BIO* NullBio() { return BIO_new(BIO_s_null()); }
FILE* DevNull() { return fopen("/dev/null", "w"); }
const std::vector<Entry> kPemTyped = {
    {"PEM_write_bio_RSAPrivateKey",
     [](int klen) {
       PEM_write_bio_RSAPrivateKey(NullBio(), RsaKey(), nullptr, Big(), klen, nullptr, nullptr);
     }},
    {"PEM_write_RSAPrivateKey",
     [](int klen) {
       PEM_write_RSAPrivateKey(DevNull(), RsaKey(), nullptr, Big(), klen, nullptr, nullptr);
     }},
    {"PEM_write_bio_DSAPrivateKey",
     [](int klen) {
       PEM_write_bio_DSAPrivateKey(NullBio(), DSA_new(), nullptr, Big(), klen, nullptr, nullptr);
     }},
    {"PEM_write_DSAPrivateKey",
     [](int klen) {
       PEM_write_DSAPrivateKey(DevNull(), DSA_new(), nullptr, Big(), klen, nullptr, nullptr);
     }},
    {"PEM_write_bio_ECPrivateKey",
     [](int klen) {
       PEM_write_bio_ECPrivateKey(NullBio(), EC_KEY_new(), nullptr, Big(), klen, nullptr, nullptr);
     }},
    {"PEM_write_ECPrivateKey",
     [](int klen) {
       PEM_write_ECPrivateKey(DevNull(), EC_KEY_new(), nullptr, Big(), klen, nullptr, nullptr);
     }},
    {"PEM_write_bio_PrivateKey",
     [](int klen) {
       PEM_write_bio_PrivateKey(NullBio(), RsaPkey(), nullptr, Big(), klen, nullptr, nullptr);
     }},
    {"PEM_write_PrivateKey",
     [](int klen) {
       PEM_write_PrivateKey(DevNull(), RsaPkey(), nullptr, Big(), klen, nullptr, nullptr);
     }},
    {"PEM_write_bio_PKCS8PrivateKey",
     [](int klen) {
       PEM_write_bio_PKCS8PrivateKey(NullBio(), RsaPkey(), nullptr, reinterpret_cast<char*>(Big()),
                                     klen, nullptr, nullptr);
     }},
    {"PEM_write_PKCS8PrivateKey",
     [](int klen) {
       PEM_write_PKCS8PrivateKey(DevNull(), RsaPkey(), nullptr, reinterpret_cast<char*>(Big()),
                                 klen, nullptr, nullptr);
     }},
    {"PEM_write_bio_PKCS8PrivateKey_nid",
     [](int klen) {
       PEM_write_bio_PKCS8PrivateKey_nid(NullBio(), RsaPkey(), -1, reinterpret_cast<char*>(Big()),
                                         klen, nullptr, nullptr);
     }},
    {"PEM_write_PKCS8PrivateKey_nid",
     [](int klen) {
       PEM_write_PKCS8PrivateKey_nid(DevNull(), RsaPkey(), -1, reinterpret_cast<char*>(Big()),
                                     klen, nullptr, nullptr);
     }},
    {"i2d_PKCS8PrivateKey_bio",
     [](int klen) {
       i2d_PKCS8PrivateKey_bio(NullBio(), RsaPkey(), nullptr, reinterpret_cast<char*>(Big()), klen,
                               nullptr, nullptr);
     }},
    {"i2d_PKCS8PrivateKey_fp",
     [](int klen) {
       i2d_PKCS8PrivateKey_fp(DevNull(), RsaPkey(), nullptr, reinterpret_cast<char*>(Big()), klen,
                              nullptr, nullptr);
     }},
    {"i2d_PKCS8PrivateKey_nid_bio",
     [](int klen) {
       i2d_PKCS8PrivateKey_nid_bio(NullBio(), RsaPkey(), -1, reinterpret_cast<char*>(Big()), klen,
                                   nullptr, nullptr);
     }},
    {"i2d_PKCS8PrivateKey_nid_fp",
     [](int klen) {
       i2d_PKCS8PrivateKey_nid_fp(DevNull(), RsaPkey(), -1, reinterpret_cast<char*>(Big()), klen,
                                  nullptr, nullptr);
     }},
    {"PEM_X509_INFO_write_bio",
     [](int klen) {
       X509_INFO* xi = X509_INFO_new();
       xi->x_pkey = X509_PKEY_new();
       xi->x_pkey->dec_pkey = RsaPkey();
       PEM_X509_INFO_write_bio(NullBio(), xi, nullptr, Big(), klen, nullptr, nullptr);
     }},
    {"PEM_SealUpdate",
     [](int inl) {
       PEM_ENCODE_SEAL_CTX ctx;
       EVP_PKEY* k = RsaPkey();
       unsigned char ek_room[128];
       unsigned char* ek = ek_room;
       int ekl = 0;
       unsigned char iv[16];
       PEM_SealInit(&ctx, EVP_aes_128_cbc(), EVP_sha1(), &ek, &ekl, iv, &k, 1);
       int n = 0;
       PEM_SealUpdate(&ctx, Big(), &n, Big(), inl);
     }},
    {"NETSCAPE_SPKI_b64_decode",
     [](int len) { NETSCAPE_SPKI_b64_decode(reinterpret_cast<char*>(Big()), len); }},
};

// Certificates: the trust record's strings and the names (13: commonName).
const std::vector<Entry> kX509 = {
    {"X509_alias_set1",
     [](int len) {
       X509_alias_set1(X509_new(), len < 0 ? reinterpret_cast<const unsigned char*>("ca") : Big(),
                       len);
     }},
    {"X509_keyid_set1",
     [](int len) {
       X509_keyid_set1(X509_new(), len < 0 ? reinterpret_cast<const unsigned char*>("id") : Big(),
                       len);
     }},
    {"X509_NAME_oneline",
     [](int len) { X509_NAME_oneline(X509_NAME_new(), reinterpret_cast<char*>(Big()), len); }},
    {"X509_NAME_ENTRY_create_by_NID",
     [](int len) { X509_NAME_ENTRY_create_by_NID(nullptr, 13, ASN1_UT_UTF8STRING, Big(), len); }},
    {"X509_NAME_ENTRY_create_by_OBJ",
     [](int len) {
       X509_NAME_ENTRY_create_by_OBJ(nullptr, OBJ_nid2obj(13), ASN1_UT_UTF8STRING, Big(), len);
     }},
    {"X509_NAME_ENTRY_create_by_txt",
     [](int len) { X509_NAME_ENTRY_create_by_txt(nullptr, "CN", ASN1_UT_UTF8STRING, Big(), len); }},
    {"X509_NAME_ENTRY_set_data",
     [](int len) { X509_NAME_ENTRY_set_data(X509_NAME_ENTRY_new(), -2, Big(), len); }},
    {"X509_NAME_add_entry_by_NID",
     [](int len) {
       X509_NAME_add_entry_by_NID(X509_NAME_new(), 13, ASN1_UT_UTF8STRING, Big(), len, -1, 0);
     }},
    {"X509_NAME_add_entry_by_OBJ",
     [](int len) {
       X509_NAME_add_entry_by_OBJ(X509_NAME_new(), OBJ_nid2obj(13), ASN1_UT_UTF8STRING, Big(),
                                  len, -1, 0);
     }},
    {"X509_NAME_add_entry_by_txt",
     [](int len) {
       X509_NAME_add_entry_by_txt(X509_NAME_new(), "CN", ASN1_UT_UTF8STRING, Big(), len, -1, 0);
     }},
    {"X509_NAME_get_text_by_NID",
     [](int len) {
       X509_NAME* name = X509_NAME_new();
       X509_NAME_add_entry_by_NID(name, 13, ASN1_UT_UTF8STRING,
                                  reinterpret_cast<const unsigned char*>("abc"), 3, -1, 0);
       X509_NAME_get_text_by_NID(name, 13, reinterpret_cast<char*>(Big()), len);
     }},
    {"X509_NAME_get_text_by_OBJ",
     [](int len) {
       X509_NAME* name = X509_NAME_new();
       X509_NAME_add_entry_by_NID(name, 13, ASN1_UT_UTF8STRING,
                                  reinterpret_cast<const unsigned char*>("abc"), 3, -1, 0);
       X509_NAME_get_text_by_OBJ(name, OBJ_nid2obj(13), reinterpret_cast<char*>(Big()), len);
     }},
    // 54: challengePassword.
    {"X509_ATTRIBUTE_create_by_NID",
     [](int len) { X509_ATTRIBUTE_create_by_NID(nullptr, 54, ASN1_UT_UTF8STRING, Big(), len); }},
    {"X509_ATTRIBUTE_create_by_OBJ",
     [](int len) {
       X509_ATTRIBUTE_create_by_OBJ(nullptr, OBJ_nid2obj(54), ASN1_UT_UTF8STRING, Big(), len);
     }},
    {"X509_ATTRIBUTE_create_by_txt",
     [](int len) {
       X509_ATTRIBUTE_create_by_txt(nullptr, "challengePassword", ASN1_UT_UTF8STRING, Big(), len);
     }},
    {"X509_REQ_add1_attr_by_NID",
     [](int len) { X509_REQ_add1_attr_by_NID(X509_REQ_new(), 54, ASN1_UT_UTF8STRING, Big(), len); }},
    {"X509_REQ_add1_attr_by_OBJ",
     [](int len) {
       X509_REQ_add1_attr_by_OBJ(X509_REQ_new(), OBJ_nid2obj(54), ASN1_UT_UTF8STRING, Big(), len);
     }},
    {"X509_REQ_add1_attr_by_txt",
     [](int len) {
       X509_REQ_add1_attr_by_txt(X509_REQ_new(), "challengePassword", ASN1_UT_UTF8STRING, Big(),
                                 len);
     }},
    {"X509_ATTRIBUTE_set1_data",
     [](int len) {
       X509_ATTRIBUTE* attr = X509_ATTRIBUTE_new();
       X509_ATTRIBUTE_set1_object(attr, OBJ_nid2obj(54));
       X509_ATTRIBUTE_set1_data(attr, ASN1_UT_UTF8STRING, Big(), len);
     }},
    {"OCSP_request_add1_nonce",
     [](int len) { OCSP_request_add1_nonce(OCSP_REQUEST_new(), nullptr, len); }},
    {"OCSP_basic_add1_nonce",
     [](int len) { OCSP_basic_add1_nonce(OCSP_BASICRESP_new(), nullptr, len); }},
    {"X509_LOOKUP_by_fingerprint",
     [](int len) {
       X509_OBJECT obj;
       X509_LOOKUP_by_fingerprint(X509_LOOKUP_new(X509_LOOKUP_hash_dir()), X509_LU_X509, Big(),
                                  len, &obj);
     }},
    {"X509_LOOKUP_by_alias",
     [](int len) {
       X509_OBJECT obj;
       X509_LOOKUP_by_alias(X509_LOOKUP_new(X509_LOOKUP_file()), X509_LU_X509,
                            reinterpret_cast<char*>(Big()), len, &obj);
     }},
};

// Strong Extranet users: -1 takes the text's length; INT_MAX is too long.
const std::vector<Entry> kSxnet = {
    {"SXNET_add_id_asc",
     [](int len) {
       SXNET* sx = nullptr;
       SXNET_add_id_asc(&sx, "1", len < 0 ? "user" : reinterpret_cast<const char*>(Big()), len);
       SXNET_free(sx);
     }},
    {"SXNET_add_id_ulong",
     [](int len) {
       SXNET* sx = nullptr;
       SXNET_add_id_ulong(&sx, 1, len < 0 ? "user" : reinterpret_cast<const char*>(Big()), len);
       SXNET_free(sx);
     }},
    {"SXNET_add_id_INTEGER",
     [](int len) {
       SXNET* sx = nullptr;
       ASN1_INTEGER* zone = ASN1_INTEGER_new();
       ASN1_INTEGER_set(zone, 1);
       if (!SXNET_add_id_INTEGER(&sx, zone,
                                 len < 0 ? "user" : reinterpret_cast<const char*>(Big()), len))
         ASN1_INTEGER_free(zone);
       SXNET_free(sx);
     }},
};

// The long lengths: each decoder reads from the zero-filled buffer (an
// end-of-contents header where it expects more), with a null *a.
template <typename T, T* (*D2i)(T**, const unsigned char**, long)>
void Decode(long len) {
  const unsigned char* p = Big();
  D2i(nullptr, &p, len);
}
void* AnyD2i(void** a, const unsigned char** in, long len) {
  return d2i_ASN1_TYPE(reinterpret_cast<ASN1_TYPE**>(a), in, len);
}
void AnyFree(void* p) { ASN1_TYPE_free(static_cast<ASN1_TYPE*>(p)); }
// An INTEGER header claiming nearly the whole buffer (read only as a header).
unsigned char* LongInteger() {
  unsigned char* p = Big();
  p[0] = 0x02;
  p[1] = 0x84;
  p[2] = 0x7f;
  p[3] = p[4] = p[5] = 0xff;
  return p;
}

const std::vector<LongEntry> kLong = {
    {"ASN1_get_object:omax",
     [](long omax) {
       const unsigned char* p = LongInteger();
       long len = 0;
       int tag = 0, xclass = 0;
       ASN1_get_object(&p, &len, &tag, &xclass, omax);
     }},
    {"ASN1_check_infinite_end:len",
     [](long len) {
       unsigned char* p = Big();
       ASN1_check_infinite_end(&p, len);
     }},
    {"ASN1_const_check_infinite_end:len",
     [](long len) {
       const unsigned char* p = Big();
       ASN1_const_check_infinite_end(&p, len);
     }},
    {"ASN1_parse:len", [](long len) { ASN1_parse(BIO_new(BIO_s_null()), Big(), len, 1); }},
    {"ASN1_parse_dump:len",
     [](long len) { ASN1_parse_dump(BIO_new(BIO_s_null()), Big(), len, 0, -1); }},
    {"ASN1_item_d2i:len",
     [](long len) {
       const unsigned char* p = Big();
       ASN1_item_d2i(nullptr, &p, len, &ASN1_INTEGER_it);
     }},
    {"ASN1_item_ex_d2i:len",
     [](long len) {
       const unsigned char* p = Big();
       ASN1_VALUE* v = nullptr;
       ASN1_TLC ctx = {};
       ASN1_item_ex_d2i(&v, &p, len, &X509_ALGOR_it, -1, 0, 0, &ctx);
     }},
    {"ASN1_template_d2i:len",
     [](long len) {
       const unsigned char* p = Big();
       ASN1_VALUE* v = nullptr;
       ASN1_template_d2i(&v, &p, len, X509_ALGOR_it.templates);
     }},
    {"ASN1_STRING_TABLE_add:minsize",
     [](long minsize) {
       if (ASN1_STRING_TABLE_add(13, minsize, 64, ASN1_MASK_UTF8STRING, 0))
         ASN1_STRING_set_by_NID(nullptr, Big(), 8, ASN1_MB_ASCII, 13);
     }},
    {"ASN1_STRING_TABLE_add:maxsize",
     [](long maxsize) {
       if (ASN1_STRING_TABLE_add(13, 1, maxsize, ASN1_MASK_UTF8STRING, 0))
         ASN1_STRING_set_by_NID(nullptr, Big(), 8, ASN1_MB_ASCII, 13);
     }},
    {"ASN1_mbstring_ncopy:minsize",
     [](long minsize) {
       ASN1_STRING* out = nullptr;
       ASN1_mbstring_ncopy(&out, Big(), 8, ASN1_MB_ASCII, ASN1_MASK_UTF8STRING, minsize, 0);
     }},
    {"ASN1_mbstring_ncopy:maxsize",
     [](long maxsize) {
       ASN1_STRING* out = nullptr;
       ASN1_mbstring_ncopy(&out, Big(), 8, ASN1_MB_ASCII, ASN1_MASK_UTF8STRING, 0, maxsize);
     }},
    {"c2i_ASN1_BIT_STRING:len", Decode<ASN1_BIT_STRING, c2i_ASN1_BIT_STRING>},
    {"c2i_ASN1_INTEGER:len", Decode<ASN1_INTEGER, c2i_ASN1_INTEGER>},
    {"c2i_ASN1_OBJECT:len", Decode<ASN1_OBJECT, c2i_ASN1_OBJECT>},
    {"d2i_ASN1_OBJECT:length", Decode<ASN1_OBJECT, d2i_ASN1_OBJECT>},
    {"d2i_ASN1_UINTEGER:length",
     [](long len) {
       const unsigned char* p = Big();
       d2i_ASN1_UINTEGER(nullptr, &p, len);
     }},
    {"d2i_ASN1_BOOLEAN:length",
     [](long len) {
       const unsigned char* p = Big();
       d2i_ASN1_BOOLEAN(nullptr, &p, len);
     }},
    {"d2i_ASN1_bytes:length",
     [](long len) {
       const unsigned char* p = Big();
       d2i_ASN1_bytes(nullptr, &p, len, 0, ASN1_CLASS_UNIVERSAL);
     }},
    {"d2i_ASN1_type_bytes:length",
     [](long len) {
       const unsigned char* p = Big();
       d2i_ASN1_type_bytes(nullptr, &p, len, ~0UL);
     }},
    {"d2i_ASN1_SET:length",
     [](long len) {
       const unsigned char* p = Big();
       d2i_ASN1_SET(nullptr, &p, len, AnyD2i, AnyFree, 0, ASN1_CLASS_UNIVERSAL);
     }},
    {"d2i_ASN1_HEADER:length", Decode<ASN1_HEADER, d2i_ASN1_HEADER>},
    {"d2i_X509_PKEY:len", Decode<X509_PKEY, d2i_X509_PKEY>},
    {"d2i_X509_AUX:len", Decode<X509, d2i_X509_AUX>},
    {"d2i_AutoPrivateKey:len", Decode<EVP_PKEY, d2i_AutoPrivateKey>},
    {"d2i_PUBKEY:len", Decode<EVP_PKEY, d2i_PUBKEY>},
    {"d2i_RSA_PUBKEY:len", Decode<RSA, d2i_RSA_PUBKEY>},
    {"d2i_DSA_PUBKEY:len", Decode<DSA, d2i_DSA_PUBKEY>},
    {"d2i_EC_PUBKEY:len", Decode<EC_KEY, d2i_EC_PUBKEY>},
    {"d2i_ECPKParameters:len", Decode<EC_GROUP, d2i_ECPKParameters>},
    {"d2i_ECParameters:len", Decode<EC_KEY, d2i_ECParameters>},
    {"d2i_ECPrivateKey:len", Decode<EC_KEY, d2i_ECPrivateKey>},
    {"d2i_PrivateKey:len",
     [](long len) {
       const unsigned char* p = Big();
       d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, len);
     }},
    {"d2i_PublicKey:len",
     [](long len) {
       const unsigned char* p = Big();
       d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, len);
     }},
    {"d2i_RSA_NET:len",
     [](long len) {
       const unsigned char* p = Big();
       d2i_RSA_NET(nullptr, &p, len, nullptr, 0);
     }},
    {"d2i_Netscape_RSA:len",
     [](long len) {
       const unsigned char* p = Big();
       d2i_Netscape_RSA(nullptr, &p, len, nullptr);
     }},
    // A point of P-256 in the curve's key: the length is that of its octets.
    {"o2i_ECPublicKey:len",
     [](long len) {
       EC_KEY* key = EC_KEY_new_by_curve_name(415);
       const unsigned char* p = Big();
       o2i_ECPublicKey(&key, &p, len);
     }},
};

// One test per entry, so that each runs (and fails) on its own.
class LengthSweep : public testing::TestWithParam<Entry> {};

TEST_P(LengthSweep, NegativesAndIntMax) {
  Sweep(GetParam().name, GetParam().call, {-1, -2, INT_MIN, INT_MAX});
}

class LongLengthSweep : public testing::TestWithParam<LongEntry> {};

TEST_P(LongLengthSweep, NegativesAndBeyondInt) {
  Sweep(GetParam().name, GetParam().call, {-1L, -2L, LONG_MIN, INT_MAX + 1L});
}

template <typename E>
std::string EntryName(const testing::TestParamInfo<E>& info) {
  std::string name = info.param.name;
  for (char& c : name)
    if (c == ':') c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Asn1, LengthSweep, testing::ValuesIn(kAsn1), EntryName<Entry>);
INSTANTIATE_TEST_SUITE_P(Streams, LengthSweep, testing::ValuesIn(kBio), EntryName<Entry>);
INSTANTIATE_TEST_SUITE_P(Core, LengthSweep, testing::ValuesIn(kCrypto), EntryName<Entry>);
INSTANTIATE_TEST_SUITE_P(Ciphers, LengthSweep, testing::ValuesIn(kCiphers), EntryName<Entry>);
INSTANTIATE_TEST_SUITE_P(BigNumbers, LengthSweep, testing::ValuesIn(kBn), EntryName<Entry>);
INSTANTIATE_TEST_SUITE_P(Coding, LengthSweep, testing::ValuesIn(kCoding), EntryName<Entry>);
INSTANTIATE_TEST_SUITE_P(PublicKey, LengthSweep, testing::ValuesIn(kPublicKey), EntryName<Entry>);
INSTANTIATE_TEST_SUITE_P(Passwords, LengthSweep, testing::ValuesIn(kPasswords), EntryName<Entry>);
INSTANTIATE_TEST_SUITE_P(Rsa, LengthSweep, testing::ValuesIn(kRsa), EntryName<Entry>);
INSTANTIATE_TEST_SUITE_P(RsaChecks, LengthSweep, testing::ValuesIn(kRsaChecks), EntryName<Entry>);
INSTANTIATE_TEST_SUITE_P(Pem, LengthSweep, testing::ValuesIn(kPem), EntryName<Entry>);
INSTANTIATE_TEST_SUITE_P(PemTyped, LengthSweep, testing::ValuesIn(kPemTyped), EntryName<Entry>);
INSTANTIATE_TEST_SUITE_P(Generators, LengthSweep, testing::ValuesIn(kGenerators), EntryName<Entry>);
INSTANTIATE_TEST_SUITE_P(X509, LengthSweep, testing::ValuesIn(kX509), EntryName<Entry>);
INSTANTIATE_TEST_SUITE_P(Sxnet, LengthSweep, testing::ValuesIn(kSxnet), EntryName<Entry>);
INSTANTIATE_TEST_SUITE_P(Asn1, LongLengthSweep, testing::ValuesIn(kLong), EntryName<LongEntry>);

}  // namespace
