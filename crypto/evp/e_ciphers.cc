// The built-in cipher descriptions: constant records whose slots adapt the
// key schedules and mode functions of the cipher libraries to a context.
//
// Implementation notes: each family (AES, Blowfish, CAST5, IDEA, RC2, DES,
// two- and three-key triple DES) is a struct of static functions over its
// private key state: `set_key` and the mode functions ecb/cbc/cfb/ofb (and
// cfb8/cfb1 where the family has them; AES and DES take all of ECB's whole
// blocks in one call, ecb_blocks, so that they reach their multi-block
// kernels).  One
// adapter per mode shape turns a family into a description slot, so a record
// is only numbers and the adapters' instantiations.  Lengths above a long's
// range or the CFB1 bit count's int range are handled in pieces.

#include <limits.h>
#include <stddef.h>
#include <string.h>

#include <type_traits>

#include <morvane/aes.h>
#include <morvane/asn1.h>
#include <morvane/blowfish.h>
#include <morvane/cast.h>
#include <morvane/des.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/idea.h>
#include <morvane/rand.h>
#include <morvane/rc2.h>
#include <morvane/rc4.h>

#include "aes/internal.h"
#include "des/internal.h"
#include "evp/internal.h"
#include "internal/wipe.h"

namespace morvane::evp {
namespace {

// Largest piece handed to a mode function in one call: fits a long and, as
// bits, an int.
constexpr size_t kPiece = size_t{1} << 24;

// The DES headers type a block as a pointer to a non-const array.
const_DES_cblock* cblk(const unsigned char* p) {
  return reinterpret_cast<const_DES_cblock*>(const_cast<unsigned char*>(p));
}

template <class F>
typename F::State* state(EVP_CIPHER_CTX* ctx) {
  return static_cast<typename F::State*>(ctx->cipher_data);
}

// ---- families --------------------------------------------------------------

struct Aes {
  using State = AES_KEY;
  static constexpr int kFlags = EVP_CIPH_FLAG_DEFAULT_ASN1 | EVP_CIPH_FLAG_FIPS;
  static int set_key(EVP_CIPHER_CTX* ctx, const unsigned char* key, int enc) {
    const unsigned long mode = cipher_mode(ctx->cipher);
    const bool dec_schedule =
        !enc && (mode == EVP_CIPH_ECB_MODE || mode == EVP_CIPH_CBC_MODE);
    const int r = dec_schedule ? AES_set_decrypt_key(key, ctx->key_len * 8, state<Aes>(ctx))
                               : AES_set_encrypt_key(key, ctx->key_len * 8, state<Aes>(ctx));
    if (r < 0) {
      EVPerr(EVP_F_AES_INIT_KEY, EVP_R_AES_KEY_SETUP_FAILED);
      return 0;
    }
    return 1;
  }
  // The whole blocks of `n` bytes in one call, so that they run on the
  // multi-block kernels.
  static void ecb_blocks(const unsigned char* in, unsigned char* out, size_t n, State* ks,
                         int enc) {
    aes::EcbBlocks(in, out, n / AES_BLOCK_SIZE, ks, enc == AES_ENCRYPT);
  }
  static void cbc(const unsigned char* in, unsigned char* out, size_t n, State* ks,
                  unsigned char* iv, int enc) {
    AES_cbc_encrypt(in, out, n, ks, iv, enc);
  }
  static void cfb(const unsigned char* in, unsigned char* out, size_t n, State* ks,
                  unsigned char* iv, int* num, int enc) {
    AES_cfb128_encrypt(in, out, n, ks, iv, num, enc);
  }
  static void ofb(const unsigned char* in, unsigned char* out, size_t n, State* ks,
                  unsigned char* iv, int* num) {
    AES_ofb128_encrypt(in, out, n, ks, iv, num);
  }
  static void cfb8(const unsigned char* in, unsigned char* out, size_t n, State* ks,
                   unsigned char* iv, int* num, int enc) {
    AES_cfb8_encrypt(in, out, n, ks, iv, num, enc);
  }
  // `bits` bits from bit 0 of `in`, most significant first.
  static void cfb1(const unsigned char* in, unsigned char* out, size_t bits, State* ks,
                   unsigned char* iv, int* num, int enc) {
    AES_cfb1_encrypt(in, out, bits, ks, iv, num, enc);
  }
};

// The 8-byte-block families with the common (schedule, ...) call shapes.
#define MORVANE_EVP_FAMILY64(Name, Key, Prefix, SetKey)                                     \
  struct Name {                                                                           \
    using State = Key;                                                                    \
    static constexpr int kFlags = EVP_CIPH_VARIABLE_LENGTH;                               \
    static int set_key(EVP_CIPHER_CTX* ctx, const unsigned char* key, int) {              \
      SetKey;                                                                             \
      return 1;                                                                           \
    }                                                                                     \
    static void ecb(const unsigned char* in, unsigned char* out, State* ks, int enc) {    \
      Prefix##_ecb_encrypt(in, out, ks, enc);                                             \
    }                                                                                     \
    static void cbc(const unsigned char* in, unsigned char* out, size_t n, State* ks,     \
                    unsigned char* iv, int enc) {                                         \
      Prefix##_cbc_encrypt(in, out, static_cast<long>(n), ks, iv, enc);                   \
    }                                                                                     \
    static void cfb(const unsigned char* in, unsigned char* out, size_t n, State* ks,     \
                    unsigned char* iv, int* num, int enc) {                               \
      Prefix##_cfb64_encrypt(in, out, static_cast<long>(n), ks, iv, num, enc);            \
    }                                                                                     \
    static void ofb(const unsigned char* in, unsigned char* out, size_t n, State* ks,     \
                    unsigned char* iv, int* num) {                                        \
      Prefix##_ofb64_encrypt(in, out, static_cast<long>(n), ks, iv, num);                 \
    }                                                                                     \
  };

MORVANE_EVP_FAMILY64(Blowfish, BF_KEY, BF, BF_set_key(state<Blowfish>(ctx), ctx->key_len, key))
MORVANE_EVP_FAMILY64(Cast5, CAST_KEY, CAST,
                     CAST_set_key(state<Cast5>(ctx), ctx->key_len, key))
#undef MORVANE_EVP_FAMILY64

// RC2: the effective key bits, then the schedule.
struct Rc2 {
  struct State {
    int key_bits;
    RC2_KEY ks;
  };
  static constexpr int kFlags = EVP_CIPH_VARIABLE_LENGTH | EVP_CIPH_CTRL_INIT;
  static int set_key(EVP_CIPHER_CTX* ctx, const unsigned char* key, int) {
    State* s = state<Rc2>(ctx);
    RC2_set_key(&s->ks, ctx->key_len, key, s->key_bits);
    return 1;
  }
  static void ecb(const unsigned char* in, unsigned char* out, State* s, int enc) {
    RC2_ecb_encrypt(in, out, &s->ks, enc);
  }
  static void cbc(const unsigned char* in, unsigned char* out, size_t n, State* s,
                  unsigned char* iv, int enc) {
    RC2_cbc_encrypt(in, out, static_cast<long>(n), &s->ks, iv, enc);
  }
  static void cfb(const unsigned char* in, unsigned char* out, size_t n, State* s,
                  unsigned char* iv, int* num, int enc) {
    RC2_cfb64_encrypt(in, out, static_cast<long>(n), &s->ks, iv, num, enc);
  }
  static void ofb(const unsigned char* in, unsigned char* out, size_t n, State* s,
                  unsigned char* iv, int* num) {
    RC2_ofb64_encrypt(in, out, static_cast<long>(n), &s->ks, iv, num);
  }
};

// IDEA: the schedule's direction decides; CFB and OFB always encrypt.
struct Idea {
  using State = IDEA_KEY_SCHEDULE;
  static constexpr int kFlags = 0;
  static int set_key(EVP_CIPHER_CTX* ctx, const unsigned char* key, int enc) {
    const unsigned long mode = cipher_mode(ctx->cipher);
    if (enc || mode == EVP_CIPH_CFB_MODE || mode == EVP_CIPH_OFB_MODE) {
      idea_set_encrypt_key(key, state<Idea>(ctx));
      return 1;
    }
    IDEA_KEY_SCHEDULE tmp;
    idea_set_encrypt_key(key, &tmp);
    idea_set_decrypt_key(&tmp, state<Idea>(ctx));
    internal::wipe(&tmp, sizeof tmp);
    return 1;
  }
  static void ecb(const unsigned char* in, unsigned char* out, State* ks, int) {
    idea_ecb_encrypt(in, out, ks);
  }
  static void cbc(const unsigned char* in, unsigned char* out, size_t n, State* ks,
                  unsigned char* iv, int enc) {
    idea_cbc_encrypt(in, out, static_cast<long>(n), ks, iv, enc);
  }
  static void cfb(const unsigned char* in, unsigned char* out, size_t n, State* ks,
                  unsigned char* iv, int* num, int enc) {
    idea_cfb64_encrypt(in, out, static_cast<long>(n), ks, iv, num, enc);
  }
  static void ofb(const unsigned char* in, unsigned char* out, size_t n, State* ks,
                  unsigned char* iv, int* num) {
    idea_ofb64_encrypt(in, out, static_cast<long>(n), ks, iv, num);
  }
};

// Single DES; random keys with odd parity by control.
struct Des {
  using State = DES_key_schedule;
  static constexpr int kFlags = EVP_CIPH_RAND_KEY;
  static int set_key(EVP_CIPHER_CTX* ctx, const unsigned char* key, int) {
    DES_set_key_unchecked(cblk(key), state<Des>(ctx));
    return 1;
  }
  static DES_cblock* blk(unsigned char* iv) { return reinterpret_cast<DES_cblock*>(iv); }
  static void ecb(const unsigned char* in, unsigned char* out, State* ks, int enc) {
    DES_ecb_encrypt(cblk(in), blk(out), ks, enc);
  }
  static void ecb_blocks(const unsigned char* in, unsigned char* out, size_t n, State* ks,
                         int enc) {
    des::ecb_blocks(in, out, n / 8, ks, nullptr, nullptr, enc != 0);
  }
  static void cbc(const unsigned char* in, unsigned char* out, size_t n, State* ks,
                  unsigned char* iv, int enc) {
    DES_ncbc_encrypt(in, out, static_cast<long>(n), ks, blk(iv), enc);
  }
  static void cfb(const unsigned char* in, unsigned char* out, size_t n, State* ks,
                  unsigned char* iv, int* num, int enc) {
    DES_cfb64_encrypt(in, out, static_cast<long>(n), ks, blk(iv), num, enc);
  }
  static void ofb(const unsigned char* in, unsigned char* out, size_t n, State* ks,
                  unsigned char* iv, int* num) {
    DES_ofb64_encrypt(in, out, static_cast<long>(n), ks, blk(iv), num);
  }
  static void cfbr(int bits, const unsigned char* in, unsigned char* out, size_t n, State* ks,
                   unsigned char* iv, int enc) {
    DES_cfb_encrypt(in, out, bits, static_cast<long>(n), ks, blk(iv), enc);
  }
};

// Triple DES: three schedules; the two-key form copies the first to the third.
struct Des3 {
  struct State {
    DES_key_schedule ks1, ks2, ks3;
  };
  static constexpr int kFlags =
      EVP_CIPH_RAND_KEY | EVP_CIPH_FLAG_DEFAULT_ASN1 | EVP_CIPH_FLAG_FIPS;
  static int set_key(EVP_CIPHER_CTX* ctx, const unsigned char* key, int) {
    State* s = state<Des3>(ctx);
    auto k = [&](int i) { return cblk(key + 8 * i); };
    DES_set_key_unchecked(k(0), &s->ks1);
    DES_set_key_unchecked(k(1), &s->ks2);
    if (ctx->key_len >= 24)
      DES_set_key_unchecked(k(2), &s->ks3);
    else
      s->ks3 = s->ks1;
    return 1;
  }
  static void ecb(const unsigned char* in, unsigned char* out, State* s, int enc) {
    DES_ecb3_encrypt(cblk(in), Des::blk(out), &s->ks1, &s->ks2,
                     &s->ks3, enc);
  }
  static void ecb_blocks(const unsigned char* in, unsigned char* out, size_t n, State* s,
                         int enc) {
    des::ecb_blocks(in, out, n / 8, &s->ks1, &s->ks2, &s->ks3, enc != 0);
  }
  static void cbc(const unsigned char* in, unsigned char* out, size_t n, State* s,
                  unsigned char* iv, int enc) {
    DES_ede3_cbc_encrypt(in, out, static_cast<long>(n), &s->ks1, &s->ks2, &s->ks3,
                         Des::blk(iv), enc);
  }
  static void cfb(const unsigned char* in, unsigned char* out, size_t n, State* s,
                  unsigned char* iv, int* num, int enc) {
    DES_ede3_cfb64_encrypt(in, out, static_cast<long>(n), &s->ks1, &s->ks2, &s->ks3,
                           Des::blk(iv), num, enc);
  }
  static void ofb(const unsigned char* in, unsigned char* out, size_t n, State* s,
                  unsigned char* iv, int* num) {
    DES_ede3_ofb64_encrypt(in, out, static_cast<long>(n), &s->ks1, &s->ks2, &s->ks3,
                           Des::blk(iv), num);
  }
  static void cfbr(int bits, const unsigned char* in, unsigned char* out, size_t n, State* s,
                   unsigned char* iv, int enc) {
    DES_ede3_cfb_encrypt(in, out, bits, static_cast<long>(n), &s->ks1, &s->ks2, &s->ks3,
                         Des::blk(iv), enc);
  }
};

// ---- one adapter per mode shape ---------------------------------------------

template <class F>
int init_key(EVP_CIPHER_CTX* ctx, const unsigned char* key, const unsigned char*, int enc) {
  return F::set_key(ctx, key, enc);
}

// ECB over the whole blocks of `inl`: in one call where the family takes
// many blocks, else block by block.
template <class F>
int do_ecb(EVP_CIPHER_CTX* ctx, unsigned char* out, const unsigned char* in, size_t inl) {
  if constexpr (requires { &F::ecb_blocks; }) {
    F::ecb_blocks(in, out, inl, state<F>(ctx), ctx->encrypt);
  } else {
    const size_t b = static_cast<size_t>(ctx->cipher->block_size);
    for (size_t i = 0; inl >= b && i <= inl - b; i += b)
      F::ecb(in + i, out + i, state<F>(ctx), ctx->encrypt);
  }
  return 1;
}

template <class F>
int do_cbc(EVP_CIPHER_CTX* ctx, unsigned char* out, const unsigned char* in, size_t inl) {
  for (size_t done = 0; done < inl;) {
    const size_t n = inl - done < kPiece ? inl - done : kPiece;
    F::cbc(in + done, out + done, n, state<F>(ctx), ctx->iv, ctx->encrypt);
    done += n;
  }
  return 1;
}

template <class F>
int do_cfb(EVP_CIPHER_CTX* ctx, unsigned char* out, const unsigned char* in, size_t inl) {
  for (size_t done = 0; done < inl;) {
    const size_t n = inl - done < kPiece ? inl - done : kPiece;
    F::cfb(in + done, out + done, n, state<F>(ctx), ctx->iv, &ctx->num, ctx->encrypt);
    done += n;
  }
  return 1;
}

template <class F>
int do_ofb(EVP_CIPHER_CTX* ctx, unsigned char* out, const unsigned char* in, size_t inl) {
  for (size_t done = 0; done < inl;) {
    const size_t n = inl - done < kPiece ? inl - done : kPiece;
    F::ofb(in + done, out + done, n, state<F>(ctx), ctx->iv, &ctx->num);
    done += n;
  }
  return 1;
}

template <class F>
int do_cfb8(EVP_CIPHER_CTX* ctx, unsigned char* out, const unsigned char* in, size_t inl) {
  if constexpr (requires { &F::cfb8; }) {
    F::cfb8(in, out, inl, state<F>(ctx), ctx->iv, &ctx->num, ctx->encrypt);
  } else {
    for (size_t done = 0; done < inl;) {
      const size_t n = inl - done < kPiece ? inl - done : kPiece;
      F::cfbr(8, in + done, out + done, n, state<F>(ctx), ctx->iv, ctx->encrypt);
      done += n;
    }
  }
  return 1;
}

// CFB1: `inl` counts bits under EVP_CIPH_FLAG_LENGTH_BITS, else bytes; long
// byte counts go in pieces so that no bit count overflows.
template <class F>
int do_cfb1(EVP_CIPHER_CTX* ctx, unsigned char* out, const unsigned char* in, size_t inl) {
  const bool bits = (ctx->flags & EVP_CIPH_FLAG_LENGTH_BITS) != 0;
  if constexpr (requires { &F::cfb1; }) {
    if (bits) {
      F::cfb1(in, out, inl, state<F>(ctx), ctx->iv, &ctx->num, ctx->encrypt);
      return 1;
    }
    for (size_t done = 0; done < inl;) {
      const size_t n = inl - done < kPiece ? inl - done : kPiece;
      F::cfb1(in + done, out + done, n * 8, state<F>(ctx), ctx->iv, &ctx->num, ctx->encrypt);
      done += n;
    }
  } else {
    // One bit at a time, as the top bit of a one-byte block; the other bits
    // of the output byte stay as they were.
    const size_t nbits = bits ? inl : inl * 8;
    for (size_t n = 0; n < nbits; ++n) {
      const unsigned mask = 0x80u >> (n % 8);
      unsigned char c = (in[n / 8] & mask) ? 0x80 : 0;
      unsigned char d;
      F::cfbr(1, &c, &d, 1, state<F>(ctx), ctx->iv, ctx->encrypt);
      out[n / 8] = static_cast<unsigned char>((out[n / 8] & ~mask) | ((d & 0x80) ? mask : 0));
    }
  }
  return 1;
}

// ---- controls ---------------------------------------------------------------

int des_ctrl(EVP_CIPHER_CTX* ctx, int type, int, void* ptr) {
  if (type != EVP_CTRL_RAND_KEY) return -1;
  unsigned char* key = static_cast<unsigned char*>(ptr);
  (void)ctx;
  if (RAND_bytes(key, 8) <= 0) return 0;
  DES_set_odd_parity(reinterpret_cast<DES_cblock*>(key));
  return 1;
}

int des3_ctrl(EVP_CIPHER_CTX* ctx, int type, int, void* ptr) {
  if (type != EVP_CTRL_RAND_KEY) return -1;
  unsigned char* key = static_cast<unsigned char*>(ptr);
  if (RAND_bytes(key, ctx->key_len) <= 0) return 0;
  for (int i = 0; i + 8 <= ctx->key_len && i < 24; i += 8)
    DES_set_odd_parity(reinterpret_cast<DES_cblock*>(key + i));
  return 1;
}

int rc2_ctrl(EVP_CIPHER_CTX* ctx, int type, int arg, void* ptr) {
  Rc2::State* s = state<Rc2>(ctx);
  switch (type) {
    case EVP_CTRL_INIT:
      s->key_bits = ctx->key_len * 8;
      return 1;
    case EVP_CTRL_GET_RC2_KEY_BITS:
      *static_cast<int*>(ptr) = s->key_bits;
      return 1;
    case EVP_CTRL_SET_RC2_KEY_BITS:
      if (arg <= 0) return 0;
      s->key_bits = arg;
      return 1;
    default:
      return -1;
  }
}

// RC2-CBC parameters (RFC 2268): version number <-> effective key bits.
struct Rc2Version {
  long version;
  int bits;
};
constexpr Rc2Version kRc2Versions[] = {{58, 128}, {120, 64}, {160, 40}};

int rc2_set_asn1(EVP_CIPHER_CTX* ctx, ASN1_TYPE* type) {
  if (type == nullptr) return 0;
  int bits = 0;
  EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GET_RC2_KEY_BITS, 0, &bits);
  long version = 0;
  for (const Rc2Version& v : kRc2Versions)
    if (v.bits == bits) version = v.version;
  return ASN1_TYPE_set_int_octetstring(type, version, ctx->oiv,
                                       EVP_CIPHER_CTX_iv_length(ctx));
}

int rc2_get_asn1(EVP_CIPHER_CTX* ctx, ASN1_TYPE* type) {
  if (type == nullptr) return 0;
  long version = 0;
  unsigned char iv[EVP_MAX_IV_LENGTH];
  const int l = EVP_CIPHER_CTX_iv_length(ctx);
  MORVANE_assert(l <= (int)sizeof(iv));
  const int i = ASN1_TYPE_get_int_octetstring(type, &version, iv, l);
  if (i != l) return -1;
  int bits = 0;
  for (const Rc2Version& v : kRc2Versions)
    if (v.version == version) bits = v.bits;
  if (bits == 0) {
    EVPerr(EVP_F_RC2_MAGIC_TO_METH, EVP_R_UNSUPPORTED_KEY_SIZE);
    return -1;
  }
  if (i > 0) EVP_CipherInit_ex(ctx, nullptr, nullptr, nullptr, iv, -1);
  EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_SET_RC2_KEY_BITS, bits, nullptr);
  EVP_CIPHER_CTX_set_key_length(ctx, bits / 8);
  return i;
}

// ---- records ----------------------------------------------------------------

enum class Shape { kEcb, kCbc, kCfb, kOfb, kCfb8, kCfb1 };

constexpr unsigned long mode_flag(Shape s) {
  switch (s) {
    case Shape::kEcb: return EVP_CIPH_ECB_MODE;
    case Shape::kCbc: return EVP_CIPH_CBC_MODE;
    case Shape::kOfb: return EVP_CIPH_OFB_MODE;
    default: return EVP_CIPH_CFB_MODE;
  }
}

template <class F, Shape S>
constexpr auto do_cipher_for() {
  if constexpr (S == Shape::kEcb) return &do_ecb<F>;
  else if constexpr (S == Shape::kCbc) return &do_cbc<F>;
  else if constexpr (S == Shape::kCfb) return &do_cfb<F>;
  else if constexpr (S == Shape::kOfb) return &do_ofb<F>;
  else if constexpr (S == Shape::kCfb8) return &do_cfb8<F>;
  else return &do_cfb1<F>;
}

// Parameter slots: kIv (the IV functions), kDefault (null slots, the flag
// says IV), kRc2.
enum class Params { kIv, kDefault, kRc2 };

template <class F, Shape S>
constexpr EVP_CIPHER record(int nid, int key_len, Params p,
                            int (*ctrl)(EVP_CIPHER_CTX*, int, int, void*) = nullptr) {
  const bool block = S == Shape::kEcb || S == Shape::kCbc;
  const int b = std::is_same_v<F, Aes> ? 16 : 8;
  return EVP_CIPHER{nid,
                    block ? b : 1,
                    key_len,
                    S == Shape::kEcb ? 0 : b,
                    mode_flag(S) | static_cast<unsigned long>(F::kFlags),
                    &init_key<F>,
                    do_cipher_for<F, S>(),
                    nullptr,
                    static_cast<int>(sizeof(typename F::State)),
                    p == Params::kIv ? &EVP_CIPHER_set_asn1_iv
                    : p == Params::kRc2 ? &rc2_set_asn1
                                        : nullptr,
                    p == Params::kIv ? &EVP_CIPHER_get_asn1_iv
                    : p == Params::kRc2 ? &rc2_get_asn1
                                        : nullptr,
                    ctrl,
                    nullptr};
}

// DESX: DES schedule, then the input and output whitening blocks.
struct DesxState {
  DES_key_schedule ks;
  DES_cblock inw, outw;
};
int desx_init(EVP_CIPHER_CTX* ctx, const unsigned char* key, const unsigned char*, int) {
  auto* s = static_cast<DesxState*>(ctx->cipher_data);
  DES_set_key_unchecked(cblk(key), &s->ks);
  memcpy(s->inw, key + 8, 8);
  memcpy(s->outw, key + 16, 8);
  return 1;
}
int desx_cbc(EVP_CIPHER_CTX* ctx, unsigned char* out, const unsigned char* in, size_t inl) {
  auto* s = static_cast<DesxState*>(ctx->cipher_data);
  for (size_t done = 0; done < inl;) {
    const size_t n = inl - done < kPiece ? inl - done : kPiece;
    DES_xcbc_encrypt(in + done, out + done, static_cast<long>(n), &s->ks, Des::blk(ctx->iv),
                     &s->inw, &s->outw, ctx->encrypt);
    done += n;
  }
  return 1;
}

int rc4_init(EVP_CIPHER_CTX* ctx, const unsigned char* key, const unsigned char*, int) {
  RC4_set_key(static_cast<RC4_KEY*>(ctx->cipher_data), ctx->key_len, key);
  return 1;
}
int rc4_cipher(EVP_CIPHER_CTX* ctx, unsigned char* out, const unsigned char* in, size_t inl) {
  RC4(static_cast<RC4_KEY*>(ctx->cipher_data), inl, in, out);
  return 1;
}

int null_init(EVP_CIPHER_CTX*, const unsigned char*, const unsigned char*, int) { return 1; }
int null_cipher(EVP_CIPHER_CTX*, unsigned char* out, const unsigned char* in, size_t inl) {
  if (in != out) memcpy(out, in, inl);
  return 1;
}

using S = Shape;
using P = Params;

constexpr EVP_CIPHER kAes[3][6] = {
#define MORVANE_EVP_AES(k, n0, n1, n2, n3, n4, n5)                               \
  {record<Aes, S::kEcb>(n0, k, P::kDefault), record<Aes, S::kCbc>(n1, k, P::kDefault), \
   record<Aes, S::kOfb>(n2, k, P::kDefault), record<Aes, S::kCfb>(n3, k, P::kDefault), \
   record<Aes, S::kCfb1>(n4, k, P::kDefault), record<Aes, S::kCfb8>(n5, k, P::kDefault)}
    MORVANE_EVP_AES(16, 418, 419, 420, 421, 650, 653),
    MORVANE_EVP_AES(24, 422, 423, 424, 425, 651, 654),
    MORVANE_EVP_AES(32, 426, 427, 428, 429, 652, 655),
#undef MORVANE_EVP_AES
};

// Four-mode families: ECB, CBC, CFB64, OFB.
#define MORVANE_EVP_FOUR(F, k, p, c, n0, n1, n2, n3)                          \
  {record<F, S::kEcb>(n0, k, p, c), record<F, S::kCbc>(n1, k, p, c), \
   record<F, S::kCfb>(n2, k, p, c), record<F, S::kOfb>(n3, k, p, c)}
constexpr EVP_CIPHER kBf[4] = MORVANE_EVP_FOUR(Blowfish, 16, P::kIv, nullptr, 92, 91, 93, 94);
constexpr EVP_CIPHER kCast[4] = MORVANE_EVP_FOUR(Cast5, 16, P::kIv, nullptr, 109, 108, 110, 111);
constexpr EVP_CIPHER kIdea[4] = MORVANE_EVP_FOUR(Idea, 16, P::kIv, nullptr, 36, 34, 35, 46);
constexpr EVP_CIPHER kRc2[4] = MORVANE_EVP_FOUR(Rc2, 16, P::kRc2, &rc2_ctrl, 38, 37, 39, 40);
constexpr EVP_CIPHER kDes[4] = MORVANE_EVP_FOUR(Des, 8, P::kIv, &des_ctrl, 29, 31, 30, 45);
constexpr EVP_CIPHER kDesEde[4] =
    MORVANE_EVP_FOUR(Des3, 16, P::kDefault, &des3_ctrl, 32, 43, 60, 62);
constexpr EVP_CIPHER kDesEde3[4] =
    MORVANE_EVP_FOUR(Des3, 24, P::kDefault, &des3_ctrl, 33, 44, 61, 63);
#undef MORVANE_EVP_FOUR

constexpr EVP_CIPHER kDesCfb1 = record<Des, S::kCfb1>(656, 8, P::kIv, &des_ctrl);
constexpr EVP_CIPHER kDesCfb8 = record<Des, S::kCfb8>(657, 8, P::kIv, &des_ctrl);
constexpr EVP_CIPHER kDesEde3Cfb1 = record<Des3, S::kCfb1>(658, 24, P::kDefault, &des3_ctrl);
constexpr EVP_CIPHER kDesEde3Cfb8 = record<Des3, S::kCfb8>(659, 24, P::kDefault, &des3_ctrl);
constexpr EVP_CIPHER kRc2_64 = record<Rc2, S::kCbc>(166, 8, P::kRc2, &rc2_ctrl);
constexpr EVP_CIPHER kRc2_40 = record<Rc2, S::kCbc>(98, 5, P::kRc2, &rc2_ctrl);

constexpr EVP_CIPHER kDesx = {80, 8, 24, 8, EVP_CIPH_CBC_MODE, &desx_init, &desx_cbc, nullptr,
                              static_cast<int>(sizeof(DesxState)), &EVP_CIPHER_set_asn1_iv,
                              &EVP_CIPHER_get_asn1_iv, nullptr, nullptr};
constexpr EVP_CIPHER kRc4 = {5, 1, 16, 0, EVP_CIPH_VARIABLE_LENGTH, &rc4_init, &rc4_cipher,
                             nullptr, static_cast<int>(sizeof(RC4_KEY)), nullptr, nullptr,
                             nullptr, nullptr};
constexpr EVP_CIPHER kRc4_40 = {97, 1, 5, 0, EVP_CIPH_VARIABLE_LENGTH, &rc4_init, &rc4_cipher,
                                nullptr, static_cast<int>(sizeof(RC4_KEY)), nullptr, nullptr,
                                nullptr, nullptr};
constexpr EVP_CIPHER kNull = {0, 1, 0, 0, EVP_CIPH_FLAG_FIPS, &null_init, &null_cipher,
                              nullptr, 0, nullptr, nullptr, nullptr, nullptr};

}  // namespace
}  // namespace morvane::evp

using namespace morvane::evp;

#define MORVANE_EVP_GETTER(name, rec) \
  const EVP_CIPHER* EVP_##name(void) { return &(rec); }

MORVANE_EVP_GETTER(aes_128_ecb, kAes[0][0])
MORVANE_EVP_GETTER(aes_128_cbc, kAes[0][1])
MORVANE_EVP_GETTER(aes_128_ofb, kAes[0][2])
MORVANE_EVP_GETTER(aes_128_cfb128, kAes[0][3])
MORVANE_EVP_GETTER(aes_128_cfb, kAes[0][3])
MORVANE_EVP_GETTER(aes_128_cfb1, kAes[0][4])
MORVANE_EVP_GETTER(aes_128_cfb8, kAes[0][5])
MORVANE_EVP_GETTER(aes_192_ecb, kAes[1][0])
MORVANE_EVP_GETTER(aes_192_cbc, kAes[1][1])
MORVANE_EVP_GETTER(aes_192_ofb, kAes[1][2])
MORVANE_EVP_GETTER(aes_192_cfb128, kAes[1][3])
MORVANE_EVP_GETTER(aes_192_cfb, kAes[1][3])
MORVANE_EVP_GETTER(aes_192_cfb1, kAes[1][4])
MORVANE_EVP_GETTER(aes_192_cfb8, kAes[1][5])
MORVANE_EVP_GETTER(aes_256_ecb, kAes[2][0])
MORVANE_EVP_GETTER(aes_256_cbc, kAes[2][1])
MORVANE_EVP_GETTER(aes_256_ofb, kAes[2][2])
MORVANE_EVP_GETTER(aes_256_cfb128, kAes[2][3])
MORVANE_EVP_GETTER(aes_256_cfb, kAes[2][3])
MORVANE_EVP_GETTER(aes_256_cfb1, kAes[2][4])
MORVANE_EVP_GETTER(aes_256_cfb8, kAes[2][5])
MORVANE_EVP_GETTER(bf_ecb, kBf[0])
MORVANE_EVP_GETTER(bf_cbc, kBf[1])
MORVANE_EVP_GETTER(bf_cfb64, kBf[2])
MORVANE_EVP_GETTER(bf_cfb, kBf[2])
MORVANE_EVP_GETTER(bf_ofb, kBf[3])
MORVANE_EVP_GETTER(cast5_ecb, kCast[0])
MORVANE_EVP_GETTER(cast5_cbc, kCast[1])
MORVANE_EVP_GETTER(cast5_cfb64, kCast[2])
MORVANE_EVP_GETTER(cast5_cfb, kCast[2])
MORVANE_EVP_GETTER(cast5_ofb, kCast[3])
MORVANE_EVP_GETTER(idea_ecb, kIdea[0])
MORVANE_EVP_GETTER(idea_cbc, kIdea[1])
MORVANE_EVP_GETTER(idea_cfb64, kIdea[2])
MORVANE_EVP_GETTER(idea_cfb, kIdea[2])
MORVANE_EVP_GETTER(idea_ofb, kIdea[3])
MORVANE_EVP_GETTER(rc2_ecb, kRc2[0])
MORVANE_EVP_GETTER(rc2_cbc, kRc2[1])
MORVANE_EVP_GETTER(rc2_cfb64, kRc2[2])
MORVANE_EVP_GETTER(rc2_cfb, kRc2[2])
MORVANE_EVP_GETTER(rc2_ofb, kRc2[3])
MORVANE_EVP_GETTER(rc2_64_cbc, kRc2_64)
MORVANE_EVP_GETTER(rc2_40_cbc, kRc2_40)
MORVANE_EVP_GETTER(des_ecb, kDes[0])
MORVANE_EVP_GETTER(des_cbc, kDes[1])
MORVANE_EVP_GETTER(des_cfb64, kDes[2])
MORVANE_EVP_GETTER(des_cfb, kDes[2])
MORVANE_EVP_GETTER(des_ofb, kDes[3])
MORVANE_EVP_GETTER(des_cfb1, kDesCfb1)
MORVANE_EVP_GETTER(des_cfb8, kDesCfb8)
MORVANE_EVP_GETTER(des_ede, kDesEde[0])
MORVANE_EVP_GETTER(des_ede_ecb, kDesEde[0])
MORVANE_EVP_GETTER(des_ede_cbc, kDesEde[1])
MORVANE_EVP_GETTER(des_ede_cfb64, kDesEde[2])
MORVANE_EVP_GETTER(des_ede_cfb, kDesEde[2])
MORVANE_EVP_GETTER(des_ede_ofb, kDesEde[3])
MORVANE_EVP_GETTER(des_ede3, kDesEde3[0])
MORVANE_EVP_GETTER(des_ede3_ecb, kDesEde3[0])
MORVANE_EVP_GETTER(des_ede3_cbc, kDesEde3[1])
MORVANE_EVP_GETTER(des_ede3_cfb64, kDesEde3[2])
MORVANE_EVP_GETTER(des_ede3_cfb, kDesEde3[2])
MORVANE_EVP_GETTER(des_ede3_ofb, kDesEde3[3])
MORVANE_EVP_GETTER(des_ede3_cfb1, kDesEde3Cfb1)
MORVANE_EVP_GETTER(des_ede3_cfb8, kDesEde3Cfb8)
MORVANE_EVP_GETTER(desx_cbc, kDesx)
MORVANE_EVP_GETTER(rc4, kRc4)
MORVANE_EVP_GETTER(rc4_40, kRc4_40)
MORVANE_EVP_GETTER(enc_null, kNull)
