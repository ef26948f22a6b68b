// Building a PFX: an empty one (PKCS12_init), certificate and key bags,
// safes, and PKCS12_create with its defaults (RC2-40 for certificates,
// triple DES for the key, 2048 iterations, a SHA-1 MAC).

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pkcs12.h>
#include <morvane/pkcs7.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

namespace {

constexpr int kData = 21;
constexpr int kPbeSha1Rc2_40 = 149, kPbeSha1TripleDes = 146;
// Key attributes copied into the key bag: CSPName, LocalKeySet.
constexpr int kKeyAttrs[] = {417, 856};

void free_bag(void* b) {
  PKCS12_SAFEBAG_free(static_cast<PKCS12_SAFEBAG*>(b));
}
void free_safe(void* p) {
  PKCS7_free(static_cast<PKCS7*>(p));
}
void free_bags(STACK* bags) {
  sk_pop_free(bags, free_bag);
}
void free_safes(STACK* safes) {
  sk_pop_free(safes, free_safe);
}

// Appends `bag` to *pbags (made when null); a null pbags keeps the bag with
// the caller.  False, with the bag freed and "malloc failure" queued under
// `func`, when the stack cannot take it.
bool append_bag(STACK** pbags, PKCS12_SAFEBAG* bag, int func) {
  if (pbags == nullptr) return true;
  bool made = false;
  if (*pbags == nullptr) {
    *pbags = sk_new_null();
    made = true;
  }
  if (*pbags == nullptr || !sk_push(*pbags, reinterpret_cast<char*>(bag))) {
    if (made) {
      sk_free(*pbags);
      *pbags = nullptr;
    }
    PKCS12_SAFEBAG_free(bag);
    PKCS12err(func, ERR_R_MALLOC_FAILURE);
    return false;
  }
  return true;
}

// friendlyName `name` and localKeyID `keyid` on a bag, when given.
bool name_and_id(PKCS12_SAFEBAG* bag, const char* name, unsigned char* keyid, int keyidlen) {
  if (name != nullptr && !PKCS12_add_friendlyname_asc(bag, name, -1)) return false;
  if (keyidlen > 0 && !PKCS12_add_localkeyid(bag, keyid, keyidlen)) return false;
  return true;
}

}  // namespace

/* see morvane/pkcs12.h */
PKCS12* PKCS12_init(int mode) {
  if (mode != kData) {
    PKCS12err(PKCS12_F_PKCS12_INIT, PKCS12_R_UNSUPPORTED_PKCS12_MODE);
    return nullptr;
  }
  PKCS12* p12 = PKCS12_new();
  if (p12 == nullptr || !ASN1_INTEGER_set(p12->version, 3)) {
    PKCS12_free(p12);
    PKCS12err(PKCS12_F_PKCS12_INIT, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  p12->authsafes->type = OBJ_nid2obj(kData);
  p12->authsafes->d.data = ASN1_OCTET_STRING_new();
  if (p12->authsafes->d.data == nullptr) {
    PKCS12_free(p12);
    PKCS12err(PKCS12_F_PKCS12_INIT, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  return p12;
}

/* see morvane/pkcs12.h */
PKCS12_SAFEBAG* PKCS12_add_cert(STACK** pbags, X509* cert) {
  PKCS12_SAFEBAG* bag = PKCS12_x5092certbag(cert);
  if (bag == nullptr) return nullptr;
  int len = 0;
  const unsigned char* alias = X509_alias_get0(cert, &len);
  if (alias != nullptr &&
      !PKCS12_add_friendlyname_asc(bag, reinterpret_cast<const char*>(alias), len)) {
    PKCS12_SAFEBAG_free(bag);
    return nullptr;
  }
  unsigned char* keyid = X509_keyid_get0(cert, &len);
  if (keyid != nullptr && !PKCS12_add_localkeyid(bag, keyid, len)) {
    PKCS12_SAFEBAG_free(bag);
    return nullptr;
  }
  return append_bag(pbags, bag, PKCS12_F_PKCS12_ADD_CERT) ? bag : nullptr;
}

/* see morvane/pkcs12.h */
PKCS12_SAFEBAG* PKCS12_add_key(STACK** pbags, EVP_PKEY* key, int key_usage, int iter,
                               int nid_key, char* pass) {
  PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(key);
  if (p8 == nullptr) return nullptr;
  if (key_usage != 0 && !PKCS8_add_keyusage(p8, key_usage)) {
    PKCS8_PRIV_KEY_INFO_free(p8);
    return nullptr;
  }
  PKCS12_SAFEBAG* bag = nullptr;
  if (nid_key == -1) {
    bag = PKCS12_MAKE_KEYBAG(p8);  // the bag takes p8
    if (bag == nullptr) PKCS8_PRIV_KEY_INFO_free(p8);
  } else {
    bag = PKCS12_MAKE_SHKEYBAG(nid_key, pass, -1, nullptr, 0, iter, p8);
    PKCS8_PRIV_KEY_INFO_free(p8);
  }
  if (bag == nullptr) return nullptr;
  return append_bag(pbags, bag, PKCS12_F_PKCS12_ADD_KEY) ? bag : nullptr;
}

/* see morvane/pkcs12.h */
int PKCS12_add_safe(STACK** psafes, STACK* bags, int nid_safe, int iter, char* pass) {
  if (psafes == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_PACK_P7DATA, PKCS12_R_INVALID_NULL_ARGUMENT);
    return 0;
  }
  bool made = false;
  if (*psafes == nullptr) {
    *psafes = sk_new_null();
    if (*psafes == nullptr) {
      PKCS12err(PKCS12_F_PKCS12_ADD_SAFE, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    made = true;
  }
  if (nid_safe == 0) nid_safe = kPbeSha1Rc2_40;
  PKCS7* p7 = nid_safe == -1
                  ? PKCS12_pack_p7data(bags)
                  : PKCS12_pack_p7encdata(nid_safe, pass, -1, nullptr, 0, iter, bags);
  if (p7 == nullptr || !sk_push(*psafes, reinterpret_cast<char*>(p7))) {
    if (p7 != nullptr) PKCS12err(PKCS12_F_PKCS12_ADD_SAFE, ERR_R_MALLOC_FAILURE);
    PKCS7_free(p7);
    if (made) {
      sk_free(*psafes);
      *psafes = nullptr;
    }
    return 0;
  }
  return 1;
}

/* see morvane/pkcs12.h */
PKCS12* PKCS12_add_safes(STACK* safes, int nid_p7) {
  if (nid_p7 <= 0) nid_p7 = kData;
  PKCS12* p12 = PKCS12_init(nid_p7);
  if (p12 == nullptr) return nullptr;
  if (!PKCS12_pack_authsafes(p12, safes)) {
    PKCS12_free(p12);
    return nullptr;
  }
  return p12;
}

/* see morvane/pkcs12.h */
PKCS12* PKCS12_create(char* pass, char* name, EVP_PKEY* pkey, X509* cert, STACK* ca,
                      int nid_key, int nid_cert, int iter, int mac_iter, int keytype) {
  if (nid_cert == 0) nid_cert = kPbeSha1Rc2_40;
  if (nid_key == 0) nid_key = kPbeSha1TripleDes;
  if (iter == 0) iter = PKCS5_DEFAULT_ITER;
  if (mac_iter == 0) mac_iter = 1;
  if (pkey == nullptr && cert == nullptr && ca == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_CREATE, PKCS12_R_INVALID_NULL_ARGUMENT);
    return nullptr;
  }
  unsigned char keyid[EVP_MAX_MD_SIZE];
  unsigned int keyidlen = 0;
  if (pkey != nullptr && cert != nullptr) {
    if (!X509_check_private_key(cert, pkey)) return nullptr;
    if (!X509_digest(cert, EVP_sha1(), keyid, &keyidlen)) return nullptr;
  }
  const int idlen = static_cast<int>(keyidlen);
  STACK* bags = nullptr;
  STACK* safes = nullptr;
  PKCS12* p12 = nullptr;
  auto fail = [&]() -> PKCS12* {
    PKCS12_free(p12);
    free_safes(safes);
    free_bags(bags);
    return nullptr;
  };
  if (cert != nullptr) {
    PKCS12_SAFEBAG* bag = PKCS12_add_cert(&bags, cert);
    if (bag == nullptr || !name_and_id(bag, name, keyid, idlen)) return fail();
  }
  for (int i = 0; i < sk_num(ca); i++)
    if (PKCS12_add_cert(&bags, reinterpret_cast<X509*>(sk_value(ca, i))) == nullptr)
      return fail();
  if (bags != nullptr) {
    if (!PKCS12_add_safe(&safes, bags, nid_cert, iter, pass)) return fail();
    free_bags(bags);
    bags = nullptr;
  }
  if (pkey != nullptr) {
    PKCS12_SAFEBAG* bag = PKCS12_add_key(&bags, pkey, keytype, iter, nid_key, pass);
    if (bag == nullptr) return fail();
    for (int nid : kKeyAttrs) {
      const int loc = EVP_PKEY_get_attr_by_NID(pkey, nid, -1);
      if (loc >= 0 && X509at_add1_attr(&bag->attrib, EVP_PKEY_get_attr(pkey, loc)) == nullptr)
        return fail();
    }
    if (!name_and_id(bag, name, keyid, idlen)) return fail();
    if (!PKCS12_add_safe(&safes, bags, -1, 0, nullptr)) return fail();
    free_bags(bags);
    bags = nullptr;
  }
  p12 = PKCS12_add_safes(safes, 0);
  if (p12 == nullptr) return fail();
  free_safes(safes);
  safes = nullptr;
  if (mac_iter != -1 && !PKCS12_set_mac(p12, pass, -1, nullptr, 0, mac_iter, nullptr))
    return fail();
  return p12;
}
