// The encodings of elliptic-curve parameters and keys: the ANSI X9.62 and
// SEC 1 structures (SEC 1, C.2 to C.4; RFC 3279, 2.3.5; RFC 5915, 3), the
// conversion between a group and those structures in both directions, the
// DER functions for parameters and private keys, and the raw octet form of
// a public point; and the basis queries of a characteristic-two group.

#include <limits.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/objects.h>

#include "ec/internal.h"
#include "internal/ct.h"
#include "internal/wipe.h"

struct x9_62_pentanomial_st {
  long k1;
  long k2;
  long k3;
};

struct x9_62_characteristic_two_st {
  long m;
  ASN1_OBJECT* type;
  union {
    char* ptr;
    ASN1_NULL* onBasis;          // 681
    ASN1_INTEGER* tpBasis;       // 682
    X9_62_PENTANOMIAL* ppBasis;  // 683
    ASN1_TYPE* other;
  } p;
};

struct x9_62_fieldid_st {
  ASN1_OBJECT* fieldType;
  union {
    char* ptr;
    ASN1_INTEGER* prime;                 // 406
    X9_62_CHARACTERISTIC_TWO* char_two;  // 407
    ASN1_TYPE* other;
  } p;
};

struct x9_62_curve_st {
  ASN1_OCTET_STRING* a;
  ASN1_OCTET_STRING* b;
  ASN1_BIT_STRING* seed;
};

struct ec_parameters_st {
  long version;
  X9_62_FIELDID* fieldID;
  X9_62_CURVE* curve;
  ASN1_OCTET_STRING* base;
  ASN1_INTEGER* order;
  ASN1_INTEGER* cofactor;
};

struct ecpk_parameters_st {
  int type;  // 0 named curve, 1 explicit parameters, 2 implicitlyCA
  union {
    ASN1_OBJECT* named_curve;
    ECPARAMETERS* parameters;
    ASN1_NULL* implicitlyCA;
  } value;
};

struct ec_privatekey_st {
  long version;
  ASN1_OCTET_STRING* privateKey;
  ECPKPARAMETERS* parameters;
  ASN1_BIT_STRING* publicKey;
};

namespace {

constexpr int kNidOnBasis = 681;
constexpr int kNidTpBasis = 682;
constexpr int kNidPpBasis = 683;
constexpr int kMaxFieldBits = 661;

}  // namespace

ASN1_SEQUENCE(X9_62_PENTANOMIAL) = {
    ASN1_SIMPLE(X9_62_PENTANOMIAL, k1, LONG),
    ASN1_SIMPLE(X9_62_PENTANOMIAL, k2, LONG),
    ASN1_SIMPLE(X9_62_PENTANOMIAL, k3, LONG),
} ASN1_SEQUENCE_END(X9_62_PENTANOMIAL);

ASN1_ADB_TEMPLATE(char_two_def) = ASN1_SIMPLE(X9_62_CHARACTERISTIC_TWO, p.other, ASN1_ANY);
ASN1_ADB(X9_62_CHARACTERISTIC_TWO) = {
    ASN1_ADB_ENTRY(kNidOnBasis, ASN1_SIMPLE(X9_62_CHARACTERISTIC_TWO, p.onBasis, ASN1_NULL)),
    ASN1_ADB_ENTRY(kNidTpBasis, ASN1_SIMPLE(X9_62_CHARACTERISTIC_TWO, p.tpBasis, ASN1_INTEGER)),
    ASN1_ADB_ENTRY(kNidPpBasis,
                   ASN1_SIMPLE(X9_62_CHARACTERISTIC_TWO, p.ppBasis, X9_62_PENTANOMIAL)),
} ASN1_ADB_END(X9_62_CHARACTERISTIC_TWO, 0, type, 0, &char_two_def_tt, NULL);

ASN1_SEQUENCE(X9_62_CHARACTERISTIC_TWO) = {
    ASN1_SIMPLE(X9_62_CHARACTERISTIC_TWO, m, LONG),
    ASN1_SIMPLE(X9_62_CHARACTERISTIC_TWO, type, ASN1_OBJECT),
    ASN1_ADB_OBJECT(X9_62_CHARACTERISTIC_TWO),
} ASN1_SEQUENCE_END(X9_62_CHARACTERISTIC_TWO);

ASN1_ADB_TEMPLATE(fieldID_def) = ASN1_SIMPLE(X9_62_FIELDID, p.other, ASN1_ANY);
ASN1_ADB(X9_62_FIELDID) = {
    ASN1_ADB_ENTRY(morvane::ec::kNidPrimeField, ASN1_SIMPLE(X9_62_FIELDID, p.prime, ASN1_INTEGER)),
    ASN1_ADB_ENTRY(morvane::ec::kNidCharTwoField,
                   ASN1_SIMPLE(X9_62_FIELDID, p.char_two, X9_62_CHARACTERISTIC_TWO)),
} ASN1_ADB_END(X9_62_FIELDID, 0, fieldType, 0, &fieldID_def_tt, NULL);

ASN1_SEQUENCE(X9_62_FIELDID) = {
    ASN1_SIMPLE(X9_62_FIELDID, fieldType, ASN1_OBJECT),
    ASN1_ADB_OBJECT(X9_62_FIELDID),
} ASN1_SEQUENCE_END(X9_62_FIELDID);

ASN1_SEQUENCE(X9_62_CURVE) = {
    ASN1_SIMPLE(X9_62_CURVE, a, ASN1_OCTET_STRING),
    ASN1_SIMPLE(X9_62_CURVE, b, ASN1_OCTET_STRING),
    ASN1_OPT(X9_62_CURVE, seed, ASN1_BIT_STRING),
} ASN1_SEQUENCE_END(X9_62_CURVE);

ASN1_SEQUENCE(ECPARAMETERS) = {
    ASN1_SIMPLE(ECPARAMETERS, version, LONG),
    ASN1_SIMPLE(ECPARAMETERS, fieldID, X9_62_FIELDID),
    ASN1_SIMPLE(ECPARAMETERS, curve, X9_62_CURVE),
    ASN1_SIMPLE(ECPARAMETERS, base, ASN1_OCTET_STRING),
    ASN1_SIMPLE(ECPARAMETERS, order, ASN1_INTEGER),
    ASN1_OPT(ECPARAMETERS, cofactor, ASN1_INTEGER),
} ASN1_SEQUENCE_END(ECPARAMETERS);

ASN1_CHOICE(ECPKPARAMETERS) = {
    ASN1_SIMPLE(ECPKPARAMETERS, value.named_curve, ASN1_OBJECT),
    ASN1_SIMPLE(ECPKPARAMETERS, value.parameters, ECPARAMETERS),
    ASN1_SIMPLE(ECPKPARAMETERS, value.implicitlyCA, ASN1_NULL),
} ASN1_CHOICE_END(ECPKPARAMETERS);

ASN1_SEQUENCE(EC_PRIVATEKEY) = {
    ASN1_SIMPLE(EC_PRIVATEKEY, version, LONG),
    ASN1_SIMPLE(EC_PRIVATEKEY, privateKey, ASN1_OCTET_STRING),
    ASN1_EXP_OPT(EC_PRIVATEKEY, parameters, ECPKPARAMETERS, 0),
    ASN1_EXP_OPT(EC_PRIVATEKEY, publicKey, ASN1_BIT_STRING, 1),
} ASN1_SEQUENCE_END(EC_PRIVATEKEY);

namespace {

int field_type(const EC_GROUP* group) {
  return EC_METHOD_get_field_type(EC_GROUP_method_of(group));
}

// The number of leading non-zero exponents of the reduction polynomial.
int poly_terms(const EC_GROUP* group) {
  int n = 0;
  while (n < 5 && group->poly[n] != 0) ++n;
  return n;
}

// Stores the octets as a BIT STRING with no unused bits.
int set_bits(ASN1_BIT_STRING* s, const unsigned char* data, size_t len) {
  if (len > INT_MAX || !ASN1_STRING_set(s, data, static_cast<int>(len))) return 0;
  s->flags &= ~(ASN1_STRING_BITS_LEFT | 0x07);
  s->flags |= ASN1_STRING_BITS_LEFT;
  return 1;
}

// The first octet of a point's encoding, its low (y) bit cleared.
point_conversion_form_t form_of(unsigned char first) {
  return static_cast<point_conversion_form_t>(first & ~0x01);
}

// A key's public point from its octets (null on failure, with the reason):
// the point at infinity is no public key, for every multiple of it is
// itself and a signature verifies against it without the private key.
EC_POINT* public_point(const EC_GROUP* group, const unsigned char* in, size_t len, int func) {
  EC_POINT* point = EC_POINT_new(group);
  if (point == nullptr) {
    ECERR(func, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  if (!EC_POINT_oct2point(group, point, in, len, nullptr)) {
    ECERR(func, ERR_R_EC_LIB);
  } else if (EC_POINT_is_at_infinity(group, point)) {
    ECERR(func, EC_R_POINT_AT_INFINITY);
  } else {
    return point;
  }
  EC_POINT_free(point);
  return nullptr;
}

// Whether the big-endian octets s[0..len) hold a scalar d with 1 <= d < n,
// the group's order (RFC 5915, 3), however many zero octets lead it: read
// at the string's length, which is public, by masks alone, so that only the
// verdict is made public.  A scalar longer than the order is refused
// before anything is computed from it.
bool scalar_in_range(const unsigned char* s, size_t len, const BIGNUM* order) {
  const auto n = static_cast<size_t>(BN_num_bytes(order));
  unsigned any = 0, above = 0, below = len < n ? ~0u : 0;
  for (size_t i = 0; i < len; i++) {  // i counts octets from the low end
    const unsigned d = s[len - 1 - i];
    any |= d;
    if (i >= n) {
      above |= d;
      continue;
    }
    const unsigned o = (order->d[i / BN_BYTES] >> (8 * (i % BN_BYTES))) & 0xff;
    // Below n so far: below at this octet, or equal here and below under it.
    below = morvane::ct::select(morvane::ct::eq_mask(d, o), below, morvane::ct::lt_mask(d, o));
  }
  const unsigned ok = below & ~morvane::ct::zero_mask(any) & morvane::ct::zero_mask(above);
  return morvane::ct::declassify(ok) != 0;
}

// d's magnitude as `len` big-endian octets, zeros in front, for a `len`
// that holds every word d has room for (dmax, public): each octet is taken
// by masks from those words, so neither d's length nor its leading zeros
// decide a branch or an address.
void masked_octets(const BIGNUM* d, unsigned char* out, size_t len) {
  namespace ct = morvane::ct;
  const unsigned top = static_cast<unsigned>(d->top);
  memset(out, 0, len);
  for (int w = 0; w < d->dmax; w++) {
    const BN_ULONG word = d->d[w] & ct::lt_mask(static_cast<unsigned>(w), top);
    for (int b = 0; b < BN_BYTES; b++) {
      // The octet's place counted from the end.
      const size_t pos = static_cast<size_t>(w) * BN_BYTES + static_cast<size_t>(b);
      out[len - 1 - pos] = static_cast<unsigned char>(word >> (8 * b));
    }
  }
}

// Writes v's magnitude as `len` unsigned big-endian octets, zeros in front;
// a number that needs more octets is written at its own length.  A `secret`
// v (the private scalar, at the order's length: RFC 5915, 3) is read by
// masks (masked_octets), and only whether it needs more than `len` octets,
// which no scalar reduced modulo an order of that length does, is made
// public.
int set_octets(ASN1_OCTET_STRING* s, const BIGNUM* v, size_t len, int func, bool secret = false) {
  const size_t room = static_cast<size_t>(v->dmax) * BN_BYTES;
  const size_t size = len > room ? len : room;
  if (size == 0 || len > INT_MAX) {
    ECERR(func, ERR_R_INTERNAL_ERROR);
    return 0;
  }
  auto* buf = static_cast<unsigned char*>(MORVANE_malloc(size));
  if (buf == nullptr) {
    ECERR(func, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  int ok = 0;
  bool written = true;
  size_t out = len;  // the octets to keep, the last `out` of buf
  if (secret) {
    masked_octets(v, buf, size);
    unsigned char above = 0;
    for (size_t i = 0; i < size - len; i++) above |= buf[i];
    if (morvane::ct::declassify(morvane::ct::zero_mask(above)) == 0)
      out = static_cast<size_t>(BN_num_bytes(v));
  } else {
    const size_t need = static_cast<size_t>(BN_num_bytes(v));
    if (need > len) out = need;
    memset(buf, 0, size - need);
    if (static_cast<size_t>(BN_bn2bin(v, buf + size - need)) != need) {
      ECERR(func, ERR_R_BN_LIB);
      written = false;
    }
  }
  if (!written) {
    // the reason is queued
  } else if (out == 0 || out > INT_MAX) {
    ECERR(func, ERR_R_INTERNAL_ERROR);
  } else if (!ASN1_OCTET_STRING_set(s, buf + size - out, static_cast<int>(out))) {
    ECERR(func, ERR_R_ASN1_LIB);
  } else {
    ok = 1;
  }
  morvane::internal::wipe(buf, size);
  MORVANE_free(buf);
  return ok;
}

void free_field_value(X9_62_FIELDID* field) {
  const int nid = OBJ_obj2nid(field->fieldType);
  if (nid == morvane::ec::kNidPrimeField) {
    ASN1_INTEGER_free(field->p.prime);
  } else if (nid == morvane::ec::kNidCharTwoField) {
    X9_62_CHARACTERISTIC_TWO_free(field->p.char_two);
  } else {
    ASN1_TYPE_free(field->p.other);
  }
  field->p.ptr = nullptr;
}

int group2fieldid(const EC_GROUP* group, X9_62_FIELDID* field) {
  constexpr int kF = EC_F_EC_ASN1_GROUP2FIELDID;
  if (group == nullptr || field == nullptr) return 0;
  free_field_value(field);
  ASN1_OBJECT_free(field->fieldType);
  const int type = field_type(group);
  field->fieldType = OBJ_nid2obj(type);
  if (field->fieldType == nullptr) {
    ECERR(kF, ERR_R_OBJ_LIB);
    return 0;
  }
  if (type == morvane::ec::kNidPrimeField) {
    BIGNUM* p = BN_new();
    int ok = 0;
    if (p == nullptr) {
      ECERR(kF, ERR_R_MALLOC_FAILURE);
    } else if (!EC_GROUP_get_curve_GFp(group, p, nullptr, nullptr, nullptr)) {
      ECERR(kF, ERR_R_EC_LIB);
    } else if ((field->p.prime = BN_to_ASN1_INTEGER(p, nullptr)) == nullptr) {
      ECERR(kF, ERR_R_ASN1_LIB);
    } else {
      ok = 1;
    }
    BN_free(p);
    return ok;
  }
  X9_62_CHARACTERISTIC_TWO* c2 = X9_62_CHARACTERISTIC_TWO_new();
  if (c2 == nullptr) {
    ECERR(kF, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  field->p.char_two = c2;
  c2->m = EC_GROUP_get_degree(group);
  const int basis = EC_GROUP_get_basis_type(group);
  if (basis == 0) {
    ECERR(kF, ERR_R_EC_LIB);
    return 0;
  }
  ASN1_OBJECT_free(c2->type);
  c2->type = OBJ_nid2obj(basis);
  if (c2->type == nullptr) {
    ECERR(kF, ERR_R_OBJ_LIB);
    return 0;
  }
  if (basis == kNidTpBasis) {
    unsigned int k = 0;
    if (!EC_GROUP_get_trinomial_basis(group, &k)) return 0;
    c2->p.tpBasis = ASN1_INTEGER_new();
    if (c2->p.tpBasis == nullptr) {
      ECERR(kF, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    if (!ASN1_INTEGER_set(c2->p.tpBasis, static_cast<long>(k))) {
      ECERR(kF, ERR_R_ASN1_LIB);
      return 0;
    }
  } else if (basis == kNidPpBasis) {
    unsigned int k1 = 0, k2 = 0, k3 = 0;
    if (!EC_GROUP_get_pentanomial_basis(group, &k1, &k2, &k3)) return 0;
    c2->p.ppBasis = X9_62_PENTANOMIAL_new();
    if (c2->p.ppBasis == nullptr) {
      ECERR(kF, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    c2->p.ppBasis->k1 = static_cast<long>(k1);
    c2->p.ppBasis->k2 = static_cast<long>(k2);
    c2->p.ppBasis->k3 = static_cast<long>(k3);
  } else {
    c2->p.onBasis = ASN1_NULL_new();
    if (c2->p.onBasis == nullptr) {
      ECERR(kF, ERR_R_MALLOC_FAILURE);
      return 0;
    }
  }
  return 1;
}

int group2curve(const EC_GROUP* group, X9_62_CURVE* curve) {
  constexpr int kF = EC_F_EC_ASN1_GROUP2CURVE;
  if (group == nullptr || curve == nullptr || curve->a == nullptr || curve->b == nullptr) return 0;
  BIGNUM* a = BN_new();
  BIGNUM* b = BN_new();
  int ok = 0;
  if (a == nullptr || b == nullptr) {
    ECERR(kF, ERR_R_MALLOC_FAILURE);
    goto done;
  }
  if (field_type(group) == morvane::ec::kNidPrimeField
          ? !EC_GROUP_get_curve_GFp(group, nullptr, a, b, nullptr)
          : !EC_GROUP_get_curve_GF2m(group, nullptr, a, b, nullptr)) {
    ECERR(kF, ERR_R_EC_LIB);
    goto done;
  }
  {
    // A field element is written at the field's length, ceil(log2(q) / 8)
    // octets (X9.62 4.3.3, SEC 1 2.3.5); readers take shorter forms too.
    const size_t len = (static_cast<size_t>(EC_GROUP_get_degree(group)) + 7) / 8;
    if (!set_octets(curve->a, a, len, kF) || !set_octets(curve->b, b, len, kF)) goto done;
  }
  if (EC_GROUP_get0_seed(group) != nullptr) {
    if (curve->seed == nullptr && (curve->seed = ASN1_BIT_STRING_new()) == nullptr) {
      ECERR(kF, ERR_R_MALLOC_FAILURE);
      goto done;
    }
    if (!set_bits(curve->seed, EC_GROUP_get0_seed(group), EC_GROUP_get_seed_len(group))) {
      ECERR(kF, ERR_R_ASN1_LIB);
      goto done;
    }
  } else {
    ASN1_BIT_STRING_free(curve->seed);
    curve->seed = nullptr;
  }
  ok = 1;
done:
  BN_free(a);
  BN_free(b);
  return ok;
}

ECPARAMETERS* group2parameters(const EC_GROUP* group, ECPARAMETERS* param) {
  constexpr int kF = EC_F_EC_ASN1_GROUP2PARAMETERS;
  ECPARAMETERS* ret = param != nullptr ? param : ECPARAMETERS_new();
  if (ret == nullptr) {
    ECERR(kF, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  bool ok = false;
  BIGNUM* num = BN_new();
  unsigned char* buf = nullptr;
  size_t len = 0;
  ASN1_INTEGER* integer = nullptr;
  const EC_POINT* gen = EC_GROUP_get0_generator(group);
  const point_conversion_form_t form = EC_GROUP_get_point_conversion_form(group);
  ret->version = 1;
  if (num == nullptr) {
    ECERR(kF, ERR_R_MALLOC_FAILURE);
    goto done;
  }
  if (!group2fieldid(group, ret->fieldID)) {
    ECERR(kF, ERR_R_EC_LIB);
    goto done;
  }
  if (!group2curve(group, ret->curve)) {
    ECERR(kF, ERR_R_EC_LIB);
    goto done;
  }
  if (gen == nullptr) {
    ECERR(kF, EC_R_UNDEFINED_GENERATOR);
    goto done;
  }
  len = EC_POINT_point2oct(group, gen, form, nullptr, 0, nullptr);
  if (len == 0 || len > INT_MAX) {
    ECERR(kF, ERR_R_EC_LIB);
    goto done;
  }
  buf = static_cast<unsigned char*>(MORVANE_malloc(len));
  if (buf == nullptr) {
    ECERR(kF, ERR_R_MALLOC_FAILURE);
    goto done;
  }
  if (EC_POINT_point2oct(group, gen, form, buf, len, nullptr) != len) {
    ECERR(kF, ERR_R_EC_LIB);
    goto done;
  }
  if (ret->base == nullptr && (ret->base = ASN1_OCTET_STRING_new()) == nullptr) {
    ECERR(kF, ERR_R_MALLOC_FAILURE);
    goto done;
  }
  if (!ASN1_OCTET_STRING_set(ret->base, buf, static_cast<int>(len))) {
    ECERR(kF, ERR_R_ASN1_LIB);
    goto done;
  }
  if (!EC_GROUP_get_order(group, num, nullptr)) {
    ECERR(kF, ERR_R_EC_LIB);
    goto done;
  }
  // A failed conversion into an INTEGER the structure holds leaves it
  // there, to be freed with the structure.
  if ((integer = BN_to_ASN1_INTEGER(num, ret->order)) == nullptr) {
    ECERR(kF, ERR_R_ASN1_LIB);
    goto done;
  }
  ret->order = integer;
  // EC_GROUP_get_cofactor gives 0 for a zero cofactor, which is left out.
  if (EC_GROUP_get_cofactor(group, num, nullptr)) {
    if ((integer = BN_to_ASN1_INTEGER(num, ret->cofactor)) == nullptr) {
      ECERR(kF, ERR_R_ASN1_LIB);
      goto done;
    }
    ret->cofactor = integer;
  } else {
    ASN1_INTEGER_free(ret->cofactor);
    ret->cofactor = nullptr;
  }
  ok = true;
done:
  if (!ok && param == nullptr) ECPARAMETERS_free(ret);
  BN_free(num);
  MORVANE_free(buf);
  return ok ? ret : nullptr;
}

// The parameter choice of a group; on failure the structure (the caller's
// too) is freed and null returned.
ECPKPARAMETERS* group2pkparameters(const EC_GROUP* group, ECPKPARAMETERS* params) {
  constexpr int kF = EC_F_EC_ASN1_GROUP2PKPARAMETERS;
  ECPKPARAMETERS* ret = params;
  if (ret == nullptr) {
    ret = ECPKPARAMETERS_new();
    if (ret == nullptr) {
      ECERR(kF, ERR_R_MALLOC_FAILURE);
      return nullptr;
    }
  } else {
    if (ret->type == 0) {
      ASN1_OBJECT_free(ret->value.named_curve);
    } else if (ret->type == 1) {
      ECPARAMETERS_free(ret->value.parameters);
    } else {
      ASN1_NULL_free(ret->value.implicitlyCA);
    }
    ret->value.named_curve = nullptr;
  }
  bool ok = true;
  if (EC_GROUP_get_asn1_flag(group) != 0) {
    const int nid = EC_GROUP_get_curve_name(group);
    ret->type = 0;
    ret->value.named_curve = nid != 0 ? OBJ_nid2obj(nid) : nullptr;
    ok = ret->value.named_curve != nullptr;
  } else {
    ret->type = 1;
    ret->value.parameters = group2parameters(group, nullptr);
    ok = ret->value.parameters != nullptr;
  }
  if (!ok) {
    ECPKPARAMETERS_free(ret);
    return nullptr;
  }
  return ret;
}

BIGNUM* octets_to_bn(const ASN1_OCTET_STRING* s, BIGNUM* into) {
  return BN_bin2bn(s->data, s->length, into);
}

EC_GROUP* parameters2group(const ECPARAMETERS* params) {
  constexpr int kF = EC_F_EC_ASN1_PARAMETERS2GROUP;
  const X9_62_FIELDID* fid = params->fieldID;
  const X9_62_CURVE* curve = params->curve;
  if (fid == nullptr || fid->fieldType == nullptr || fid->p.ptr == nullptr || curve == nullptr ||
      curve->a == nullptr || curve->a->data == nullptr || curve->b == nullptr ||
      curve->b->data == nullptr) {
    ECERR(kF, EC_R_ASN1_ERROR);
    return nullptr;
  }
  EC_GROUP* group = nullptr;
  EC_POINT* point = nullptr;
  BIGNUM* a = BN_new();
  BIGNUM* b = BN_new();
  BIGNUM* p = BN_new();
  BIGNUM* order = BN_new();
  BIGNUM* cofactor = nullptr;
  bool ok = false;
  int field_bits = 0;
  const int nid = OBJ_obj2nid(fid->fieldType);
  if (a == nullptr || b == nullptr || p == nullptr || order == nullptr) {
    ECERR(kF, ERR_R_MALLOC_FAILURE);
    goto done;
  }
  if (octets_to_bn(curve->a, a) == nullptr || octets_to_bn(curve->b, b) == nullptr) {
    ECERR(kF, ERR_R_BN_LIB);
    goto done;
  }
  if (nid == morvane::ec::kNidCharTwoField) {
    const X9_62_CHARACTERISTIC_TWO* c2 = fid->p.char_two;
    const long m = c2->m;
    if (m > kMaxFieldBits) {
      ECERR(kF, EC_R_FIELD_TOO_LARGE);
      goto done;
    }
    const int basis = OBJ_obj2nid(c2->type);
    if (basis == kNidTpBasis) {
      if (c2->p.tpBasis == nullptr) {
        ECERR(kF, EC_R_ASN1_ERROR);
        goto done;
      }
      const long k = ASN1_INTEGER_get(c2->p.tpBasis);
      if (!(m > k && k > 0)) {
        ECERR(kF, EC_R_INVALID_TRINOMIAL_BASIS);
        goto done;
      }
      BN_zero(p);
      if (!BN_set_bit(p, static_cast<int>(m)) || !BN_set_bit(p, static_cast<int>(k)) ||
          !BN_set_bit(p, 0)) {
        ECERR(kF, ERR_R_BN_LIB);
        goto done;
      }
    } else if (basis == kNidPpBasis) {
      const X9_62_PENTANOMIAL* pp = c2->p.ppBasis;
      if (pp == nullptr) {
        ECERR(kF, EC_R_ASN1_ERROR);
        goto done;
      }
      if (!(m > pp->k3 && pp->k3 > pp->k2 && pp->k2 > pp->k1 && pp->k1 > 0)) {
        ECERR(kF, EC_R_INVALID_PENTANOMIAL_BASIS);
        goto done;
      }
      BN_zero(p);
      if (!BN_set_bit(p, static_cast<int>(m)) || !BN_set_bit(p, static_cast<int>(pp->k3)) ||
          !BN_set_bit(p, static_cast<int>(pp->k2)) || !BN_set_bit(p, static_cast<int>(pp->k1)) ||
          !BN_set_bit(p, 0)) {
        ECERR(kF, ERR_R_BN_LIB);
        goto done;
      }
    } else if (basis == kNidOnBasis) {
      ECERR(kF, EC_R_NOT_IMPLEMENTED);
      goto done;
    } else {
      ECERR(kF, EC_R_ASN1_ERROR);
      goto done;
    }
    group = EC_GROUP_new_curve_GF2m(p, a, b, nullptr);
    field_bits = static_cast<int>(m);
  } else if (nid == morvane::ec::kNidPrimeField) {
    if (fid->p.prime == nullptr) {
      ECERR(kF, EC_R_ASN1_ERROR);
      goto done;
    }
    if (ASN1_INTEGER_to_BN(fid->p.prime, p) == nullptr) {
      ECERR(kF, ERR_R_ASN1_LIB);
      goto done;
    }
    if (BN_is_negative(p) || BN_is_zero(p)) {
      ECERR(kF, EC_R_INVALID_FIELD);
      goto done;
    }
    field_bits = BN_num_bits(p);
    if (field_bits > kMaxFieldBits) {
      ECERR(kF, EC_R_FIELD_TOO_LARGE);
      goto done;
    }
    group = EC_GROUP_new_curve_GFp(p, a, b, nullptr);
  } else {
    ECERR(kF, EC_R_INVALID_FIELD);
    goto done;
  }
  if (group == nullptr) {
    ECERR(kF, ERR_R_EC_LIB);
    goto done;
  }
  if (curve->seed != nullptr &&
      EC_GROUP_set_seed(group, curve->seed->data, static_cast<size_t>(curve->seed->length)) == 0 &&
      curve->seed->length != 0) {
    ECERR(kF, ERR_R_MALLOC_FAILURE);
    goto done;
  }
  if (params->order == nullptr || params->base == nullptr || params->base->data == nullptr ||
      params->base->length <= 0) {
    ECERR(kF, EC_R_ASN1_ERROR);
    goto done;
  }
  point = EC_POINT_new(group);
  if (point == nullptr) {
    ECERR(kF, ERR_R_EC_LIB);
    goto done;
  }
  // The form is taken from the first octet once the point has decoded: only
  // then is it one of the forms.
  if (!EC_POINT_oct2point(group, point, params->base->data,
                          static_cast<size_t>(params->base->length), nullptr)) {
    ECERR(kF, ERR_R_EC_LIB);
    goto done;
  }
  EC_GROUP_set_point_conversion_form(group, form_of(params->base->data[0]));
  if (ASN1_INTEGER_to_BN(params->order, order) == nullptr) {
    ECERR(kF, ERR_R_ASN1_LIB);
    goto done;
  }
  if (BN_is_negative(order) || BN_is_zero(order) || BN_num_bits(order) > field_bits + 1) {
    ECERR(kF, EC_R_INVALID_GROUP_ORDER);
    goto done;
  }
  if (params->cofactor != nullptr) {
    cofactor = ASN1_INTEGER_to_BN(params->cofactor, nullptr);
    if (cofactor == nullptr) {
      ECERR(kF, ERR_R_ASN1_LIB);
      goto done;
    }
    // h = #E / n: at least 1, and within what Hasse's bound leaves for the
    // order and the field (a cofactor of -1 or n would pass as the curve's).
    const int fits = morvane::ec::cofactor_fits(group, order, cofactor, nullptr);
    if (fits <= 0) {
      ECERR(kF, fits == 0 ? EC_R_INVALID_COFACTOR : ERR_R_BN_LIB);
      goto done;
    }
  }
  // EC_GROUP_set_generator refuses a base at infinity (the single octet 00)
  // with its own reason.
  if (!EC_GROUP_set_generator(group, point, order, cofactor)) {
    ECERR(kF, ERR_R_EC_LIB);
    goto done;
  }
  ok = true;
done:
  if (!ok) {
    EC_GROUP_clear_free(group);
    group = nullptr;
  }
  EC_POINT_free(point);
  BN_free(a);
  BN_free(b);
  BN_free(p);
  BN_free(order);
  BN_free(cofactor);
  return group;
}

EC_GROUP* pkparameters2group(const ECPKPARAMETERS* params) {
  constexpr int kF = EC_F_EC_ASN1_PKPARAMETERS2GROUP;
  if (params == nullptr) {
    ECERR(kF, EC_R_MISSING_PARAMETERS);
    return nullptr;
  }
  EC_GROUP* group = nullptr;
  switch (params->type) {
    case 0:
      group = EC_GROUP_new_by_curve_name(OBJ_obj2nid(params->value.named_curve));
      if (group == nullptr) {
        ECERR(kF, EC_R_EC_GROUP_NEW_BY_NAME_FAILURE);
        return nullptr;
      }
      EC_GROUP_set_asn1_flag(group, 1);
      return group;
    case 1:
      group = parameters2group(params->value.parameters);
      if (group == nullptr) {
        ECERR(kF, ERR_R_EC_LIB);
        return nullptr;
      }
      EC_GROUP_set_asn1_flag(group, 0);
      return group;
    case 2:
      return nullptr;  // implicitlyCA: the parameters are known elsewhere
    default:
      ECERR(kF, EC_R_ASN1_ERROR);
      return nullptr;
  }
}

}  // namespace

/* see morvane/ec.h */
EC_GROUP* d2i_ECPKParameters(EC_GROUP** a, const unsigned char** in, long len) {
  // Read through a copy: *in moves only when a group comes back.
  const unsigned char* p = in != nullptr ? *in : nullptr;
  ECPKPARAMETERS* params = d2i_ECPKPARAMETERS(nullptr, in != nullptr ? &p : nullptr, len);
  if (params == nullptr) {
    ECERR(EC_F_D2I_ECPKPARAMETERS, EC_R_D2I_ECPKPARAMETERS_FAILURE);
    return nullptr;
  }
  EC_GROUP* group = pkparameters2group(params);
  ECPKPARAMETERS_free(params);
  if (group == nullptr) {
    ECERR(EC_F_D2I_ECPKPARAMETERS, EC_R_PKPARAMETERS2GROUP_FAILURE);
    return nullptr;
  }
  if (a != nullptr) {
    EC_GROUP_clear_free(*a);
    *a = group;
  }
  *in = p;
  return group;
}

/* see morvane/ec.h */
int i2d_ECPKParameters(const EC_GROUP* group, unsigned char** out) {
  ECPKPARAMETERS* params = group != nullptr ? group2pkparameters(group, nullptr) : nullptr;
  if (params == nullptr) {
    ECERR(EC_F_I2D_ECPKPARAMETERS, EC_R_GROUP2PKPARAMETERS_FAILURE);
    return 0;
  }
  int ret = i2d_ECPKPARAMETERS(params, out);
  if (ret <= 0) {
    ECERR(EC_F_I2D_ECPKPARAMETERS, EC_R_I2D_ECPKPARAMETERS_FAILURE);
    ret = 0;
  }
  ECPKPARAMETERS_free(params);
  return ret;
}

/* see morvane/ec.h */
EC_KEY* d2i_ECParameters(EC_KEY** a, const unsigned char** in, long len) {
  if (in == nullptr || *in == nullptr) {
    ECERR(EC_F_D2I_ECPARAMETERS, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  EC_KEY* key = a != nullptr ? *a : nullptr;
  const bool made = key == nullptr;
  if (made) {
    key = EC_KEY_new();
    if (key == nullptr) {
      ECERR(EC_F_D2I_ECPARAMETERS, ERR_R_MALLOC_FAILURE);
      return nullptr;
    }
    if (a != nullptr) *a = key;
  }
  if (d2i_ECPKParameters(&key->group, in, len) == nullptr) {
    ECERR(EC_F_D2I_ECPARAMETERS, ERR_R_EC_LIB);
    if (made) {
      EC_KEY_free(key);
      if (a != nullptr) *a = nullptr;
    }
    return nullptr;
  }
  return key;
}

/* see morvane/ec.h */
int i2d_ECParameters(EC_KEY* a, unsigned char** out) {
  if (a == nullptr) {
    ECERR(EC_F_I2D_ECPARAMETERS, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  return i2d_ECPKParameters(a->group, out);
}

/* see morvane/ec.h */
EC_KEY* d2i_ECPrivateKey(EC_KEY** a, const unsigned char** in, long len) {
  constexpr int kF = EC_F_D2I_ECPRIVATEKEY;
  if (in == nullptr || *in == nullptr) {
    ECERR(kF, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  const unsigned char* p = *in;
  EC_PRIVATEKEY* priv = d2i_EC_PRIVATEKEY(nullptr, &p, len);
  if (priv == nullptr) {
    ECERR(kF, ERR_R_EC_LIB);
    return nullptr;
  }
  bool ok = false;
  EC_KEY* key = a != nullptr ? *a : nullptr;
  if (key == nullptr) {
    key = EC_KEY_new();
    if (key == nullptr) {
      ECERR(kF, ERR_R_MALLOC_FAILURE);
      EC_PRIVATEKEY_free(priv);
      return nullptr;
    }
    if (a != nullptr) *a = key;
  }
  if (priv->parameters != nullptr) {
    EC_GROUP_clear_free(key->group);
    key->group = pkparameters2group(priv->parameters);
  }
  if (key->group == nullptr) {
    ECERR(kF, ERR_R_EC_LIB);
    goto done;
  }
  key->version = static_cast<int>(priv->version);
  if (priv->privateKey == nullptr) {
    ECERR(kF, EC_R_MISSING_PRIVATE_KEY);
    goto done;
  }
  if (!scalar_in_range(priv->privateKey->data, static_cast<size_t>(priv->privateKey->length),
                       &key->group->order)) {
    ECERR(kF, EC_R_INVALID_PRIVATE_KEY);
    goto done;
  }
  key->priv_key = BN_bin2bn(priv->privateKey->data, priv->privateKey->length, key->priv_key);
  if (key->priv_key == nullptr) {
    ECERR(kF, ERR_R_BN_LIB);
    goto done;
  }
  BN_set_flags(key->priv_key, BN_FLAG_SECRET);
  if (priv->publicKey != nullptr) {
    const ASN1_BIT_STRING* pk = priv->publicKey;
    if (pk->length <= 0 || pk->data == nullptr) {
      ECERR(kF, ERR_R_EC_LIB);
      goto done;
    }
    EC_POINT* point = public_point(key->group, pk->data, static_cast<size_t>(pk->length), kF);
    if (point == nullptr) goto done;
    EC_POINT_clear_free(key->pub_key);
    key->pub_key = point;
    key->conv_form = form_of(pk->data[0]);
  }
  ok = true;
  *in = p;
done:
  EC_PRIVATEKEY_free(priv);
  if (!ok) {
    EC_KEY_free(key);
    if (a != nullptr) *a = nullptr;
    return nullptr;
  }
  return key;
}

/* see morvane/ec.h */
int i2d_ECPrivateKey(EC_KEY* a, unsigned char** out) {
  constexpr int kF = EC_F_I2D_ECPRIVATEKEY;
  if (a == nullptr || a->group == nullptr || a->priv_key == nullptr) {
    ECERR(kF, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  // A zero scalar is no private key (RFC 5915: 1 <= d < n); it fits in no
  // word, judged by masks (its word count may be secret).
  if (morvane::ec::fits_words(a->priv_key, 0)) {
    ECERR(kF, EC_R_INVALID_PRIVATE_KEY);
    return 0;
  }
  int ret = 0;
  unsigned char* buf = nullptr;
  EC_PRIVATEKEY* priv = EC_PRIVATEKEY_new();
  if (priv == nullptr) {
    ECERR(kF, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  priv->version = a->version;
  // The scalar at the order's length, ceil(log2(n) / 8) octets (RFC 5915,
  // 3), written without looking at its value.
  if (!set_octets(priv->privateKey, a->priv_key,
                  (static_cast<size_t>(BN_num_bits(&a->group->order)) + 7) / 8, kF, true))
    goto done;
  // Nor is one at or above the order: the decoder would refuse it.
  if (!scalar_in_range(priv->privateKey->data, static_cast<size_t>(priv->privateKey->length),
                       &a->group->order)) {
    ECERR(kF, EC_R_INVALID_PRIVATE_KEY);
    goto done;
  }
  if (!(a->enc_flag & EC_PKEY_NO_PARAMETERS)) {
    priv->parameters = group2pkparameters(a->group, priv->parameters);
    if (priv->parameters == nullptr) {
      ECERR(kF, ERR_R_EC_LIB);
      goto done;
    }
  }
  if (!(a->enc_flag & EC_PKEY_NO_PUBKEY)) {
    if (a->pub_key == nullptr) {
      ECERR(kF, ERR_R_EC_LIB);
      goto done;
    }
    priv->publicKey = ASN1_BIT_STRING_new();
    if (priv->publicKey == nullptr) {
      ECERR(kF, ERR_R_MALLOC_FAILURE);
      goto done;
    }
    const size_t len = EC_POINT_point2oct(a->group, a->pub_key, a->conv_form, nullptr, 0, nullptr);
    if (len == 0 || len > INT_MAX) {
      ECERR(kF, ERR_R_EC_LIB);
      goto done;
    }
    buf = static_cast<unsigned char*>(MORVANE_malloc(len));
    if (buf == nullptr) {
      ECERR(kF, ERR_R_MALLOC_FAILURE);
      goto done;
    }
    if (EC_POINT_point2oct(a->group, a->pub_key, a->conv_form, buf, len, nullptr) != len) {
      ECERR(kF, ERR_R_EC_LIB);
      goto done;
    }
    if (!set_bits(priv->publicKey, buf, len)) {
      ECERR(kF, ERR_R_ASN1_LIB);
      goto done;
    }
  }
  ret = i2d_EC_PRIVATEKEY(priv, out);
  if (ret <= 0) {
    ECERR(kF, ERR_R_EC_LIB);
    ret = 0;
  }
done:
  if (buf != nullptr) MORVANE_free(buf);  // the public point only
  if (priv->privateKey != nullptr && priv->privateKey->data != nullptr)
    morvane::internal::wipe(priv->privateKey->data, static_cast<size_t>(priv->privateKey->length));
  EC_PRIVATEKEY_free(priv);
  return ret;
}

/* see morvane/ec.h */
EC_KEY* o2i_ECPublicKey(EC_KEY** a, const unsigned char** in, long len) {
  constexpr int kF = EC_F_O2I_ECPUBLICKEY;
  if (a == nullptr || *a == nullptr || (*a)->group == nullptr || in == nullptr ||
      (*in == nullptr && len != 0) || len < 0) {
    ECERR(kF, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  EC_KEY* key = *a;
  // Decoded aside: a refused encoding leaves the key's point as it was.
  EC_POINT* point = public_point(key->group, *in, static_cast<size_t>(len), kF);
  if (point == nullptr) return nullptr;
  EC_POINT_free(key->pub_key);
  key->pub_key = point;
  key->conv_form = form_of((*in)[0]);
  *in += len;
  return key;
}

/* see morvane/ec.h */
int i2o_ECPublicKey(EC_KEY* a, unsigned char** out) {
  constexpr int kF = EC_F_I2O_ECPUBLICKEY;
  if (a == nullptr || a->group == nullptr || a->pub_key == nullptr) {
    ECERR(kF, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  const size_t len = EC_POINT_point2oct(a->group, a->pub_key, a->conv_form, nullptr, 0, nullptr);
  if (len > INT_MAX) {
    ECERR(kF, ERR_R_EC_LIB);
    return 0;
  }
  if (out == nullptr || len == 0) return static_cast<int>(len);
  const bool made = *out == nullptr;
  if (made) {
    *out = static_cast<unsigned char*>(MORVANE_malloc(len));
    if (*out == nullptr) {
      ECERR(kF, ERR_R_MALLOC_FAILURE);
      return 0;
    }
  }
  if (EC_POINT_point2oct(a->group, a->pub_key, a->conv_form, *out, len, nullptr) != len) {
    ECERR(kF, ERR_R_EC_LIB);
    if (made) {
      MORVANE_free(*out);
      *out = nullptr;
    }
    return 0;
  }
  if (!made) *out += len;
  return static_cast<int>(len);
}

/* see morvane/ec.h */
int EC_GROUP_get_basis_type(const EC_GROUP* group) {
  if (group == nullptr || field_type(group) != morvane::ec::kNidCharTwoField) return 0;
  const int n = poly_terms(group);
  return n == 4 ? kNidPpBasis : n == 2 ? kNidTpBasis : 0;
}

/* see morvane/ec.h */
int EC_GROUP_get_trinomial_basis(const EC_GROUP* group, unsigned int* k) {
  if (group == nullptr) return 0;
  if (field_type(group) != morvane::ec::kNidCharTwoField || poly_terms(group) != 2 ||
      group->poly[2] != 0) {
    ECERR(EC_F_EC_GROUP_GET_TRINOMIAL_BASIS, ERR_R_SHOULD_NOT_HAVE_BEEN_CALLED);
    return 0;
  }
  if (k != nullptr) *k = group->poly[1];
  return 1;
}

/* see morvane/ec.h */
int EC_GROUP_get_pentanomial_basis(const EC_GROUP* group, unsigned int* k1, unsigned int* k2,
                                   unsigned int* k3) {
  if (group == nullptr) return 0;
  if (field_type(group) != morvane::ec::kNidCharTwoField || poly_terms(group) != 4 ||
      group->poly[4] != 0) {
    ECERR(EC_F_EC_GROUP_GET_PENTANOMIAL_BASIS, ERR_R_SHOULD_NOT_HAVE_BEEN_CALLED);
    return 0;
  }
  if (k1 != nullptr) *k1 = group->poly[3];
  if (k2 != nullptr) *k2 = group->poly[2];
  if (k3 != nullptr) *k3 = group->poly[1];
  return 1;
}
