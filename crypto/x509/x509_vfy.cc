// Chain verification: the verification context, the run over the chain that
// x509_path.cc builds (the extension, trust, revocation, signature, time and
// policy checks), whose time comparison is in x509_time.cc.
//
// Implementation notes: several threads may verify one certificate at once,
// each with its own context, so what a run leaves on a certificate or list
// (verdicts named by all they were reached from, x509_sig_mark.cc; cached
// facts) is read and set atomically or under lock 3 or 6.  What a run
// checked it remembers in its session (x509_session.cc) for its own
// duration.  A lack of memory
// is told apart by the thread's error queue: a run in which an allocation
// failed fails with X509_V_ERR_OUT_OF_MEM.

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "internal/err_watch.h"
#include "internal/lock.h"
#include "x509_local.h"
#include "x509v3/internal.h"

namespace {

using morvane::x509::check_moment;
using morvane::x509v3::flags_of;

void put_error(int func, int reason, int line) {
  ERR_put_error(ERR_LIB_X509, func, reason, __FILE__, line);
}

X509* chain_at(X509_STORE_CTX* ctx, int i) {
  return reinterpret_cast<X509*>(sk_value(ctx->chain, i));
}

// Computes the certificate's cached facts (once).
void cache_facts(X509* x) {
  X509_check_purpose(x, -1, 0);
}

int null_callback(int ok, X509_STORE_CTX* /*e*/) {
  return ok;
}

// Reports error e about certificate x at depth; the callback's answer.
int report(X509_STORE_CTX* ctx, int e, int depth, X509* x) {
  ctx->error = e;
  ctx->error_depth = depth;
  ctx->current_cert = x;
  return ctx->verify_cb(0, ctx);
}

// Proxy certificates are allowed by the flag, or for every verification
// of the process by the environment variable MORVANE_ALLOW_PROXY_CERTS.
bool proxies_allowed(X509_STORE_CTX* ctx) {
  if (ctx->param->flags & X509_V_FLAG_ALLOW_PROXY_CERTS) return true;
  // The environment is not trusted in a set-user-id process.
  if (MORVANE_issetugid()) return false;
  return getenv("MORVANE_ALLOW_PROXY_CERTS") != nullptr;
}

int check_chain_extensions(X509_STORE_CTX* ctx) {
  const bool allow_proxy = proxies_allowed(ctx);
  const unsigned long flags = ctx->param->flags;
  const int purpose = ctx->param->purpose;
  int must_be_ca = -1;
  int proxy_path_length = 0;
  int plen = 0;
  for (int i = 0; i < ctx->last_untrusted; i++) {
    X509* x = chain_at(ctx, i);
    cache_facts(x);
    if (!(flags & X509_V_FLAG_IGNORE_CRITICAL) && (flags_of(x) & EXFLAG_CRITICAL)) {
      if (!report(ctx, X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION, i, x)) return 0;
    }
    // Bad path lengths, proxies that are CAs, repeated or undecodable
    // constraint extensions: the certificate's restrictions are unknown.
    if (flags_of(x) & EXFLAG_INVALID) {
      if (!report(ctx, X509_V_ERR_INVALID_EXTENSION, i, x)) return 0;
    }
    if (!allow_proxy && (flags_of(x) & EXFLAG_PROXY)) {
      if (!report(ctx, X509_V_ERR_PROXY_CERTIFICATES_NOT_ALLOWED, i, x)) return 0;
    }
    if (!morvane::x509::ca_fits(must_be_ca, X509_check_ca(x),
                                (flags & X509_V_FLAG_X509_STRICT) != 0) &&
        !report(ctx, must_be_ca == 0 ? X509_V_ERR_INVALID_NON_CA : X509_V_ERR_INVALID_CA, i, x))
      return 0;
    if (purpose > 0) {
      const int r = X509_check_purpose(x, purpose, must_be_ca > 0);
      if (r == 0 || ((flags & X509_V_FLAG_X509_STRICT) && r != 1)) {
        if (!report(ctx, X509_V_ERR_INVALID_PURPOSE, i, x)) return 0;
      }
    }
    const bool self_issued = (flags_of(x) & EXFLAG_SI) != 0;
    if (i > 1 && !self_issued && x->ex_pathlen != -1 &&
        plen > x->ex_pathlen + proxy_path_length + 1) {
      if (!report(ctx, X509_V_ERR_PATH_LENGTH_EXCEEDED, i, x)) return 0;
    }
    if (!self_issued) plen++;
    if (flags_of(x) & EXFLAG_PROXY) {
      if (x->ex_pcpathlen != -1 && i > x->ex_pcpathlen) {
        if (!report(ctx, X509_V_ERR_PROXY_PATH_LENGTH_EXCEEDED, i, x)) return 0;
      }
      // The subject names the issuer's subject and the proxy (RFC 3820,
      // 3.4), so that a proxy speaks for its issuer's name alone.
      if (i + 1 < sk_num(ctx->chain) &&
          !morvane::x509::proxy_name_follows(X509_get_subject_name(x),
                                             X509_get_subject_name(chain_at(ctx, i + 1))) &&
          !report(ctx, X509_V_ERR_PROXY_SUBJECT_NAME_VIOLATION, i, x))
        return 0;
      proxy_path_length++;
      must_be_ca = 0;
    } else {
      must_be_ca = 1;
    }
  }
  return 1;
}

int check_trust(X509_STORE_CTX* ctx) {
  const int i = sk_num(ctx->chain) - 1;
  X509* x = chain_at(ctx, i);
  const int ok = X509_check_trust(x, ctx->param->trust, 0);
  if (ok == X509_TRUST_TRUSTED) return 1;
  return report(ctx, ok == X509_TRUST_REJECTED ? X509_V_ERR_CERT_REJECTED : X509_V_ERR_CERT_UNTRUSTED,
                i, x);
}

int check_crl_time(X509_STORE_CTX* ctx, X509_CRL* crl, bool notify) {
  ctx->current_crl = crl;
  time_t* ptime = check_moment(ctx);
  int i = X509_cmp_time(crl->crl->lastUpdate, ptime);
  if (i == 0 || i > 0) {
    ctx->error = i == 0 ? X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD : X509_V_ERR_CRL_NOT_YET_VALID;
    if (!notify || !ctx->verify_cb(0, ctx)) return 0;
  }
  if (crl->crl->nextUpdate != nullptr) {
    i = X509_cmp_time(crl->crl->nextUpdate, ptime);
    if (i == 0 || i < 0) {
      ctx->error = i == 0 ? X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD : X509_V_ERR_CRL_HAS_EXPIRED;
      if (!notify || !ctx->verify_cb(0, ctx)) return 0;
    }
  }
  ctx->current_crl = nullptr;
  return 1;
}

int check_crl(X509_STORE_CTX* ctx, X509_CRL* crl) {
  X509* issuer = morvane::x509::crl_issuer(ctx);
  if (ctx->error_depth >= sk_num(ctx->chain) - 1 && !ctx->check_issued(ctx, issuer, issuer)) {
    ctx->error = X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER;
    if (!ctx->verify_cb(0, ctx)) return 0;
  }
  cache_facts(issuer);
  if ((flags_of(issuer) & EXFLAG_KUSAGE) && !(issuer->ex_kusage & KU_CRL_SIGN)) {
    ctx->error = X509_V_ERR_KEYUSAGE_NO_CRL_SIGN;
    if (!ctx->verify_cb(0, ctx)) return 0;
  }
  int ok = 1;
  switch (morvane::x509::check_list(ctx, crl)) {
    case 1:
      break;
    case -1:
      ctx->error = X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY;
      ok = ctx->verify_cb(0, ctx);
      break;
    default:
      ctx->error = X509_V_ERR_CRL_SIGNATURE_FAILURE;
      ok = ctx->verify_cb(0, ctx);
      break;
  }
  if (ok) ok = check_crl_time(ctx, crl, true);
  return ok;
}

// What the complete list says of x: its entry, and critical extensions
// the verifier cannot process.
int complete_crl_says(X509_STORE_CTX* ctx, X509_CRL* crl, X509* x) {
  if (morvane::x509::crl_entry(crl, x) != nullptr) {
    ctx->error = X509_V_ERR_CERT_REVOKED;
    if (!ctx->verify_cb(0, ctx)) return 0;
  }
  if (ctx->param->flags & X509_V_FLAG_IGNORE_CRITICAL) return 1;
  STACK* exts = crl->crl->extensions;
  bool unhandled = false;
  for (int i = 0; i < sk_num(exts) && !unhandled; i++) {
    auto* ext = reinterpret_cast<X509_EXTENSION*>(sk_value(exts, i));
    unhandled = ext->critical > 0;
  }
  // The entries' extensions (RFC 5280, 5.3), read once for a decoded list.
  if (!unhandled) unhandled = morvane::x509::unhandled_entry_extension(crl);
  if (unhandled) {
    ctx->error = X509_V_ERR_UNHANDLED_CRITICAL_CRL_EXTENSION;
    return ctx->verify_cb(0, ctx) ? 1 : 0;
  }
  return 1;
}

// The built-in check of x against its issuer's list: the complete list,
// then a newer delta list, which can only add a revocation.  A check the
// application installs in its place decides alone.
int cert_crl(X509_STORE_CTX* ctx, X509_CRL* crl, X509* x) {
  int ok = complete_crl_says(ctx, crl, x);
  if (ok) ok = morvane::x509::check_delta(ctx, crl, x);
  return ok;
}

int check_cert(X509_STORE_CTX* ctx) {
  X509* x = chain_at(ctx, ctx->error_depth);
  ctx->current_cert = x;
  X509_CRL* crl = nullptr;
  if (!ctx->get_crl(ctx, &crl, x)) {
    // Lists left unchecked when the checks under a key nothing vouches for
    // were spent are no "no list".
    ctx->error = morvane::x509::lists_left_unchecked(ctx) ? X509_V_ERR_CRL_SIGNATURE_FAILURE
                                                         : X509_V_ERR_UNABLE_TO_GET_CRL;
    return ctx->verify_cb(0, ctx);
  }
  ctx->current_crl = crl;
  int ok = ctx->check_crl(ctx, crl);
  if (ok) ok = ctx->cert_crl(ctx, crl, x);
  ctx->current_crl = nullptr;
  X509_CRL_free(crl);
  // A list file that could not be read may hold a newer list: the lists in
  // hand revoke, or fail, but never clear x.
  if (ok && morvane::x509::lists_incomplete(ctx, x)) {
    ctx->error = X509_V_ERR_UNABLE_TO_GET_CRL;
    ok = ctx->verify_cb(0, ctx);
  }
  return ok;
}

int check_revocation(X509_STORE_CTX* ctx) {
  if (!(ctx->param->flags & X509_V_FLAG_CRL_CHECK)) return 1;
  const int last =
      (ctx->param->flags & X509_V_FLAG_CRL_CHECK_ALL) ? sk_num(ctx->chain) - 1 : 0;
  for (int i = 0; i <= last; i++) {
    ctx->error_depth = i;
    if (!check_cert(ctx)) return 0;
  }
  return 1;
}

int check_policy(X509_STORE_CTX* ctx) {
  const int ret = X509_policy_check(&ctx->tree, &ctx->explicit_policy, ctx->chain,
                                    ctx->param->policies,
                                    static_cast<unsigned int>(ctx->param->flags));
  if (ret == 0) {
    put_error(X509_F_CHECK_POLICY, ERR_R_MALLOC_FAILURE, __LINE__);
    return 0;
  }
  if (ret == -1) {
    // Invalid or inconsistent policy extensions, the target's own included.
    bool marked = false;
    for (int i = 0; i < sk_num(ctx->chain); i++) {
      X509* x = chain_at(ctx, i);
      if (!(flags_of(x) & EXFLAG_INVALID_POLICY)) continue;
      marked = true;
      ctx->current_cert = x;
      ctx->error = X509_V_ERR_INVALID_POLICY_EXTENSION;
      if (!ctx->verify_cb(0, ctx)) return 0;
    }
    if (!marked) {
      ctx->current_cert = nullptr;
      ctx->error = X509_V_ERR_INVALID_POLICY_EXTENSION;
      return ctx->verify_cb(0, ctx);
    }
    return 1;
  }
  if (ret == -2) {
    ctx->current_cert = nullptr;
    ctx->error = X509_V_ERR_NO_EXPLICIT_POLICY;
    return ctx->verify_cb(0, ctx);
  }
  if (ret < 0) {
    // The tree grew past its node limit: no policy result can be given.
    ctx->current_cert = nullptr;
    ctx->error = X509_V_ERR_INVALID_POLICY_EXTENSION;
    return ctx->verify_cb(0, ctx);
  }
  if (ctx->param->flags & X509_V_FLAG_NOTIFY_POLICY) {
    ctx->current_cert = nullptr;
    ctx->error = X509_V_OK;
    if (!ctx->verify_cb(2, ctx)) return 0;
  }
  return 1;
}

int check_cert_time(X509_STORE_CTX* ctx, X509* x) {
  time_t* ptime = check_moment(ctx);
  X509_VAL* v = x->cert_info->validity;
  int i = X509_cmp_time(v->notBefore, ptime);
  if (i == 0 || i > 0) {
    ctx->error = i == 0 ? X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD : X509_V_ERR_CERT_NOT_YET_VALID;
    ctx->current_cert = x;
    if (!ctx->verify_cb(0, ctx)) return 0;
  }
  i = X509_cmp_time(v->notAfter, ptime);
  if (i == 0 || i < 0) {
    ctx->error = i == 0 ? X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD : X509_V_ERR_CERT_HAS_EXPIRED;
    ctx->current_cert = x;
    if (!ctx->verify_cb(0, ctx)) return 0;
  }
  return 1;
}

// Checks each link from the top down, each under this call's copy of the
// key above it (parameters lent down the chain), so that only a signature
// this call verified under that very key counts: one a lenient callback
// accepted is checked again by the next call.
int internal_verify(X509_STORE_CTX* ctx) {
  morvane::x509::SessionScope session(ctx);
  int n = sk_num(ctx->chain) - 1;
  ctx->error_depth = n;
  X509* xi = chain_at(ctx, n);
  X509* xs;
  if (ctx->check_issued(ctx, xi, xi)) {
    xs = xi;
  } else {
    if (n <= 0) {
      ctx->error = X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE;
      ctx->current_cert = xi;
      return ctx->verify_cb(0, ctx);
    }
    n--;
    ctx->error_depth = n;
    xs = chain_at(ctx, n);
  }
  while (n >= 0) {
    ctx->error_depth = n;
    if (xs != xi || (ctx->param->flags & X509_V_FLAG_CHECK_SS_SIGNATURE)) {
      const morvane::x509::SessionKey* key =
          morvane::x509::chain_key(session.get(), ctx, xs == xi ? n : n + 1);
      if (key == nullptr || !key->usable) {
        ctx->error = X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY;
        ctx->current_cert = xi;
        if (!ctx->verify_cb(0, ctx)) return 0;
      } else if (morvane::x509::check_cert_signature(session.get(), xs, key, true) <= 0) {
        ctx->error = X509_V_ERR_CERT_SIGNATURE_FAILURE;
        ctx->current_cert = xs;
        if (!ctx->verify_cb(0, ctx)) return 0;
      }
    }
    if (!check_cert_time(ctx, xs)) return 0;
    ctx->current_issuer = xi;
    ctx->current_cert = xs;
    if (!ctx->verify_cb(1, ctx)) return 0;
    n--;
    if (n >= 0) {
      xi = xs;
      xs = chain_at(ctx, n);
    }
  }
  return 1;
}

// The chain building and checks of X509_verify_cert.
int build_and_check(X509_STORE_CTX* ctx) {
  bool bad_chain = false;
  const int built = morvane::x509::build_chain(ctx, &bad_chain);
  if (built <= 0) return built;

  if (!check_chain_extensions(ctx)) return 0;
  if (ctx->param->trust > 0 && !check_trust(ctx)) return 0;
  // Keys that leave their parameters to the key above take them in the
  // call's own copies (x509_session.cc), never in the certificates.
  if (!ctx->check_revocation(ctx)) return 0;
  const int ok = ctx->verify != nullptr ? ctx->verify(ctx) : internal_verify(ctx);
  if (!ok) return 0;
  if (!bad_chain && (ctx->param->flags & X509_V_FLAG_POLICY_CHECK)) {
    return ctx->check_policy(ctx);
  }
  return 1;
}

// Frees the chain and the policy tree a run left in the context.
void free_chain_and_tree(X509_STORE_CTX* ctx) {
  X509_policy_tree_free(ctx->tree);
  ctx->tree = nullptr;
  sk_pop_free(ctx->chain, [](void* p) { X509_free(static_cast<X509*>(p)); });
  ctx->chain = nullptr;
}

// Clears what a run sets besides its chain and tree: the count of the
// caller's certificates in the chain, its error and the objects it
// concerned, the store's method it reached.
void clear_run_state(X509_STORE_CTX* ctx) {
  ctx->current_method = 0;
  ctx->last_untrusted = 0;
  ctx->valid = 0;
  ctx->error = X509_V_OK;
  ctx->explicit_policy = 0;
  ctx->error_depth = 0;
  ctx->current_cert = nullptr;
  ctx->current_issuer = nullptr;
  ctx->current_crl = nullptr;
}

// Drops what an earlier run left in the context, so that the next run
// starts from what the caller set, as on a fresh context.
void forget_run(X509_STORE_CTX* ctx) {
  free_chain_and_tree(ctx);
  clear_run_state(ctx);
}

}  // namespace

/* ---- context ---- */

X509_STORE_CTX* X509_STORE_CTX_new(void) {
  auto* ctx = static_cast<X509_STORE_CTX*>(MORVANE_malloc(sizeof(X509_STORE_CTX)));
  if (ctx == nullptr) {
    put_error(X509_F_X509_STORE_CTX_NEW, ERR_R_MALLOC_FAILURE, __LINE__);
    return nullptr;
  }
  memset(ctx, 0, sizeof(*ctx));
  return ctx;
}

void X509_STORE_CTX_free(X509_STORE_CTX* ctx) {
  if (ctx == nullptr) return;
  X509_STORE_CTX_cleanup(ctx);
  MORVANE_free(ctx);
}

int X509_STORE_CTX_init(X509_STORE_CTX* ctx, X509_STORE* store, X509* x509, STACK* chain) {
  ctx->ctx = store;
  ctx->cert = x509;
  ctx->untrusted = chain;
  ctx->crls = nullptr;
  ctx->other_ctx = nullptr;
  ctx->chain = nullptr;
  ctx->tree = nullptr;
  ctx->session = nullptr;
  clear_run_state(ctx);
  memset(&ctx->ex_data, 0, sizeof(ctx->ex_data));

  ctx->param = X509_VERIFY_PARAM_new();
  if (ctx->param == nullptr) {
    put_error(X509_F_X509_STORE_CTX_INIT, ERR_R_MALLOC_FAILURE, __LINE__);
    return 0;
  }
  int ret;
  if (store != nullptr) {
    ret = X509_VERIFY_PARAM_inherit(ctx->param, store->param);
    ctx->verify_cb = store->verify_cb;
    ctx->cleanup = store->cleanup;
  } else {
    ctx->param->inh_flags |= 0x1 | 0x10;  // take the defaults, once
    ctx->cleanup = nullptr;
    ctx->verify_cb = nullptr;
    ret = 1;
  }
  if (ret) ret = X509_VERIFY_PARAM_inherit(ctx->param, X509_VERIFY_PARAM_lookup("default"));
  if (ret == 0) {
    X509_VERIFY_PARAM_free(ctx->param);
    ctx->param = nullptr;
    put_error(X509_F_X509_STORE_CTX_INIT, ERR_R_MALLOC_FAILURE, __LINE__);
    return 0;
  }

  auto pick = [store](auto mine, auto fallback) { return store != nullptr && mine ? mine : fallback; };
  ctx->check_issued = pick(store ? store->check_issued : nullptr, morvane::x509::check_issued);
  ctx->get_issuer = pick(store ? store->get_issuer : nullptr, X509_STORE_CTX_get1_issuer);
  ctx->verify_cb = pick(store ? store->verify_cb : nullptr, null_callback);
  ctx->verify = pick(store ? store->verify : nullptr, internal_verify);
  ctx->check_revocation = pick(store ? store->check_revocation : nullptr, check_revocation);
  ctx->get_crl = pick(store ? store->get_crl : nullptr, morvane::x509::get_crl);
  ctx->check_crl = pick(store ? store->check_crl : nullptr, check_crl);
  ctx->cert_crl = pick(store ? store->cert_crl : nullptr, cert_crl);
  ctx->check_policy = check_policy;

  if (CRYPTO_new_ex_data(CRYPTO_EX_INDEX_X509_STORE_CTX, ctx, &ctx->ex_data) == 0) {
    X509_VERIFY_PARAM_free(ctx->param);
    ctx->param = nullptr;
    put_error(X509_F_X509_STORE_CTX_INIT, ERR_R_MALLOC_FAILURE, __LINE__);
    return 0;
  }
  return 1;
}

void X509_STORE_CTX_cleanup(X509_STORE_CTX* ctx) {
  if (ctx->cleanup != nullptr) ctx->cleanup(ctx);
  if (ctx->param != nullptr) {
    X509_VERIFY_PARAM_free(ctx->param);
    ctx->param = nullptr;
  }
  free_chain_and_tree(ctx);
  CRYPTO_free_ex_data(CRYPTO_EX_INDEX_X509_STORE_CTX, ctx, &ctx->ex_data);
  memset(&ctx->ex_data, 0, sizeof(ctx->ex_data));
}

int X509_verify_cert(X509_STORE_CTX* ctx) {
  if (ctx->valid) forget_run(ctx);
  if (ctx->cert == nullptr) {
    put_error(X509_F_X509_VERIFY_CERT, X509_R_NO_CERT_SET_FOR_US_TO_VERIFY, __LINE__);
    return -1;
  }
  ctx->valid = 1;  // what the context holds from here on is this run's
  // An allocation that failed anywhere in the run may have made a step fail
  // (an issuer not found, a key not decoded, a signature not checked) or
  // left a check undone: the run then fails as out of memory, whatever the
  // step said and whatever a callback accepted.
  const morvane::internal::MallocFailureWatch watch;
  // What the run checks it remembers for its own duration only (or for the
  // call that shares its session over several runs).
  morvane::x509::SessionScope session(ctx);
  int ok = build_and_check(ctx);
  if (watch.seen()) {
    ctx->error = X509_V_ERR_OUT_OF_MEM;
    ok = 0;
  }
  return ok;
}

int X509_STORE_CTX_get_ex_new_index(long argl, void* argp, CRYPTO_EX_new* new_func,
                                    CRYPTO_EX_dup* dup_func, CRYPTO_EX_free* free_func) {
  return CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_X509_STORE_CTX, argl, argp, new_func, dup_func,
                                 free_func);
}

int X509_STORE_CTX_set_ex_data(X509_STORE_CTX* ctx, int idx, void* data) {
  return CRYPTO_set_ex_data(&ctx->ex_data, idx, data);
}

void* X509_STORE_CTX_get_ex_data(X509_STORE_CTX* ctx, int idx) {
  return CRYPTO_get_ex_data(&ctx->ex_data, idx);
}

int X509_STORE_CTX_get_error(X509_STORE_CTX* ctx) {
  return ctx->error;
}

void X509_STORE_CTX_set_error(X509_STORE_CTX* ctx, int err) {
  ctx->error = err;
}

int X509_STORE_CTX_get_error_depth(X509_STORE_CTX* ctx) {
  return ctx->error_depth;
}

X509* X509_STORE_CTX_get_current_cert(X509_STORE_CTX* ctx) {
  return ctx->current_cert;
}

STACK* X509_STORE_CTX_get_chain(X509_STORE_CTX* ctx) {
  return ctx->chain;
}

STACK* X509_STORE_CTX_get1_chain(X509_STORE_CTX* ctx) {
  if (ctx->chain == nullptr) return nullptr;
  STACK* chain = sk_dup(ctx->chain);
  if (chain == nullptr) return nullptr;
  for (int i = 0; i < sk_num(chain); i++) {
    CRYPTO_add(&reinterpret_cast<X509*>(sk_value(chain, i))->references, 1, CRYPTO_LOCK_X509);
  }
  return chain;
}

void X509_STORE_CTX_set_cert(X509_STORE_CTX* ctx, X509* x) {
  ctx->cert = x;
}

void X509_STORE_CTX_set_chain(X509_STORE_CTX* ctx, STACK* sk) {
  ctx->untrusted = sk;
}

void X509_STORE_CTX_set0_crls(X509_STORE_CTX* ctx, STACK* sk) {
  ctx->crls = sk;
}

void X509_STORE_CTX_trusted_stack(X509_STORE_CTX* ctx, STACK* sk) {
  ctx->other_ctx = sk;
  ctx->get_issuer = morvane::x509::get_issuer_sk;
}

void X509_STORE_CTX_set_verify_cb(X509_STORE_CTX* ctx, int (*verify_cb)(int, X509_STORE_CTX*)) {
  ctx->verify_cb = verify_cb != nullptr ? verify_cb : null_callback;  // null: the built-in one
}

void X509_STORE_CTX_set_flags(X509_STORE_CTX* ctx, unsigned long flags) {
  X509_VERIFY_PARAM_set_flags(ctx->param, flags);
}

void X509_STORE_CTX_set_depth(X509_STORE_CTX* ctx, int depth) {
  X509_VERIFY_PARAM_set_depth(ctx->param, depth);
}

void X509_STORE_CTX_set_time(X509_STORE_CTX* ctx, unsigned long /*flags*/, time_t t) {
  X509_VERIFY_PARAM_set_time(ctx->param, t);
}

X509_VERIFY_PARAM* X509_STORE_CTX_get0_param(X509_STORE_CTX* ctx) {
  return ctx->param;
}

void X509_STORE_CTX_set0_param(X509_STORE_CTX* ctx, X509_VERIFY_PARAM* param) {
  X509_VERIFY_PARAM_free(ctx->param);
  ctx->param = param;
}

int X509_STORE_CTX_set_default(X509_STORE_CTX* ctx, const char* name) {
  const X509_VERIFY_PARAM* param = X509_VERIFY_PARAM_lookup(name);
  if (param == nullptr) return 0;
  return X509_VERIFY_PARAM_inherit(ctx->param, param);
}

X509_POLICY_TREE* X509_STORE_CTX_get0_policy_tree(X509_STORE_CTX* ctx) {
  return ctx->tree;
}

int X509_STORE_CTX_get_explicit_policy(X509_STORE_CTX* ctx) {
  return ctx->explicit_policy;
}

int X509_STORE_CTX_set_purpose(X509_STORE_CTX* ctx, int purpose) {
  return X509_STORE_CTX_purpose_inherit(ctx, 0, purpose, 0);
}

int X509_STORE_CTX_set_trust(X509_STORE_CTX* ctx, int trust) {
  return X509_STORE_CTX_purpose_inherit(ctx, 0, 0, trust);
}

int X509_STORE_CTX_purpose_inherit(X509_STORE_CTX* ctx, int def_purpose, int purpose,
                                   int trust) {
  if (purpose == 0) purpose = def_purpose;
  if (purpose != 0) {
    int idx = X509_PURPOSE_get_by_id(purpose);
    if (idx == -1) {
      put_error(X509_F_X509_STORE_CTX_PURPOSE_INHERIT, X509_R_UNKNOWN_PURPOSE_ID, __LINE__);
      return 0;
    }
    X509_PURPOSE* ptmp = X509_PURPOSE_get0(idx);
    if (X509_PURPOSE_get_trust(ptmp) == -1) {  // the default purpose decides
      idx = X509_PURPOSE_get_by_id(def_purpose);
      if (idx == -1) {
        put_error(X509_F_X509_STORE_CTX_PURPOSE_INHERIT, X509_R_UNKNOWN_PURPOSE_ID, __LINE__);
        return 0;
      }
      ptmp = X509_PURPOSE_get0(idx);
    }
    if (trust == 0) trust = X509_PURPOSE_get_trust(ptmp);
  }
  if (trust != 0 && X509_TRUST_get_by_id(trust) == -1) {
    put_error(X509_F_X509_STORE_CTX_PURPOSE_INHERIT, X509_R_UNKNOWN_TRUST_ID, __LINE__);
    return 0;
  }
  if (purpose != 0 && ctx->param->purpose == 0) ctx->param->purpose = purpose;
  if (trust != 0 && ctx->param->trust == 0) ctx->param->trust = trust;
  return 1;
}

/* ---- times ---- */

ASN1_TIME* X509_time_adj(ASN1_TIME* s, long adj, time_t* in_tm) {
  time_t t = in_tm != nullptr ? *in_tm : time(nullptr);
  if (__builtin_add_overflow(t, static_cast<time_t>(adj), &t)) {
    ASN1err(ASN1_F_ASN1_TIME_SET, ASN1_R_ERROR_GETTING_TIME);
    return nullptr;
  }
  // A GeneralizedTime stays one.  Any other time (a UTCTime, which a field
  // of either form may hold, included) takes the form of RFC 5280, 4.1.2.5:
  // UTCTime through 2049, GeneralizedTime outside 1950-2049, so that no
  // year is written in another century.
  if (s != nullptr && s->type == ASN1_UT_GENERALIZEDTIME) return ASN1_GENERALIZEDTIME_set(s, t);
  return ASN1_TIME_set(s, t);
}

int X509_get_pubkey_parameters(EVP_PKEY* pkey, STACK* chain) {
  if (pkey != nullptr && !EVP_PKEY_missing_parameters(pkey)) return 1;
  EVP_PKEY* ktmp = nullptr;
  int j = 0;
  for (int i = 0; i < sk_num(chain); i++) {
    ktmp = X509_get_pubkey(reinterpret_cast<X509*>(sk_value(chain, i)));
    if (ktmp == nullptr) {
      put_error(X509_F_X509_GET_PUBKEY_PARAMETERS, X509_R_UNABLE_TO_GET_CERTS_PUBLIC_KEY,
                __LINE__);
      return 0;
    }
    if (!EVP_PKEY_missing_parameters(ktmp)) {
      j = i;
      break;
    }
    EVP_PKEY_free(ktmp);
    ktmp = nullptr;
  }
  if (ktmp == nullptr) {
    put_error(X509_F_X509_GET_PUBKEY_PARAMETERS, X509_R_UNABLE_TO_FIND_PARAMETERS_IN_CHAIN,
              __LINE__);
    return 0;
  }
  for (j--; j >= 0; j--) {
    EVP_PKEY* ktmp2 = X509_get_pubkey(reinterpret_cast<X509*>(sk_value(chain, j)));
    if (ktmp2 != nullptr) {
      EVP_PKEY_copy_parameters(ktmp2, ktmp);
      EVP_PKEY_free(ktmp2);
    }
  }
  if (pkey != nullptr) EVP_PKEY_copy_parameters(pkey, ktmp);
  EVP_PKEY_free(ktmp);
  return 1;
}
