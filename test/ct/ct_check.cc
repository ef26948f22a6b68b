// Constant-time checks under valgrind's memcheck: each operation runs with its
// secret inputs marked undefined, so memcheck reports any branch or memory
// address that depends on them; outputs are marked defined after the call.
// Run as `valgrind --error-exitcode=1 ct_check [operation...]` (all by
// default); outside valgrind it refuses to run.  `ct_check --leaky branch`
// and `--leaky index` run deliberately leaking functions, which memcheck must
// report (the harness's own check).
//
// Adding an operation: write a function that fills its inputs, marks the
// secret ones with Secret(), calls the library and marks the results with
// Public(); then add a line to kOperations.

#include <cpuid.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "secret_words.h"
#include "vg_requests.h"

#include <morvane/aes.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>

namespace {

void Secret(const void* p, size_t n) {
  VALGRIND_MAKE_MEM_UNDEFINED(p, n);
}
void Public(const void* p, size_t n) {
  VALGRIND_MAKE_MEM_DEFINED(p, n);
}
template <typename T>
T Public(T v) {
  Public(&v, sizeof v);
  return v;
}

void Fill(unsigned char* p, size_t n, unsigned seed) {
  for (size_t i = 0; i < n; i++) p[i] = static_cast<unsigned char>(seed * 131 + i * 29 + (i >> 3));
}

// Marks the n words at w secret but for bit 0 of the top word, which is set:
// that a number's top word is not zero is public (its word count is), and
// the library checks it; memcheck sees that a word with a defined set bit is
// not zero.
void SecretNonZero(BN_ULONG* w, int n) {
  Secret(w, sizeof(BN_ULONG) * static_cast<size_t>(n));
  const BN_ULONG vbits = ~static_cast<BN_ULONG>(1);  // 1: undefined
  VALGRIND_SET_VBITS(&w[n - 1], &vbits, sizeof vbits);
}

bool Expect(bool ok, const char* what) {
  if (!ok) fprintf(stderr, "ct_check: wrong result: %s\n", what);
  return ok;
}

// Whether the library takes the AES-NI paths (what the processor, as the
// program sees it, offers; MORVANE_NO_HWCRYPT may turn it off).
bool HasAesni() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const char* off = getenv("MORVANE_NO_HWCRYPT");
  if (off != nullptr && (strcmp(off, "1") == 0 || strstr(off, "aesni") != nullptr)) return false;
  return (c & bit_AES) && (c & bit_SSSE3) && (c & bit_SSE4_1);
}

// ---- operations -----------------------------------------------------------

bool Memcmp() {
  unsigned char a[40], b[40];
  bool ok = true;
  for (size_t diff : {0, 1, 17, 39, 40}) {  // where the strings first differ (40: nowhere)
    Fill(a, sizeof a, 1);
    memcpy(b, a, sizeof b);
    if (diff < sizeof b) b[diff] ^= 0x5a;
    Secret(a, sizeof a);
    Secret(b, sizeof b);
    const int r = Public(MORVANE_memcmp(a, b, sizeof a));
    Public(a, sizeof a);
    Public(b, sizeof b);
    ok &= Expect((r == 0) == (diff == sizeof a), "memcmp");
  }
  return ok;
}

// AES-NI block functions and key schedules over a secret key and data, for
// every key size.
bool AesBlock() {
  bool ok = true;
  for (int bits : {128, 192, 256}) {
    unsigned char key[32], in[16], out[16], back[16];
    Fill(key, sizeof key, static_cast<unsigned>(bits));
    Fill(in, sizeof in, 7);
    Secret(key, sizeof key);
    Secret(in, sizeof in);
    AES_KEY ek, dk;
    ok &= Expect(Public(AES_set_encrypt_key(key, bits, &ek)) == 0, "encryption key");
    ok &= Expect(Public(AES_set_decrypt_key(key, bits, &dk)) == 0, "decryption key");
    AES_encrypt(in, out, &ek);
    AES_decrypt(out, back, &dk);
    Public(in, sizeof in);
    Public(back, sizeof back);
    ok &= Expect(memcmp(in, back, sizeof in) == 0, "block round trip");
  }
  return ok;
}

// CBC and CTR over secret key and data (and the CBC IV), in lengths that take
// the multi-block kernels and the partial-block tail.  The CTR counter is
// public: the kernels branch on its carries.  Valgrind hides VAES from the
// program, so the VAES kernels are not run here.
bool AesCbcCtr() {
  bool ok = true;
  for (size_t len : {16u, 48u, 512u, 1000u}) {
    unsigned char key[16], iv[16], iv2[16], in[1024], mid[1024], out[1024];
    Fill(key, sizeof key, 3);
    Fill(iv, sizeof iv, 4);
    Fill(in, sizeof in, 5);
    Secret(key, sizeof key);
    Secret(in, sizeof in);
    AES_KEY ek, dk;
    AES_set_encrypt_key(key, 128, &ek);
    AES_set_decrypt_key(key, 128, &dk);
    const size_t whole = len / 16 * 16;
    memcpy(iv2, iv, sizeof iv);
    Secret(iv, sizeof iv);
    Secret(iv2, sizeof iv2);
    AES_cbc_encrypt(in, mid, whole, &ek, iv, AES_ENCRYPT);
    AES_cbc_encrypt(mid, out, whole, &dk, iv2, AES_DECRYPT);
    Public(in, sizeof in);
    Public(out, sizeof out);
    ok &= Expect(memcmp(in, out, whole) == 0, "CBC round trip");

    unsigned char ctr[16], ecount[16];
    unsigned int num = 0;
    Fill(ctr, sizeof ctr, 6);
    Secret(in, sizeof in);
    AES_ctr128_encrypt(in, mid, len, &ek, ctr, ecount, &num);
    Fill(ctr, sizeof ctr, 6);
    num = 0;
    AES_ctr128_encrypt(mid, out, len, &ek, ctr, ecount, &num);
    Public(in, sizeof in);
    Public(out, sizeof out);
    ok &= Expect(memcmp(in, out, len) == 0 && num == len % 16, "CTR round trip");
  }
  return ok;
}

// ECB through the envelope over secret key and data, both directions, in
// lengths that take the one-block call, the eight-block kernel and its tail.
bool AesEcbEnvelope() {
  bool ok = true;
  for (int len : {16, 48, 512, 1008}) {
    unsigned char key[16], in[1024], mid[1024], out[1024];
    Fill(key, sizeof key, 10);
    Fill(in, sizeof in, 11);
    Secret(key, sizeof key);
    Secret(in, sizeof in);
    for (int enc : {1, 0}) {
      EVP_CIPHER_CTX ctx;
      EVP_CIPHER_CTX_init(&ctx);
      EVP_CipherInit_ex(&ctx, EVP_aes_128_ecb(), nullptr, key, nullptr, enc);
      EVP_CIPHER_CTX_set_padding(&ctx, 0);
      int n = 0;
      const int r = EVP_CipherUpdate(&ctx, enc ? mid : out, &n, enc ? in : mid, len);
      ok &= Expect(r == 1 && n == len, "ECB update");
      EVP_CIPHER_CTX_cleanup(&ctx);
    }
    Public(in, sizeof in);
    Public(out, sizeof out);
    ok &= Expect(memcmp(in, out, static_cast<size_t>(len)) == 0, "ECB round trip");
  }
  return ok;
}

// RFC 3394 unwrap with a secret key and secret wrapped data, on data that
// passes the integrity check and on data that fails it.
bool AesUnwrap() {
  unsigned char kek[16], data[32], wrapped[40], out[40];
  Fill(kek, sizeof kek, 8);
  Fill(data, sizeof data, 9);
  AES_KEY ek, dk;
  AES_set_encrypt_key(kek, 128, &ek);
  if (AES_wrap_key(&ek, nullptr, wrapped, data, sizeof data) != 40) return Expect(false, "wrap");
  bool ok = true;
  for (int corrupt = 0; corrupt < 2; corrupt++) {
    unsigned char in[40];
    memcpy(in, wrapped, sizeof in);
    in[20] ^= static_cast<unsigned char>(corrupt);
    Secret(kek, sizeof kek);
    Secret(in, sizeof in);
    AES_set_decrypt_key(kek, 128, &dk);
    const int r = Public(AES_unwrap_key(&dk, nullptr, out, in, sizeof in));
    Public(out, sizeof out);
    ok &= Expect(r == (corrupt ? 0 : 32), "unwrap result");
  }
  return ok;
}

// Division with BN_FLAG_SECRET on a secret numerator and divisor (their word
// counts and signs public), against the plain division.  Shapes: a divisor of
// one word, a top word with its top bit set (no normalising shift) and
// without, a numerator shorter than the divisor, and mixed signs.
bool BnDivSecret() {
  struct Shape {
    int num_bytes, div_bytes;
    unsigned char div_top;  // the divisor's top byte
    bool neg_num, neg_div;
  };
  constexpr Shape kShapes[] = {{64, 4, 0x01, false, false},
                               {64, 32, 0x80, true, false},
                               {129, 33, 0x5a, false, true},
                               {20, 32, 0xff, true, true},
                               {256, 128, 0x03, false, false}};
  BN_CTX* ctx = BN_CTX_new();
  bool ok = ctx != nullptr;
  for (const Shape& sh : kShapes) {
    unsigned char nb[256], db[128];
    Fill(nb, sizeof nb, 11);
    Fill(db, sizeof db, 12);
    nb[0] |= 1;  // no leading zero bytes: the word counts follow the byte counts
    db[0] = sh.div_top;
    BIGNUM* n = BN_bin2bn(nb, sh.num_bytes, nullptr);
    BIGNUM* d = BN_bin2bn(db, sh.div_bytes, nullptr);
    BIGNUM *q = BN_new(), *r = BN_new(), *pq = BN_new(), *pr = BN_new();
    if (n == nullptr || d == nullptr || q == nullptr || r == nullptr || pq == nullptr ||
        pr == nullptr) {
      return Expect(false, "allocation");
    }
    n->d[n->top - 1] |= 1;
    d->d[d->top - 1] |= 1;
    BN_set_negative(n, sh.neg_num);
    BN_set_negative(d, sh.neg_div);
    ok &= Expect(BN_div(pq, pr, n, d, ctx) == 1, "plain division");
    BN_set_flags(n, BN_FLAG_SECRET);
    BN_set_flags(d, BN_FLAG_SECRET);
    SecretNonZero(n->d, n->top);
    SecretNonZero(d->d, d->top);
    const int ret = Public(BN_div(q, r, n, d, ctx));
    for (BIGNUM* x : {n, d, q, r}) PublicNumber(x);
    ok &= Expect(ret == 1 && BN_cmp(q, pq) == 0 && BN_cmp(r, pr) == 0, "secret division");
    for (BIGNUM* x : {n, d, q, r, pq, pr}) BN_free(x);
  }
  BN_CTX_free(ctx);
  return ok;
}

// Padded AES-128-CBC decryption through a cipher context with the key and
// the plaintext secret: the padding check of EVP_DecryptFinal_ex over good
// padding of every length and over bad padding (the verdict and the length
// are public).
bool EvpDecryptFinal() {
  bool ok = true;
  for (size_t len : {0u, 1u, 15u, 16u, 31u, 37u}) {
    for (int bad = 0; bad < 2; bad++) {
      unsigned char key[16], iv[16], plain[48], ct[64], back[80];
      Fill(key, sizeof key, 21);
      Fill(iv, sizeof iv, 22);
      Fill(plain, sizeof plain, 23);
      Secret(key, sizeof key);
      Secret(plain, sizeof plain);
      EVP_CIPHER_CTX ctx;
      EVP_CIPHER_CTX_init(&ctx);
      int n = 0, m = 0, ctlen = 0;
      ok &= Expect(EVP_EncryptInit_ex(&ctx, EVP_aes_128_cbc(), nullptr, key, iv) == 1, "init");
      if (bad) {  // whole blocks without padding: the last byte is plaintext
        EVP_CIPHER_CTX_set_padding(&ctx, 0);
        const size_t whole = (len / 16 + 1) * 16;
        ok &= Expect(EVP_EncryptUpdate(&ctx, ct, &n, plain, static_cast<int>(whole)) == 1, "u");
      } else {
        ok &= Expect(EVP_EncryptUpdate(&ctx, ct, &n, plain, static_cast<int>(len)) == 1, "u");
      }
      ok &= Expect(EVP_EncryptFinal_ex(&ctx, ct + n, &m) == 1, "final");
      ctlen = n + m;
      ok &= Expect(EVP_DecryptInit_ex(&ctx, EVP_aes_128_cbc(), nullptr, key, iv) == 1, "init");
      ok &= Expect(EVP_DecryptUpdate(&ctx, back, &n, ct, ctlen) == 1, "update");
      const int r = Public(EVP_DecryptFinal_ex(&ctx, back + n, &m));
      Public(&m, sizeof m);
      Public(back, sizeof back);
      Public(plain, sizeof plain);
      EVP_CIPHER_CTX_cleanup(&ctx);
      ERR_clear_error();
      // A plaintext whose last byte happens to make good padding may pass.
      if (!bad) ok &= Expect(r == 1 && static_cast<size_t>(n + m) == len &&
                                 memcmp(back, plain, len) == 0,
                             "padded round trip");
    }
  }
  return ok;
}

// BN_gcd and BN_mod_inverse on operands flagged secret, their words
// undefined but for the top word's being non-zero and the modulus's parity: the gcd of two even
// numbers (a common power of two and an odd factor), the inverse modulo an
// odd and an even modulus, of a number longer than the modulus too.  The
// results are compared with the unflagged forms' after the run.
bool BnGcdInverseSecret() {
  BN_CTX* ctx = BN_CTX_new();
  bool ok = ctx != nullptr;
  for (int shape = 0; shape < 3; shape++) {
    unsigned char ab[96], mb[64];
    Fill(ab, sizeof ab, 21 + shape);
    Fill(mb, sizeof mb, 31 + shape);
    ab[0] |= 0x80;
    mb[0] |= 0x80;
    mb[sizeof mb - 1] = static_cast<unsigned char>(shape == 1 ? 0x2a : 0x2b);  // even, odd
    ab[sizeof ab - 1] = static_cast<unsigned char>(shape == 0 ? 0x14 : 0x15);  // 4 times odd
    BIGNUM* a = BN_bin2bn(ab, shape == 2 ? 96 : 48, nullptr);
    BIGNUM* m = BN_bin2bn(mb, 64, nullptr);
    BIGNUM *g = BN_new(), *want_g = BN_new(), *x = BN_new(), *want_x = BN_new();
    if (a == nullptr || m == nullptr || g == nullptr || want_g == nullptr || x == nullptr ||
        want_x == nullptr) {
      return Expect(false, "allocation");
    }
    ok &= Expect(BN_gcd(want_g, a, m, ctx) == 1, "plain gcd");
    const bool invertible = BN_mod_inverse(want_x, a, m, ctx) != nullptr;
    ERR_clear_error();
    BN_set_flags(a, BN_FLAG_SECRET);
    BN_set_flags(m, BN_FLAG_SECRET);
    SecretNonZero(a->d, a->top);
    SecretNonZero(m->d, m->top);
    const BN_ULONG parity = ~static_cast<BN_ULONG>(1);  // the modulus's parity is public
    VALGRIND_SET_VBITS(&m->d[0], &parity, sizeof parity);
    const int got_g = Public(BN_gcd(g, a, m, ctx));
    const bool got_x = Public(BN_mod_inverse(x, a, m, ctx) != nullptr);
    ERR_clear_error();
    for (BIGNUM* n : {a, m, g, x}) PublicNumber(n);
    ok &= Expect(got_g == 1 && BN_cmp(g, want_g) == 0, "secret gcd");
    ok &= Expect(got_x == invertible && (!invertible || BN_cmp(x, want_x) == 0), "secret inverse");
    for (BIGNUM* n : {a, m, g, want_g, x, want_x}) BN_free(n);
  }
  BN_CTX_free(ctx);
  return ok;
}

// BN_is_prime_ex on a 512-bit prime and a product of two 256-bit primes,
// flagged secret, their words undefined but for their parity and top bit;
// the bases drawn are public here.
bool BnIsPrimeSecret() {
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM *p = BN_new(), *q = BN_new(), *n = BN_new();
  bool ok = ctx != nullptr && p != nullptr && q != nullptr && n != nullptr &&
            BN_generate_prime_ex(p, 256, 0, nullptr, nullptr, nullptr) &&
            BN_generate_prime_ex(q, 256, 0, nullptr, nullptr, nullptr) && BN_mul(n, p, q, ctx) &&
            BN_generate_prime_ex(p, 512, 0, nullptr, nullptr, nullptr);
  if (!ok) return Expect(false, "set-up");
  for (BIGNUM* x : {p, n}) {
    BN_set_flags(x, BN_FLAG_SECRET);
    SecretWords(x, true);
    const int r = Public(BN_is_prime_ex(x, 0, ctx, nullptr));
    PublicNumber(x);
    ok &= Expect(r == (x == p ? 1 : 0), "secret primality test");
  }
  BN_free(p);
  BN_free(q);
  BN_free(n);
  BN_CTX_free(ctx);
  return ok;
}

// ---- the harness's own check: these must be reported -----------------------

__attribute__((noinline)) void Touch(volatile int* p) {
  *p = *p + 1;
}

__attribute__((noinline)) int LeakyBranch(const unsigned char* s) {
  volatile int n = 0;
  if (s[0] & 1) Touch(&n);
  return n;
}

__attribute__((noinline)) int LeakyIndex(const unsigned char* s) {
  static volatile unsigned char table[256];
  return table[s[0]];
}

int RunLeaky(const char* kind) {
  unsigned char s[1] = {1};
  Secret(s, sizeof s);
  const int r = strcmp(kind, "branch") == 0 ? LeakyBranch(s) : LeakyIndex(s);
  Public(r);
  return 0;
}

struct Operation {
  const char* name;
  bool (*run)();
  bool needs_aesni;
};
constexpr Operation kOperations[] = {
    {"memcmp", Memcmp, false},
    {"aes_block", AesBlock, true},
    {"aes_cbc_ctr", AesCbcCtr, true},
    {"aes_ecb_envelope", AesEcbEnvelope, true},
    {"aes_unwrap", AesUnwrap, true},
    {"bn_div_secret", BnDivSecret, false},
    {"bn_gcd_inverse_secret", BnGcdInverseSecret, false},
    {"bn_is_prime_secret", BnIsPrimeSecret, false},
    {"evp_decrypt_final", EvpDecryptFinal, true},
};

}  // namespace

int main(int argc, char** argv) {
  if (!RUNNING_ON_VALGRIND) {
    fprintf(stderr, "ct_check: run me under valgrind --error-exitcode=1\n");
    return 2;
  }
  if (argc == 3 && strcmp(argv[1], "--leaky") == 0) return RunLeaky(argv[2]);
  int failed = 0;
  for (const Operation& op : kOperations) {
    bool chosen = argc == 1;
    for (int i = 1; i < argc; i++) chosen |= strcmp(argv[i], op.name) == 0;
    if (!chosen) continue;
    if (op.needs_aesni && !HasAesni()) {
      printf("%-12s skipped: no AES-NI (the portable AES is not constant time)\n", op.name);
      continue;
    }
    const bool ok = op.run();
    printf("%-12s %s\n", op.name, ok ? "ran" : "FAILED");
    failed += ok ? 0 : 1;
  }
  return failed == 0 ? 0 : 1;
}
