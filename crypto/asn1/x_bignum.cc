// The BIGNUM and CBIGNUM items: an unsigned INTEGER held as a BIGNUM in the
// parent's field.  CBIGNUM (size 1) wipes the number when freeing it.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bn.h>

namespace {

BIGNUM*& field(ASN1_VALUE** pval) {
  return *reinterpret_cast<BIGNUM**>(pval);
}

int bn_new(ASN1_VALUE** pval, const ASN1_ITEM* /*it*/) {
  field(pval) = BN_new();
  return field(pval) != nullptr;
}

void bn_free(ASN1_VALUE** pval, const ASN1_ITEM* it) {
  if (field(pval) == nullptr) return;
  if (it->size & 1)
    BN_clear_free(field(pval));
  else
    BN_free(field(pval));
  field(pval) = nullptr;
}

int bn_i2c(ASN1_VALUE** pval, unsigned char* cont, int* /*putype*/, const ASN1_ITEM* /*it*/) {
  const BIGNUM* bn = field(pval);
  if (bn == nullptr) return -1;
  const int pad = (BN_num_bits(bn) & 7) == 0;  // keeps the top bit clear
  if (cont != nullptr) {
    if (pad) *cont++ = 0;
    BN_bn2bin(bn, cont);
  }
  return pad + BN_num_bytes(bn);
}

int bn_c2i(ASN1_VALUE** pval, const unsigned char* cont, int len, int /*utype*/,
           char* /*free_cont*/, const ASN1_ITEM* it) {
  if (field(pval) == nullptr && !bn_new(pval, it)) return 0;
  if (BN_bin2bn(cont, len, field(pval)) == nullptr) {
    bn_free(pval, it);
    return 0;
  }
  return 1;
}

constexpr ASN1_PRIMITIVE_FUNCS bignum_pf = {nullptr, 0, bn_new, bn_free, nullptr, bn_c2i, bn_i2c};

}  // namespace

ASN1_ITEM_PRIMITIVE_ex(BIGNUM, ASN1_UT_INTEGER, &bignum_pf, 0);
ASN1_ITEM_PRIMITIVE_ex(CBIGNUM, ASN1_UT_INTEGER, &bignum_pf, 1);
