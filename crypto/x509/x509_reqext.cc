// The extensions a certificate request asks for: carried in an attribute of
// type extensionRequest (PKCS #9, RFC 2985, 5.4.2) or Microsoft's older
// equivalent, as one SEQUENCE OF Extension.

#include <morvane/asn1.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

namespace {

constexpr int kNidExtReq = 172;    // 1.2.840.113549.1.9.14
constexpr int kNidMsExtReq = 171;  // 1.3.6.1.4.1.311.2.1.14

}  // namespace

/* see morvane/x509.h */
int X509_REQ_extension_nid(int nid) {
  return nid == kNidExtReq || nid == kNidMsExtReq ? 1 : 0;
}

/* see morvane/x509.h */
STACK* X509_REQ_get_extensions(X509_REQ* req) {
  if (req == nullptr || req->req_info == nullptr) return nullptr;
  const STACK* attrs = req->req_info->attributes;
  for (int i = 0; i < sk_num(attrs); i++) {
    const auto* a = reinterpret_cast<const X509_ATTRIBUTE*>(sk_value(attrs, i));
    if (!X509_REQ_extension_nid(OBJ_obj2nid(a->object))) continue;
    const ASN1_TYPE* v = a->single ? a->value.single
                                   : reinterpret_cast<const ASN1_TYPE*>(sk_value(a->value.set, 0));
    if (v == nullptr || v->type != ASN1_UT_SEQUENCE) return nullptr;
    const unsigned char* p = v->value.sequence->data;
    return d2i_X509_EXTENSIONS(nullptr, &p, v->value.sequence->length);
  }
  return nullptr;
}
