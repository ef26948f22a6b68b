// Fuzzes the RSA padding checks: arbitrary blocks, lengths, output room and
// modulus lengths through the type 1, type 2, SSLv23, none, OAEP (with an
// arbitrary label) and X9.31 checks, and arbitrary encoded messages through
// the PSS verification with salt lengths -2, -1, 0 and 20 over a 1031-bit and
// a 2048-bit modulus.
//
// Checks: no check writes past its room or reports more than it has; a
// failing check leaves the output alone and queues exactly one reason; the
// constant-time type 2, SSLv23 and OAEP checks agree with plain models of
// RFC 8017, 7.2.2 and 7.1.2 written here (the block right-aligned in num
// bytes); the X9.31 check's message is the bytes before its 0xCC.
//
// Input: one selector byte, num and tlen (two bytes each), a label length
// byte and a digest byte, then the block.

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <morvane/bn.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rsa.h>

namespace {

using Bytes = std::vector<uint8_t>;

enum Target { kType1, kType2, kSslv23, kNone, kOaep, kX931, kPss, kTargets };

// The model of the type 2 and SSLv23 checks over the right-aligned block em;
// the message length, or -1.
int ModelType2(const Bytes& em, int tlen, bool sslv23, Bytes* msg) {
  const size_t num = em.size();
  if (num < 2 || em[0] != 0 || em[1] != 2) return -1;
  size_t zero = 2;
  while (zero < num && em[zero] != 0) zero++;
  if (zero == num || zero < 10) return -1;
  if (sslv23) {
    bool rollback = true;
    for (size_t i = zero - 8; i < zero; i++) rollback &= em[i] == 3;
    if (rollback) return -1;
  }
  const int len = static_cast<int>(num - zero - 1);
  if (len > tlen) return -1;
  msg->assign(em.begin() + static_cast<long>(zero) + 1, em.end());
  return len;
}

// The model of the OAEP check (SHA-1, MGF1 with SHA-1) over em.
int ModelOaep(const Bytes& em, int tlen, const Bytes& label, Bytes* msg) {
  const size_t num = em.size();
  if (num < 42 || em[0] != 0) return -1;
  const size_t dblen = num - 21;
  Bytes seed(em.begin() + 1, em.begin() + 21), db(em.begin() + 21, em.end()), mask(dblen);
  Check(PKCS1_MGF1(mask.data(), 20, db.data(), static_cast<long>(dblen), EVP_sha1()) == 0, "mgf1");
  for (size_t i = 0; i < 20; i++) seed[i] ^= mask[i];
  Check(PKCS1_MGF1(mask.data(), static_cast<long>(dblen), seed.data(), 20, EVP_sha1()) == 0,
        "mgf1");
  for (size_t i = 0; i < dblen; i++) db[i] ^= mask[i];
  unsigned char lhash[20];
  Check(EVP_Digest(label.data(), label.size(), lhash, nullptr, EVP_sha1(), nullptr) == 1, "sha1");
  if (memcmp(db.data(), lhash, 20) != 0) return -1;
  size_t one = 20;
  while (one < dblen && db[one] == 0) one++;
  if (one == dblen || db[one] != 1) return -1;
  const int len = static_cast<int>(dblen - one - 1);
  if (len > tlen) return -1;
  msg->assign(db.begin() + static_cast<long>(one) + 1, db.end());
  return len;
}

int CountErrors() {
  int n = 0;
  while (ERR_get_error() != 0) n++;
  return n;
}

// A public key whose modulus has `bits` bits (only its length matters here).
RSA* Modulus(int bits) {
  RSA* key = RSA_new();
  key->n = BN_new();
  BN_set_bit(key->n, bits - 1);
  BN_set_bit(key->n, 0);
  return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static RSA* const keys[2] = {Modulus(1031), Modulus(2048)};
  FuzzInput in(data, size);
  const int which = in.ConsumeIntegralInRange<int>(0, kTargets - 1);
  const int num = in.ConsumeIntegralInRange<int>(0, 520);
  const int tlen = in.ConsumeIntegralInRange<int>(-2, 520);
  const size_t label_len = in.ConsumeIntegralInRange<size_t>(0, 40);
  const uint8_t option = in.ConsumeIntegral<uint8_t>();
  const std::string label_text = in.ConsumeBytesAsString(label_len);
  const std::string rest = in.ConsumeBytesAsString(in.remaining_bytes());
  const Bytes label(label_text.begin(), label_text.end());
  const Bytes from(rest.begin(), rest.end());
  const int flen = static_cast<int>(from.size());
  ERR_clear_error();

  if (which == kPss) {
    RSA* key = keys[option & 1];
    const EVP_MD* md = (option & 2) ? EVP_sha256() : EVP_sha1();
    const int slens[4] = {RSA_PSS_SALTLEN_MAX, RSA_PSS_SALTLEN_DIGEST, 0, 20};
    const int k = RSA_size(key);
    Bytes em(from);
    em.resize(static_cast<size_t>(k));  // EM is always RSA_size bytes
    Bytes mhash(static_cast<size_t>(EVP_MD_size(md)), 0x5C);
    for (size_t i = 0; i < mhash.size() && i < label.size(); i++) mhash[i] = label[i];
    const int r = RSA_verify_PKCS1_PSS(key, mhash.data(), md, em.data(), slens[(option >> 2) & 3]);
    Check(r == 0 || r == 1, "PSS result");
    Check(CountErrors() == (r == 1 ? 0 : 1), "PSS reasons");
    return 0;
  }

  // The output room, with a guard beyond it.
  const size_t room = tlen > 0 ? static_cast<size_t>(tlen) : 0;
  Bytes to(room + 16, 0xA5);
  int r = -1;
  switch (which) {
    case kType1:
      r = RSA_padding_check_PKCS1_type_1(to.data(), tlen, from.data(), flen, num);
      break;
    case kType2:
      r = RSA_padding_check_PKCS1_type_2(to.data(), tlen, from.data(), flen, num);
      break;
    case kSslv23:
      r = RSA_padding_check_SSLv23(to.data(), tlen, from.data(), flen, num);
      break;
    case kNone:
      r = RSA_padding_check_none(to.data(), tlen, from.data(), flen, num);
      break;
    case kOaep:
      r = RSA_padding_check_PKCS1_OAEP(to.data(), tlen, from.data(), flen, num, label.data(),
                                       static_cast<int>(label.size()));
      break;
    case kX931:
      r = RSA_padding_check_X931(to.data(), tlen, from.data(), flen, num);
      break;
  }
  const int errors = CountErrors();
  for (size_t i = room; i < to.size(); i++) Check(to[i] == 0xA5, "wrote past its room");
  Check(r < 0 || r <= tlen, "longer than its room");
  if (r < 0) {
    Check(r == -1 && errors == 1, "one reason on failure");
    for (size_t i = 0; i < room; i++) Check(to[i] == 0xA5, "wrote on failure");
  } else {
    Check(errors == 0, "no reason on success");
  }
  // The models, over the block right-aligned in num bytes (an input longer
  // than num is refused by both).
  if ((which == kType2 || which == kSslv23 || which == kOaep) && flen <= num) {
    Bytes em(static_cast<size_t>(num - flen), 0);
    em.insert(em.end(), from.begin(), from.end());
    Bytes msg;
    int want = which == kOaep ? ModelOaep(em, tlen, label, &msg)
                              : ModelType2(em, tlen, which == kSslv23, &msg);
    if (which == kSslv23 && flen < 10) want = -1;
    Check(r == want, "agrees with the model");
    if (r > 0) Check(memcmp(to.data(), msg.data(), static_cast<size_t>(r)) == 0, "the message");
  }
  if (which == kX931 && r > 0) {
    Check(from[static_cast<size_t>(flen) - 1] == 0xCC, "X9.31 trailer");
    Check(memcmp(to.data(), from.data() + flen - 1 - r, static_cast<size_t>(r)) == 0,
          "X9.31 message");
  }
  return 0;
}
