// Fuzzes PKCS#7 messages in DER: d2i_PKCS7, then the signer lookup,
// PKCS7_verify without and with chain checks (a fixed content stream for
// detached messages), PKCS7_decrypt with a fixed RSA key with and without
// its certificate (fixed_keys.h; the seeds enveloped to it open), the
// other types through PKCS7_dataDecode with that key (signed-and-enveloped
// data also with the certificate), and the encoders and PKCS7_dup.  The signed seeds have DSA and EC signers with MD5, SHA-1,
// SHA-256 and SHA-384 digests.
//
// Input that is no message and starts with 0xEC or 0xD5 signs the rest of
// it with the fixed EC or DSA key, the digest chosen by the next byte (MD5,
// SHA-1, SHA-224, SHA-256, SHA-384, SHA-512), and verifies the signature.
//
// Checks: a decoded message encodes, and its copy encodes to the same bytes;
// a stack of signers has one certificate per signer record; a signature
// made over SHA-1 verifies, one over another digest fails with an error
// queued (DSA and ECDSA keys sign SHA-1 only here).

#include "fuzz_check.h"
#include "fuzz_der.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pkcs7.h>
#include <morvane/stack.h>

#include "fixed_keys.h"

namespace {

void Drain(BIO* b) {
  char buf[4096];
  while (BIO_read(b, buf, sizeof buf) > 0) {
  }
}

std::vector<unsigned char> Encode(PKCS7* p7) { return DerOf(i2d_PKCS7, p7); }

// Signs `content` with the fixed EC or DSA key over the digest of NID
// `digest` and verifies what was made.
void SignAndVerify(bool ec, int digest, const uint8_t* content, size_t size) {
  EVP_PKEY* key = ec ? fuzz_keys::EcKey() : fuzz_keys::DsaKey();
  static X509* ec_cert = fuzz_keys::CertFor(fuzz_keys::EcKey(), "Fuzz EC signer", 2);
  static X509* dsa_cert = fuzz_keys::CertFor(fuzz_keys::DsaKey(), "Fuzz DSA signer", 3);
  X509* cert = ec ? ec_cert : dsa_cert;
  PKCS7* p7 = PKCS7_new();
  PKCS7_set_type(p7, 22);
  PKCS7_content_new(p7, 21);
  PKCS7_SIGNER_INFO* si = PKCS7_add_signature(p7, cert, key, EVP_sha1());
  Check(si != nullptr, "a signer record");
  // The record and the message's digest list name the digest.
  X509_ALGOR* algs[] = {si->digest_alg,
                        reinterpret_cast<X509_ALGOR*>(sk_value(p7->d.sign->md_algs, 0))};
  for (X509_ALGOR* a : algs) {
    ASN1_OBJECT_free(a->algorithm);
    a->algorithm = OBJ_nid2obj(digest);
  }
  BIO* chain = PKCS7_dataInit(p7, nullptr);
  Check(chain != nullptr, "a write chain");
  BIO_write(chain, content, static_cast<int>(size));
  BIO_flush(chain);
  const int signed_ok = PKCS7_dataFinal(p7, chain);
  BIO_free_all(chain);
  Check(signed_ok == (digest == 64 ? 1 : 0), "DSA and ECDSA sign SHA-1 only");
  Check(signed_ok == 1 || ERR_peek_error() != 0, "a failed signature says why");
  ERR_clear_error();
  if (signed_ok == 1) {
    BIO* in = PKCS7_dataDecode(p7, nullptr, nullptr, nullptr);
    Check(in != nullptr, "a read chain");
    Drain(in);
    Check(PKCS7_signatureVerify(in, p7, si, cert) == 1, "a signature made verifies");
    BIO_free_all(in);
  }
  PKCS7_free(p7);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool loaded = [] {
    Morvane_add_all_digests();
    Morvane_add_all_ciphers();
    return true;
  }();
  (void)loaded;
  const unsigned char* p = data;
  PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(size));
  if (p7 == nullptr) {
    ERR_clear_error();
    if (size >= 2 && (data[0] == 0xEC || data[0] == 0xD5)) {
      static const int kDigests[] = {4, 64, 675, 672, 673, 674};
      SignAndVerify(data[0] == 0xEC, kDigests[data[1] % 6], data + 2, size - 2);
    }
    return 0;
  }
  STACK* signers = PKCS7_get0_signers(p7, nullptr, 0);
  if (signers != nullptr) {
    Check(sk_num(signers) == sk_num(PKCS7_get_signer_info(p7)), "one signer per record");
    sk_free(signers);
  }
  static const char kContent[] = "fuzz content\r\n";
  for (int flags : {PKCS7_FLAG_NO_VERIFY, 0}) {
    BIO* content = BIO_new_mem_buf(const_cast<char*>(kContent), sizeof kContent - 1);
    BIO* out = BIO_new(BIO_s_mem());
    PKCS7_verify(p7, nullptr, nullptr, content, out, flags);
    BIO_free(out);
    BIO_free(content);
  }
  EVP_PKEY* key = fuzz_keys::RecipientKey();
  const int type = OBJ_obj2nid(p7->type);
  for (X509* cert : {static_cast<X509*>(nullptr), fuzz_keys::RecipientCert()}) {
    if (cert != nullptr && type != 23 && type != 24) break;  // no recipients to name
    if (type == 23) {
      BIO* out = BIO_new(BIO_s_mem());
      PKCS7_decrypt(p7, key, cert, out, cert != nullptr ? PKCS7_FLAG_TEXT : 0);
      BIO_free(out);
    } else {
      BIO* chain = PKCS7_dataDecode(p7, key, nullptr, cert);
      if (chain != nullptr) {
        Drain(chain);
        BIO_free_all(chain);
      }
    }
    ERR_clear_error();
  }
  const std::vector<unsigned char> der = Encode(p7);
  Check(!der.empty(), "a decoded message encodes");
  unsigned char* ndef = nullptr;
  i2d_PKCS7_NDEF(p7, &ndef);
  MORVANE_free(ndef);
  PKCS7* copy = PKCS7_dup(p7);
  Check(copy != nullptr, "a decoded message copies");
  Check(Encode(copy) == der, "the copy encodes alike");
  PKCS7_free(copy);
  PKCS7_free(p7);
  ERR_clear_error();
  return 0;
}
