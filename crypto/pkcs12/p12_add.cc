// Safe bags and safes: packing certificates, revocation lists and keys into
// bags, bag stacks into PKCS#7 data or encrypted data, and safes into the
// authenticated safes of a PFX; and the reverse.

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/pkcs12.h>
#include <morvane/pkcs7.h>
#include <morvane/x509.h>

namespace {

constexpr int kData = 21, kEncrypted = 26;  // PKCS#7 content types
constexpr int kKeyBag = 150, kShroudedKeyBag = 151, kCertBag = 152, kCrlBag = 153;
constexpr int kX509Cert = 158, kX509Crl = 160;

int nid_of(const ASN1_OBJECT* o) {
  return o != nullptr ? OBJ_obj2nid(o) : 0;
}

// The object in a certificate or CRL bag, when the bags are of the kinds
// given.
void* unpack_bag(PKCS12_SAFEBAG* bag, int bag_nid, int value_nid, const ASN1_ITEM* it) {
  if (bag == nullptr || nid_of(bag->type) != bag_nid || bag->value.bag == nullptr ||
      nid_of(bag->value.bag->type) != value_nid)
    return nullptr;
  return ASN1_item_unpack(bag->value.bag->value.octet, it);
}

}  // namespace

/* see morvane/pkcs12.h */
PKCS12_SAFEBAG* PKCS12_item_pack_safebag(void* obj, const ASN1_ITEM* it, int nid1, int nid2) {
  if (obj == nullptr || it == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_ITEM_PACK_SAFEBAG, PKCS12_R_INVALID_NULL_ARGUMENT);
    return nullptr;
  }
  PKCS12_BAGS* bag = PKCS12_BAGS_new();
  if (bag == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_ITEM_PACK_SAFEBAG, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  bag->type = OBJ_nid2obj(nid1);
  if (bag->type == nullptr || ASN1_item_pack(obj, it, &bag->value.octet) == nullptr) {
    PKCS12_BAGS_free(bag);
    PKCS12err(PKCS12_F_PKCS12_ITEM_PACK_SAFEBAG, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  PKCS12_SAFEBAG* safebag = PKCS12_SAFEBAG_new();
  if (safebag == nullptr) {
    PKCS12_BAGS_free(bag);
    PKCS12err(PKCS12_F_PKCS12_ITEM_PACK_SAFEBAG, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  safebag->value.bag = bag;
  safebag->type = OBJ_nid2obj(nid2);
  return safebag;
}

/* see morvane/pkcs12.h */
PKCS12_SAFEBAG* PKCS12_x5092certbag(X509* x509) {
  return PKCS12_item_pack_safebag(x509, &X509_it, kX509Cert, kCertBag);
}

/* see morvane/pkcs12.h */
PKCS12_SAFEBAG* PKCS12_x509crl2certbag(X509_CRL* crl) {
  return PKCS12_item_pack_safebag(crl, &X509_CRL_it, kX509Crl, kCrlBag);
}

/* see morvane/pkcs12.h */
X509* PKCS12_certbag2x509(PKCS12_SAFEBAG* bag) {
  return static_cast<X509*>(unpack_bag(bag, kCertBag, kX509Cert, &X509_it));
}

/* see morvane/pkcs12.h */
X509_CRL* PKCS12_certbag2x509crl(PKCS12_SAFEBAG* bag) {
  return static_cast<X509_CRL*>(unpack_bag(bag, kCrlBag, kX509Crl, &X509_CRL_it));
}

/* see morvane/pkcs12.h */
PKCS12_SAFEBAG* PKCS12_MAKE_KEYBAG(PKCS8_PRIV_KEY_INFO* p8) {
  PKCS12_SAFEBAG* bag = PKCS12_SAFEBAG_new();
  if (bag == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_MAKE_KEYBAG, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  bag->type = OBJ_nid2obj(kKeyBag);
  bag->value.keybag = p8;
  return bag;
}

/* see morvane/pkcs12.h */
PKCS12_SAFEBAG* PKCS12_MAKE_SHKEYBAG(int pbe_nid, const char* pass, int passlen,
                                     unsigned char* salt, int saltlen, int iter,
                                     PKCS8_PRIV_KEY_INFO* p8) {
  PKCS12_SAFEBAG* bag = PKCS12_SAFEBAG_new();
  if (bag == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_MAKE_SHKEYBAG, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  bag->type = OBJ_nid2obj(kShroudedKeyBag);
  bag->value.shkeybag = PKCS8_encrypt(pbe_nid, nullptr, pass, passlen, salt, saltlen, iter, p8);
  if (bag->value.shkeybag == nullptr) {
    PKCS12_SAFEBAG_free(bag);
    PKCS12err(PKCS12_F_PKCS12_MAKE_SHKEYBAG, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  return bag;
}

/* see morvane/pkcs12.h */
PKCS8_PRIV_KEY_INFO* PKCS12_decrypt_skey(PKCS12_SAFEBAG* bag, const char* pass, int passlen) {
  if (bag == nullptr || nid_of(bag->type) != kShroudedKeyBag) return nullptr;
  return PKCS8_decrypt(bag->value.shkeybag, pass, passlen);
}

/* see morvane/pkcs12.h */
PKCS7* PKCS12_pack_p7data(STACK* bags) {
  PKCS7* p7 = PKCS7_new();
  if (p7 == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_PACK_P7DATA, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  p7->type = OBJ_nid2obj(kData);
  p7->d.data = ASN1_OCTET_STRING_new();
  if (p7->d.data == nullptr) {
    PKCS7_free(p7);
    PKCS12err(PKCS12_F_PKCS12_PACK_P7DATA, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  if (ASN1_item_pack(bags, &PKCS12_SAFEBAGS_it, &p7->d.data) == nullptr) {
    PKCS7_free(p7);
    PKCS12err(PKCS12_F_PKCS12_PACK_P7DATA, PKCS12_R_CANT_PACK_STRUCTURE);
    return nullptr;
  }
  return p7;
}

/* see morvane/pkcs12.h */
STACK* PKCS12_unpack_p7data(PKCS7* p7) {
  if (p7 == nullptr || nid_of(p7->type) != kData || p7->d.data == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_UNPACK_P7DATA, PKCS12_R_CONTENT_TYPE_NOT_DATA);
    return nullptr;
  }
  return static_cast<STACK*>(ASN1_item_unpack(p7->d.data, &PKCS12_SAFEBAGS_it));
}

/* see morvane/pkcs12.h */
PKCS7* PKCS12_pack_p7encdata(int pbe_nid, const char* pass, int passlen, unsigned char* salt,
                             int saltlen, int iter, STACK* bags) {
  PKCS7* p7 = PKCS7_new();
  if (p7 == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_PACK_P7ENCDATA, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  if (!PKCS7_set_type(p7, kEncrypted)) {
    PKCS7_free(p7);
    PKCS12err(PKCS12_F_PKCS12_PACK_P7ENCDATA, PKCS12_R_ERROR_SETTING_ENCRYPTED_DATA_TYPE);
    return nullptr;
  }
  PKCS7_ENC_CONTENT* ec = p7->d.encrypted->enc_data;
  X509_ALGOR* pbe = PKCS5_pbe_set(pbe_nid, iter, salt, saltlen);
  if (pbe == nullptr) {
    PKCS7_free(p7);
    PKCS12err(PKCS12_F_PKCS12_PACK_P7ENCDATA, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  X509_ALGOR_free(ec->algorithm);
  ec->algorithm = pbe;
  ASN1_OCTET_STRING* enc =
      PKCS12_item_i2d_encrypt(pbe, &PKCS12_SAFEBAGS_it, pass, passlen, bags, 1);
  if (enc == nullptr) {
    PKCS7_free(p7);
    PKCS12err(PKCS12_F_PKCS12_PACK_P7ENCDATA, PKCS12_R_ENCRYPT_ERROR);
    return nullptr;
  }
  ASN1_OCTET_STRING_free(ec->enc_data);
  ec->enc_data = enc;
  return p7;
}

/* see morvane/pkcs12.h */
STACK* PKCS12_unpack_p7encdata(PKCS7* p7, const char* pass, int passlen) {
  if (p7 == nullptr || nid_of(p7->type) != kEncrypted || p7->d.encrypted == nullptr ||
      p7->d.encrypted->enc_data == nullptr)
    return nullptr;
  const PKCS7_ENC_CONTENT* ec = p7->d.encrypted->enc_data;
  return static_cast<STACK*>(PKCS12_item_decrypt_d2i(ec->algorithm, &PKCS12_SAFEBAGS_it, pass,
                                                     passlen, ec->enc_data, 1));
}

/* see morvane/pkcs12.h */
int PKCS12_pack_authsafes(PKCS12* p12, STACK* safes) {
  if (p12 == nullptr || p12->authsafes == nullptr || nid_of(p12->authsafes->type) != kData) {
    PKCS12err(PKCS12_F_PKCS12_PACK_P7DATA, PKCS12_R_CONTENT_TYPE_NOT_DATA);
    return 0;
  }
  if (ASN1_item_pack(safes, &PKCS12_AUTHSAFES_it, &p12->authsafes->d.data) == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_PACK_P7DATA, PKCS12_R_CANT_PACK_STRUCTURE);
    return 0;
  }
  return 1;
}

/* see morvane/pkcs12.h */
STACK* PKCS12_unpack_authsafes(PKCS12* p12) {
  if (p12 == nullptr || p12->authsafes == nullptr || nid_of(p12->authsafes->type) != kData ||
      p12->authsafes->d.data == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_UNPACK_AUTHSAFES, PKCS12_R_CONTENT_TYPE_NOT_DATA);
    return nullptr;
  }
  return static_cast<STACK*>(ASN1_item_unpack(p12->authsafes->d.data, &PKCS12_AUTHSAFES_it));
}
