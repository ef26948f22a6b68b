// The generic typed reader and writer under every PEM_read_bio_T and
// PEM_write_bio_T: the block-name rule by which a reader accepts a block,
// reading the bytes of the first matching block (decrypted), and encoding an
// object into one block (encrypted under a pass phrase when asked).

#include <limits.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pem.h>
#include <morvane/rand.h>

#include "internal/wipe.h"
#include "pem/internal.h"

namespace {

// Names a reader also accepts for the name it wants.
struct Alias {
  const char* wanted;
  const char* found;
};
constexpr Alias kAliases[] = {
    {PEM_STRING_X509, PEM_STRING_X509_OLD},     {PEM_STRING_X509_REQ, PEM_STRING_X509_REQ_OLD},
    {PEM_STRING_X509_TRUSTED, PEM_STRING_X509}, {PEM_STRING_X509_TRUSTED, PEM_STRING_X509_OLD},
    {PEM_STRING_PKCS7, PEM_STRING_X509},        {PEM_STRING_PKCS7, PEM_STRING_PKCS7_SIGNED},
};

// The header text, with its terminator, that PEM_ASN1_write_bio builds for
// a cipher: "Proc-Type: 4,ENCRYPTED\n" (23), "DEK-Info: " (10), the name, ","
// and the IV digits, "\n".
size_t encryption_header_size(size_t name_len, int iv_len) {
  return 36 + name_len + 2 * static_cast<size_t>(iv_len);
}

}  // namespace

namespace morvane::pem {

void free_block(char* name, char* header, unsigned char* data, long len) {
  MORVANE_free(name);
  MORVANE_free(header);
  if (data != nullptr) morvane::internal::wipe(data, static_cast<size_t>(len));
  MORVANE_free(data);
}

const PrivateKeyName* find_private_key_name(const char* name) {
  for (const PrivateKeyName& k : kPrivateKeyNames)
    if (strcmp(name, k.name) == 0) return &k;
  return nullptr;
}

bool check_pem(const char* found, const char* wanted) {
  if (strcmp(found, wanted) == 0) return true;
  if (strcmp(wanted, PEM_STRING_EVP_PKEY) == 0) return find_private_key_name(found) != nullptr;
  for (const Alias& a : kAliases)
    if (strcmp(wanted, a.wanted) == 0 && strcmp(found, a.found) == 0) return true;
  return false;
}

}  // namespace morvane::pem

/* see morvane/pem.h */
const char PEM_version[] = "PEM part of " MORVANE_VERSION_TEXT;

/* see morvane/pem.h */
int PEM_bytes_read_bio(unsigned char** pdata, long* plen, char** pnm, const char* name, BIO* bp,
                       pem_password_cb* cb, void* u) {
  char *nm = nullptr, *header = nullptr;
  unsigned char* data = nullptr;
  long len = 0;
  for (;;) {
    if (!PEM_read_bio(bp, &nm, &header, &data, &len)) {
      if (ERR_GET_REASON(ERR_peek_error()) == PEM_R_NO_START_LINE)
        ERR_add_error_data(2, "Expecting: ", name);
      return 0;
    }
    if (morvane::pem::check_pem(nm, name)) break;
    morvane::pem::free_block(nm, header, data, len);
  }
  EVP_CIPHER_INFO cipher;
  if (!PEM_get_EVP_CIPHER_INFO(header, &cipher) || !PEM_do_header(&cipher, data, &len, cb, u)) {
    morvane::pem::free_block(nm, header, data, len);
    return 0;
  }
  *pdata = data;
  *plen = len;
  if (pnm != nullptr)
    *pnm = nm;
  else
    MORVANE_free(nm);
  MORVANE_free(header);
  return 1;
}

/* see morvane/pem.h */
void* PEM_ASN1_read_bio(d2i_of_void* d2i, const char* name, BIO* bp, void** x, pem_password_cb* cb,
                        void* u) {
  unsigned char* data = nullptr;
  long len = 0;
  if (!PEM_bytes_read_bio(&data, &len, nullptr, name, bp, cb, u)) return nullptr;
  const unsigned char* p = data;
  void* ret = d2i(x, &p, len);
  if (ret == nullptr) PEMerr(PEM_F_PEM_ASN1_READ_BIO, ERR_R_ASN1_LIB);
  morvane::pem::free_block(nullptr, nullptr, data, len);
  return ret;
}

/* see morvane/pem.h */
void* PEM_ASN1_read(d2i_of_void* d2i, const char* name, FILE* fp, void** x, pem_password_cb* cb,
                    void* u) {
  return morvane::pem::on_file(fp, PEM_F_PEM_ASN1_READ, static_cast<void*>(nullptr),
                               [&](BIO* b) { return PEM_ASN1_read_bio(d2i, name, b, x, cb, u); });
}

/* see morvane/pem.h */
int PEM_ASN1_write_bio(i2d_of_void* i2d, const char* name, BIO* bp, char* x, const EVP_CIPHER* enc,
                       unsigned char* kstr, int klen, pem_password_cb* cb, void* u) {
  const char* cipher_name = nullptr;
  if (enc != nullptr) {
    cipher_name = OBJ_nid2sn(EVP_CIPHER_nid(enc));
    if (cipher_name == nullptr || !morvane::pem::cipher_fits(enc) ||
        encryption_header_size(strlen(cipher_name), EVP_CIPHER_iv_length(enc)) > PEM_BUFSIZE) {
      PEMerr(PEM_F_PEM_ASN1_WRITE_BIO, PEM_R_UNSUPPORTED_CIPHER);
      return 0;
    }
  }
  const int dsize = i2d(x, nullptr);
  if (dsize < 0) {
    PEMerr(PEM_F_PEM_ASN1_WRITE_BIO, ERR_R_ASN1_LIB);
    return 0;
  }
  // Room for the padding of one block of at most 16 bytes.
  const size_t room = static_cast<size_t>(dsize) + 20;
  auto* data = static_cast<unsigned char*>(MORVANE_malloc(room));
  if (data == nullptr) {
    PEMerr(PEM_F_PEM_ASN1_WRITE_BIO, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  unsigned char* p = data;
  int len = i2d(x, &p);

  char buf[PEM_BUFSIZE];
  unsigned char key[EVP_MAX_KEY_LENGTH];
  unsigned char iv[EVP_MAX_IV_LENGTH] = {};  // the salt is defined for short IVs
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  morvane::internal::Wiper wb(buf), wk(key), wi(iv);
  buf[0] = '\0';
  bool ok = len >= 0 && len == dsize && p - data == len;
  if (!ok) PEMerr(PEM_F_PEM_ASN1_WRITE_BIO, ERR_R_ASN1_LIB);
  if (ok && enc != nullptr) {
    if (kstr == nullptr) {
      klen = morvane::pem::get_pass_phrase(buf, 1, cb, u);
      kstr = reinterpret_cast<unsigned char*>(buf);
      if (klen == 0) klen = -1;
    }
    if (klen < 0) {
      PEMerr(PEM_F_PEM_ASN1_WRITE_BIO, PEM_R_READ_KEY);
      ok = false;
    }
  }
  if (ok && enc != nullptr) {
    const int iv_len = EVP_CIPHER_iv_length(enc);
    RAND_add(data, len, 0);
    ok = RAND_pseudo_bytes(iv, iv_len) >= 0 &&
         EVP_BytesToKey(enc, EVP_md5(), iv, kstr, klen, 1, key, nullptr) ==
             EVP_CIPHER_key_length(enc);
    if (kstr == reinterpret_cast<unsigned char*>(buf)) morvane::internal::wipe(buf);
    buf[0] = '\0';
    PEM_proc_type(buf, PEM_TYPE_ENCRYPTED);
    PEM_dek_info(buf, cipher_name, iv_len, reinterpret_cast<char*>(iv));
    int i = 0, j = 0;
    ok = ok && EVP_EncryptInit_ex(&ctx, enc, nullptr, key, iv) &&
         EVP_EncryptUpdate(&ctx, data, &i, data, len) && EVP_EncryptFinal_ex(&ctx, data + i, &j);
    len = i + j;
  }
  if (ok) ok = PEM_write_bio(bp, name, buf, data, len) > 0;
  EVP_CIPHER_CTX_cleanup(&ctx);
  morvane::internal::wipe(data, room);
  MORVANE_free(data);
  return ok ? 1 : 0;
}

/* see morvane/pem.h */
int PEM_ASN1_write(i2d_of_void* i2d, const char* name, FILE* fp, char* x, const EVP_CIPHER* enc,
                   unsigned char* kstr, int klen, pem_password_cb* cb, void* u) {
  return morvane::pem::on_file(fp, PEM_F_PEM_ASN1_WRITE, 0, [&](BIO* b) {
    return PEM_ASN1_write_bio(i2d, name, b, x, enc, kstr, klen, cb, u);
  });
}
