// The configuration store: one hash table of CONF_VALUE records keyed by
// (section, name), with one section record per section that lists the
// section's value records in the order they were stored.
//
// Implementation notes: the record hash is computed in 32 bits.  A section
// record has a null name, so it never equals a value record.

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/lhash.h>
#include <morvane/stack.h>

#include "conf/internal.h"

static_assert(sizeof(CONF_VALUE) == 3 * sizeof(char*));
static_assert(sizeof(CONF) == 3 * sizeof(void*));

namespace {

unsigned long value_hash(const void* p) {
  const auto* v = static_cast<const CONF_VALUE*>(p);
  const uint32_t s = static_cast<uint32_t>(lh_strhash(v->section));
  const uint32_t n = static_cast<uint32_t>(lh_strhash(v->name));
  return (s << 2) ^ n;
}

int value_cmp(const void* pa, const void* pb) {
  const auto* a = static_cast<const CONF_VALUE*>(pa);
  const auto* b = static_cast<const CONF_VALUE*>(pb);
  if (a->section != b->section) {
    const int i = strcmp(a->section, b->section);
    if (i != 0) return i;
  }
  if (a->name != nullptr && b->name != nullptr) return strcmp(a->name, b->name);
  if (a->name == b->name) return 0;
  return a->name == nullptr ? -1 : 1;
}

STACK* values_of(const CONF_VALUE* section) { return reinterpret_cast<STACK*>(section->value); }

void free_value(CONF_VALUE* v) {
  MORVANE_free(v->name);
  MORVANE_free(v->value);
  MORVANE_free(v);
}

// Inserts a record that is not in the table yet; false when the table could
// not make room for it (the table is then unchanged).
bool insert_new(LHASH* lh, CONF_VALUE* v) {
  const unsigned long before = lh->num_items;
  void* old = lh_insert(lh, v);
  return old != nullptr || lh->num_items != before;
}

void remove_value_record(void* p, void* arg) {
  auto* v = static_cast<CONF_VALUE*>(p);
  if (v->name != nullptr) lh_delete(static_cast<LHASH*>(arg), v);
}

void free_section_record(void* p) {
  auto* v = static_cast<CONF_VALUE*>(p);
  if (v->name != nullptr) return;  // not reached: the first walk removed them
  STACK* sk = values_of(v);
  for (int i = sk_num(sk) - 1; i >= 0; i--)
    free_value(reinterpret_cast<CONF_VALUE*>(sk_value(sk, i)));
  sk_free(sk);
  MORVANE_free(v->section);
  MORVANE_free(v);
}

// Appends `value` to the section's list and puts it in the table; *old
// receives the record of the same section and name that it replaced there
// (still in the list), or null.  False when it cannot be stored: nothing has
// changed and the caller still owns `value`.
bool store_value(CONF* conf, CONF_VALUE* section, CONF_VALUE* value, CONF_VALUE** old) {
  if (conf == nullptr || conf->data == nullptr || section == nullptr || value == nullptr)
    return false;
  STACK* ts = values_of(section);
  value->section = section->section;
  if (!sk_push(ts, reinterpret_cast<char*>(value))) return false;
  const unsigned long before = conf->data->num_items;
  *old = static_cast<CONF_VALUE*>(lh_insert(conf->data, value));
  if (*old == nullptr && conf->data->num_items == before) {
    // The table had no room: take the record back off the list.
    sk_pop(ts);
    return false;
  }
  return true;
}

// Removes the gaps (records with a null name) from a section record's list,
// keeping the order of the others; value records are passed over.
void close_section_gaps(void* p) {
  const auto* v = static_cast<const CONF_VALUE*>(p);
  if (v->name != nullptr) return;
  STACK* sk = values_of(v);
  const int n = sk_num(sk);
  int kept = 0;
  for (int i = 0; i < n; i++) {
    auto* cv = reinterpret_cast<CONF_VALUE*>(sk_value(sk, i));
    if (cv->name == nullptr)
      MORVANE_free(cv);
    else
      sk_set(sk, kept++, reinterpret_cast<char*>(cv));
  }
  while (sk_num(sk) > kept) sk_pop(sk);
}

// The value of the record (section, name); null when there is none (also
// before the first load, when there is no table).
char* find_value(const CONF* conf, const char* section, const char* name) {
  if (conf->data == nullptr) return nullptr;
  CONF_VALUE key = {const_cast<char*>(section), const_cast<char*>(name), nullptr};
  auto* v = static_cast<CONF_VALUE*>(lh_retrieve(conf->data, &key));
  return v == nullptr ? nullptr : v->value;
}

}  // namespace

/* see morvane/conf.h */
int _CONF_new_data(CONF* conf) {
  if (conf == nullptr) return 0;
  if (conf->data == nullptr) conf->data = lh_new(value_hash, value_cmp);
  return conf->data != nullptr;
}

void _CONF_free_data(CONF* conf) {
  if (conf == nullptr || conf->data == nullptr) return;
  LHASH* lh = conf->data;
  lh->down_load = 0;  // the walks below must not shrink the table under them
  lh_doall_arg(lh, remove_value_record, lh);
  lh_doall(lh, free_section_record);
  lh_free(lh);
  conf->data = nullptr;
}

CONF_VALUE* _CONF_new_section(CONF* conf, const char* section) {
  if (conf == nullptr || conf->data == nullptr || section == nullptr) return nullptr;
  STACK* sk = sk_new_null();
  auto* v = static_cast<CONF_VALUE*>(MORVANE_malloc(sizeof(CONF_VALUE)));
  char* name = MORVANE_strdup(section);
  if (sk != nullptr && v != nullptr && name != nullptr) {
    v->section = name;
    v->name = nullptr;
    v->value = reinterpret_cast<char*>(sk);
    if (insert_new(conf->data, v)) return v;
  }
  sk_free(sk);
  MORVANE_free(v);
  MORVANE_free(name);
  return nullptr;
}

CONF_VALUE* _CONF_get_section(const CONF* conf, const char* section) {
  if (conf == nullptr || section == nullptr || conf->data == nullptr) return nullptr;
  CONF_VALUE key = {const_cast<char*>(section), nullptr, nullptr};
  return static_cast<CONF_VALUE*>(lh_retrieve(conf->data, &key));
}

STACK* _CONF_get_section_values(const CONF* conf, const char* section) {
  CONF_VALUE* v = _CONF_get_section(conf, section);
  return v == nullptr ? nullptr : values_of(v);
}

int _CONF_add_string(CONF* conf, CONF_VALUE* section, CONF_VALUE* value) {
  CONF_VALUE* old = nullptr;
  if (!store_value(conf, section, value, &old)) return 0;
  if (old != nullptr) {
    sk_delete_ptr(values_of(section), reinterpret_cast<char*>(old));
    free_value(old);
  }
  return 1;
}

namespace morvane::conf {

int add_string_leaving_gap(CONF* conf, CONF_VALUE* section, CONF_VALUE* value, size_t* gaps) {
  CONF_VALUE* old = nullptr;
  if (!store_value(conf, section, value, &old)) return 0;
  if (old != nullptr) {
    // The record stays in its list as a gap until close_gaps: finding its
    // place there would cost a search of the list.
    MORVANE_free(old->name);
    MORVANE_free(old->value);
    *old = {nullptr, nullptr, nullptr};
    ++*gaps;
  }
  return 1;
}

void close_gaps(CONF* conf) {
  if (conf == nullptr || conf->data == nullptr) return;
  lh_doall(conf->data, close_section_gaps);
}

}  // namespace morvane::conf

char* _CONF_get_string(const CONF* conf, const char* section, const char* name) {
  if (name == nullptr) return nullptr;
  if (conf == nullptr) return getenv(name);
  if (section != nullptr) {
    if (char* v = find_value(conf, section, name)) return v;
    if (strcmp(section, "ENV") == 0) {
      if (char* p = getenv(name)) return p;
    }
  }
  return find_value(conf, "default", name);
}
