// Running ciphers: set-up, block buffering with PKCS#5 padding, the held-back
// block of decryption, controls, IV parameters and the accessors of an
// EVP_CIPHER_CTX over any description, built in or supplied by an engine.
//
// Implementation notes: the private key state (cipher_data, ctx_size bytes)
// is the description's own; this file allocates it, wipes it and frees it.
// Decryption holds back the last full block (final) so that the final call
// can check and strip the padding; when the output overlaps the input, the
// input is decrypted first and the held block put in front afterwards, so
// that in-place decryption over several updates reads no overwritten input.

#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rand.h>

#include "evp/internal.h"
#include "internal/ct.h"
#include "internal/wipe.h"

static_assert(sizeof(((EVP_CIPHER_CTX*)nullptr)->iv) == EVP_MAX_IV_LENGTH);
static_assert(sizeof(((EVP_CIPHER_CTX*)nullptr)->buf) == 32);
static_assert(sizeof(((EVP_CIPHER_CTX*)nullptr)->final) == 32);

namespace morvane::evp {
namespace {

size_t data_size(const EVP_CIPHER* c) {
  return c != nullptr && c->ctx_size > 0 ? static_cast<size_t>(c->ctx_size) : 0;
}

// Takes up `cipher` (through `impl` or the default engine of its NID) after
// cleaning the context; 0 with an error on failure.
int take_up(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* cipher, ENGINE* impl, int enc) {
  EVP_CIPHER_CTX_cleanup(ctx);
  ctx->encrypt = enc;
  ENGINE* e = impl;
  if (e != nullptr) {
    if (!ENGINE_init(e)) {
      EVPerr(EVP_F_DO_EVP_ENC_ENGINE, EVP_R_INITIALIZATION_ERROR);
      return 0;
    }
  } else {
    e = ENGINE_get_cipher_engine(cipher->nid);
  }
  if (e != nullptr) {
    const EVP_CIPHER* c = ENGINE_get_cipher(e, cipher->nid);
    if (c == nullptr) {
      EVPerr(EVP_F_DO_EVP_ENC_ENGINE, EVP_R_INITIALIZATION_ERROR);
      ENGINE_finish(e);
      return 0;
    }
    cipher = c;
  }
  if (cipher->do_cipher == nullptr) {  // a description that cannot process data
    EVPerr(EVP_F_EVP_CIPHERINIT_EX, EVP_R_OPERATION_NOT_SUPPORTED);
    if (e != nullptr) ENGINE_finish(e);
    return 0;
  }
  ctx->cipher = cipher;
  ctx->engine = e;
  if (data_size(cipher) != 0) {
    ctx->cipher_data = MORVANE_malloc(data_size(cipher));
    if (ctx->cipher_data == nullptr) {
      EVPerr(EVP_F_EVP_CIPHERINIT_EX, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    memset(ctx->cipher_data, 0, data_size(cipher));
  }
  ctx->key_len = cipher->key_len;
  ctx->flags = 0;
  if ((cipher->flags & EVP_CIPH_CTRL_INIT) &&
      !EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_INIT, 0, nullptr)) {
    EVPerr(EVP_F_EVP_CIPHERINIT_EX, EVP_R_INITIALIZATION_ERROR);
    return 0;
  }
  return 1;
}

int do_cipher(EVP_CIPHER_CTX* ctx, unsigned char* out, const unsigned char* in, size_t n) {
  return ctx->cipher->do_cipher(ctx, out, in, n);
}

// AlgorithmIdentifier NIDs of the descriptions that share one: RC4 and RC2
// key sizes, CFB feedback widths.  Three-key triple-DES CFB (61, 658, 659)
// has no identifier of its own: naming single-DES CFB would make a peer
// decrypt with the wrong cipher, so it maps to 0.
struct TypeMapping {
  int nid, type;
};
constexpr TypeMapping kTypeMappings[] = {
    {5, 5},       {97, 5},      {37, 37},     {98, 37},     {166, 37},    {421, 421},
    {650, 421},   {653, 421},   {425, 425},   {651, 425},   {654, 425},   {429, 429},
    {652, 429},   {655, 429},   {30, 30},     {656, 30},    {657, 30},    {61, 0},
    {658, 0},     {659, 0},
};

// Whether the output starts inside the input after its first byte: it
// would overwrite input not read yet.  Exact aliasing and an output that lags
// behind its input are processed; this is refused.
bool output_ahead(const unsigned char* out, const unsigned char* in, size_t inl) {
  const auto o = reinterpret_cast<uintptr_t>(out), i = reinterpret_cast<uintptr_t>(in);
  return o > i && o - i < inl;
}

// The checks every update makes before it touches anything: the output may
// not run ahead of the input, and the count it reports must fit in an int.
bool update_fits(const unsigned char* out, const unsigned char* in, size_t inl, size_t count,
                 int function) {
  if (output_ahead(out, in, inl)) {
    EVPerr(function, EVP_R_PARTIALLY_OVERLAPPING);
    return false;
  }
  if (count > static_cast<size_t>(INT_MAX)) {
    EVPerr(function, EVP_R_OUTPUT_TOO_LARGE);
    return false;
  }
  return true;
}

// The bytes that the buffering of `inl` more bytes writes: the held bytes and
// the input, in whole blocks.
size_t whole_blocks(const EVP_CIPHER_CTX* ctx, size_t inl) {
  const size_t bl = static_cast<size_t>(ctx->cipher->block_size);
  const size_t total = static_cast<size_t>(ctx->buf_len) + inl;
  return total - total % bl;
}

// Whether [a, a + an) and [b, b + bn) share a byte.
bool overlap(const unsigned char* a, size_t an, const unsigned char* b, size_t bn) {
  const auto x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
  return x < y + bn && y < x + an;
}

// The buffering of both directions: the held bytes, then `inl` input bytes,
// go out in whole blocks; the rest (less than a block) is held.  Block size
// 1 passes everything straight through.  The output may be the input or lag
// behind it (update_fits refused the rest).  When it overlaps the input in
// any other way than exact aliasing with nothing held, going block by block
// would overwrite input not read yet, or give a description buffers that
// partly overlap: the blocks are then assembled at the output first (the
// input moved up behind the held bytes) and processed in place.
int buffer_blocks(EVP_CIPHER_CTX* ctx, unsigned char* out, int* outl, const unsigned char* in,
                  size_t inl) {
  const size_t i = static_cast<size_t>(ctx->buf_len);
  const size_t bl = static_cast<size_t>(ctx->cipher->block_size);
  MORVANE_assert(bl <= sizeof(ctx->buf));
  if (bl == 1 || (i == 0 && (inl & (bl - 1)) == 0 && (out == in || !overlap(out, inl, in, inl)))) {
    if (!do_cipher(ctx, out, in, inl)) return 0;
    *outl = static_cast<int>(inl);
    return 1;
  }
  if (i + inl < bl) {
    memcpy(ctx->buf + i, in, inl);
    ctx->buf_len = static_cast<int>(i + inl);
    return 1;
  }
  const size_t whole = (i + inl) & ~(bl - 1);  // bytes going out: at least a block
  const size_t rest = i + inl - whole;         // the input's tail, held next
  unsigned char tail[EVP_MAX_BLOCK_LENGTH];
  memcpy(tail, in + inl - rest, rest);
  int ok;
  if (!overlap(out, whole, in, inl)) {
    if (i == 0) {
      ok = do_cipher(ctx, out, in, whole);
    } else {
      memcpy(ctx->buf + i, in, bl - i);
      ok = do_cipher(ctx, out, ctx->buf, bl) &&
           (whole == bl || do_cipher(ctx, out + bl, in + (bl - i), whole - bl));
    }
  } else {
    if (out + i != in) memmove(out + i, in, whole - i);
    memcpy(out, ctx->buf, i);
    ok = do_cipher(ctx, out, out, whole);
  }
  if (ok) {
    memcpy(ctx->buf, tail, rest);
    ctx->buf_len = static_cast<int>(rest);
    *outl = static_cast<int>(whole);
  }
  internal::wipe(tail, sizeof tail);
  return ok;
}

// A context that a data call can use: not null, set up with a description,
// and a count pointer to report through.  Else the reason is queued under
// `function` and false returned.
bool usable(const EVP_CIPHER_CTX* ctx, const int* outl, int function) {
  if (ctx == nullptr || outl == nullptr) {
    EVPerr(function, ERR_R_PASSED_NULL_PARAMETER);
    return false;
  }
  if (ctx->cipher == nullptr) {
    EVPerr(function, EVP_R_NO_CIPHER_SET);
    return false;
  }
  return true;
}

int no_multiple(int function) {
  EVPerr(function, EVP_R_DATA_NOT_MULTIPLE_OF_BLOCK_LENGTH);
  return 0;
}

}  // namespace
}  // namespace morvane::evp

using namespace morvane::evp;
using morvane::internal::wipe;
namespace ct = morvane::ct;

void EVP_CIPHER_CTX_init(EVP_CIPHER_CTX* ctx) {
  if (ctx != nullptr) memset(ctx, 0, sizeof *ctx);
}

EVP_CIPHER_CTX* EVP_CIPHER_CTX_new(void) {
  auto* ctx = static_cast<EVP_CIPHER_CTX*>(MORVANE_malloc(sizeof(EVP_CIPHER_CTX)));
  if (ctx != nullptr) EVP_CIPHER_CTX_init(ctx);
  return ctx;
}

void EVP_CIPHER_CTX_free(EVP_CIPHER_CTX* ctx) {
  if (ctx == nullptr) return;
  EVP_CIPHER_CTX_cleanup(ctx);
  MORVANE_free(ctx);
}

int EVP_CIPHER_CTX_cleanup(EVP_CIPHER_CTX* ctx) {
  if (ctx == nullptr) return 1;
  int ok = 1;
  if (ctx->cipher != nullptr && ctx->cipher->cleanup != nullptr && !ctx->cipher->cleanup(ctx))
    ok = 0;
  if (ctx->cipher_data != nullptr) {
    wipe(ctx->cipher_data, data_size(ctx->cipher));
    MORVANE_free(ctx->cipher_data);
  }
  if (ctx->engine != nullptr) ENGINE_finish(ctx->engine);
  wipe(ctx, sizeof *ctx);
  memset(ctx, 0, sizeof *ctx);
  return ok;
}

int EVP_CipherInit_ex(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* cipher, ENGINE* impl,
                      const unsigned char* key, const unsigned char* iv, int enc) {
  if (ctx == nullptr) {
    EVPerr(EVP_F_EVP_CIPHERINIT_EX, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (enc == -1)
    enc = ctx->encrypt;
  else
    ctx->encrypt = enc = enc != 0;
  const bool keep = ctx->engine != nullptr && ctx->cipher != nullptr &&
                    (cipher == nullptr || cipher->nid == ctx->cipher->nid);
  if (!keep) {
    if (cipher != nullptr) {
      if (!take_up(ctx, cipher, impl, enc)) return 0;
    } else if (ctx->cipher == nullptr) {
      EVPerr(EVP_F_EVP_CIPHERINIT_EX, EVP_R_NO_CIPHER_SET);
      return 0;
    }
  }
  MORVANE_assert(ctx->cipher->block_size == 1 || ctx->cipher->block_size == 8 ||
                 ctx->cipher->block_size == 16);
  if (!(ctx->cipher->flags & EVP_CIPH_CUSTOM_IV)) {
    switch (cipher_mode(ctx->cipher)) {
      case EVP_CIPH_STREAM_CIPHER:
      case EVP_CIPH_ECB_MODE:
        break;
      case EVP_CIPH_CFB_MODE:
      case EVP_CIPH_OFB_MODE:
        ctx->num = 0;
        [[fallthrough]];
      case EVP_CIPH_CBC_MODE:
        MORVANE_assert(EVP_CIPHER_CTX_iv_length(ctx) <= (int)sizeof(ctx->iv));
        if (iv != nullptr) memcpy(ctx->oiv, iv, EVP_CIPHER_CTX_iv_length(ctx));
        memcpy(ctx->iv, ctx->oiv, EVP_CIPHER_CTX_iv_length(ctx));
        break;
      default:
        return 0;
    }
  }
  if (key != nullptr || (ctx->cipher->flags & EVP_CIPH_ALWAYS_CALL_INIT)) {
    if (ctx->cipher->init == nullptr) {  // a description that takes no key
      EVPerr(EVP_F_EVP_CIPHERINIT_EX, EVP_R_OPERATION_NOT_SUPPORTED);
      return 0;
    }
    if (!ctx->cipher->init(ctx, key, iv, enc)) return 0;
  }
  ctx->buf_len = 0;
  ctx->final_used = 0;
  ctx->block_mask = ctx->cipher->block_size - 1;
  return 1;
}

int EVP_EncryptInit_ex(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* cipher, ENGINE* impl,
                       const unsigned char* key, const unsigned char* iv) {
  return EVP_CipherInit_ex(ctx, cipher, impl, key, iv, 1);
}

int EVP_DecryptInit_ex(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* cipher, ENGINE* impl,
                       const unsigned char* key, const unsigned char* iv) {
  return EVP_CipherInit_ex(ctx, cipher, impl, key, iv, 0);
}

int EVP_CipherInit(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* cipher, const unsigned char* key,
                   const unsigned char* iv, int enc) {
  if (cipher != nullptr) EVP_CIPHER_CTX_init(ctx);
  return EVP_CipherInit_ex(ctx, cipher, nullptr, key, iv, enc);
}

int EVP_EncryptInit(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* cipher, const unsigned char* key,
                    const unsigned char* iv) {
  return EVP_CipherInit(ctx, cipher, key, iv, 1);
}

int EVP_DecryptInit(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* cipher, const unsigned char* key,
                    const unsigned char* iv) {
  return EVP_CipherInit(ctx, cipher, key, iv, 0);
}

int EVP_EncryptUpdate(EVP_CIPHER_CTX* ctx, unsigned char* out, int* outl,
                      const unsigned char* in, int inl) {
  if (!usable(ctx, outl, EVP_F_EVP_ENCRYPTUPDATE)) return 0;
  *outl = 0;
  if (inl <= 0) return inl == 0;
  const size_t n = static_cast<size_t>(inl);
  if (!update_fits(out, in, n, whole_blocks(ctx, n), EVP_F_EVP_ENCRYPTUPDATE)) return 0;
  return buffer_blocks(ctx, out, outl, in, n);
}

int EVP_EncryptFinal_ex(EVP_CIPHER_CTX* ctx, unsigned char* out, int* outl) {
  if (!usable(ctx, outl, EVP_F_EVP_ENCRYPTFINAL_EX)) return 0;
  const int b = ctx->cipher->block_size;
  MORVANE_assert(b <= (int)sizeof ctx->buf);
  *outl = 0;
  if (b == 1) return 1;
  const int bl = ctx->buf_len;
  if (ctx->flags & EVP_CIPH_NO_PADDING) {
    if (bl != 0) return no_multiple(EVP_F_EVP_ENCRYPTFINAL_EX);
    return 1;
  }
  const int n = b - bl;
  memset(ctx->buf + bl, n, static_cast<size_t>(n));
  const int ret = do_cipher(ctx, out, ctx->buf, b);
  if (ret) *outl = b;
  return ret;
}

int EVP_EncryptFinal(EVP_CIPHER_CTX* ctx, unsigned char* out, int* outl) {
  return EVP_EncryptFinal_ex(ctx, out, outl);
}

int EVP_DecryptUpdate(EVP_CIPHER_CTX* ctx, unsigned char* out, int* outl,
                      const unsigned char* in, int inl) {
  if (!usable(ctx, outl, EVP_F_EVP_DECRYPTUPDATE)) return 0;
  *outl = 0;
  if (inl <= 0) return inl == 0;
  const size_t n_in = static_cast<size_t>(inl);
  const size_t b = static_cast<size_t>(ctx->cipher->block_size);
  MORVANE_assert(b <= sizeof ctx->final);
  if ((ctx->flags & EVP_CIPH_NO_PADDING) || b == 1) {
    if (!update_fits(out, in, n_in, whole_blocks(ctx, n_in), EVP_F_EVP_DECRYPTUPDATE)) return 0;
    return buffer_blocks(ctx, out, outl, in, n_in);
  }
  // A block held from the previous call goes out first; when the input ends
  // on a block boundary its last block is held back in turn.
  const bool held = ctx->final_used != 0;
  const size_t whole = whole_blocks(ctx, n_in);
  const bool hold = (static_cast<size_t>(ctx->buf_len) + n_in) % b == 0;
  if (!update_fits(out, in, n_in, (held ? b : 0) + whole - (hold ? b : 0),
                   EVP_F_EVP_DECRYPTUPDATE))
    return 0;
  // The block to hold back is taken aside before anything is written and
  // decrypted into `final`, so that nothing goes past the reported count.
  unsigned char last[EVP_MAX_BLOCK_LENGTH];
  size_t lead = n_in;
  if (hold && n_in >= b) {
    memcpy(last, in + n_in - b, b);
    lead = n_in - b;
  } else if (hold) {
    memcpy(last, ctx->buf, static_cast<size_t>(ctx->buf_len));
    memcpy(last + ctx->buf_len, in, n_in);
    ctx->buf_len = 0;
    lead = 0;
  }
  // When the output overlaps the input, the input is decrypted first and
  // moved up behind the held block after.
  const bool overlaps = held && overlap(out, n_in + b, in, n_in);
  unsigned char* dst = out;
  if (held && !overlaps) {
    memcpy(out, ctx->final, b);
    dst = out + b;
  }
  int n = 0;
  int ok = lead == 0 || buffer_blocks(ctx, dst, &n, in, lead);
  if (ok && overlaps) {
    memmove(out + b, out, static_cast<size_t>(n));
    memcpy(out, ctx->final, b);
  }
  if (ok && hold) ok = do_cipher(ctx, ctx->final, last, b);
  wipe(last, sizeof last);
  if (!ok) return 0;
  ctx->final_used = hold;
  *outl = held ? n + static_cast<int>(b) : n;
  return 1;
}

int EVP_DecryptFinal_ex(EVP_CIPHER_CTX* ctx, unsigned char* out, int* outl) {
  if (!usable(ctx, outl, EVP_F_EVP_DECRYPTFINAL_EX)) return 0;
  *outl = 0;
  const int b = ctx->cipher->block_size;
  if (ctx->flags & EVP_CIPH_NO_PADDING) {
    if (ctx->buf_len != 0) return no_multiple(EVP_F_EVP_DECRYPTFINAL_EX);
    return 1;
  }
  if (b <= 1) return 1;
  if (ctx->buf_len != 0 || !ctx->final_used) {
    EVPerr(EVP_F_EVP_DECRYPTFINAL_EX, EVP_R_WRONG_FINAL_BLOCK_LENGTH);
    return 0;
  }
  MORVANE_assert(b <= (int)sizeof ctx->final);
  // PKCS #5 padding (RFC 8018, 6.1.1) checked over the whole block with
  // masks: n, the last byte, must be 1 to b, and each of the last n bytes
  // must be n.  Only the verdict, and the length for good padding, become
  // public.
  const unsigned n = ctx->final[b - 1];
  const unsigned ub = static_cast<unsigned>(b);
  unsigned good = ~ct::zero_mask(n) & ~ct::lt_mask(ub, n);
  for (unsigned i = 0; i < ub; ++i) {
    const unsigned in_pad = ct::lt_mask(i, n);
    good &= ~in_pad | ct::eq_mask(static_cast<unsigned>(ctx->final[ub - 1 - i]), n);
  }
  if (!ct::declassify(good)) {
    EVPerr(EVP_F_EVP_DECRYPTFINAL_EX, EVP_R_BAD_DECRYPT);
    return 0;
  }
  const int len = b - static_cast<int>(ct::declassify(n));
  memcpy(out, ctx->final, static_cast<size_t>(len));
  *outl = len;
  return 1;
}

int EVP_DecryptFinal(EVP_CIPHER_CTX* ctx, unsigned char* out, int* outl) {
  return EVP_DecryptFinal_ex(ctx, out, outl);
}

int EVP_CipherUpdate(EVP_CIPHER_CTX* ctx, unsigned char* out, int* outl,
                     const unsigned char* in, int inl) {
  // A null context goes to the encrypting side, which refuses it.
  return ctx == nullptr || ctx->encrypt ? EVP_EncryptUpdate(ctx, out, outl, in, inl)
                                        : EVP_DecryptUpdate(ctx, out, outl, in, inl);
}

int EVP_CipherFinal_ex(EVP_CIPHER_CTX* ctx, unsigned char* out, int* outl) {
  return ctx == nullptr || ctx->encrypt ? EVP_EncryptFinal_ex(ctx, out, outl)
                                        : EVP_DecryptFinal_ex(ctx, out, outl);
}

int EVP_CipherFinal(EVP_CIPHER_CTX* ctx, unsigned char* out, int* outl) {
  return EVP_CipherFinal_ex(ctx, out, outl);
}

int EVP_Cipher(EVP_CIPHER_CTX* ctx, unsigned char* out, const unsigned char* in,
               unsigned int inl) {
  int unused = 0;
  if (!usable(ctx, &unused, EVP_F_EVP_CIPHER)) return 0;
  return ctx->cipher->do_cipher(ctx, out, in, inl);
}

int EVP_CIPHER_CTX_ctrl(EVP_CIPHER_CTX* ctx, int type, int arg, void* ptr) {
  if (ctx == nullptr) {
    EVPerr(EVP_F_EVP_CIPHER_CTX_CTRL, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (ctx->cipher == nullptr) {
    EVPerr(EVP_F_EVP_CIPHER_CTX_CTRL, EVP_R_NO_CIPHER_SET);
    return 0;
  }
  if (ctx->cipher->ctrl == nullptr) {
    EVPerr(EVP_F_EVP_CIPHER_CTX_CTRL, EVP_R_CTRL_NOT_IMPLEMENTED);
    return 0;
  }
  const int ret = ctx->cipher->ctrl(ctx, type, arg, ptr);
  if (ret == -1) {
    EVPerr(EVP_F_EVP_CIPHER_CTX_CTRL, EVP_R_CTRL_OPERATION_NOT_IMPLEMENTED);
    return 0;
  }
  return ret;
}

int EVP_CIPHER_CTX_set_key_length(EVP_CIPHER_CTX* ctx, int keylen) {
  if (ctx == nullptr) {
    EVPerr(EVP_F_EVP_CIPHER_CTX_SET_KEY_LENGTH, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (ctx->cipher != nullptr && (ctx->cipher->flags & EVP_CIPH_CUSTOM_KEY_LENGTH))
    return EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_SET_KEY_LENGTH, keylen, nullptr);
  if (ctx->key_len == keylen) return 1;
  if (keylen > 0 && ctx->cipher != nullptr && (ctx->cipher->flags & EVP_CIPH_VARIABLE_LENGTH)) {
    ctx->key_len = keylen;
    return 1;
  }
  EVPerr(EVP_F_EVP_CIPHER_CTX_SET_KEY_LENGTH, EVP_R_INVALID_KEY_LENGTH);
  return 0;
}

int EVP_CIPHER_CTX_set_padding(EVP_CIPHER_CTX* ctx, int pad) {
  if (ctx == nullptr) {
    EVPerr(EVP_F_EVP_CIPHER_CTX_SET_PADDING, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (pad)
    ctx->flags &= ~static_cast<unsigned long>(EVP_CIPH_NO_PADDING);
  else
    ctx->flags |= EVP_CIPH_NO_PADDING;
  return 1;
}

int EVP_CIPHER_CTX_rand_key(EVP_CIPHER_CTX* ctx, unsigned char* key) {
  int unused = 0;
  if (!usable(ctx, &unused, EVP_F_EVP_CIPHER_CTX_RAND_KEY)) return 0;
  if (ctx->cipher->flags & EVP_CIPH_RAND_KEY)
    return EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_RAND_KEY, 0, key);
  return RAND_bytes(key, ctx->key_len) > 0 ? 1 : 0;
}

int EVP_CIPHER_param_to_asn1(EVP_CIPHER_CTX* c, ASN1_TYPE* type) {
  int unused = 0;
  if (!usable(c, &unused, EVP_F_EVP_CIPHER_PARAM_TO_ASN1)) return -1;
  if (c->cipher->set_asn1_parameters != nullptr) return c->cipher->set_asn1_parameters(c, type);
  if (c->cipher->flags & EVP_CIPH_FLAG_DEFAULT_ASN1) return EVP_CIPHER_set_asn1_iv(c, type);
  return -1;
}

int EVP_CIPHER_asn1_to_param(EVP_CIPHER_CTX* c, ASN1_TYPE* type) {
  int unused = 0;
  if (!usable(c, &unused, EVP_F_EVP_CIPHER_ASN1_TO_PARAM)) return -1;
  if (c->cipher->get_asn1_parameters != nullptr) return c->cipher->get_asn1_parameters(c, type);
  if (c->cipher->flags & EVP_CIPH_FLAG_DEFAULT_ASN1) return EVP_CIPHER_get_asn1_iv(c, type);
  return -1;
}

int EVP_CIPHER_get_asn1_iv(EVP_CIPHER_CTX* c, ASN1_TYPE* type) {
  if (type == nullptr) return 0;
  int unused = 0;
  if (!usable(c, &unused, EVP_F_EVP_CIPHER_GET_ASN1_IV)) return -1;
  const int l = EVP_CIPHER_CTX_iv_length(c);
  MORVANE_assert(l <= (int)sizeof(c->iv));
  const int i = ASN1_TYPE_get_octetstring(type, c->oiv, l);
  if (i != l) return -1;
  if (i > 0) memcpy(c->iv, c->oiv, static_cast<size_t>(l));
  return i;
}

int EVP_CIPHER_set_asn1_iv(EVP_CIPHER_CTX* c, ASN1_TYPE* type) {
  if (type == nullptr) return 0;
  int unused = 0;
  if (!usable(c, &unused, EVP_F_EVP_CIPHER_SET_ASN1_IV)) return -1;
  const int j = EVP_CIPHER_CTX_iv_length(c);
  MORVANE_assert(j <= (int)sizeof(c->iv));
  return ASN1_TYPE_set_octetstring(type, c->oiv, j);
}

int EVP_CIPHER_type(const EVP_CIPHER* cipher) {
  if (cipher == nullptr) return 0;
  const int nid = cipher->nid;
  for (const TypeMapping& m : kTypeMappings)
    if (m.nid == nid) return m.type;
  ASN1_OBJECT* otmp = OBJ_nid2obj(nid);
  const int ret = otmp != nullptr && otmp->data != nullptr && otmp->length > 0 ? nid : 0;
  ASN1_OBJECT_free(otmp);
  return ret;
}

// The accessors answer 0 (or null) for a null description or context, and
// for a context without a description.
int EVP_CIPHER_nid(const EVP_CIPHER* cipher) { return cipher != nullptr ? cipher->nid : 0; }
int EVP_CIPHER_block_size(const EVP_CIPHER* cipher) {
  return cipher != nullptr ? cipher->block_size : 0;
}
int EVP_CIPHER_key_length(const EVP_CIPHER* cipher) {
  return cipher != nullptr ? cipher->key_len : 0;
}
int EVP_CIPHER_iv_length(const EVP_CIPHER* cipher) {
  return cipher != nullptr ? cipher->iv_len : 0;
}
unsigned long EVP_CIPHER_flags(const EVP_CIPHER* cipher) {
  return cipher != nullptr ? cipher->flags : 0;
}
const EVP_CIPHER* EVP_CIPHER_CTX_cipher(const EVP_CIPHER_CTX* ctx) {
  return ctx != nullptr ? ctx->cipher : nullptr;
}
int EVP_CIPHER_CTX_nid(const EVP_CIPHER_CTX* ctx) {
  return EVP_CIPHER_nid(EVP_CIPHER_CTX_cipher(ctx));
}
int EVP_CIPHER_CTX_block_size(const EVP_CIPHER_CTX* ctx) {
  return EVP_CIPHER_block_size(EVP_CIPHER_CTX_cipher(ctx));
}
int EVP_CIPHER_CTX_key_length(const EVP_CIPHER_CTX* ctx) {
  return ctx != nullptr ? ctx->key_len : 0;
}
int EVP_CIPHER_CTX_iv_length(const EVP_CIPHER_CTX* ctx) {
  return EVP_CIPHER_iv_length(EVP_CIPHER_CTX_cipher(ctx));
}
unsigned long EVP_CIPHER_CTX_flags(const EVP_CIPHER_CTX* ctx) {
  return EVP_CIPHER_flags(EVP_CIPHER_CTX_cipher(ctx));
}
void* EVP_CIPHER_CTX_get_app_data(const EVP_CIPHER_CTX* ctx) {
  return ctx != nullptr ? ctx->app_data : nullptr;
}
void EVP_CIPHER_CTX_set_app_data(EVP_CIPHER_CTX* ctx, void* data) {
  if (ctx != nullptr) ctx->app_data = data;
}
void EVP_CIPHER_CTX_set_flags(EVP_CIPHER_CTX* ctx, int flags) {
  if (ctx != nullptr) ctx->flags |= static_cast<unsigned long>(flags);
}
void EVP_CIPHER_CTX_clear_flags(EVP_CIPHER_CTX* ctx, int flags) {
  if (ctx != nullptr) ctx->flags &= ~static_cast<unsigned long>(flags);
}
int EVP_CIPHER_CTX_test_flags(const EVP_CIPHER_CTX* ctx, int flags) {
  return ctx != nullptr ? static_cast<int>(ctx->flags & static_cast<unsigned long>(flags)) : 0;
}
