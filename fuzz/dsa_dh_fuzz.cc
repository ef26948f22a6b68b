// Fuzz target for the DSA and Diffie-Hellman decoders and the operations on
// outside values.  The whole input goes, in turn, through d2i_DSAPrivateKey,
// d2i_DSAparams, d2i_DSAPublicKey and d2i_DSA_SIG (each decoded value
// encoded again; a decoded private key with p of at most 1024 bits and q of
// at most 256 bits also signs and verifies a fixed digest); as a signature of
// a fixed digest through DSA_verify under the key of FIPS 186-2, Appendix 5,
// which must answer -1 unless the input is exactly the DER of a signature;
// through d2i_DHparams and then DH_check (moduli of at most 2048 bits); and
// as a public value through DH_check_pub_key and DH_compute_key in the
// example group of FIPS 186-2, Appendix 5, with its q (and, when the first
// byte is odd, without it).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>
#include <morvane/err.h>

#include "fuzz_check.h"

namespace {

// FIPS 186-2, Appendix 5: the example's p, q, g, y and x; the digest below
// is SHA-1("abc"), the example's message.
const char kP[] =
    "8DF2A494492276AA3D25759BB06869CBEAC0D83AFB8D0CF7CBB8324F0D7882E5"
    "D0762FC5B7210EAFC2E9ADAC32AB7AAC49693DFBF83724C2EC0736EE31C80291";
const char kQ[] = "C773218C737EC8EE993B4F2DED30F48EDACE915F";
const char kG[] =
    "626D027839EA0A13413163A55B4CB500299D5522956CEFCB3BFF10F399CE2C2E"
    "71CB9DE5FA24BABF58E5B79521925C9CC42E9F6F464B088CC572AF53E6D78802";
const char kY[] =
    "19131871D75B1612A819F29D78D1B0D7346F7AA77BB62A859BFD6C5675DA9D21"
    "2D3A36EF1672EF660B8C7C255CC0EC74858FBA33F44C06699630A76B030EE333";
const char kX[] = "2070B3223DBA372FDE1C0FFC7B2E3B498B260614";

BIGNUM* Hex(const char* h) {
  BIGNUM* b = nullptr;
  Check(BN_hex2bn(&b, h) > 0, "constant");
  return b;
}

struct Fixed {
  DSA* dsa;
  DH* dh;
  DH* dh_no_q;
};

const Fixed& Keys() {
  static const Fixed keys = [] {
    Fixed f;
    f.dsa = DSA_new();
    f.dsa->p = Hex(kP);
    f.dsa->q = Hex(kQ);
    f.dsa->g = Hex(kG);
    f.dsa->pub_key = Hex(kY);
    f.dh = DH_new();
    f.dh_no_q = DH_new();
    for (DH* d : {f.dh, f.dh_no_q}) {
      d->p = Hex(kP);
      d->g = Hex(kG);
      d->priv_key = Hex(kX);
    }
    f.dh->q = Hex(kQ);
    return f;
  }();
  return keys;
}

const unsigned char kDigest[20] = {0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81, 0x6a, 0xba, 0x3e,
                                   0x25, 0x71, 0x78, 0x50, 0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d};

template <class T>
void Reencode(T* v, int (*i2d)(T*, unsigned char**)) {
  unsigned char* der = nullptr;
  const int n = i2d(v, &der);
  Check(n > 0 && der != nullptr, "a decoded value encodes");
  MORVANE_free(der);
}

void DsaKeys(const uint8_t* data, long size) {
  DSA* (*const decoders[])(DSA**, const unsigned char**, long) = {
      d2i_DSAPrivateKey, d2i_DSAparams, d2i_DSAPublicKey};
  int (*const encoders[])(DSA*, unsigned char**) = {i2d_DSAPrivateKey, i2d_DSAparams,
                                                    i2d_DSAPublicKey};
  for (int i = 0; i < 3; i++) {
    const unsigned char* p = data;
    DSA* dsa = decoders[i](nullptr, &p, size);
    if (dsa == nullptr) continue;
    Check(p > data && p <= data + size, "decoder advances within the input");
    Reencode(dsa, encoders[i]);
    if (i == 0 && BN_num_bits(dsa->p) <= 1024 && BN_num_bits(dsa->q) <= 256) {
      DSA_SIG* sig = DSA_do_sign(kDigest, 20, dsa);
      if (sig != nullptr) {
        Check(!BN_is_zero(sig->r) && !BN_is_zero(sig->s), "no zero in a signature");
        const int v = DSA_do_verify(kDigest, 20, sig, dsa);
        Check(v >= -1 && v <= 1, "verification result");
        DSA_SIG_free(sig);
      }
    }
    DSA_free(dsa);
  }
}

void Signature(const uint8_t* data, long size) {
  const unsigned char* p = data;
  DSA_SIG* sig = d2i_DSA_SIG(nullptr, &p, size);
  bool exact = false;
  if (sig != nullptr) {
    unsigned char* der = nullptr;
    const int n = i2d_DSA_SIG(sig, &der);
    Check(n > 0, "a decoded signature encodes");
    exact = n == size && memcmp(der, data, static_cast<size_t>(n)) == 0;
    MORVANE_free(der);
    DSA_SIG_free(sig);
  }
  const int v = DSA_verify(0, kDigest, 20, data, static_cast<int>(size), Keys().dsa);
  Check(v >= -1 && v <= 1, "DSA_verify result");
  Check(v == -1 || exact, "only exact DER is verified");
}

void DhParams(const uint8_t* data, long size) {
  const unsigned char* p = data;
  DH* dh = d2i_DHparams(nullptr, &p, size);
  if (dh == nullptr) return;
  Reencode(dh, i2d_DHparams);
  if (BN_num_bits(dh->p) <= 2048) {
    int codes = 0;
    if (DH_check(dh, &codes)) Check((codes & ~0x0F) == 0, "DH_check codes");
  }
  DH_free(dh);
}

void DhPublic(const uint8_t* data, size_t size) {
  BIGNUM* pub = BN_bin2bn(data, static_cast<int>(size), nullptr);
  Check(pub != nullptr, "allocation");
  int codes = -1;
  Check(DH_check_pub_key(Keys().dh, pub, &codes) == 1, "public value check runs");
  unsigned char key[256];
  const int n = DH_compute_key(key, pub, Keys().dh);
  Check(n == -1 || (n >= 1 && n <= 256), "secret length");
  if (codes != 0) Check(n == -1, "a value out of range is refused");
  if (size > 0 && (data[0] & 1)) {
    const int m = DH_compute_key(key, pub, Keys().dh_no_q);
    Check(m <= 256 && (m == -1) == (codes != 0), "the range check alone without q");
  }
  BN_free(pub);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const long len = static_cast<long>(size);
  DsaKeys(data, len);
  Signature(data, len);
  DhParams(data, len);
  DhPublic(data, size);
  ERR_clear_error();
  return 0;
}
