// What one verification call has checked: the keys it decoded, the
// signature verdicts it reached and the revocation lists it gathered
// (x509_local.h), and which keys of a chain a trusted key vouches for.
//
// Implementation notes: a verdict is noted by the object's address (a
// reference held, so that no other object takes that address during the
// call) and the session's own key record, so it is only as good as the
// call: nothing here is kept once the call returns.  Keys are copies
// decoded from an encoding of the certificate's key as the call first met
// it, never the container X509_get_pubkey lends, which a caller may change
// in place: the copy kept on the X509_PUBKEY while the structure reads as
// the one the copy was decoded from, field by field (so it encodes to the
// same octets, unencoded), and the container holds the same key (so that
// a long lived issuer's key keeps what its checks precompute), else one
// decoded from the container's encoding.  A key without parameters takes
// those of the copy above it, in a copy of its own, so that links under
// keys that inherit their parameters are checked like any other and
// nothing is written into a certificate.

#include <stdint.h>
#include <string.h>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/sha.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "asn1/internal.h"
#include "x509_local.h"

namespace morvane::x509 {

namespace {

void memory_failure(int line) {
  ERR_put_error(ERR_LIB_X509, X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __FILE__, line);
}

// Makes room for one more item in a growing array: false (queued) without
// memory.
template <class T>
bool room_for_one(T*& items, int n, int& cap) {
  if (n < cap) return true;
  const int grown_cap = cap == 0 ? 8 : cap * 2;
  auto* grown = static_cast<T*>(MORVANE_realloc(items, static_cast<size_t>(grown_cap) * sizeof(T)));
  if (grown == nullptr) {
    memory_failure(__LINE__);
    return false;
  }
  items = grown;
  cap = grown_cap;
  return true;
}

// What `write` (an i2d-style call that allocates its output) writes, new
// (free it), its length at *len; null when nothing encodes.
template <class Write>
unsigned char* new_der(Write write, int* len) {
  unsigned char* der = nullptr;
  *len = write(&der);
  if (*len > 0 && der != nullptr) return der;
  MORVANE_free(der);
  return nullptr;
}

// The SubjectPublicKeyInfo of key, new (free it); null when it does not
// encode.
unsigned char* encoded(EVP_PKEY* key, int* len) {
  return new_der([key](unsigned char** out) { return i2d_PUBKEY(key, out); }, len);
}

EVP_PKEY* decoded(const unsigned char* der, int len) {
  const unsigned char* p = der;
  return d2i_PUBKEY(nullptr, &p, len);
}

// Takes the copy `pkey` (its reference), named by the digest of the
// SubjectPublicKeyInfo it was decoded from.
void take_copy(SessionKey* k, EVP_PKEY* pkey, const unsigned char* digest) {
  k->pkey = pkey;
  memcpy(k->digest, digest, sizeof k->digest);
  k->usable = true;
}

// Takes the encoding of `key` for a copy decoded at its first check; a key
// that does not encode leaves k unusable.
void take_encoding(SessionKey* k, EVP_PKEY* key) {
  int len = 0;
  unsigned char* der = encoded(key, &len);
  if (der == nullptr) return;
  SHA256(der, static_cast<size_t>(len), k->digest);
  k->der = der;
  k->der_len = len;
  k->usable = true;
}

// The SubjectPublicKeyInfo of cert as it reads now, new (free it), its
// length at *len; null when it does not encode.
unsigned char* own_encoding(X509* cert, int* len) {
  X509_PUBKEY* xpk = cert->cert_info != nullptr ? cert->cert_info->key : nullptr;
  *len = 0;
  if (xpk == nullptr) return nullptr;
  return new_der([xpk](unsigned char** out) { return i2d_X509_PUBKEY(xpk, out); }, len);
}

// The key of cert: a new reference to the copy kept on the certificate's
// X509_PUBKEY for later calls while it reads the same (never to be
// changed), else to one decoded from what it encodes to now (made into
// *der, its length at *len, when not given there), and the digest of its
// SubjectPublicKeyInfo into digest[32]; null when it does not decode.
EVP_PKEY* own_key(X509* cert, unsigned char** der, int* len, unsigned char* digest) {
  X509_PUBKEY* xpk = cert->cert_info != nullptr ? cert->cert_info->key : nullptr;
  if (xpk == nullptr) return nullptr;
  EVP_PKEY* pkey = morvane::asn1::pubkey_copy(xpk, digest);
  if (pkey != nullptr) return pkey;
  const QuietErrors quiet;  // the structure changed since its copy was made
  if (*der == nullptr) *der = own_encoding(cert, len);
  pkey = *der != nullptr ? decoded(*der, *len) : nullptr;
  if (pkey != nullptr) SHA256(*der, static_cast<size_t>(*len), digest);
  return pkey;
}

// Fills k from cert's key.  A key with parameters of its own is the copy of
// the certificate's SubjectPublicKeyInfo while the container X509_get_pubkey
// lends holds the same key; a container changed in place is what is
// checked then, through a copy of its encoding.  A key without them takes
// above's parameters in a copy of its own.  A key that does not encode
// leaves k unusable.
void make_copy(Session& s, SessionKey* k, X509* cert, EVP_PKEY* own, const unsigned char* der,
               int len, const unsigned char* digest) {
  if (k->inherits) {
    EVP_PKEY_free(own);  // perhaps the kept copy: never to be changed
    EVP_PKEY* params = k->above != nullptr && k->above->usable ? s.checking(k->above) : nullptr;
    EVP_PKEY* mine = params != nullptr ? decoded(der, len) : nullptr;
    if (mine != nullptr && EVP_PKEY_copy_parameters(mine, params) &&
        !EVP_PKEY_missing_parameters(mine))
      take_encoding(k, mine);
    EVP_PKEY_free(mine);
    return;
  }
  EVP_PKEY* container = X509_get_pubkey(cert);
  if (container != nullptr && EVP_PKEY_cmp(container, own) == 1) {
    take_copy(k, own, digest);
    own = nullptr;
  } else if (container != nullptr) {
    take_encoding(k, container);
  }
  EVP_PKEY_free(container);
  EVP_PKEY_free(own);
}

}  // namespace

Session::~Session() {
  keys_.each([](const KeySlot& slot) {
    X509_free(slot.key->cert);
    EVP_PKEY_free(slot.key->pkey);
    MORVANE_free(slot.key->der);
    MORVANE_free(slot.key);
  });
  noted_.each([](const Noted& n) {
    if (n.crl) {
      X509_CRL_free(static_cast<X509_CRL*>(const_cast<void*>(n.obj)));
    } else {
      X509_free(static_cast<X509*>(const_cast<void*>(n.obj)));
    }
  });
  for (int i = 0; i < n_lists_; i++) issuer_lists_free(lists_[i]);
  MORVANE_free(lists_);
  for (int i = 0; i < n_orders_; i++) MORVANE_free(orders_[i].order);
  MORVANE_free(orders_);
}

const SessionKey* Session::key(X509* cert, const SessionKey* above) {
  // A key with parameters of its own is the same whatever is above it; one
  // that takes them is held for that key above only.
  const KeySlot* held = keys_.find(address_hash(cert), [&](const KeySlot& slot) {
    return slot.key->cert == cert && (!slot.key->inherits || slot.key->above == above);
  });
  if (held != nullptr) return held->key;
  auto* k = static_cast<SessionKey*>(MORVANE_malloc(sizeof(SessionKey)));
  if (k != nullptr) *k = SessionKey{cert, nullptr, false, false, {}, nullptr, 0, nullptr};
  if (k == nullptr || !keys_.insert({k})) {
    MORVANE_free(k);
    memory_failure(__LINE__);
    return nullptr;
  }
  CRYPTO_add(&cert->references, 1, CRYPTO_LOCK_X509);
  int len = 0;
  unsigned char* der = nullptr;
  unsigned char digest[SHA256_DIGEST_LENGTH];
  EVP_PKEY* own = own_key(cert, &der, &len, digest);
  if (own != nullptr && EVP_PKEY_missing_parameters(own)) {
    k->inherits = true;
    k->above = above;
    if (der == nullptr) der = own_encoding(cert, &len);
    if (der == nullptr) {
      EVP_PKEY_free(own);
      own = nullptr;
    }
  }
  if (own != nullptr) make_copy(*this, k, cert, own, der, len, digest);
  MORVANE_free(der);
  return k;
}

EVP_PKEY* Session::checking(const SessionKey* key) {
  // The records are the session's own, handed out read-only.
  auto* k = const_cast<SessionKey*>(key);
  if (k->pkey == nullptr && k->usable) k->pkey = decoded(k->der, k->der_len);
  return k->pkey;
}

int Session::recalled(const void* obj, const SessionKey* key, bool* earlier) const {
  const Noted* n = noted_.find(address_hash(obj, key), [&](const Noted& slot) {
    return slot.obj == obj && slot.key == key;
  });
  if (earlier != nullptr) *earlier = n != nullptr && n->chain != chain_;
  return n != nullptr ? n->verified : -1;
}

void Session::claim(const void* obj, const SessionKey* key) {
  const Noted* n = noted_.find(address_hash(obj, key), [&](const Noted& slot) {
    return slot.obj == obj && slot.key == key;
  });
  if (n != nullptr) n->chain = chain_;
}

void Session::note(X509* x, const SessionKey* key, bool verified) {
  if (recalled(x, key) >= 0) return;
  if (!noted_.insert({x, key, verified ? 1 : 0, false, chain_})) {
    memory_failure(__LINE__);
    return;
  }
  CRYPTO_add(&x->references, 1, CRYPTO_LOCK_X509);
}

void Session::note(X509_CRL* crl, const SessionKey* key, bool verified) {
  if (recalled(crl, key) >= 0) return;
  if (!noted_.insert({crl, key, verified ? 1 : 0, true, chain_})) {
    memory_failure(__LINE__);
    return;
  }
  CRYPTO_add(&crl->references, 1, CRYPTO_LOCK_X509_CRL);
}

bool Session::add_lists(IssuerLists* lists) {
  if (!room_for_one(lists_, n_lists_, cap_lists_)) return false;
  lists_[n_lists_++] = lists;
  return true;
}

const int* Session::list_order(const STACK* sk) const {
  for (int i = 0; i < n_orders_; i++) {
    const ListOrder& o = orders_[i];
    if (o.sk == sk && o.num == sk->num && o.data == sk->data) return o.order;
  }
  return nullptr;
}

bool Session::keep_list_order(const STACK* sk, int* order) {
  if (!room_for_one(orders_, n_orders_, cap_orders_)) {
    MORVANE_free(order);
    return false;
  }
  orders_[n_orders_++] = {sk, sk->num, sk->data, order};
  return true;
}

SessionScope::SessionScope(X509_STORE_CTX* ctx)
    : ctx_(ctx), session_(static_cast<Session*>(ctx->session)) {
  if (session_ != nullptr) {
    ctx_ = nullptr;  // not ours to take back
    session_->begin_chain();
    return;
  }
  session_ = &own_;
  ctx->session = session_;
}

SessionScope::~SessionScope() {
  if (ctx_ != nullptr) ctx_->session = nullptr;
}

EVP_PKEY* chain_leaf_key(STACK* chain) {
  EVP_PKEY* leaf = nullptr;
  for (int i = 0; i < sk_num(chain); i++) {
    int len = 0;
    unsigned char* der = own_encoding(reinterpret_cast<X509*>(sk_value(chain, i)), &len);
    EVP_PKEY* key = der != nullptr ? decoded(der, len) : nullptr;
    MORVANE_free(der);
    if (key == nullptr) break;
    if (leaf == nullptr) leaf = key;
    if (!EVP_PKEY_missing_parameters(key)) {
      const bool lent = key == leaf || EVP_PKEY_copy_parameters(leaf, key);
      if (key != leaf) EVP_PKEY_free(key);
      if (lent) return leaf;
      break;
    }
    if (key != leaf) EVP_PKEY_free(key);
  }
  EVP_PKEY_free(leaf);
  ERR_put_error(ERR_LIB_X509, X509_F_X509_GET_PUBKEY_PARAMETERS,
                X509_R_UNABLE_TO_FIND_PARAMETERS_IN_CHAIN, __FILE__, __LINE__);
  return nullptr;
}

const SessionKey* chain_key(Session& s, X509_STORE_CTX* ctx, int at) {
  const SessionKey* k = nullptr;
  for (int i = sk_num(ctx->chain) - 1; i >= at; i--) {
    k = s.key(reinterpret_cast<X509*>(sk_value(ctx->chain, i)), k);
    if (k == nullptr) return nullptr;
  }
  return k;
}

bool vouched(Session& s, X509_STORE_CTX* ctx, int at) {
  const int top = sk_num(ctx->chain) - 1;
  if (at >= ctx->last_untrusted) return true;
  if (ctx->last_untrusted > top) return false;  // no store certificate above
  const SessionKey* above = chain_key(s, ctx, ctx->last_untrusted);
  for (int i = ctx->last_untrusted - 1; i >= at && above != nullptr; i--) {
    auto* x = reinterpret_cast<X509*>(sk_value(ctx->chain, i));
    const QuietErrors quiet;  // the run reports a link that fails on its own
    if (check_cert_signature(s, x, above) <= 0) return false;
    above = s.key(x, above);
  }
  return above != nullptr;
}

}  // namespace morvane::x509
