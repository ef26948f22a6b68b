// Distinguished names (X.501, 9.2; RFC 5280, 4.1.2.4): the attribute entry,
// the nested wire form (a SEQUENCE OF RDNs, each a SET OF entries), and the
// external item X509_NAME_it that keeps a name flat with its DER cached.
//
// Implementation notes: a decoded name keeps the exact octets it was read
// from, so a name re-encodes to its input (canonical or not) until it is
// marked modified; only then is the nested form built again from the flat
// list, runs of adjacent entries with one `set` number making one RDN.  The
// entries are owned by the flat list; the nested stacks only lend them.

#include <limits.h>
#include <stddef.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

static_assert(offsetof(X509_NAME_ENTRY, value) == 8 && offsetof(X509_NAME_ENTRY, set) == 16 &&
              offsetof(X509_NAME_ENTRY, size) == 20 && sizeof(X509_NAME_ENTRY) == 24);
static_assert(offsetof(X509_NAME, modified) == 8 && offsetof(X509_NAME, bytes) == 16 &&
              offsetof(X509_NAME, hash) == 24 && sizeof(X509_NAME) == 32);

ASN1_SEQUENCE(X509_NAME_ENTRY) = {
    ASN1_SIMPLE(X509_NAME_ENTRY, object, ASN1_OBJECT),
    ASN1_SIMPLE(X509_NAME_ENTRY, value, ASN1_PRINTABLE),
} ASN1_SEQUENCE_END(X509_NAME_ENTRY);

// One RDN, and the whole name as a stack of them.
// clang-format off
ASN1_ITEM_TEMPLATE(X509_NAME_ENTRIES) =
    ASN1_EX_TEMPLATE_TYPE(ASN1_TF_SET_OF, 0, RDNS, X509_NAME_ENTRY)
ASN1_ITEM_TEMPLATE_END(X509_NAME_ENTRIES);
ASN1_ITEM_TEMPLATE(X509_NAME_INTERNAL) =
    ASN1_EX_TEMPLATE_TYPE(ASN1_TF_SEQUENCE_OF, 0, Name, X509_NAME_ENTRIES)
ASN1_ITEM_TEMPLATE_END(X509_NAME_INTERNAL);
// clang-format on

namespace {

void entry_free(void* p) {
  X509_NAME_ENTRY_free(static_cast<X509_NAME_ENTRY*>(p));
}
void rdn_free(void* p) {
  sk_free(static_cast<STACK*>(p));
}

int x509_name_ex_new(ASN1_VALUE** val, const ASN1_ITEM*) {
  auto* ret = static_cast<X509_NAME*>(MORVANE_malloc(sizeof(X509_NAME)));
  if (ret == nullptr) goto err;
  ret->entries = sk_new_null();
  ret->bytes = BUF_MEM_new();
  if (ret->entries == nullptr || ret->bytes == nullptr) goto err;
  ret->modified = 1;
  ret->hash = 0;
  *val = reinterpret_cast<ASN1_VALUE*>(ret);
  return 1;
err:
  ASN1err(ASN1_F_X509_NAME_EX_NEW, ERR_R_MALLOC_FAILURE);
  if (ret != nullptr) {
    sk_free(ret->entries);
    BUF_MEM_free(ret->bytes);
    MORVANE_free(ret);
  }
  return 0;
}

void x509_name_ex_free(ASN1_VALUE** val, const ASN1_ITEM*) {
  if (val == nullptr || *val == nullptr) return;
  auto* a = reinterpret_cast<X509_NAME*>(*val);
  BUF_MEM_free(a->bytes);
  sk_pop_free(a->entries, entry_free);
  MORVANE_free(a);
  *val = nullptr;
}

int x509_name_ex_d2i(ASN1_VALUE** val, const unsigned char** in, long len, const ASN1_ITEM*,
                     int tag, int aclass, char opt, ASN1_TLC* ctx) {
  const unsigned char* p = *in;
  STACK* intname = nullptr;
  ASN1_VALUE* nm = nullptr;
  X509_NAME* name = nullptr;
  const int ret = ASN1_item_ex_d2i(reinterpret_cast<ASN1_VALUE**>(&intname), &p, len,
                                   &X509_NAME_INTERNAL_it, tag, aclass, opt, ctx);
  if (ret <= 0) return ret;
  x509_name_ex_free(val, nullptr);
  const size_t consumed = static_cast<size_t>(p - *in);
  if (consumed > INT_MAX || !x509_name_ex_new(&nm, nullptr)) goto err;
  name = reinterpret_cast<X509_NAME*>(nm);
  // The cache holds the octets received.
  if (!BUF_MEM_grow(name->bytes, static_cast<int>(consumed))) goto err;
  memcpy(name->bytes->data, *in, consumed);
  // Flatten: each entry moves to the name, numbered by its RDN.
  for (int i = 0; i < sk_num(intname); i++) {
    STACK* rdn = reinterpret_cast<STACK*>(sk_value(intname, i));
    for (int j = 0; j < sk_num(rdn); j++) {
      auto* entry = reinterpret_cast<X509_NAME_ENTRY*>(sk_value(rdn, j));
      entry->set = i;
      if (!sk_push(name->entries, reinterpret_cast<char*>(entry))) goto err;
      sk_set(rdn, j, nullptr);
    }
  }
  sk_pop_free(intname, rdn_free);
  name->modified = 0;
  *val = nm;
  *in = p;
  return ret;
err:
  ASN1err(ASN1_F_X509_NAME_EX_D2I, ERR_R_NESTED_ASN1_ERROR);
  // Entries not yet moved go with the nested form, the rest with the name.
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(intname), &X509_NAME_INTERNAL_it);
  x509_name_ex_free(&nm, nullptr);
  return 0;
}

// Rebuilds the cached DER from the entries: the length, or -1.
int x509_name_encode(X509_NAME* a) {
  STACK* rdn = nullptr;
  int len;
  unsigned char* p;
  STACK* intname = sk_new_null();
  if (intname == nullptr) goto memerr;
  for (int i = 0, set = -1; i < sk_num(a->entries); i++) {
    auto* entry = reinterpret_cast<X509_NAME_ENTRY*>(sk_value(a->entries, i));
    // A run of equal numbers is one RDN; the first entry always opens one,
    // whatever its number.
    if (rdn == nullptr || entry->set != set) {
      rdn = sk_new_null();
      if (rdn == nullptr) goto memerr;
      if (!sk_push(intname, reinterpret_cast<char*>(rdn))) {
        sk_free(rdn);
        goto memerr;
      }
      set = entry->set;
    }
    if (!sk_push(rdn, reinterpret_cast<char*>(entry))) goto memerr;
  }
  len = ASN1_item_ex_i2d(reinterpret_cast<ASN1_VALUE**>(&intname), nullptr, &X509_NAME_INTERNAL_it,
                         -1, 0);
  if (len <= 0) {  // an entry that cannot be encoded; the encoder said why
    sk_pop_free(intname, rdn_free);
    return -1;
  }
  if (!BUF_MEM_grow(a->bytes, len)) goto memerr;
  p = reinterpret_cast<unsigned char*>(a->bytes->data);
  // The writing pass allocates too (a SET OF is sorted through a buffer):
  // a short or failed write leaves no cache behind and the name still
  // marked for rebuilding.
  if (ASN1_item_ex_i2d(reinterpret_cast<ASN1_VALUE**>(&intname), &p, &X509_NAME_INTERNAL_it, -1,
                       0) != len ||
      p - reinterpret_cast<unsigned char*>(a->bytes->data) != len) {
    a->bytes->length = 0;
    sk_pop_free(intname, rdn_free);
    ASN1err(ASN1_F_X509_NAME_ENCODE, ASN1_R_ENCODE_ERROR);
    return -1;
  }
  sk_pop_free(intname, rdn_free);
  a->modified = 0;
  return len;
memerr:
  sk_pop_free(intname, rdn_free);
  ASN1err(ASN1_F_X509_NAME_ENCODE, ERR_R_MALLOC_FAILURE);
  return -1;
}

// A name is always written as its universal SEQUENCE: tag and class are
// ignored.
int x509_name_ex_i2d(ASN1_VALUE** val, unsigned char** out, const ASN1_ITEM*, int, int) {
  auto* a = reinterpret_cast<X509_NAME*>(*val);
  if (a->modified) {
    const int r = x509_name_encode(a);
    if (r < 0) return r;
  }
  const int len = a->bytes->length;
  if (out != nullptr) {
    memcpy(*out, a->bytes->data, len);
    *out += len;
  }
  return len;
}

constexpr ASN1_EXTERN_FUNCS x509_name_ff = {
    nullptr, x509_name_ex_new, x509_name_ex_free, nullptr, x509_name_ex_d2i, x509_name_ex_i2d,
};

}  // namespace

ASN1_ITEM_EXTERN(X509_NAME, ASN1_UT_SEQUENCE, &x509_name_ff, sizeof(X509_NAME));

/* see morvane/x509.h */
int X509_NAME_set(X509_NAME** xn, X509_NAME* name) {
  if (xn == nullptr || name == nullptr) return 0;
  if (*xn == name) return 1;
  X509_NAME* copy = X509_NAME_dup(name);
  if (copy == nullptr) return 0;  // the old name stays, and the failure shows
  X509_NAME_free(*xn);
  *xn = copy;
  return 1;
}
