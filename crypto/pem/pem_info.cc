// Mixed PEM files: every certificate, revocation list and private key of a
// file read into a stack of X509_INFO records (a key is paired with the
// certificate next to it), and one record written back.  The certificate
// store's loader reads with read_info_lenient, which passes over a block
// that does not read instead of failing the whole file.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pem.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "internal/err_mark.h"
#include "internal/err_watch.h"
#include "internal/wipe.h"
#include "pem/internal.h"

namespace {

enum class Slot { kNone, kCert, kCrl, kKey };

// A header longer than this holds an encryption header (its "Proc-Type:"
// line alone is longer).
constexpr size_t kPlainHeaderMax = 10;

bool slot_filled(const X509_INFO* xi, Slot slot) {
  switch (slot) {
    case Slot::kCert:
      return xi->x509 != nullptr;
    case Slot::kCrl:
      return xi->crl != nullptr;
    case Slot::kKey:
      return xi->x_pkey != nullptr;
    case Slot::kNone:
      break;
  }
  return false;
}

bool holds_something(const X509_INFO* xi) {
  return xi->x509 != nullptr || xi->crl != nullptr || xi->x_pkey != nullptr ||
         xi->enc_data != nullptr;
}

// Decodes a key block into the record's key holder.  An encrypted block
// stays as it is: its cipher and IV go to enc_cipher and its bytes move to
// enc_data (*data is then null).  False on a failure (queued).
bool read_key(X509_INFO* xi, int pkey_type, const char* header, unsigned char** data, long len) {
  xi->enc_data = nullptr;
  xi->enc_len = 0;
  xi->x_pkey = X509_PKEY_new();
  if (xi->x_pkey == nullptr) return false;
  EVP_PKEY* pk = EVP_PKEY_new();
  if (pk == nullptr) return false;
  xi->x_pkey->dec_pkey = pk;
  pk->save_type = pkey_type;
  pk->type = EVP_PKEY_type(pkey_type);
  if (strlen(header) > kPlainHeaderMax) {
    if (!PEM_get_EVP_CIPHER_INFO(const_cast<char*>(header), &xi->enc_cipher)) return false;
    if (len > INT_MAX) {
      PEMerr(PEM_F_PEM_X509_INFO_READ_BIO, ERR_R_ASN1_LIB);
      return false;
    }
    xi->enc_data = reinterpret_cast<char*>(*data);
    xi->enc_len = static_cast<int>(len);
    *data = nullptr;
    return true;
  }
  const unsigned char* p = *data;
  void* key = nullptr;
  switch (pkey_type) {
    case EVP_PKEY_RSA:
      key = d2i_RSAPrivateKey(&pk->pkey.rsa, &p, len);
      break;
    case EVP_PKEY_DSA:
      key = d2i_DSAPrivateKey(&pk->pkey.dsa, &p, len);
      break;
    default:
      key = d2i_ECPrivateKey(&pk->pkey.ec, &p, len);
      break;
  }
  if (key == nullptr) {
    PEMerr(PEM_F_PEM_X509_INFO_READ_BIO, ERR_R_ASN1_LIB);
    return false;
  }
  return true;
}

// Decrypts (when its header says so) and decodes a certificate or
// revocation-list block into its slot.
bool read_other(X509_INFO* xi, Slot slot, bool trusted, char* header, unsigned char* data, long len,
                pem_password_cb* cb, void* u) {
  EVP_CIPHER_INFO cipher;
  if (!PEM_get_EVP_CIPHER_INFO(header, &cipher) || !PEM_do_header(&cipher, data, &len, cb, u))
    return false;
  const unsigned char* p = data;
  void* obj = nullptr;
  if (slot == Slot::kCrl)
    obj = d2i_X509_CRL(&xi->crl, &p, len);
  else if (trusted)
    obj = d2i_X509_AUX(&xi->x509, &p, len);
  else
    obj = d2i_X509(&xi->x509, &p, len);
  if (obj == nullptr) {
    PEMerr(PEM_F_PEM_X509_INFO_READ_BIO, ERR_R_ASN1_LIB);
    return false;
  }
  return true;
}

// Empties the slot of a block that did not read.
void clear_slot(X509_INFO* xi, Slot slot) {
  switch (slot) {
    case Slot::kCert:
      X509_free(xi->x509);
      xi->x509 = nullptr;
      break;
    case Slot::kCrl:
      X509_CRL_free(xi->crl);
      xi->crl = nullptr;
      break;
    case Slot::kKey:
      X509_PKEY_free(xi->x_pkey);
      xi->x_pkey = nullptr;
      memset(&xi->enc_cipher, 0, sizeof(xi->enc_cipher));
      break;
    case Slot::kNone:
      break;
  }
}

// What a lenient read reports besides its records.
struct Lenient {
  int unread = 0;     // blocks passed over
  bool ended = true;  // the input was read to its end
};

// PEM_X509_INFO_read_bio, and read_info_lenient when lenient is given.
STACK* read_info(BIO* bp, STACK* sk, pem_password_cb* cb, void* u, Lenient* lenient) {
  STACK* ret = sk != nullptr ? sk : sk_new_null();
  if (ret == nullptr) {
    PEMerr(PEM_F_PEM_X509_INFO_READ_BIO, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  // Records of the caller's stack stay as they are whatever happens; only
  // those pushed here are removed on failure.
  const int first = sk_num(ret);
  X509_INFO* xi = X509_INFO_new();
  bool ok = xi != nullptr;
  // The end of the input shows as "no start line" alone, which is removed
  // from the queue; errors (and marks) queued before this call stay, and
  // so do the reasons of the blocks a lenient read passed over.  A stream
  // that failed queued its own error first: that is no end, and the call
  // fails with it (a lenient read keeps what it read before).
  morvane::internal::ErrorMark mark;
  while (ok) {
    char *name = nullptr, *header = nullptr;
    unsigned char* data = nullptr;
    long len = 0;
    morvane::internal::ErrorMark read_mark;
    const morvane::internal::MallocFailureWatch read_watch;
    if (!PEM_read_bio(bp, &name, &header, &data, &len)) {
      const morvane::pem::ReadEnd how = morvane::pem::read_end(read_mark);
      if (how == morvane::pem::ReadEnd::kEnd) {
        if (lenient == nullptr)
          mark.pop();
        else
          read_mark.pop();
      } else if (lenient != nullptr && how == morvane::pem::ReadEnd::kBrokenBlock) {
        lenient->unread++;
        continue;
      } else if (lenient != nullptr && !read_watch.seen()) {
        // A stream that failed: what was read before it is kept.  Memory
        // that ran short fails the read, as it would the next block.
        lenient->ended = false;
      } else {
        ok = false;
      }
      break;
    }
    Slot slot = Slot::kNone;
    bool trusted = false;
    int pkey_type = 0;
    if (strcmp(name, PEM_STRING_X509) == 0 || strcmp(name, PEM_STRING_X509_OLD) == 0) {
      slot = Slot::kCert;
    } else if (strcmp(name, PEM_STRING_X509_TRUSTED) == 0) {
      slot = Slot::kCert;
      trusted = true;
    } else if (strcmp(name, PEM_STRING_X509_CRL) == 0) {
      slot = Slot::kCrl;
    } else if (strcmp(name, PEM_STRING_RSA) == 0) {
      slot = Slot::kKey;
      pkey_type = EVP_PKEY_RSA;
    } else if (strcmp(name, PEM_STRING_DSA) == 0) {
      slot = Slot::kKey;
      pkey_type = EVP_PKEY_DSA;
    } else if (strcmp(name, PEM_STRING_ECPRIVATEKEY) == 0) {
      slot = Slot::kKey;
      pkey_type = EVP_PKEY_EC;
    }
    if (slot != Slot::kNone && slot_filled(xi, slot)) {
      if (!sk_push(ret, reinterpret_cast<char*>(xi))) {
        PEMerr(PEM_F_PEM_X509_INFO_READ_BIO, ERR_R_MALLOC_FAILURE);
        ok = false;
      } else {
        xi = X509_INFO_new();
        ok = xi != nullptr;
      }
    }
    const morvane::internal::MallocFailureWatch watch;
    bool block_read = true;
    if (ok && slot == Slot::kKey)
      block_read = read_key(xi, pkey_type, header, &data, len);
    else if (ok && slot != Slot::kNone)
      block_read = read_other(xi, slot, trusted, header, data, len, cb, u);
    if (!block_read) {
      // A lenient read passes over a block that does not read, unless
      // memory ran short.
      if (lenient != nullptr && !watch.seen()) {
        clear_slot(xi, slot);
        lenient->unread++;
      } else {
        ok = false;
      }
    }
    morvane::pem::free_block(name, header, data, len);
  }
  if (ok) {
    if (holds_something(xi)) {
      if (!sk_push(ret, reinterpret_cast<char*>(xi))) {
        PEMerr(PEM_F_PEM_X509_INFO_READ_BIO, ERR_R_MALLOC_FAILURE);
        ok = false;
      } else {
        xi = nullptr;
      }
    }
  }
  X509_INFO_free(xi);
  if (ok) return ret;
  while (sk_num(ret) > first) X509_INFO_free(reinterpret_cast<X509_INFO*>(sk_pop(ret)));
  if (ret != sk) sk_free(ret);
  return nullptr;
}

}  // namespace

/* see morvane/pem.h */
STACK* PEM_X509_INFO_read_bio(BIO* bp, STACK* sk, pem_password_cb* cb, void* u) {
  return read_info(bp, sk, cb, u, nullptr);
}

namespace morvane::pem {

STACK* read_info_lenient(BIO* bp, pem_password_cb* cb, void* u, int* unread, bool* ended) {
  Lenient lenient;
  STACK* ret = read_info(bp, nullptr, cb, u, &lenient);
  *unread = lenient.unread;
  *ended = lenient.ended;
  return ret;
}

}  // namespace morvane::pem

/* see morvane/pem.h */
STACK* PEM_X509_INFO_read(FILE* fp, STACK* sk, pem_password_cb* cb, void* u) {
  return morvane::pem::on_file(fp, PEM_F_PEM_X509_INFO_READ, static_cast<STACK*>(nullptr),
                               [&](BIO* b) { return PEM_X509_INFO_read_bio(b, sk, cb, u); });
}

namespace {

// The block name of a still-encrypted key by its container's type.
const char* encrypted_key_name(const X509_PKEY* k) {
  const int type = k->dec_pkey != nullptr ? k->dec_pkey->type : EVP_PKEY_RSA;
  if (type == EVP_PKEY_DSA) return PEM_STRING_DSA;
  if (type == EVP_PKEY_EC) return PEM_STRING_ECPRIVATEKEY;
  return PEM_STRING_RSA;
}

bool cipher_named(const EVP_CIPHER* c) {
  return c != nullptr && OBJ_nid2sn(EVP_CIPHER_nid(c)) != nullptr && morvane::pem::cipher_fits(c);
}

}  // namespace

/* see morvane/pem.h */
int PEM_X509_INFO_write_bio(BIO* bp, X509_INFO* xi, const EVP_CIPHER* enc, unsigned char* kstr,
                            int klen, pem_password_cb* cb, void* u) {
  if (xi == nullptr) return 0;
  if (enc != nullptr && OBJ_nid2sn(EVP_CIPHER_nid(enc)) == nullptr) {
    PEMerr(PEM_F_PEM_X509_INFO_WRITE_BIO, PEM_R_UNSUPPORTED_CIPHER);
    return 0;
  }
  char buf[PEM_BUFSIZE];
  morvane::internal::Wiper wb(buf);
  if (xi->x_pkey != nullptr) {
    if (xi->enc_data != nullptr && xi->enc_len > 0) {
      const EVP_CIPHER* c = xi->enc_cipher.cipher;
      if (!cipher_named(c)) {
        PEMerr(PEM_F_PEM_X509_INFO_WRITE_BIO, PEM_R_UNSUPPORTED_CIPHER);
        return 0;
      }
      buf[0] = '\0';
      PEM_proc_type(buf, PEM_TYPE_ENCRYPTED);
      PEM_dek_info(buf, OBJ_nid2sn(EVP_CIPHER_nid(c)), EVP_CIPHER_iv_length(c),
                   reinterpret_cast<char*>(xi->enc_cipher.iv));
      if (PEM_write_bio(bp, encrypted_key_name(xi->x_pkey), buf,
                        reinterpret_cast<unsigned char*>(xi->enc_data), xi->enc_len) <= 0)
        return 0;
    } else {
      EVP_PKEY* pk = xi->x_pkey->dec_pkey;
      if (pk == nullptr) return 0;
      const int r = pk->type == EVP_PKEY_RSA
                        ? PEM_write_bio_RSAPrivateKey(bp, pk->pkey.rsa, enc, kstr, klen, cb, u)
                        : PEM_write_bio_PrivateKey(bp, pk, enc, kstr, klen, cb, u);
      if (r <= 0) return 0;
    }
  }
  if (xi->x509 != nullptr && PEM_write_bio_X509(bp, xi->x509) <= 0) return 0;
  return 1;
}
