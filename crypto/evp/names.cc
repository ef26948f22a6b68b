// Digest and cipher descriptions in the algorithm name registry: added under
// the short and long names of their NIDs, found by any of their names or
// aliases, and all removed by EVP_cleanup.

#include <morvane/evp.h>
#include <morvane/objects.h>

namespace morvane::evp {
namespace {

const char* as_data(const void* p) {
  return static_cast<const char*>(p);
}

}  // namespace
}  // namespace morvane::evp

using namespace morvane::evp;

/* see morvane/evp.h */
int EVP_add_cipher(const EVP_CIPHER* c) {
  if (c == nullptr) return 0;
  const int nid = c->nid;
  if (!OBJ_NAME_add(OBJ_nid2sn(nid), OBJ_NAME_TYPE_CIPHER_METH, as_data(c))) return 0;
  return OBJ_NAME_add(OBJ_nid2ln(nid), OBJ_NAME_TYPE_CIPHER_METH, as_data(c));
}

/* see morvane/evp.h */
int EVP_add_digest(const EVP_MD* md) {
  if (md == nullptr) return 0;
  const char* name = OBJ_nid2sn(md->type);
  if (!OBJ_NAME_add(name, OBJ_NAME_TYPE_MD_METH, as_data(md)) ||
      !OBJ_NAME_add(OBJ_nid2ln(md->type), OBJ_NAME_TYPE_MD_METH, as_data(md)))
    return 0;
  if (md->pkey_type != 0 && md->pkey_type != md->type) {
    constexpr int kAlias = OBJ_NAME_TYPE_MD_METH | OBJ_NAME_ALIAS;
    if (!OBJ_NAME_add(OBJ_nid2sn(md->pkey_type), kAlias, name) ||
        !OBJ_NAME_add(OBJ_nid2ln(md->pkey_type), kAlias, name))
      return 0;
  }
  return 1;
}

/* see morvane/evp.h */
const EVP_CIPHER* EVP_get_cipherbyname(const char* name) {
  return reinterpret_cast<const EVP_CIPHER*>(OBJ_NAME_get(name, OBJ_NAME_TYPE_CIPHER_METH));
}

/* see morvane/evp.h */
const EVP_MD* EVP_get_digestbyname(const char* name) {
  return reinterpret_cast<const EVP_MD*>(OBJ_NAME_get(name, OBJ_NAME_TYPE_MD_METH));
}

/* see morvane/evp.h */
void EVP_cleanup(void) {
  OBJ_NAME_cleanup(OBJ_NAME_TYPE_CIPHER_METH);
  OBJ_NAME_cleanup(OBJ_NAME_TYPE_MD_METH);
  OBJ_NAME_cleanup(-1);
}

/* see morvane/evp.h */
void Morvane_add_all_digests(void) {
  constexpr int kAlias = OBJ_NAME_TYPE_MD_METH | OBJ_NAME_ALIAS;
  EVP_add_digest(EVP_md4());
  EVP_add_digest(EVP_md5());
  OBJ_NAME_add("ssl2-md5", kAlias, "MD5");
  OBJ_NAME_add("ssl3-md5", kAlias, "MD5");
  EVP_add_digest(EVP_sha());
  EVP_add_digest(EVP_dss());
  EVP_add_digest(EVP_sha1());
  OBJ_NAME_add("ssl3-sha1", kAlias, "SHA1");
  OBJ_NAME_add("RSA-SHA1-2", kAlias, "RSA-SHA1");
  EVP_add_digest(EVP_dss1());
  OBJ_NAME_add("DSA-SHA1-old", kAlias, "DSA-SHA1");
  OBJ_NAME_add("DSS1", kAlias, "DSA-SHA1");
  OBJ_NAME_add("dss1", kAlias, "DSA-SHA1");
  EVP_add_digest(EVP_ecdsa());
  EVP_add_digest(EVP_ripemd160());
  OBJ_NAME_add("ripemd", kAlias, "RIPEMD160");
  OBJ_NAME_add("rmd160", kAlias, "RIPEMD160");
  EVP_add_digest(EVP_sha224());
  EVP_add_digest(EVP_sha256());
  EVP_add_digest(EVP_sha384());
  EVP_add_digest(EVP_sha512());
}
