// Identity of names and certificates: the ordering of distinguished names
// used by every issuer and subject match, the 32-bit name hash of hashed
// certificate directories, certificate comparisons and look-ups in stacks,
// and the certificate's public key with the private-key match test.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "x509_local.h"

namespace {

// Types that compare by their bytes alone when they differ:
// PrintableString, T61String and UTF8String.
constexpr unsigned long kLooseTypes =
    ASN1_MASK_PRINTABLESTRING | ASN1_MASK_T61STRING | 0x2000UL /* UTF8String */;

constexpr int kNidEmailAddress = 48;  // PKCS #9 emailAddress (RFC 2985)

bool space(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

int lower(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

// Length difference, then the bytes.
int string_memcmp(const ASN1_STRING* a, const ASN1_STRING* b) {
  if (a->length != b->length) return a->length - b->length;
  if (a->length == 0) return 0;
  return memcmp(a->data, b->data, static_cast<size_t>(a->length));
}

// Length difference, then the bytes without regard to ASCII case.
int nocase_cmp(const ASN1_STRING* a, const ASN1_STRING* b) {
  if (a->length != b->length) return a->length - b->length;
  for (int i = 0; i < a->length; i++) {
    const int d = lower(a->data[i]) - lower(b->data[i]);
    if (d != 0) return d;
  }
  return 0;
}

// Steps *p over the white space at its start, shortening *len.
void skip_space(const unsigned char** p, int* len) {
  while (*len > 0 && space(**p)) {
    ++*p;
    --*len;
  }
}

// Case-blind comparison in which leading and trailing white space is
// ignored and any run of white space inside equals any other run.
int nocase_spacenorm_cmp(const ASN1_STRING* a, const ASN1_STRING* b) {
  const unsigned char* pa = a->data;
  const unsigned char* pb = b->data;
  int la = a->length;
  int lb = b->length;
  skip_space(&pa, &la);
  skip_space(&pb, &lb);
  while (la > 0 && space(pa[la - 1])) la--;
  while (lb > 0 && space(pb[lb - 1])) lb--;
  while (la > 0 && lb > 0) {
    const int d = lower(*pa) - lower(*pb);
    if (d != 0) return d;
    pa++;
    pb++;
    la--;
    lb--;
    if (la > 0 && lb > 0 && space(*pa) && space(*pb)) {
      skip_space(&pa, &la);
      skip_space(&pb, &lb);
    }
  }
  return la - lb;
}

int value_cmp(const X509_NAME_ENTRY* na, const X509_NAME_ENTRY* nb) {
  const ASN1_STRING* a = na->value;
  const ASN1_STRING* b = nb->value;
  if (a->type != b->type) {
    if ((ASN1_tag2bit(a->type) & kLooseTypes) != 0 && (ASN1_tag2bit(b->type) & kLooseTypes) != 0 &&
        string_memcmp(a, b) == 0)
      return 0;
    return a->type - b->type;
  }
  if (a->type == ASN1_UT_PRINTABLESTRING) return nocase_spacenorm_cmp(a, b);
  if (a->type == ASN1_UT_IA5STRING && OBJ_obj2nid(na->object) == kNidEmailAddress)
    return nocase_cmp(a, b);
  return string_memcmp(a, b);
}

X509_NAME_ENTRY* entry(const X509_NAME* name, int i) {
  return reinterpret_cast<X509_NAME_ENTRY*>(sk_value(name->entries, i));
}

// The first four digest bytes as a little-endian number, on every host.
unsigned long first_word(const unsigned char* md) {
  return static_cast<unsigned long>(md[0]) | static_cast<unsigned long>(md[1]) << 8 |
         static_cast<unsigned long>(md[2]) << 16 | static_cast<unsigned long>(md[3]) << 24;
}

}  // namespace

namespace morvane::x509 {

int name_head_cmp(const X509_NAME* a, const X509_NAME* b, int n) {
  for (int i = n - 1; i >= 0; i--) {
    const X509_NAME_ENTRY* ea = entry(a, i);
    const X509_NAME_ENTRY* eb = entry(b, i);
    const int r = value_cmp(ea, eb);
    if (r != 0) return r;
    if (ea->set != eb->set) return ea->set - eb->set;
  }
  for (int i = n - 1; i >= 0; i--) {
    const int r = OBJ_cmp(entry(a, i)->object, entry(b, i)->object);
    if (r != 0) return r;
  }
  return 0;
}

bool proxy_name_follows(const X509_NAME* proxy, const X509_NAME* issuer) {
  constexpr int kNidCommonName = 13;
  const int n = issuer != nullptr ? sk_num(issuer->entries) : 0;
  if (proxy == nullptr || sk_num(proxy->entries) != n + 1) return false;
  const X509_NAME_ENTRY* last = entry(proxy, n);
  return OBJ_obj2nid(last->object) == kNidCommonName &&
         (n == 0 || last->set != entry(proxy, n - 1)->set) && name_head_cmp(proxy, issuer, n) == 0;
}

}  // namespace morvane::x509

/* see morvane/x509.h */
int X509_NAME_cmp(const X509_NAME* a, const X509_NAME* b) {
  const int na = a != nullptr ? sk_num(a->entries) : 0;
  const int nb = b != nullptr ? sk_num(b->entries) : 0;
  if (na != nb) return na - nb;
  return morvane::x509::name_head_cmp(a, b, na);
}

/* see morvane/x509.h */
unsigned long X509_NAME_hash(X509_NAME* x) {
  if (x == nullptr || i2d_X509_NAME(x, nullptr) <= 0) return 0;
  unsigned char md[EVP_MAX_MD_SIZE];
  EVP_MD_CTX ctx;
  EVP_MD_CTX_init(&ctx);
  EVP_MD_CTX_set_flags(&ctx, EVP_MD_CTX_FLAG_NAME_HASH);
  const int ok = EVP_DigestInit_ex(&ctx, EVP_md5(), nullptr) &&
                 EVP_DigestUpdate(&ctx, x->bytes->data, static_cast<size_t>(x->bytes->length)) &&
                 EVP_DigestFinal_ex(&ctx, md, nullptr);
  EVP_MD_CTX_cleanup(&ctx);
  return ok ? first_word(md) : 0;
}

/* see morvane/x509.h */
unsigned long X509_issuer_name_hash(X509* x) {
  return X509_NAME_hash(x->cert_info->issuer);
}

/* see morvane/x509.h */
unsigned long X509_subject_name_hash(X509* x) {
  return X509_NAME_hash(x->cert_info->subject);
}

/* see morvane/x509.h */
unsigned long X509_issuer_and_serial_hash(X509* a) {
  char* issuer = X509_NAME_oneline(a->cert_info->issuer, nullptr, 0);
  if (issuer == nullptr) return 0;
  const ASN1_INTEGER* serial = a->cert_info->serialNumber;
  unsigned char md[EVP_MAX_MD_SIZE];
  EVP_MD_CTX ctx;
  EVP_MD_CTX_init(&ctx);
  const int ok = EVP_DigestInit_ex(&ctx, EVP_md5(), nullptr) &&
                 EVP_DigestUpdate(&ctx, issuer, strlen(issuer)) &&
                 EVP_DigestUpdate(&ctx, serial->data, static_cast<size_t>(serial->length)) &&
                 EVP_DigestFinal_ex(&ctx, md, nullptr);
  EVP_MD_CTX_cleanup(&ctx);
  MORVANE_free(issuer);
  return ok ? first_word(md) : 0;
}

/* see morvane/x509.h */
int X509_issuer_and_serial_cmp(const X509* a, const X509* b) {
  const int r = ASN1_STRING_cmp(a->cert_info->serialNumber, b->cert_info->serialNumber);
  if (r != 0) return r;
  return X509_NAME_cmp(a->cert_info->issuer, b->cert_info->issuer);
}

/* see morvane/x509.h */
int X509_issuer_name_cmp(const X509* a, const X509* b) {
  return X509_NAME_cmp(a->cert_info->issuer, b->cert_info->issuer);
}

/* see morvane/x509.h */
int X509_subject_name_cmp(const X509* a, const X509* b) {
  return X509_NAME_cmp(a->cert_info->subject, b->cert_info->subject);
}

/* see morvane/x509.h */
int X509_CRL_cmp(const X509_CRL* a, const X509_CRL* b) {
  return X509_NAME_cmp(a->crl->issuer, b->crl->issuer);
}

/* see morvane/x509.h */
int X509_cmp(const X509* a, const X509* b) {
  // The purpose check with id -1 only fills the cached facts, the digest
  // among them; it changes nothing a caller could see as the certificate.
  // Without memory for them two certificates never compare equal.
  if (X509_check_purpose(const_cast<X509*>(a), -1, 0) != 1 ||
      X509_check_purpose(const_cast<X509*>(b), -1, 0) != 1)
    return a == b ? 0 : -1;
  return memcmp(a->sha1_hash, b->sha1_hash, sizeof a->sha1_hash);
}

/* see morvane/x509.h */
X509_NAME* X509_get_issuer_name(X509* a) {
  return a->cert_info->issuer;
}

/* see morvane/x509.h */
X509_NAME* X509_get_subject_name(X509* a) {
  return a->cert_info->subject;
}

/* see morvane/x509.h */
ASN1_INTEGER* X509_get_serialNumber(X509* a) {
  return a->cert_info->serialNumber;
}

/* see morvane/x509.h */
X509* X509_find_by_issuer_and_serial(STACK* sk, X509_NAME* name, ASN1_INTEGER* serial) {
  if (sk == nullptr) return nullptr;
  // A certificate shell that lends the two fields compared.
  X509_CINF cinf{};
  X509 key{};
  cinf.issuer = name;
  cinf.serialNumber = serial;
  key.cert_info = &cinf;
  for (int i = 0; i < sk_num(sk); i++) {
    auto* x = reinterpret_cast<X509*>(sk_value(sk, i));
    if (X509_issuer_and_serial_cmp(x, &key) == 0) return x;
  }
  return nullptr;
}

/* see morvane/x509.h */
X509* X509_find_by_subject(STACK* sk, X509_NAME* name) {
  for (int i = 0; i < sk_num(sk); i++) {
    auto* x = reinterpret_cast<X509*>(sk_value(sk, i));
    if (X509_NAME_cmp(X509_get_subject_name(x), name) == 0) return x;
  }
  return nullptr;
}

/* see morvane/x509.h */
EVP_PKEY* X509_get_pubkey(X509* x) {
  if (x == nullptr || x->cert_info == nullptr) return nullptr;
  return X509_PUBKEY_get(x->cert_info->key);
}

/* see morvane/x509.h */
ASN1_BIT_STRING* X509_get0_pubkey_bitstr(const X509* x) {
  if (x == nullptr || x->cert_info == nullptr || x->cert_info->key == nullptr) return nullptr;
  return x->cert_info->key->public_key;
}

/* see morvane/x509.h */
int X509_check_private_key(X509* x, EVP_PKEY* k) {
  return morvane::x509::check_private_key(X509_get_pubkey(x), k, X509_F_X509_CHECK_PRIVATE_KEY);
}

namespace morvane::x509 {

int check_private_key(EVP_PKEY* xk, EVP_PKEY* k, int func) {
  if (xk == nullptr) {
    X509err(func, X509_R_UNABLE_TO_GET_CERTS_PUBLIC_KEY);
    return 0;
  }
  const int r = EVP_PKEY_cmp(xk, k);
  EVP_PKEY_free(xk);
  switch (r) {
    case 1:
      return 1;
    case 0:
      X509err(func, X509_R_KEY_VALUES_MISMATCH);
      break;
    case -1:
      X509err(func, X509_R_KEY_TYPE_MISMATCH);
      break;
    default:  // the two keys cannot be compared
      if (k != nullptr && k->type == EVP_PKEY_EC)
        X509err(func, ERR_R_EC_LIB);
      else if (k != nullptr && k->type == EVP_PKEY_DH)
        X509err(func, X509_R_CANT_CHECK_DH_KEY);
      else
        X509err(func, X509_R_UNKNOWN_KEY_TYPE);
      break;
  }
  return 0;
}

}  // namespace morvane::x509
