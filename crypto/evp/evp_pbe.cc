// The password-based-encryption table: rows mapping an algorithm's NID to a
// cipher, a digest and a key generator, and the set-up of a cipher context
// through the row of an algorithm identifier.
//
// Implementation notes: the table is a process-wide stack without a lock,
// filled before threads use it (the cipher registration adds the rows).
// Lookups sort it by NID (sk_find); rows are never checked for duplicates.

#include <limits.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/stack.h>

#include "evp/internal.h"
#include "internal/iter_count.h"

namespace {

// One row of the table.
struct PbeRow {
  int pbe_nid;
  const EVP_CIPHER* cipher;
  const EVP_MD* md;
  EVP_PBE_KEYGEN* keygen;
};

constinit STACK* g_pbe_algs = nullptr;

int compare_rows(const char* const* a, const char* const* b) {
  const int x = reinterpret_cast<const PbeRow*>(*a)->pbe_nid;
  const int y = reinterpret_cast<const PbeRow*>(*b)->pbe_nid;
  return x < y ? -1 : x > y ? 1 : 0;
}

void free_row(void* row) {
  MORVANE_free(row);
}

}  // namespace

namespace morvane::evp {

bool pass_length(const char* pass, int passlen, int* out) {
  if (pass == nullptr) {
    *out = 0;
    return true;
  }
  if (passlen == -1) {
    const size_t n = strlen(pass);
    if (n > static_cast<size_t>(INT_MAX)) return false;
    *out = static_cast<int>(n);
    return true;
  }
  *out = passlen;
  return passlen >= 0;
}

void add_type_data(const ASN1_OBJECT* obj) {
  char text[80] = "NULL";
  if (obj != nullptr) i2t_ASN1_OBJECT(text, sizeof text, const_cast<ASN1_OBJECT*>(obj));
  ERR_add_error_data(2, "TYPE=", text);
}

}  // namespace morvane::evp

namespace morvane::internal {

bool pbe_row_digest(int pbe_nid, const EVP_MD** md) {
  // A walk, not sk_find: a search sorts the stack, which other threads may
  // be reading.
  for (int i = 0; i < sk_num(g_pbe_algs); i++) {
    const auto* row = reinterpret_cast<const PbeRow*>(sk_value(g_pbe_algs, i));
    if (row->pbe_nid == pbe_nid) {
      *md = row->md != nullptr ? row->md : EVP_sha1();
      return true;
    }
  }
  return false;
}

}  // namespace morvane::internal

/* see morvane/evp.h */
int EVP_PBE_alg_add(int nid, const EVP_CIPHER* cipher, const EVP_MD* md, EVP_PBE_KEYGEN* keygen) {
  if (g_pbe_algs == nullptr) {
    g_pbe_algs = sk_new(compare_rows);
    if (g_pbe_algs == nullptr) {
      EVPerr(EVP_F_EVP_PBE_ALG_ADD, ERR_R_MALLOC_FAILURE);
      return 0;
    }
  }
  auto* row = static_cast<PbeRow*>(MORVANE_malloc(sizeof(PbeRow)));
  if (row == nullptr) {
    EVPerr(EVP_F_EVP_PBE_ALG_ADD, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  *row = {nid, cipher, md, keygen};
  if (!sk_push(g_pbe_algs, reinterpret_cast<char*>(row))) {
    MORVANE_free(row);
    EVPerr(EVP_F_EVP_PBE_ALG_ADD, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  return 1;
}

/* see morvane/evp.h */
int EVP_PBE_CipherInit(ASN1_OBJECT* pbe_obj, const char* pass, int passlen, ASN1_TYPE* param,
                       EVP_CIPHER_CTX* ctx, int en_de) {
  const PbeRow* row = nullptr;
  PbeRow key = {pbe_obj != nullptr ? OBJ_obj2nid(pbe_obj) : 0, nullptr, nullptr, nullptr};
  if (key.pbe_nid != 0 && g_pbe_algs != nullptr) {
    const int i = sk_find(g_pbe_algs, reinterpret_cast<char*>(&key));
    if (i >= 0) row = reinterpret_cast<const PbeRow*>(sk_value(g_pbe_algs, i));
  }
  if (row == nullptr) {
    EVPerr(EVP_F_EVP_PBE_CIPHERINIT, EVP_R_UNKNOWN_PBE_ALGORITHM);
    morvane::evp::add_type_data(pbe_obj);
    return 0;
  }
  int len = 0;
  if (!morvane::evp::pass_length(pass, passlen, &len)) {
    EVPerr(EVP_F_EVP_PBE_CIPHERINIT, EVP_R_INVALID_KEY_LENGTH);
    return 0;
  }
  if (row->keygen == nullptr || !row->keygen(ctx, pass, len, param, row->cipher, row->md, en_de)) {
    EVPerr(EVP_F_EVP_PBE_CIPHERINIT, EVP_R_KEYGEN_FAILURE);
    return 0;
  }
  return 1;
}

/* see morvane/evp.h */
void EVP_PBE_cleanup(void) {
  sk_pop_free(g_pbe_algs, free_row);
  g_pbe_algs = nullptr;
}

/* see morvane/evp.h */
void PKCS5_PBE_add(void) {
  // PKCS #5 v1.5 (RFC 8018, 6.1 and A.3) and PBES2 (RFC 8018, 6.2).
  EVP_PBE_alg_add(10, EVP_des_cbc(), EVP_md5(), PKCS5_PBE_keyivgen);     // PBE-MD5-DES
  EVP_PBE_alg_add(9, EVP_des_cbc(), EVP_md2(), PKCS5_PBE_keyivgen);      // PBE-MD2-DES
  EVP_PBE_alg_add(170, EVP_des_cbc(), EVP_sha1(), PKCS5_PBE_keyivgen);   // PBE-SHA1-DES
  EVP_PBE_alg_add(169, EVP_rc2_64_cbc(), EVP_md5(), PKCS5_PBE_keyivgen); // PBE-MD5-RC2-64
  EVP_PBE_alg_add(168, EVP_rc2_64_cbc(), EVP_md2(), PKCS5_PBE_keyivgen); // PBE-MD2-RC2-64
  EVP_PBE_alg_add(68, EVP_rc2_64_cbc(), EVP_sha1(), PKCS5_PBE_keyivgen); // PBE-SHA1-RC2-64
  EVP_PBE_alg_add(161, nullptr, nullptr, PKCS5_v2_PBE_keyivgen);         // PBES2
}
