// Constant-time check of the RSA private operations under valgrind's
// memcheck.  For the test keys of 2048 and 3072 bits, of 2049 and 3073 bits
// (p a word longer than q, as the built-in generator makes them) and one
// whose p is two words shorter than q (992 and 1056 bits,
// test/data/rsa/unbalanced_keys.txt), the words of d, p, q, dmp1, dmq1 and
// iqmp are marked undefined before the first private operation, which makes
// the Montgomery contexts of p and q from them (undefined in turn), so the
// decrypted block that comes from them is undefined too; only the facts a
// caller learns anyway stay defined: the word counts, that p and q are odd,
// and their top bits.  RSA_private_decrypt then runs with paddings 1, 2 and 4
// over valid and invalid blocks (wrong type, no separator, short padding, a
// wrong OAEP label hash, no OAEP separator) and RSA_private_encrypt with
// padding 1; only the returned length and the output are marked defined
// afterwards.  The random generator's output is undefined too while the
// private operations run, so the blinding (its first draw, the pair's
// inverse and power, the products with the input and the result, the
// squares after each use, and, for the keys of 2048 and 2049 bits, the fresh
// draw after 32 uses, which 33 signatures reach) is checked from the
// generator's first byte on.  For the key of 2048 bits one more signature
// runs without e: its CRT result is compared with the exponentiation by d.
// Memcheck must report no branch and no address that depends on the
// secrets.  Run as `valgrind --error-exitcode=1 ct_rsa [key]`.
//
// Outside the private operations (the OAEP seeds of the test blocks) the
// draws are defined (test/ct/marked_rand.h).

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "marked_rand.h"
#include "secret_words.h"
#include "vg_requests.h"

#include <morvane/bn.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rand.h>
#include <morvane/rsa.h>

#include "rsa_key_file.h"

namespace {

using Bytes = std::vector<unsigned char>;

void Public(const void* p, size_t n) {
  VALGRIND_MAKE_MEM_DEFINED(p, n);
}

// A test key: "<bits>" from keys.txt, or a name of unbalanced_keys.txt.
RSA* LoadKey(const std::string& which) {
  if (which.find('x') != std::string::npos)
    return rsa_test::LoadNamedKey(MORVANE_TEST_DATA_DIR "/rsa/unbalanced_keys.txt", which);
  return rsa_test::LoadKeyFile(MORVANE_TEST_DATA_DIR "/rsa/keys.txt", std::stoi(which));
}

void PoisonKey(RSA* key) {
  SecretWords(key->d, false);
  SecretWords(key->p, true);
  SecretWords(key->q, true);
  SecretWords(key->dmp1, false);
  SecretWords(key->dmq1, false);
  SecretWords(key->iqmp, false);
}

// A PKCS#1 block of k bytes: 0x00, `type`, `pad` padding bytes (non-zero, or
// 0x03 for the last `threes`), 0x00 unless `no_zero`, then a message.
Bytes Block(int k, int type, int pad, int threes, bool no_zero) {
  Bytes b(static_cast<size_t>(k));
  b[0] = 0;
  b[1] = static_cast<unsigned char>(type);
  for (int i = 0; i < pad; i++)
    b[2 + i] = i >= pad - threes ? 3 : static_cast<unsigned char>(0x21 + i % 200);
  b[2 + pad] = no_zero ? 0x7F : 0;
  for (int i = 3 + pad; i < k; i++) b[i] = static_cast<unsigned char>(i * 7 + 1);
  return b;
}

struct Case {
  const char* name;
  int padding;
  Bytes ct;
  int want;  // the message length, or -1
};

bool Check(RSA* key, const Case& c, int k) {
  Bytes out(static_cast<size_t>(k), 0);
  const int r = ct_rand::Secretly(
      [&] { return RSA_private_decrypt(k, c.ct.data(), out.data(), key, c.padding); });
  Public(&r, sizeof r);
  Public(out.data(), out.size());
  ERR_clear_error();
  if (r != c.want) {
    fprintf(stderr, "ct_rsa: %s: got %d, want %d\n", c.name, r, c.want);
    return false;
  }
  return true;
}

bool RunKey(const std::string& which) {
  RSA* key = LoadKey(which);
  if (key == nullptr) {
    fprintf(stderr, "ct_rsa: no key %s in the test data\n", which.c_str());
    return false;
  }
  const int k = RSA_size(key);
  auto raw = [&](const Bytes& block) {  // the ciphertext of a block of k bytes
    Bytes ct(static_cast<size_t>(k));
    RSA_public_encrypt(k, block.data(), ct.data(), key, RSA_NO_PADDING);
    return ct;
  };
  auto oaep = [&](const unsigned char* label, int llen) {
    Bytes block(static_cast<size_t>(k)), msg(40, 0x42);
    RSA_padding_add_PKCS1_OAEP(block.data(), k, msg.data(), 40, label, llen);
    return raw(block);
  };
  // An OAEP block with the right label hash and no 0x01 (RFC 8017, 7.1.1):
  // DB = SHA-1("") || zeros, masked from a fixed seed.
  auto oaep_no_one = [&]() {
    const size_t dblen = static_cast<size_t>(k) - 21;
    Bytes block(static_cast<size_t>(k), 0), mask(dblen), seedmask(20);
    unsigned char* seed = block.data() + 1;
    unsigned char* db = block.data() + 21;
    EVP_Digest("", 0, db, nullptr, EVP_sha1(), nullptr);
    for (int i = 0; i < 20; i++) seed[i] = static_cast<unsigned char>(i + 1);
    PKCS1_MGF1(mask.data(), static_cast<long>(dblen), seed, 20, EVP_sha1());
    for (size_t i = 0; i < dblen; i++) db[i] ^= mask[i];
    PKCS1_MGF1(seedmask.data(), 20, db, static_cast<long>(dblen), EVP_sha1());
    for (int i = 0; i < 20; i++) seed[i] ^= seedmask[i];
    return raw(block);
  };
  const unsigned char label[] = {'x'};
  const int m1 = k - 3 - 8;  // message length after eight padding bytes
  const std::vector<Case> cases = {
      {"type 2", RSA_PKCS1_PADDING, raw(Block(k, 2, 8, 0, false)), m1},
      {"type 2, long padding", RSA_PKCS1_PADDING, raw(Block(k, 2, 100, 0, false)), m1 - 92},
      {"wrong type", RSA_PKCS1_PADDING, raw(Block(k, 1, 8, 0, false)), -1},
      {"no separator", RSA_PKCS1_PADDING, raw(Block(k, 2, k - 3, 0, true)), -1},
      {"short padding", RSA_PKCS1_PADDING, raw(Block(k, 2, 7, 0, false)), -1},
      {"SSLv23", RSA_SSLV23_PADDING, raw(Block(k, 2, 20, 7, false)), m1 - 12},
      {"SSLv23 rollback", RSA_SSLV23_PADDING, raw(Block(k, 2, 20, 8, false)), -1},
      {"SSLv23 wrong type", RSA_SSLV23_PADDING, raw(Block(k, 1, 20, 0, false)), -1},
      {"SSLv23 short padding", RSA_SSLV23_PADDING, raw(Block(k, 2, 7, 0, false)), -1},
      {"OAEP", RSA_PKCS1_OAEP_PADDING, oaep(nullptr, 0), 40},
      {"OAEP wrong label hash", RSA_PKCS1_OAEP_PADDING, oaep(label, 1), -1},
      {"OAEP no separator", RSA_PKCS1_OAEP_PADDING, oaep_no_one(), -1},
  };
  // The first operation makes the Montgomery contexts of p and q from the
  // secret numbers (and the blinding); the later ones find them.
  PoisonKey(key);
  bool ok = true;
  for (const Case& c : cases) ok = Check(key, c, k) && ok;
  // Signatures with block type 1: for a modulus of an even and one of an odd
  // word count, past the blinding's fresh draw.
  const int signatures = which == "2048" || which == "2049" ? 33 : 1;
  for (int i = 0; i < signatures; i++) {
    Bytes msg(32, static_cast<unsigned char>(i)), sig(static_cast<size_t>(k)),
        back(static_cast<size_t>(k));
    const int r = ct_rand::Secretly(
        [&] { return RSA_private_encrypt(32, msg.data(), sig.data(), key, RSA_PKCS1_PADDING); });
    Public(&r, sizeof r);
    Public(sig.data(), sig.size());
    ok = r == k && RSA_public_decrypt(k, sig.data(), back.data(), key, RSA_PKCS1_PADDING) == 32 &&
         memcmp(back.data(), msg.data(), 32) == 0 && ok;
  }
  // Without e (for the key of 2048 bits), the CRT result is compared with the
  // exponentiation by d; the blinding made above serves on.  So is the
  // result of another method's rsa_mod_exp (the built-in one behind a
  // wrapper).
  if (which == "2048") {
    static RSA_METHOD wrapped = *RSA_PKCS1_Quorix();
    wrapped.rsa_mod_exp = [](BIGNUM* r0, const BIGNUM* I, RSA* rsa, BN_CTX* ctx) {
      return RSA_PKCS1_Quorix()->rsa_mod_exp(r0, I, rsa, ctx);
    };
    for (const RSA_METHOD* meth : {RSA_PKCS1_Quorix(), static_cast<const RSA_METHOD*>(&wrapped)}) {
      RSA_set_method(key, meth);
      Bytes msg(32, 0xA5), sig(static_cast<size_t>(k)), back(static_cast<size_t>(k));
      BIGNUM* e = key->e;
      key->e = nullptr;
      const int r = ct_rand::Secretly(
          [&] { return RSA_private_encrypt(32, msg.data(), sig.data(), key, RSA_PKCS1_PADDING); });
      key->e = e;
      Public(&r, sizeof r);
      Public(sig.data(), sig.size());
      ok = r == k && RSA_public_decrypt(k, sig.data(), back.data(), key, RSA_PKCS1_PADDING) == 32 &&
           memcmp(back.data(), msg.data(), 32) == 0 && ok;
    }
  }
  printf("RSA private operations, key %s: %s\n", which.c_str(), ok ? "ran" : "WRONG RESULT");
  // Mark everything defined again before the key is freed.
  for (const BIGNUM* b : {key->d, key->p, key->q, key->dmp1, key->dmq1, key->iqmp})
    Public(b->d, sizeof(BN_ULONG) * static_cast<size_t>(b->dmax));
  RSA_free(key);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (!RUNNING_ON_VALGRIND) {
    fprintf(stderr, "ct_rsa: run me under valgrind --error-exitcode=1\n");
    return 2;
  }
  ct_rand::Install();
  bool ok = true;
  for (const char* which : {"2048", "3072", "2049", "3073", "992x1056"}) {
    if (argc > 1 && strcmp(argv[1], which) != 0) continue;
    ok = RunKey(which) && ok;
  }
  RAND_set_rand_method(nullptr);
  return ok ? 0 : 1;
}
