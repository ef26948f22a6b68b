// The x509-limbo path-validation suite (../shared/vectors/x509-limbo,
// limbo.json) through X509_verify_cert: the case's trusted certificates in
// the store, its intermediates untrusted (PEM read through memory streams),
// the "ssl_server" parameters, its validation time (else now), strict
// checks and its depth limit; expected key usages and extended key usages
// are checked afterwards on the leaf.  Peer names are not checked.  Every
// FAILURE case must be refused; the SUCCESS cases whose chains are RSA
// verify, and the ECDSA-with-SHA-2 ones stop at their first signature
// (error 7), the digest registry knowing ECDSA with SHA-1 only; two are
// refused before that for reasons of their own.

#include <string.h>
#include <time.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pem.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "test_support.h"

namespace {

using morvane_test::Json;

X509* ReadPem(const std::string& pem) {
  BIO* in = BIO_new_mem_buf(const_cast<char*>(pem.data()), static_cast<int>(pem.size()));
  X509* x = PEM_read_bio_X509(in, nullptr, nullptr, nullptr);
  BIO_free(in);
  return x;
}

// "2023-07-10T00:00:00+00:00" (or "Z") as seconds since the epoch.
time_t ParseTime(const std::string& t) {
  struct tm tm;
  memset(&tm, 0, sizeof(tm));
  tm.tm_year = std::stoi(t.substr(0, 4)) - 1900;
  tm.tm_mon = std::stoi(t.substr(5, 2)) - 1;
  tm.tm_mday = std::stoi(t.substr(8, 2));
  tm.tm_hour = std::stoi(t.substr(11, 2));
  tm.tm_min = std::stoi(t.substr(14, 2));
  tm.tm_sec = std::stoi(t.substr(17, 2));
  return timegm(&tm);
}

// Cases refused for a reason of their own: error and depth.
const std::map<std::string, std::pair<int, int>> kRefused = {
    {"pathlen::validation-ignores-pathlen-in-leaf", {26, 0}},
    {"pathlen::max-chain-depth-1-self-issued", {20, 2}},
};

const std::map<std::string, std::pair<int, int>> kFailureReasons = {
    {"rfc5280::serial::negative", {20, 0}},
    {"rfc5280::mismatching-signature-algorithm", {7, 0}},
};

TEST(Limbo, EveryCase) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "x509-limbo/limbo.json");
  Morvane_add_all_digests();
  const Json doc = morvane_test::ParseJson(morvane_test::ReadFile(path));
  const Json& cases = doc["testcases"];
  ASSERT_EQ(135u, cases.items.size());
  int verified = 0;
  for (const Json& c : cases.items) {
    const std::string id = c["id"].text;
    SCOPED_TRACE(id);
    X509_STORE* store = X509_STORE_new();
    for (const Json& pem : c["trusted_certs"].items) {
      X509* x = ReadPem(pem.text);
      ASSERT_NE(nullptr, x);
      X509_STORE_add_cert(store, x);
      X509_free(x);
    }
    STACK* untrusted = sk_new_null();
    for (const Json& pem : c["untrusted_intermediates"].items) {
      X509* x = ReadPem(pem.text);
      ASSERT_NE(nullptr, x);
      sk_push(untrusted, reinterpret_cast<char*>(x));
    }
    X509* leaf = ReadPem(c["peer_certificate"].text);
    ASSERT_NE(nullptr, leaf);
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    ASSERT_EQ(1, X509_STORE_CTX_init(ctx, store, leaf, untrusted));
    ASSERT_EQ(1, X509_STORE_CTX_set_default(ctx, "ssl_server"));
    if (c["validation_time"].type == Json::kString)
      X509_STORE_CTX_set_time(ctx, 0, ParseTime(c["validation_time"].text));
    X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_X509_STRICT);
    if (c["max_chain_depth"].type == Json::kNumber)
      X509_STORE_CTX_set_depth(ctx, std::stoi(c["max_chain_depth"].text) + 1);
    int result = X509_verify_cert(ctx);
    const int error = X509_STORE_CTX_get_error(ctx);
    const int depth = X509_STORE_CTX_get_error_depth(ctx);

    // The expected usages, on the leaf.
    if (result == 1 && c["key_usage"].type == Json::kArray) {
      for (const Json& ku : c["key_usage"].items) {
        if (ku.text == "digitalSignature" && (leaf->ex_flags & 0x2) && !(leaf->ex_kusage & 0x80))
          result = 0;
      }
    }
    if (result == 1 && c["extended_key_usage"].type == Json::kArray) {
      for (const Json& eku : c["extended_key_usage"].items) {
        if (eku.text == "serverAuth" && X509_check_purpose(leaf, 2, 0) != 1) result = 0;
      }
    }

    if (c["expected_result"].text == "FAILURE") {
      EXPECT_NE(1, result) << "accepted";
      const auto r = kFailureReasons.find(id);
      if (r != kFailureReasons.end()) {
        EXPECT_EQ(r->second.first, error);
        EXPECT_EQ(r->second.second, depth);
      }
    } else if (result == 1) {
      verified++;
    } else {
      const auto r = kRefused.find(id);
      if (r != kRefused.end()) {
        EXPECT_EQ(r->second.first, error);
        EXPECT_EQ(r->second.second, depth);
      } else {
        EXPECT_EQ(X509_V_ERR_CERT_SIGNATURE_FAILURE, error)
            << X509_verify_cert_error_string(error) << " at depth " << depth;
      }
    }
    X509_STORE_CTX_free(ctx);
    X509_free(leaf);
    sk_pop_free(untrusted, [](void* p) { X509_free(static_cast<X509*>(p)); });
    X509_STORE_free(store);
    morvane_test::DrainErrors();
  }
  // webpki::cryptographydotio-chain and the eleven RSA online chains.
  EXPECT_EQ(12, verified);
}

}  // namespace
