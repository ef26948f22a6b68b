// Pass-phrase encryption of PEM bodies (RFC 1421, 4.6.1): the Proc-Type and
// DEK-Info header lines, their parsing into an EVP_CIPHER_INFO, decryption
// in place with a key derived from the pass phrase, and the default
// pass-phrase callback.
//
// Implementation notes: the IV area of EVP_CIPHER_INFO is 16 bytes and its
// first 8 bytes are the salt of the key derivation, whatever the cipher's IV
// length; it is zeroed before the IV is read, so that the salt of a cipher
// with a shorter IV (or none) is defined.  Ciphers that do not fit the fixed
// areas are refused rather than read past them.

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pem.h>

#include "internal/wipe.h"
#include "pem/internal.h"

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// The shortest phrase the prompt accepts.
constexpr size_t kMinPhrase = 4;

// The value of a hexadecimal digit of either case, or -1.
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Characters of a cipher name in a DEK-Info line.
bool name_char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// Reads 2 * n hexadecimal digits into the 16-byte area `to`, zeroed first,
// the first digit of each pair into the high nibble.
bool load_iv(const char* from, unsigned char* to, int n) {
  memset(to, 0, EVP_MAX_IV_LENGTH);
  for (int i = 0; i < 2 * n; i++) {
    const int v = hex_value(from[i]);
    if (v < 0) {
      PEMerr(PEM_F_LOAD_IV, PEM_R_BAD_IV_CHARS);
      return false;
    }
    to[i / 2] |= static_cast<unsigned char>(v << ((i & 1) != 0 ? 0 : 4));
  }
  return true;
}

}  // namespace

namespace morvane::pem {

bool cipher_fits(const EVP_CIPHER* enc) {
  const int iv = EVP_CIPHER_iv_length(enc), key = EVP_CIPHER_key_length(enc);
  return iv >= 0 && iv <= EVP_MAX_IV_LENGTH && key >= 0 && key <= EVP_MAX_KEY_LENGTH &&
         enc->block_size >= 0 && enc->block_size <= 16;
}

int get_pass_phrase(char* buf, int w, pem_password_cb* cb, void* u) {
  const int n =
      cb != nullptr ? cb(buf, PEM_BUFSIZE, w, u) : PEM_def_callback(buf, PEM_BUFSIZE, w, u);
  return n > 0 && n <= PEM_BUFSIZE ? n : 0;
}

}  // namespace morvane::pem

/* see morvane/pem.h */
void PEM_proc_type(char* buf, int type) {
  const char* word = "BAD-TYPE";
  if (type == PEM_TYPE_ENCRYPTED)
    word = "ENCRYPTED";
  else if (type == PEM_TYPE_MIC_CLEAR)
    word = "MIC-CLEAR";
  else if (type == PEM_TYPE_MIC_ONLY)
    word = "MIC-ONLY";
  BUF_strlcat(buf, "Proc-Type: 4,", PEM_BUFSIZE);
  BUF_strlcat(buf, word, PEM_BUFSIZE);
  BUF_strlcat(buf, "\n", PEM_BUFSIZE);
}

/* see morvane/pem.h */
void PEM_dek_info(char* buf, const char* type, int len, char* str) {
  BUF_strlcat(buf, "DEK-Info: ", PEM_BUFSIZE);
  BUF_strlcat(buf, type, PEM_BUFSIZE);
  BUF_strlcat(buf, ",", PEM_BUFSIZE);
  if (len < 0) return;
  const size_t j = strlen(buf), n = static_cast<size_t>(len);
  // The digits, the line feed and the terminator must all fit.
  if (j + 2 * n + 2 > PEM_BUFSIZE) return;
  for (size_t i = 0; i < n; i++) {
    const auto b = static_cast<unsigned char>(str[i]);
    buf[j + 2 * i] = kHex[b >> 4];
    buf[j + 2 * i + 1] = kHex[b & 0x0f];
  }
  buf[j + 2 * n] = '\n';
  buf[j + 2 * n + 1] = '\0';
}

/* see morvane/pem.h */
int PEM_get_EVP_CIPHER_INFO(char* header, EVP_CIPHER_INFO* cipher) {
  cipher->cipher = nullptr;
  if (header == nullptr || *header == '\0' || *header == '\n') return 1;
  if (strncmp(header, "Proc-Type: ", 11) != 0) {
    PEMerr(PEM_F_PEM_GET_EVP_CIPHER_INFO, PEM_R_NOT_PROC_TYPE);
    return 0;
  }
  header += 11;
  // Only version 4 is known; another is no error of ours.
  if (header[0] != '4' || header[1] != ',') return 0;
  header += 2;
  if (strncmp(header, "ENCRYPTED", 9) != 0) {
    PEMerr(PEM_F_PEM_GET_EVP_CIPHER_INFO, PEM_R_NOT_ENCRYPTED);
    return 0;
  }
  while (*header != '\n' && *header != '\0') header++;
  if (*header == '\0') {
    PEMerr(PEM_F_PEM_GET_EVP_CIPHER_INFO, PEM_R_SHORT_HEADER);
    return 0;
  }
  header++;
  if (strncmp(header, "DEK-Info: ", 10) != 0) {
    PEMerr(PEM_F_PEM_GET_EVP_CIPHER_INFO, PEM_R_NOT_DEK_INFO);
    return 0;
  }
  header += 10;
  size_t n = 0;
  while (name_char(header[n])) n++;
  char* name = BUF_strndup(header, n);
  if (name == nullptr) {
    PEMerr(PEM_F_PEM_GET_EVP_CIPHER_INFO, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  const EVP_CIPHER* enc = EVP_get_cipherbyname(name);
  MORVANE_free(name);
  header += n;
  // The separator (normally ","), whatever it is, but never the end of the
  // text: the IV would be read past it.
  if (*header != '\0') header++;
  if (enc == nullptr || !morvane::pem::cipher_fits(enc)) {
    PEMerr(PEM_F_PEM_GET_EVP_CIPHER_INFO, PEM_R_UNSUPPORTED_ENCRYPTION);
    return 0;
  }
  if (!load_iv(header, cipher->iv, EVP_CIPHER_iv_length(enc))) return 0;
  cipher->cipher = enc;
  return 1;
}

/* see morvane/pem.h */
int PEM_do_header(EVP_CIPHER_INFO* cipher, unsigned char* data, long* plen, pem_password_cb* cb,
                  void* u) {
  const EVP_CIPHER* enc = cipher->cipher;
  if (enc == nullptr) return 1;
  if (!morvane::pem::cipher_fits(enc)) {
    PEMerr(PEM_F_PEM_DO_HEADER, PEM_R_UNSUPPORTED_ENCRYPTION);
    return 0;
  }
  const long len = *plen;
  if (len < 0 || len > INT_MAX) {
    PEMerr(PEM_F_PEM_DO_HEADER, PEM_R_BAD_DECRYPT);
    return 0;
  }
  char buf[PEM_BUFSIZE];
  unsigned char key[EVP_MAX_KEY_LENGTH];
  morvane::internal::Wiper wb(buf), wk(key);
  const int klen = morvane::pem::get_pass_phrase(buf, 0, cb, u);
  if (klen == 0) {
    PEMerr(PEM_F_PEM_DO_HEADER, PEM_R_BAD_PASSWORD_READ);
    return 0;
  }
  // The salt is the first 8 bytes of the IV area.
  bool ok = EVP_BytesToKey(enc, EVP_md5(), cipher->iv, reinterpret_cast<unsigned char*>(buf), klen,
                           1, key, nullptr) == EVP_CIPHER_key_length(enc);
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  int i = 0, j = 0;
  ok = ok && EVP_DecryptInit_ex(&ctx, enc, nullptr, key, cipher->iv) &&
       EVP_DecryptUpdate(&ctx, data, &i, data, static_cast<int>(len)) &&
       EVP_DecryptFinal_ex(&ctx, data + i, &j);
  EVP_CIPHER_CTX_cleanup(&ctx);
  if (!ok) {
    PEMerr(PEM_F_PEM_DO_HEADER, PEM_R_BAD_DECRYPT);
    return 0;
  }
  *plen = static_cast<long>(i) + j;
  return 1;
}

/* see morvane/pem.h */
int PEM_def_callback(char* buf, int num, int w, void* key) {
  const size_t room = num > 0 ? static_cast<size_t>(num) : 0;
  if (key != nullptr) {
    size_t n = strlen(static_cast<const char*>(key));
    if (n > room) n = room;
    memcpy(buf, key, n);
    return static_cast<int>(n);
  }
  const char* prompt = EVP_get_pw_prompt();
  if (prompt == nullptr) prompt = "Enter PEM pass phrase:";
  for (;;) {
    if (EVP_read_pw_string(buf, num, prompt, w) != 0) {
      PEMerr(PEM_F_PEM_DEF_CALLBACK, PEM_R_PROBLEMS_GETTING_PASSWORD);
      morvane::internal::wipe_to_zero(buf, room);
      return -1;
    }
    const size_t n = strlen(buf);
    if (n >= kMinPhrase) return static_cast<int>(n);
    fprintf(stderr, "phrase is too short, needs to be at least %d chars\n",
            static_cast<int>(kMinPhrase));
  }
}
