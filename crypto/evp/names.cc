// Digest and cipher descriptions in the algorithm name registry: added under
// the short and long names of their NIDs, found by any of their names or
// aliases, and all removed by EVP_cleanup.

#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pkcs12.h>

namespace morvane::evp {
namespace {

const char* as_data(const void* p) {
  return static_cast<const char*>(p);
}

// One step of the cipher list: a description to add, or an alias (name ->
// target) to add after it.
struct CipherStep {
  const EVP_CIPHER* (*cipher)();
  const char* alias = nullptr;
  const char* target = nullptr;
};

// The built-in ciphers in registration order, with their aliases.  The null
// cipher is not registered.
constexpr CipherStep kCiphers[] = {
    {EVP_des_cfb64}, {EVP_des_cfb1}, {EVP_des_cfb8}, {EVP_des_ede_cfb64},
    {EVP_des_ede3_cfb64}, {EVP_des_ede3_cfb1}, {EVP_des_ede3_cfb8}, {EVP_des_ofb},
    {EVP_des_ede_ofb}, {EVP_des_ede3_ofb},
    {EVP_desx_cbc}, {nullptr, "DESX", "DESX-CBC"}, {nullptr, "desx", "DESX-CBC"},
    {EVP_des_cbc}, {nullptr, "DES", "DES-CBC"}, {nullptr, "des", "DES-CBC"},
    {EVP_des_ede_cbc}, {EVP_des_ede3_cbc},
    {nullptr, "DES3", "DES-EDE3-CBC"}, {nullptr, "des3", "DES-EDE3-CBC"},
    {EVP_des_ecb}, {EVP_des_ede}, {EVP_des_ede3},
    {EVP_rc4}, {EVP_rc4_40},
    {EVP_idea_ecb}, {EVP_idea_cfb64}, {EVP_idea_ofb}, {EVP_idea_cbc},
    {nullptr, "IDEA", "IDEA-CBC"}, {nullptr, "idea", "IDEA-CBC"},
    {EVP_rc2_ecb}, {EVP_rc2_cfb64}, {EVP_rc2_ofb}, {EVP_rc2_cbc}, {EVP_rc2_40_cbc},
    {EVP_rc2_64_cbc}, {nullptr, "RC2", "RC2-CBC"}, {nullptr, "rc2", "RC2-CBC"},
    {EVP_bf_ecb}, {EVP_bf_cfb64}, {EVP_bf_ofb}, {EVP_bf_cbc},
    {nullptr, "BF", "BF-CBC"}, {nullptr, "bf", "BF-CBC"}, {nullptr, "blowfish", "BF-CBC"},
    {EVP_cast5_ecb}, {EVP_cast5_cfb64}, {EVP_cast5_ofb}, {EVP_cast5_cbc},
    {nullptr, "CAST", "CAST5-CBC"}, {nullptr, "cast", "CAST5-CBC"},
    {nullptr, "CAST-cbc", "CAST5-CBC"}, {nullptr, "cast-cbc", "CAST5-CBC"},
    {EVP_aes_128_ecb}, {EVP_aes_128_cbc}, {EVP_aes_128_cfb128}, {EVP_aes_128_cfb1},
    {EVP_aes_128_cfb8}, {EVP_aes_128_ofb},
    {nullptr, "AES128", "AES-128-CBC"}, {nullptr, "aes128", "AES-128-CBC"},
    {EVP_aes_192_ecb}, {EVP_aes_192_cbc}, {EVP_aes_192_cfb128}, {EVP_aes_192_cfb1},
    {EVP_aes_192_cfb8}, {EVP_aes_192_ofb},
    {nullptr, "AES192", "AES-192-CBC"}, {nullptr, "aes192", "AES-192-CBC"},
    {EVP_aes_256_ecb}, {EVP_aes_256_cbc}, {EVP_aes_256_cfb128}, {EVP_aes_256_cfb1},
    {EVP_aes_256_cfb8}, {EVP_aes_256_ofb},
    {nullptr, "AES256", "AES-256-CBC"}, {nullptr, "aes256", "AES-256-CBC"},
};

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
  EVP_PBE_cleanup();
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

/* see morvane/evp.h */
void Morvane_add_all_ciphers(void) {
  constexpr int kAlias = OBJ_NAME_TYPE_CIPHER_METH | OBJ_NAME_ALIAS;
  for (const CipherStep& step : kCiphers) {
    if (step.cipher != nullptr)
      EVP_add_cipher(step.cipher());
    else
      OBJ_NAME_add(step.alias, kAlias, step.target);
  }
  PKCS12_PBE_add();
  PKCS5_PBE_add();
}

/* see morvane/evp.h */
void MORVANE_add_all_algorithms_noconf(void) {
  MORVANE_cpuid_setup();
  Morvane_add_all_ciphers();
  Morvane_add_all_digests();
}

/* see morvane/evp.h */
void MORVANE_add_all_algorithms_conf(void) {
  MORVANE_add_all_algorithms_noconf();
  MORVANE_config(nullptr);
}
