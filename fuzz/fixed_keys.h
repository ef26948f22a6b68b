// Fixed keys of the container fuzzers and of the program that makes their
// seeds (container_seeds.cc): an RSA recipient with a certificate, a DSA and
// an EC signer.  Seeds enveloped to the recipient open in the fuzzers, so
// the content decryption behind the key is reached too.
#ifndef MORVANE_FUZZ_FIXED_KEYS_H
#define MORVANE_FUZZ_FIXED_KEYS_H

#include <ctime>

#include <morvane/asn1.h>
#include <morvane/bn.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/evp.h>
#include <morvane/rsa.h>
#include <morvane/x509.h>

namespace fuzz_keys {

// The 512-bit key of test/data/rsa/keys.txt.
inline EVP_PKEY* RecipientKey() {
  static EVP_PKEY* key = [] {
    RSA* rsa = RSA_new();
    BN_hex2bn(&rsa->n,
              "A1027B438014AFF248F10BF8E991CEDF79812CF9EB63E56B0DA418956B7D09EA00061F3A9765820556B5"
              "61DF6DAEB6B2C925399BFAA79B08B7CC12E4DB97A273");
    BN_hex2bn(&rsa->e, "10001");
    BN_hex2bn(&rsa->d,
              "36E58AB38C13019E8142368BCACF5D1292F1F92CC916495D83CC2459A5C97F3C4FDF2E910B7D7120E909"
              "CDBE8A765D4C2A5E633A7487C00C028DED9D41315069");
    BN_hex2bn(&rsa->p, "D5B8BD66AB2E35724A07C4F7921DB335D82CE2EB46450FC91380A6ABB917B22D");
    BN_hex2bn(&rsa->q, "C0DC4F98FD21C9AD748F32A6FCCABF277A65F8F11DF1D3881C27C47EB6A9AB1F");
    BN_hex2bn(&rsa->dmp1, "19C9E4F0D28F0CDBF19AE6658938143BD70DF383B842F518AA45C7D6C8CAD731");
    BN_hex2bn(&rsa->dmq1, "A1F3DFBBBF45B250408347ABC6B8931119CDABE0FE9E665DF416C901076F2F4D");
    BN_hex2bn(&rsa->iqmp, "C0C826BDDAB6EF26814C28A2086BAE10441DFE430D7B246286396A0F2024DE25");
    EVP_PKEY* k = EVP_PKEY_new();
    EVP_PKEY_assign_RSA(k, rsa);
    return k;
  }();
  return key;
}

// The DSA key of FIPS 186-2 (change notice 1), Appendix 5.
inline EVP_PKEY* DsaKey() {
  static EVP_PKEY* key = [] {
    DSA* dsa = DSA_new();
    BN_hex2bn(&dsa->p,
              "8df2a494492276aa3d25759bb06869cbeac0d83afb8d0cf7cbb8324f0d7882e5d0762fc5b7210eafc2e9"
              "adac32ab7aac49693dfbf83724c2ec0736ee31c80291");
    BN_hex2bn(&dsa->q, "c773218c737ec8ee993b4f2ded30f48edace915f");
    BN_hex2bn(&dsa->g,
              "626d027839ea0a13413163a55b4cb500299d5522956cefcb3bff10f399ce2c2e71cb9de5fa24babf58e5"
              "b79521925c9cc42e9f6f464b088cc572af53e6d78802");
    BN_hex2bn(&dsa->priv_key, "2070b3223dba372fde1c0ffc7b2e3b498b260614");
    BN_hex2bn(&dsa->pub_key,
              "19131871d75b1612a819f29d78d1b0d7346f7aa77bb62a859bfd6c5675da9d212d3a36ef1672ef660b8c"
              "7c255cc0ec74858fba33f44c06699630a76b030ee333");
    EVP_PKEY* k = EVP_PKEY_new();
    EVP_PKEY_assign_DSA(k, dsa);
    return k;
  }();
  return key;
}

// A P-256 key of a fixed private value ("fuzz" eight times, below the
// order).
inline EVP_PKEY* EcKey() {
  static EVP_PKEY* key = [] {
    EC_KEY* ec = EC_KEY_new_by_curve_name(415);  // prime256v1
    BIGNUM* d = nullptr;
    BN_hex2bn(&d, "66757a7a66757a7a66757a7a66757a7a66757a7a66757a7a66757a7a66757a7a");
    EC_POINT* q = EC_POINT_new(EC_KEY_get0_group(ec));
    EC_POINT_mul(EC_KEY_get0_group(ec), q, d, nullptr, nullptr, nullptr);
    EC_KEY_set_private_key(ec, d);
    EC_KEY_set_public_key(ec, q);
    EC_POINT_free(q);
    BN_free(d);
    EVP_PKEY* k = EVP_PKEY_new();
    EVP_PKEY_assign_EC_KEY(k, ec);
    return k;
  }();
  return key;
}

// An unsigned version 3 certificate for `key`: subject "CN=<cn>", issuer
// "CN=<issuer_cn>", the serial given, valid from 2020 to 2100.
inline X509* UnsignedCert(EVP_PKEY* key, const char* cn, const char* issuer_cn, long serial) {
  X509* x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", ASN1_MB_ASCII,
                             reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
  X509_NAME_add_entry_by_txt(X509_get_issuer_name(x), "CN", ASN1_MB_ASCII,
                             reinterpret_cast<const unsigned char*>(issuer_cn), -1, -1, 0);
  ASN1_TIME_set(x->cert_info->validity->notBefore, 1577836800);  // 2020-01-01
  ASN1_TIME_set(x->cert_info->validity->notAfter, 4102444800);   // 2100-01-01
  X509_set_pubkey(x, key);
  return x;
}

// A certificate for `key`: subject and issuer "CN=<cn>", the serial given,
// signed with the RSA key `signer` under SHA-1, or left with an empty
// signature (null signer: enough to name a recipient, or a signer whose
// certificate chain is not checked).
inline X509* CertFor(EVP_PKEY* key, const char* cn, long serial, EVP_PKEY* signer = nullptr) {
  X509* x = UnsignedCert(key, cn, cn, serial);
  if (signer != nullptr) X509_sign(x, signer, EVP_sha1());
  return x;
}

// The recipient's certificate, as the seeds name it.
inline X509* RecipientCert() {
  static X509* cert = CertFor(RecipientKey(), "Fuzz Recipient", 1);
  return cert;
}

}  // namespace fuzz_keys

#endif  // MORVANE_FUZZ_FIXED_KEYS_H
