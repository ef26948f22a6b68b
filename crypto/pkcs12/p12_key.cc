// The PKCS#12 key derivation (RFC 7292, Appendix B.2) and the BMPString
// conversions of pass phrases (RFC 7292, B.1).
//
// Implementation notes: I is the salt and the password, each repeated to a
// whole number of v-byte blocks; between rounds every block of I gets B + 1
// added modulo 2^(8v), which is done here byte by byte from the right, the
// carry of the top byte dropped.

#include <limits.h>
#include <string.h>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pkcs12.h>

namespace {

// Holds a heap block and wipes and frees it on every return path.
struct SecretBuf {
  unsigned char* p = nullptr;
  size_t n = 0;
  SecretBuf() = default;
  SecretBuf(const SecretBuf&) = delete;
  SecretBuf& operator=(const SecretBuf&) = delete;
  bool alloc(size_t len) {
    n = len;
    p = static_cast<unsigned char*>(MORVANE_malloc(len == 0 ? 1 : len));
    return p != nullptr;
  }
  ~SecretBuf() {
    if (p != nullptr) {
      MORVANE_cleanse(p, n);
      MORVANE_free(p);
    }
  }
};

// Number of bytes of `len` rounded up to whole v-byte blocks (0 stays 0).
size_t whole_blocks(size_t len, size_t v) {
  return len == 0 ? 0 : v * ((len + v - 1) / v);
}

// block = (block + b1) mod 2^(8v), both v bytes big-endian; b1 already
// holds B + 1.
void add_block(unsigned char* block, const unsigned char* b1, size_t v) {
  unsigned carry = 0;
  for (size_t i = v; i-- > 0;) {
    carry += static_cast<unsigned>(block[i]) + b1[i];
    block[i] = static_cast<unsigned char>(carry);
    carry >>= 8;
  }
}

}  // namespace

/* see morvane/pkcs12.h */
int PKCS12_key_gen_uni(unsigned char* pass, int passlen, unsigned char* salt, int saltlen, int id,
                       int iter, int n, unsigned char* out, const EVP_MD* md_type) {
  if (passlen < 0 || saltlen < 0 || n < 0) {
    PKCS12err(PKCS12_F_PKCS12_KEY_GEN_UNI, PKCS12_R_INVALID_LENGTH);
    return 0;
  }
  if (md_type == nullptr || (passlen > 0 && pass == nullptr) || (saltlen > 0 && salt == nullptr) ||
      (n > 0 && out == nullptr)) {
    PKCS12err(PKCS12_F_PKCS12_KEY_GEN_UNI, PKCS12_R_INVALID_NULL_ARGUMENT);
    return 0;
  }
  const int ui = EVP_MD_size(md_type);
  const int vi = EVP_MD_block_size(md_type);
  if (ui <= 0 || vi <= 0) {
    PKCS12err(PKCS12_F_PKCS12_KEY_GEN_UNI, PKCS12_R_INVALID_NULL_ARGUMENT);
    return 0;
  }
  const size_t u = static_cast<size_t>(ui), v = static_cast<size_t>(vi);
  const size_t slen = whole_blocks(static_cast<size_t>(saltlen), v);
  const size_t plen = whole_blocks(static_cast<size_t>(passlen), v);
  SecretBuf d, a, b, I;
  if (!d.alloc(v) || !a.alloc(u) || !b.alloc(v) || !I.alloc(slen + plen)) {
    PKCS12err(PKCS12_F_PKCS12_KEY_GEN_UNI, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  memset(d.p, id, v);
  for (size_t i = 0; i < slen; i++) I.p[i] = salt[i % static_cast<size_t>(saltlen)];
  for (size_t i = 0; i < plen; i++) I.p[slen + i] = pass[i % static_cast<size_t>(passlen)];

  EVP_MD_CTX ctx;
  EVP_MD_CTX_init(&ctx);
  int ok = 0;
  size_t left = static_cast<size_t>(n);
  for (;;) {
    unsigned int got = 0;
    if (!EVP_DigestInit_ex(&ctx, md_type, nullptr) || !EVP_DigestUpdate(&ctx, d.p, v) ||
        !EVP_DigestUpdate(&ctx, I.p, I.n) || !EVP_DigestFinal_ex(&ctx, a.p, &got))
      break;
    bool round_ok = true;
    for (int j = 1; round_ok && j < iter; j++)
      round_ok = EVP_DigestInit_ex(&ctx, md_type, nullptr) && EVP_DigestUpdate(&ctx, a.p, u) &&
                 EVP_DigestFinal_ex(&ctx, a.p, &got);
    if (!round_ok) break;
    const size_t take = left < u ? left : u;
    memcpy(out, a.p, take);
    if (u >= left) {
      ok = 1;
      break;
    }
    left -= u;
    out += u;
    // B = A repeated to v bytes, then B + 1.
    for (size_t j = 0; j < v; j++) b.p[j] = a.p[j % u];
    for (size_t j = v; j-- > 0;)
      if (++b.p[j] != 0) break;
    for (size_t j = 0; j < I.n; j += v) add_block(I.p + j, b.p, v);
  }
  EVP_MD_CTX_cleanup(&ctx);
  return ok;
}

/* see morvane/pkcs12.h */
int PKCS12_key_gen_asc(const char* pass, int passlen, unsigned char* salt, int saltlen, int id,
                       int iter, int n, unsigned char* out, const EVP_MD* md_type) {
  // -1 takes the text's length; the BMPString must fit an int.  A length
  // below -1 is refused with or without text.
  if (passlen < -1) {
    PKCS12err(PKCS12_F_PKCS12_KEY_GEN_ASC, PKCS12_R_INVALID_LENGTH);
    return 0;
  }
  if (pass == nullptr)
    return PKCS12_key_gen_uni(nullptr, 0, salt, saltlen, id, iter, n, out, md_type);
  const size_t len = passlen == -1 ? strlen(pass) : static_cast<size_t>(passlen);
  if (len > (static_cast<size_t>(INT_MAX) - 2) / 2) {
    PKCS12err(PKCS12_F_PKCS12_KEY_GEN_ASC, PKCS12_R_INVALID_LENGTH);
    return 0;
  }
  unsigned char* uni = nullptr;
  int unilen = 0;
  if (asc2uni(pass, static_cast<int>(len), &uni, &unilen) == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_KEY_GEN_ASC, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  const int ok = PKCS12_key_gen_uni(uni, unilen, salt, saltlen, id, iter, n, out, md_type);
  MORVANE_cleanse(uni, static_cast<size_t>(unilen));
  MORVANE_free(uni);
  return ok;
}

/* see morvane/pkcs12.h */
unsigned char* asc2uni(const char* asc, int asclen, unsigned char** uni, int* unilen) {
  if (asc == nullptr) return nullptr;
  size_t len = 0;
  if (asclen == -1)
    len = strlen(asc);
  else if (asclen >= 0)
    len = static_cast<size_t>(asclen);
  else
    return nullptr;
  if (len > (static_cast<size_t>(INT_MAX) - 2) / 2) return nullptr;
  const size_t ulen = 2 * len + 2;
  auto* buf = static_cast<unsigned char*>(MORVANE_malloc(ulen));
  if (buf == nullptr) return nullptr;
  for (size_t i = 0; i < len; i++) {
    buf[2 * i] = 0;
    buf[2 * i + 1] = static_cast<unsigned char>(asc[i]);
  }
  buf[ulen - 2] = 0;
  buf[ulen - 1] = 0;
  if (unilen != nullptr) *unilen = static_cast<int>(ulen);
  if (uni != nullptr) *uni = buf;
  return buf;
}

/* see morvane/pkcs12.h */
char* uni2asc(unsigned char* uni, int unilen) {
  // An odd length leaves a byte that completes no character: refused.
  if (uni == nullptr || unilen < 0 || (unilen & 1) != 0) return nullptr;
  size_t asclen = static_cast<size_t>(unilen) / 2;
  if (unilen == 0 || uni[unilen - 1] != 0) asclen++;
  auto* asc = static_cast<char*>(MORVANE_malloc(asclen));
  if (asc == nullptr) return nullptr;
  for (size_t i = 0; i + 1 < static_cast<size_t>(unilen); i += 2)
    asc[i / 2] = static_cast<char>(uni[i + 1]);
  asc[asclen - 1] = 0;
  return asc;
}
