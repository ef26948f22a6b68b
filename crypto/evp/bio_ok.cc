// The reliable filter: frames a stream into blocks, each sealed with a
// digest, after a handshake that proves both ends run the same digest, so
// that the reading end detects any change in the data.
//
// The stream: a handshake of md_size bytes of digest state (random chaining
// words, each sent most significant byte first) and the digest of a fixed
// text computed from that state; then blocks of a 4-byte big-endian length
// L (at most 4096), L data bytes and the digest of the data computed from
// an all-zero chaining state.
//
// Implementation notes: only the built-in digest descriptions are accepted
// (BIO_C_SET_MD refuses others): the filter writes chaining words into the
// description's private data, so it must know where they lie.  The null
// digest, which has none and would check nothing, is refused too.  Every block
// digest starts with the description's Init (which also sets the output
// length of SHA-224 to SHA-512) and then zeroes the chaining words.  A reader
// stops at the first handshake or block that does not check, at a length
// above 4096, and at a source that ends inside a block; BIO_CTRL_INFO then
// gives 0.

#include <stdint.h>
#include <string.h>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/md2.h>
#include <morvane/md4.h>
#include <morvane/md5.h>
#include <morvane/rand.h>
#include <morvane/ripemd.h>
#include <morvane/sha.h>

#include "evp/internal.h"
#include "internal/wipe.h"

namespace {

constexpr size_t kBlock = 4096;  // data bytes per block
constexpr size_t kLenSlot = 4;   // the block's length field
constexpr size_t kBufSize = kLenSlot + kBlock + 3 * EVP_MAX_MD_SIZE;

// The text the handshake digests.
constexpr char kWellKnown[] = "The quick brown fox jumped over the lazy dog's back.";
static_assert(sizeof(kWellKnown) - 1 == 52);

// ---- where the chaining words of the built-in digests lie -----------------

enum class Word { kByte, k32, k64 };  // MD2 keeps one byte value per word

struct Chain {
  const EVP_MD* (*md)();
  size_t offset;  // of the first word in the digest's context structure
  Word word;
  int words;  // chaining words in all
};

constexpr Chain kChains[] = {
    {EVP_md2, offsetof(MD2_CTX, state), Word::kByte, MD2_BLOCK},
    {EVP_md4, offsetof(MD4_CTX, A), Word::k32, 4},
    {EVP_md5, offsetof(MD5_CTX, A), Word::k32, 4},
    {EVP_sha, offsetof(SHA_CTX, h0), Word::k32, 5},
    {EVP_sha1, offsetof(SHA_CTX, h0), Word::k32, 5},
    {EVP_dss, offsetof(SHA_CTX, h0), Word::k32, 5},
    {EVP_dss1, offsetof(SHA_CTX, h0), Word::k32, 5},
    {EVP_ecdsa, offsetof(SHA_CTX, h0), Word::k32, 5},
    {EVP_sha224, offsetof(SHA256_CTX, h), Word::k32, 8},
    {EVP_sha256, offsetof(SHA256_CTX, h), Word::k32, 8},
    {EVP_sha384, offsetof(SHA512_CTX, h), Word::k64, 8},
    {EVP_sha512, offsetof(SHA512_CTX, h), Word::k64, 8},
    {EVP_ripemd160, offsetof(RIPEMD160_CTX, A), Word::k32, 5},
};
static_assert(offsetof(MD4_CTX, D) - offsetof(MD4_CTX, A) == 12);
static_assert(offsetof(SHA_CTX, h4) - offsetof(SHA_CTX, h0) == 16);
static_assert(offsetof(RIPEMD160_CTX, E) - offsetof(RIPEMD160_CTX, A) == 16);
static_assert(sizeof(MD2_INT) == sizeof(unsigned int));

const Chain* chain_of(const EVP_MD* md) {
  if (md == nullptr) return nullptr;
  for (const Chain& c : kChains) {
    if (c.md() == md) return &c;
  }
  return nullptr;
}

size_t word_size(Word w) {
  return w == Word::kByte ? 1 : w == Word::k32 ? 4 : 8;
}

// Sets the first n bytes' worth of chaining words from their wire form
// (most significant byte first); the rest stay as they are.
void load_words(const Chain& c, void* md_data, const unsigned char* in, size_t n) {
  auto* base = static_cast<unsigned char*>(md_data) + c.offset;
  const size_t w = word_size(c.word);
  for (size_t i = 0; i < static_cast<size_t>(c.words) && (i + 1) * w <= n; i++) {
    uint64_t v = 0;
    for (size_t j = 0; j < w; j++) v = v << 8 | in[i * w + j];
    if (c.word == Word::k64) {
      memcpy(base + i * 8, &v, 8);
    } else {
      const auto v32 = static_cast<unsigned int>(v);
      memcpy(base + i * 4, &v32, 4);
    }
  }
}

void zero_words(const Chain& c, void* md_data) {
  const size_t bytes = c.word == Word::k64 ? 8 : 4;
  memset(static_cast<unsigned char*>(md_data) + c.offset, 0, bytes * static_cast<size_t>(c.words));
}

// ---- the filter ------------------------------------------------------------

struct OkCtx {
  size_t buf_len;       // bytes in buf
  size_t buf_off;       // reading: start of undelivered data; writing: bytes written
  size_t buf_len_save;  // reading: buf_len when the current block was accepted
  size_t buf_off_save;  // reading: start of the bytes after the current block
  int cont;             // 1 while the stream is sound
  int finished;         // set by flush
  EVP_MD_CTX md;
  const Chain* chain;  // the digest's chaining words
  int blockout;        // writing: output waits; reading: a verified block is delivered
  int sigio;           // 1 until the handshake was sent or verified
  unsigned char buf[kBufSize];
};

OkCtx* state(BIO* b) {
  return static_cast<OkCtx*>(b->ptr);
}

size_t md_size(const OkCtx* ctx) {
  return static_cast<size_t>(EVP_MD_size(ctx->md.digest));
}

uint32_t load_be32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

int ok_new(BIO* b) {
  auto* ctx = static_cast<OkCtx*>(MORVANE_malloc(sizeof(OkCtx)));
  if (ctx == nullptr) {
    BIOerr(BIO_F_BIO_NEW, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  memset(ctx, 0, sizeof(*ctx));
  EVP_MD_CTX_init(&ctx->md);
  ctx->cont = 1;
  ctx->sigio = 1;
  b->init = 0;
  b->ptr = ctx;
  b->flags = 0;
  return 1;
}

int ok_free(BIO* b) {
  if (b == nullptr) return 0;
  if (OkCtx* ctx = state(b)) {
    EVP_MD_CTX_cleanup(&ctx->md);
    morvane::internal::wipe(ctx, sizeof(OkCtx));
    MORVANE_free(ctx);
  }
  b->ptr = nullptr;
  b->init = 0;
  b->flags = 0;
  return 1;
}

// The digest of `n` bytes from an all-zero chaining state, into `out`.
bool block_digest(OkCtx* ctx, const unsigned char* data, size_t n, unsigned char* out) {
  if (EVP_DigestInit_ex(&ctx->md, ctx->md.digest, nullptr) <= 0) return false;
  zero_words(*ctx->chain, ctx->md.md_data);
  return EVP_DigestUpdate(&ctx->md, data, n) > 0 && EVP_DigestFinal_ex(&ctx->md, out, nullptr) > 0;
}

// The digest of the fixed text from the chaining words given in `state`.
bool handshake_digest(OkCtx* ctx, const unsigned char* state, unsigned char* out) {
  if (EVP_DigestInit_ex(&ctx->md, ctx->md.digest, nullptr) <= 0) return false;
  load_words(*ctx->chain, ctx->md.md_data, state, md_size(ctx));
  return EVP_DigestUpdate(&ctx->md, kWellKnown, sizeof(kWellKnown) - 1) > 0 &&
         EVP_DigestFinal_ex(&ctx->md, out, nullptr) > 0;
}

// Writing: puts the handshake into buf.
void sig_out(OkCtx* ctx) {
  const size_t n = md_size(ctx);
  if (ctx->buf_len + 2 * n > kBlock) return;
  unsigned char* p = ctx->buf + ctx->buf_len;
  memset(p, 0, n);
  RAND_pseudo_bytes(p, static_cast<int>(n));
  if (!handshake_digest(ctx, p, p + n)) return;
  ctx->buf_len += 2 * n;
  ctx->blockout = 1;
  ctx->sigio = 0;
}

// Reading: checks the handshake once it is buffered.
void sig_in(OkCtx* ctx) {
  const size_t n = md_size(ctx);
  if (ctx->buf_len - ctx->buf_off < 2 * n) return;
  unsigned char digest[EVP_MAX_MD_SIZE];
  const unsigned char* p = ctx->buf + ctx->buf_off;
  if (!handshake_digest(ctx, p, digest) || memcmp(p + n, digest, n) != 0) {
    ctx->cont = 0;
    return;
  }
  ctx->buf_off += 2 * n;
  ctx->sigio = 0;
  memmove(ctx->buf, ctx->buf + ctx->buf_off, ctx->buf_len - ctx->buf_off);
  ctx->buf_len -= ctx->buf_off;
  ctx->buf_off = 0;
}

// Writing: seals the block in buf (its length slot and data).  A buffer
// without even the length slot holds no block under way.
void block_out(OkCtx* ctx) {
  if (ctx->buf_len < kLenSlot) return;
  const size_t tl = ctx->buf_len - kLenSlot;
  ctx->buf[0] = static_cast<unsigned char>(tl >> 24);
  ctx->buf[1] = static_cast<unsigned char>(tl >> 16);
  ctx->buf[2] = static_cast<unsigned char>(tl >> 8);
  ctx->buf[3] = static_cast<unsigned char>(tl);
  if (!block_digest(ctx, ctx->buf + kLenSlot, tl, ctx->buf + ctx->buf_len)) {
    ctx->cont = 0;
    return;
  }
  ctx->buf_len += md_size(ctx);
  ctx->blockout = 1;
}

// Reading: checks the block at the front of buf once it is buffered.
void block_in(OkCtx* ctx) {
  if (ctx->buf_len < kLenSlot) return;
  const size_t tl = load_be32(ctx->buf);
  if (tl > kBlock) {  // no writer makes such a block
    ctx->cont = 0;
    return;
  }
  const size_t n = md_size(ctx);
  if (ctx->buf_len < kLenSlot + tl + n) return;
  unsigned char digest[EVP_MAX_MD_SIZE];
  if (!block_digest(ctx, ctx->buf + kLenSlot, tl, digest) ||
      memcmp(ctx->buf + kLenSlot + tl, digest, n) != 0) {
    ctx->cont = 0;
    return;
  }
  ctx->buf_off_save = kLenSlot + tl + n;
  ctx->buf_len_save = ctx->buf_len;
  ctx->buf_off = kLenSlot;
  ctx->buf_len = kLenSlot + tl;
  ctx->blockout = 1;
}

int ok_read(BIO* b, char* out, int outl) {
  OkCtx* ctx = state(b);
  if (out == nullptr || ctx == nullptr || b->next_bio == nullptr || !b->init) return 0;
  int ret = 0;
  int last = 0;  // the source's result that stopped the read
  while (outl > 0) {
    if (ctx->blockout) {
      size_t i = ctx->buf_len - ctx->buf_off;
      if (i > static_cast<size_t>(outl)) i = static_cast<size_t>(outl);
      memcpy(out, ctx->buf + ctx->buf_off, i);
      ret += static_cast<int>(i);
      out += i;
      outl -= static_cast<int>(i);
      ctx->buf_off += i;
      if (ctx->buf_len == ctx->buf_off) {
        // The block is delivered: the bytes after it move to the front.
        const size_t rest = ctx->buf_len_save - ctx->buf_off_save;
        memmove(ctx->buf, ctx->buf + ctx->buf_off_save, rest);
        ctx->buf_len = rest;
        ctx->buf_off = 0;
        ctx->blockout = 0;
      }
      if (outl == 0) break;
      continue;
    }
    // Check what is buffered before asking for more.
    if (ctx->cont > 0 && ctx->sigio) sig_in(ctx);
    if (ctx->cont > 0 && !ctx->sigio) block_in(ctx);
    if (ctx->cont <= 0) break;
    if (ctx->blockout) continue;
    const int i =
        BIO_read(b->next_bio, ctx->buf + ctx->buf_len, static_cast<int>(kBufSize - ctx->buf_len));
    if (i <= 0) {
      // A source that ends inside the handshake or a block cut the stream.
      if (i == 0 && !BIO_should_retry(b->next_bio) && ctx->buf_len != 0) ctx->cont = 0;
      last = i;
      break;
    }
    ctx->buf_len += static_cast<size_t>(i);
  }
  BIO_clear_retry_flags(b);
  if (ret > 0) return ret;
  // A stream that failed a check, or was cut, has no clean end.
  if (ctx->cont <= 0) return -1;
  BIO_copy_next_retry(b);
  return morvane::bio::RetryIsNoEnd(b, last);
}

int ok_write(BIO* b, const char* data, int inl) {
  OkCtx* ctx = state(b);
  if (ctx == nullptr || b->next_bio == nullptr || !b->init) return 0;
  if (inl < 0) return inl;
  if (ctx->sigio) sig_out(ctx);
  auto in = reinterpret_cast<const unsigned char*>(data);
  size_t left = data != nullptr ? static_cast<size_t>(inl) : 0;
  do {
    BIO_clear_retry_flags(b);
    while (ctx->blockout && ctx->buf_len > ctx->buf_off) {
      const int i = BIO_write(b->next_bio, ctx->buf + ctx->buf_off,
                              static_cast<int>(ctx->buf_len - ctx->buf_off));
      if (i <= 0) {
        BIO_copy_next_retry(b);
        if (!BIO_should_retry(b)) ctx->cont = 0;
        return i < 0 ? i : -1;  // nothing written is no success
      }
      ctx->buf_off += static_cast<size_t>(i);
    }
    ctx->blockout = 0;
    if (ctx->buf_len == ctx->buf_off) {
      ctx->buf_len = kLenSlot;  // the length slot of the next block
      ctx->buf_off = 0;
    }
    if (left == 0) return 0;  // how a flush drains the output
    size_t n = kLenSlot + kBlock - ctx->buf_len;
    if (n > left) n = left;
    memcpy(ctx->buf + ctx->buf_len, in, n);
    ctx->buf_len += n;
    left -= n;
    in += n;
    if (ctx->buf_len >= kLenSlot + kBlock) {
      block_out(ctx);
      if (ctx->cont <= 0) return -1;
    }
  } while (left > 0);
  return inl;
}

long ok_ctrl(BIO* b, int cmd, long num, void* ptr) {
  OkCtx* ctx = state(b);
  if (ctx == nullptr) return 0;
  switch (cmd) {
    case BIO_CTRL_RESET:
      ctx->buf_len = ctx->buf_off = ctx->buf_len_save = ctx->buf_off_save = 0;
      ctx->cont = 1;
      ctx->finished = 0;
      ctx->blockout = 0;
      ctx->sigio = 1;
      return BIO_ctrl(b->next_bio, cmd, num, ptr);
    case BIO_CTRL_EOF:
      // Bytes held (a block being read, delivered or written) are no end;
      // a stream stopped at a check delivers nothing more.
      if (ctx->buf_len > ctx->buf_off && (ctx->cont > 0 || ctx->blockout)) return 0;
      return ctx->cont <= 0 ? 1 : BIO_ctrl(b->next_bio, cmd, num, ptr);
    case BIO_CTRL_PENDING:
    case BIO_CTRL_WPENDING:
      if (!ctx->blockout) return BIO_ctrl(b->next_bio, cmd, num, ptr);
      return ctx->buf_len > ctx->buf_off ? static_cast<long>(ctx->buf_len - ctx->buf_off) : 0;
    case BIO_CTRL_FLUSH: {
      if (!b->init) return 0;
      // A block under way (possibly empty) is sealed; nothing before the
      // first write or right after a flush.
      if (!ctx->blockout) block_out(ctx);
      long ret = 1;
      while (ctx->blockout) {
        const int i = ok_write(b, nullptr, 0);
        if (i < 0) {
          ret = i;
          break;
        }
      }
      ctx->finished = 1;
      ctx->buf_off = ctx->buf_len = 0;
      ctx->cont = static_cast<int>(ret);
      return BIO_ctrl(b->next_bio, cmd, num, ptr);
    }
    case BIO_CTRL_INFO:
      return ctx->cont;
    case BIO_C_SET_MD: {
      const auto* md = static_cast<const EVP_MD*>(ptr);
      const Chain* c = chain_of(md);
      // Only a built-in description, also when an engine would supply the
      // digest: the filter writes into the context's own chaining words.
      if (c == nullptr || EVP_DigestInit_ex(&ctx->md, md, nullptr) <= 0 ||
          chain_of(ctx->md.digest) != c)
        return 0;
      ctx->chain = c;
      b->init = 1;
      return 1;
    }
    case BIO_C_GET_MD:
      if (!b->init) return 0;
      *static_cast<const EVP_MD**>(ptr) = ctx->md.digest;
      return 1;
    case BIO_C_DO_STATE_MACHINE:
      return morvane::evp::forward_state_machine(b, cmd, num, ptr);
    default:
      return BIO_ctrl(b->next_bio, cmd, num, ptr);
  }
}

long ok_callback_ctrl(BIO* b, int cmd, bio_info_cb* fp) {
  return morvane::evp::forward_callback_ctrl(b, cmd, fp);
}

constinit BIO_METHOD methods_ok = {
    BIO_TYPE_CIPHER, "reliable", ok_write, ok_read, nullptr,
    nullptr,         ok_ctrl,    ok_new,   ok_free, ok_callback_ctrl,
};

}  // namespace

/* see morvane/evp.h */
BIO_METHOD* BIO_f_reliable(void) {
  return &methods_ok;
}
