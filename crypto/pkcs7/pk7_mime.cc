// PKCS#7 messages in S/MIME form (RFC 2633, 3): the MIME reader and writer
// of the ASN.1 layer with the PKCS#7 item and content writer.

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/pkcs7.h>

#include "pk7_local.h"

using namespace morvane::pkcs7;

namespace {

// Writes the first part of a multipart/signed message.  A message that is
// detached (made with PKCS7_FLAG_PARTIAL) is signed while its content
// passes to `out`; the filters are then freed and `out` stays.
int pk7_output_data(BIO* out, BIO* data, ASN1_VALUE* val, int flags, const ASN1_ITEM*) {
  if (!(flags & PKCS7_FLAG_DETACHED)) return SMIME_crlf_copy(data, out, flags) ? 1 : 0;
  auto* p7 = reinterpret_cast<PKCS7*>(val);
  BIO* p7bio = PKCS7_dataInit(p7, out);
  if (p7bio == nullptr) return 0;
  const bool copied = SMIME_crlf_copy(data, p7bio, flags) != 0;
  const bool signed_ok = PKCS7_dataFinal(p7, p7bio) != 0;
  while (p7bio != nullptr && p7bio != out) {
    BIO* next = BIO_pop(p7bio);
    BIO_free(p7bio);
    p7bio = next;
  }
  return copied && signed_ok ? 1 : 0;
}

}  // namespace

/* see morvane/pkcs7.h */
int SMIME_write_PKCS7(BIO* bio, PKCS7* p7, BIO* data, int flags) {
  STACK* mdalgs = nullptr;
  if (type_nid(p7) == kNidSigned && p7->d.sign != nullptr) mdalgs = p7->d.sign->md_algs;
  return int_smime_write_ASN1(bio, reinterpret_cast<ASN1_VALUE*>(p7), data, flags, type_nid(p7),
                              0, mdalgs, pk7_output_data, &PKCS7_it);
}

/* see morvane/pkcs7.h */
PKCS7* SMIME_read_PKCS7(BIO* bio, BIO** bcont) {
  return reinterpret_cast<PKCS7*>(SMIME_read_ASN1(bio, bcont, &PKCS7_it));
}
