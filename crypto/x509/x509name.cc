// The entries of a distinguished name: counting, finding, reading their
// text, adding and deleting them with the RDN numbers kept consistent, and
// building single entries from an object and a value.
//
// Implementation notes: a name is one flat list whose entries carry the
// number of their RDN (`set`); numbers never skip, so that the encoder's
// runs of equal numbers are exactly the RDNs.  Adding at the front makes a
// new first RDN and shifts every later number; deleting the only member of
// an RDN closes the gap it leaves.

#include <limits.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "x509_local.h"

namespace {

X509_NAME_ENTRY* entry_at(const X509_NAME* name, int i) {
  return reinterpret_cast<X509_NAME_ENTRY*>(sk_value(name->entries, i));
}

// Builds an entry (the caller's *ne when there is one, else a new one) of
// object `obj` holding the value; on failure only a new entry is freed.
X509_NAME_ENTRY* create_entry(X509_NAME_ENTRY** ne, ASN1_OBJECT* obj, int type,
                              const unsigned char* bytes, int len) {
  X509_NAME_ENTRY* ret = ne != nullptr ? *ne : nullptr;
  const bool made = ret == nullptr;
  if (made) {
    ret = X509_NAME_ENTRY_new();
    if (ret == nullptr) return nullptr;
  }
  if (!X509_NAME_ENTRY_set_object(ret, obj) || !X509_NAME_ENTRY_set_data(ret, type, bytes, len)) {
    if (made) X509_NAME_ENTRY_free(ret);
    return nullptr;
  }
  if (ne != nullptr && *ne == nullptr) *ne = ret;
  return ret;
}

// Adds a freshly built entry and frees it.
int add_built(X509_NAME* name, X509_NAME_ENTRY* ne, int loc, int set) {
  if (ne == nullptr) return 0;
  const int ret = X509_NAME_add_entry(name, ne, loc, set);
  X509_NAME_ENTRY_free(ne);
  return ret;
}

}  // namespace

ASN1_OBJECT* morvane::x509::field_object(const char* field, int func) {
  ASN1_OBJECT* obj = field != nullptr ? OBJ_txt2obj(field, 0) : nullptr;
  if (obj == nullptr) {
    X509err(func, X509_R_INVALID_FIELD_NAME);
    ERR_add_error_data(2, "name=", field != nullptr ? field : "NULL");
  }
  return obj;
}

/* see morvane/x509.h */
int X509_NAME_entry_count(X509_NAME* name) {
  if (name == nullptr) return 0;
  return sk_num(name->entries);
}

/* see morvane/x509.h */
int X509_NAME_get_index_by_NID(X509_NAME* name, int nid, int lastpos) {
  ASN1_OBJECT* obj = OBJ_nid2obj(nid);
  if (obj == nullptr) return -2;
  return X509_NAME_get_index_by_OBJ(name, obj, lastpos);
}

/* see morvane/x509.h */
int X509_NAME_get_index_by_OBJ(X509_NAME* name, ASN1_OBJECT* obj, int lastpos) {
  if (name == nullptr || obj == nullptr) return -1;
  const int n = sk_num(name->entries);
  if (lastpos >= n) return -1;  // also keeps lastpos + 1 from overflowing
  for (int i = lastpos < 0 ? 0 : lastpos + 1; i < n; i++)
    if (OBJ_cmp(entry_at(name, i)->object, obj) == 0) return i;
  return -1;
}

/* see morvane/x509.h */
int X509_NAME_get_text_by_NID(X509_NAME* name, int nid, char* buf, int len) {
  ASN1_OBJECT* obj = OBJ_nid2obj(nid);
  if (obj == nullptr) return -1;
  return X509_NAME_get_text_by_OBJ(name, obj, buf, len);
}

/* see morvane/x509.h */
int X509_NAME_get_text_by_OBJ(X509_NAME* name, ASN1_OBJECT* obj, char* buf, int len) {
  const int i = X509_NAME_get_index_by_OBJ(name, obj, -1);
  if (i < 0) return -1;
  const ASN1_STRING* data = entry_at(name, i)->value;
  if (buf == nullptr) return data->length;
  if (len < 1) return -1;  // no room even for the terminating zero
  const int n = data->length < len - 1 ? data->length : len - 1;
  if (n > 0) memcpy(buf, data->data, static_cast<size_t>(n));  // an empty value may have no bytes
  buf[n] = '\0';
  return n;
}

/* see morvane/x509.h */
X509_NAME_ENTRY* X509_NAME_get_entry(X509_NAME* name, int loc) {
  if (name == nullptr || loc < 0 || loc >= sk_num(name->entries)) return nullptr;
  return entry_at(name, loc);
}

/* see morvane/x509.h */
X509_NAME_ENTRY* X509_NAME_delete_entry(X509_NAME* name, int loc) {
  if (name == nullptr || loc < 0 || loc >= sk_num(name->entries)) return nullptr;
  auto* ret = reinterpret_cast<X509_NAME_ENTRY*>(sk_delete(name->entries, loc));
  const int n = sk_num(name->entries);
  name->modified = 1;
  if (loc == n) return ret;
  const int prev = loc != 0 ? entry_at(name, loc - 1)->set : ret->set - 1;
  const int next = entry_at(name, loc)->set;
  // The removed entry was alone in its RDN: close the gap.
  if (prev + 1 < next)
    for (int i = loc; i < n; i++) entry_at(name, i)->set--;
  return ret;
}

/* see morvane/x509.h */
int X509_NAME_add_entry(X509_NAME* name, X509_NAME_ENTRY* ne, int loc, int set) {
  if (name == nullptr || ne == nullptr) return 0;
  const int n = sk_num(name->entries);
  if (loc > n || loc < 0) loc = n;
  name->modified = 1;
  bool inc;
  if (set == -1) {
    if (loc == 0) {
      set = 0;
      inc = true;
    } else {
      set = entry_at(name, loc - 1)->set;  // joins the preceding RDN
      inc = false;
    }
  } else {
    if (loc < n)
      set = entry_at(name, loc)->set;  // joins the following RDN
    else
      set = loc == 0 ? 0 : entry_at(name, loc - 1)->set + 1;  // a new last RDN
    inc = set == 0;
  }
  X509_NAME_ENTRY* copy = X509_NAME_ENTRY_dup(ne);
  if (copy == nullptr) return 0;
  copy->set = set;
  if (!sk_insert(name->entries, reinterpret_cast<char*>(copy), loc)) {
    X509err(X509_F_X509_NAME_ADD_ENTRY, ERR_R_MALLOC_FAILURE);
    X509_NAME_ENTRY_free(copy);
    return 0;
  }
  if (inc) {
    const int count = n + 1;
    for (int i = loc + 1; i < count; i++) entry_at(name, i)->set++;
  }
  return 1;
}

/* see morvane/x509.h */
int X509_NAME_add_entry_by_OBJ(X509_NAME* name, ASN1_OBJECT* obj, int type,
                               const unsigned char* bytes, int len, int loc, int set) {
  return add_built(name, X509_NAME_ENTRY_create_by_OBJ(nullptr, obj, type, bytes, len), loc, set);
}

/* see morvane/x509.h */
int X509_NAME_add_entry_by_NID(X509_NAME* name, int nid, int type, const unsigned char* bytes,
                               int len, int loc, int set) {
  return add_built(name, X509_NAME_ENTRY_create_by_NID(nullptr, nid, type, bytes, len), loc, set);
}

/* see morvane/x509.h */
int X509_NAME_add_entry_by_txt(X509_NAME* name, const char* field, int type,
                               const unsigned char* bytes, int len, int loc, int set) {
  return add_built(name, X509_NAME_ENTRY_create_by_txt(nullptr, field, type, bytes, len), loc, set);
}

/* see morvane/x509.h */
X509_NAME_ENTRY* X509_NAME_ENTRY_create_by_OBJ(X509_NAME_ENTRY** ne, ASN1_OBJECT* obj, int type,
                                               const unsigned char* bytes, int len) {
  return create_entry(ne, obj, type, bytes, len);
}

/* see morvane/x509.h */
X509_NAME_ENTRY* X509_NAME_ENTRY_create_by_NID(X509_NAME_ENTRY** ne, int nid, int type,
                                               const unsigned char* bytes, int len) {
  ASN1_OBJECT* obj = OBJ_nid2obj(nid);
  if (obj == nullptr) {
    X509err(X509_F_X509_NAME_ENTRY_CREATE_BY_NID, X509_R_UNKNOWN_NID);
    return nullptr;
  }
  X509_NAME_ENTRY* ret = create_entry(ne, obj, type, bytes, len);
  ASN1_OBJECT_free(obj);
  return ret;
}

/* see morvane/x509.h */
X509_NAME_ENTRY* X509_NAME_ENTRY_create_by_txt(X509_NAME_ENTRY** ne, const char* field, int type,
                                               const unsigned char* bytes, int len) {
  ASN1_OBJECT* obj = morvane::x509::field_object(field, X509_F_X509_NAME_ENTRY_CREATE_BY_TXT);
  if (obj == nullptr) return nullptr;
  X509_NAME_ENTRY* ret = create_entry(ne, obj, type, bytes, len);
  ASN1_OBJECT_free(obj);
  return ret;
}

/* see morvane/x509.h */
int X509_NAME_ENTRY_set_object(X509_NAME_ENTRY* ne, ASN1_OBJECT* obj) {
  if (ne == nullptr || obj == nullptr) {
    X509err(X509_F_X509_NAME_ENTRY_SET_OBJECT, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  ASN1_OBJECT_free(ne->object);
  ne->object = OBJ_dup(obj);
  return ne->object != nullptr ? 1 : 0;
}

/* see morvane/x509.h */
int X509_NAME_ENTRY_set_data(X509_NAME_ENTRY* ne, int type, const unsigned char* bytes, int len) {
  if (ne == nullptr || (bytes == nullptr && len != 0)) return 0;
  if (type > 0 && (type & ASN1_MB_FLAG) != 0)
    return ASN1_STRING_set_by_NID(&ne->value, bytes, len, type, OBJ_obj2nid(ne->object)) != nullptr
               ? 1
               : 0;
  if (len < 0) {
    const size_t n = strlen(reinterpret_cast<const char*>(bytes));
    if (n > INT_MAX) return 0;
    len = static_cast<int>(n);
  }
  if (ne->value == nullptr) {
    ne->value = ASN1_STRING_new();
    if (ne->value == nullptr) return 0;
  }
  if (!ASN1_STRING_set(ne->value, bytes, len)) return 0;
  if (type == -2)
    ne->value->type = ASN1_PRINTABLE_type(bytes, len);
  else if (type != -1)
    ne->value->type = type;
  return 1;
}

/* see morvane/x509.h */
ASN1_OBJECT* X509_NAME_ENTRY_get_object(X509_NAME_ENTRY* ne) {
  return ne != nullptr ? ne->object : nullptr;
}

/* see morvane/x509.h */
ASN1_STRING* X509_NAME_ENTRY_get_data(X509_NAME_ENTRY* ne) {
  return ne != nullptr ? ne->value : nullptr;
}
