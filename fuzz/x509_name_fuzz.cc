// Fuzzes distinguished names from outside: the first two input octets pick
// the size of a caller's text buffer (1 to 300), the next four a word of
// print flags; the rest is DER read by d2i_X509_NAME, and whatever follows
// the first name is read as a second one.  The first name is also printed
// under the flag word (and under the common forms) into a memory stream.
//
// Checks: the one-line text fits any caller buffer, holds whole entries
// only (a prefix of the full text) and ends in a zero; the name hash is the
// same after a copy; a name equals its copy, and the
// ordering of the two names is antisymmetric; the text of the first entry
// of each type fits its buffer; deleting and adding back the first entry
// gives an equal name.  Every value is freed, so the leak check sees
// anything left behind.

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <cstdint>
#include <cstring>
#include <string>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/x509.h>

namespace {

int Sign(int v) {
  return (v > 0) - (v < 0);
}

void Text(X509_NAME* name, int room) {
  char* full = X509_NAME_oneline(name, nullptr, 0);
  if (full == nullptr) return;  // only for a failed allocation
  std::string buf(static_cast<size_t>(room), '\x7f');
  char* got = X509_NAME_oneline(name, buf.data(), room);
  Check(got == buf.data(), "the caller's buffer is returned");
  const size_t n = strlen(got);
  Check(n < static_cast<size_t>(room), "the text fits its room");
  Check(strncmp(got, full, n) == 0, "the text begins the full text");
  Check(full[n] == '\0' || full[n] == '/', "only whole entries");
  MORVANE_free(full);
}

void Entries(X509_NAME* name, int room) {
  const int count = X509_NAME_entry_count(name);
  std::string buf(static_cast<size_t>(room), '\x7f');
  for (int i = 0; i < count; i++) {
    X509_NAME_ENTRY* ne = X509_NAME_get_entry(name, i);
    ASN1_OBJECT* obj = X509_NAME_ENTRY_get_object(ne);
    Check(X509_NAME_get_index_by_OBJ(name, obj, -1) <= i, "the first of its type comes first");
    const int n = X509_NAME_get_text_by_OBJ(name, obj, buf.data(), room);
    Check(n >= 0 && n < room && buf[static_cast<size_t>(n)] == '\0', "the entry text fits");
  }
  if (count == 0) return;
  X509_NAME* copy = X509_NAME_dup(name);
  if (copy == nullptr) return;
  X509_NAME_ENTRY* first = X509_NAME_delete_entry(copy, 0);
  // Back in front: the objects are where they were and the RDN numbers
  // still never fall (a decoded name with empty RDNs has gaps in them, so
  // the entry may join the RDN that follows).
  if (X509_NAME_add_entry(copy, first, 0, 0) == 1) {
    for (int i = 1; i < count; i++)
      Check(X509_NAME_get_entry(copy, i)->set >= X509_NAME_get_entry(copy, i - 1)->set,
            "the RDN numbers never fall");
    for (int i = 0; i < count; i++)
      Check(
          OBJ_cmp(X509_NAME_get_entry(copy, i)->object, X509_NAME_get_entry(name, i)->object) == 0,
          "the entries are back in order");
  }
  X509_NAME_ENTRY_free(first);
  X509_NAME_free(copy);
}

void Identity(X509_NAME* a, X509_NAME* b) {
  const unsigned long h = X509_NAME_hash(a);
  X509_NAME* copy = X509_NAME_dup(a);
  if (copy != nullptr) {
    Check(X509_NAME_cmp(a, copy) == 0, "a name equals its copy");
    Check(X509_NAME_hash(copy) == h, "a copy hashes alike");
    copy->modified = 1;  // encoded again from the entries (octets may differ)
    X509_NAME_hash(copy);
    X509_NAME_free(copy);
  }
  Check(X509_NAME_hash(a) == h, "the hash is stable");
  if (b != nullptr) {
    Check(Sign(X509_NAME_cmp(a, b)) == -Sign(X509_NAME_cmp(b, a)), "the ordering is antisymmetric");
    X509_NAME_hash(b);
  }
}

void Print(X509_NAME* name, unsigned long flags, int indent) {
  BIO* out = BIO_new(BIO_s_mem());
  if (out == nullptr) return;
  for (unsigned long f : {flags, 0UL, 0x82031FUL, 0x2B1031FUL})
    X509_NAME_print_ex(out, name, indent, f);
  BIO_free(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const int room = in.ConsumeIntegralInRange<int>(1, 300);
  const unsigned long flags = in.ConsumeIntegral<uint32_t>();
  const std::string input = in.ConsumeBytesAsString(in.remaining_bytes());
  const auto* der = reinterpret_cast<const unsigned char*>(input.data());
  const unsigned char* p = der;
  X509_NAME* a = d2i_X509_NAME(nullptr, &p, static_cast<long>(input.size()));
  if (a != nullptr) {
    Check(p > der && p <= der + input.size(), "the name moves forward within the input");
    const long rest = static_cast<long>(der + input.size() - p);
    X509_NAME* b = d2i_X509_NAME(nullptr, &p, rest);
    Text(a, room);
    Entries(a, room);
    Identity(a, b);
    Print(a, flags, room % 20);
    if (b != nullptr) Text(b, room);
    X509_NAME_free(b);
    X509_NAME_free(a);
  }
  ERR_clear_error();
  return 0;
}
