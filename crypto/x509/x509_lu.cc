// The certificate store: its cache of certificates and revocation lists
// (ordered by type, then subject or issuer name, under lock 11), the lookup
// methods that fill the cache on demand, and the searches by name that the
// verifier makes.
//
// Implementation notes: X509_STORE_new allocates the public store with an
// index of the cache behind it: the cached objects by a keyed hash of the
// SHA-1 digest of their DER (for a certificate, the digest X509_cmp
// compares), under a secret drawn once per process, so that no input can
// choose which objects share a key, and by the address of their
// certificate or list; an addition finds a duplicate in constant time
// whatever the objects share (the cache itself keeps those of one name in
// the order added).  The index follows the cache under lock 11; a cache that a caller
// changed itself (an object pushed, one removed) is indexed again at the
// next addition, and an index entry is read only while its object is found
// in the cache by address.

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/random.h>
#include <time.h>

#include <atomic>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rand.h>
#include <morvane/sha.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "internal/byteorder.h"
#include "internal/err_mark.h"
#include "internal/err_watch.h"
#include "internal/lock.h"
#include "internal/wipe.h"
#include "x509_local.h"
#include "x509v3/internal.h"

namespace {

// Whether two names hold the same entries, octet for octet: X509_NAME_cmp
// then finds them equal, after comparing each value by its type's rules.
bool same_entries(const X509_NAME* a, const X509_NAME* b) {
  if (a == b) return true;
  if (a == nullptr || b == nullptr || a->entries == nullptr || b->entries == nullptr ||
      a->entries->num != b->entries->num)
    return false;
  for (int i = a->entries->num - 1; i >= 0; i--) {  // the most specific first
    const auto* ea = reinterpret_cast<const X509_NAME_ENTRY*>(a->entries->data[i]);
    const auto* eb = reinterpret_cast<const X509_NAME_ENTRY*>(b->entries->data[i]);
    const ASN1_STRING* va = ea->value;
    const ASN1_STRING* vb = eb->value;
    if (ea->set != eb->set || va->type != vb->type || va->length != vb->length ||
        (va->length > 0 && memcmp(va->data, vb->data, static_cast<size_t>(va->length)) != 0))
      return false;
    const ASN1_OBJECT* oa = ea->object;
    const ASN1_OBJECT* ob = eb->object;
    if (oa != ob && (oa == nullptr || ob == nullptr || oa->length != ob->length ||
                     (oa->length > 0 && memcmp(oa->data, ob->data, oa->length) != 0)))
      return false;
  }
  return true;
}

int x509_object_cmp(const char* const* pa, const char* const* pb) {
  const auto* a = reinterpret_cast<const X509_OBJECT*>(*pa);
  const auto* b = reinterpret_cast<const X509_OBJECT*>(*pb);
  const int ret = a->type - b->type;
  if (ret != 0) return ret;
  const X509_NAME* na;
  const X509_NAME* nb;
  switch (a->type) {
    case X509_LU_X509:
      na = a->data.x509->cert_info->subject;
      nb = b->data.x509->cert_info->subject;
      break;
    case X509_LU_CRL:
      na = a->data.crl->crl->issuer;
      nb = b->data.crl->crl->issuer;
      break;
    default:
      return 0;
  }
  // Objects of one name meet at every step of a search among them.
  return same_entries(na, nb) ? 0 : X509_NAME_cmp(na, nb);
}

void free_object(void* p) {
  auto* a = static_cast<X509_OBJECT*>(p);
  X509_OBJECT_free_contents(a);
  MORVANE_free(a);
}

void free_lookup(void* p) {
  auto* lu = static_cast<X509_LOOKUP*>(p);
  X509_LOOKUP_shutdown(lu);
  X509_LOOKUP_free(lu);
}

// Index of the first object of the type and name, sorting the stack first
// when needed; the caller holds lock 11 for writing.
int idx_by_subject(STACK* h, int type, X509_NAME* name) {
  X509_OBJECT stmp;
  X509 x509_s;
  X509_CINF cinf_s;
  X509_CRL crl_s;
  X509_CRL_INFO crl_info_s;
  stmp.type = type;
  switch (type) {
    case X509_LU_X509:
      memset(&x509_s, 0, sizeof(x509_s));
      memset(&cinf_s, 0, sizeof(cinf_s));
      x509_s.cert_info = &cinf_s;
      cinf_s.subject = name;
      stmp.data.x509 = &x509_s;
      break;
    case X509_LU_CRL:
      memset(&crl_s, 0, sizeof(crl_s));
      memset(&crl_info_s, 0, sizeof(crl_info_s));
      crl_s.crl = &crl_info_s;
      crl_info_s.issuer = name;
      stmp.data.crl = &crl_s;
      break;
    default:
      return -1;
  }
  return sk_find(h, reinterpret_cast<char*>(&stmp));
}

// Whether two revocation lists are one: the same object, or the same
// encoding (the signatures are compared first, so that lists of one issuer
// are encoded only when those agree).
bool same_crl(X509_CRL* a, X509_CRL* b) {
  if (a == b) return true;
  if (a->signature != nullptr && b->signature != nullptr &&
      ASN1_STRING_cmp(a->signature, b->signature) != 0)
    return false;
  unsigned char* der_a = nullptr;
  unsigned char* der_b = nullptr;
  const int len_a = i2d_X509_CRL(a, &der_a);
  const int len_b = i2d_X509_CRL(b, &der_b);
  const bool same =
      len_a > 0 && len_a == len_b && memcmp(der_a, der_b, static_cast<size_t>(len_a)) == 0;
  MORVANE_free(der_a);
  MORVANE_free(der_b);
  return same;
}

// Whether the cached object c, of x's type and name, is x again: the same
// certificate (one object, or equal by X509_cmp), or the same revocation
// list (an issuer publishes a new list each period: those are not
// duplicates).
bool same_object(X509_OBJECT* c, X509_OBJECT* x) {
  switch (x->type) {
    case X509_LU_X509:
      return c->data.x509 == x->data.x509 || X509_cmp(c->data.x509, x->data.x509) == 0;
    case X509_LU_CRL:
      return same_crl(c->data.crl, x->data.crl);
    default:
      return true;
  }
}

// The index at which obj joins the sorted cache: after every object that
// sorts before it or equal to it, so that objects of one name stay in the
// order they were added.  *after_its_name: the object before that index has
// obj's name.  `hint`, when not 0, is where the addition before joined the
// objects of its name: objects of one name added in turn join there in two
// comparisons.  The caller holds lock 11 for writing.
int insertion_point(STACK* objs, X509_OBJECT* obj, int hint, bool* after_its_name) {
  const char* key = reinterpret_cast<const char*>(obj);
  const int n = sk_num(objs);
  *after_its_name = false;
  if (hint > 0 && hint <= n) {
    const char* before = sk_value(objs, hint - 1);
    const char* at = hint < n ? sk_value(objs, hint) : nullptr;
    if (x509_object_cmp(&before, &key) == 0 && (at == nullptr || x509_object_cmp(&at, &key) > 0)) {
      *after_its_name = true;
      return hint;
    }
  }
  int lo = 0;
  int hi = n;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    const char* at = sk_value(objs, mid);
    const int c = x509_object_cmp(&at, &key);
    if (c <= 0) {
      lo = mid + 1;  // the last step that moves lo compares the object before the result
      *after_its_name = c == 0;
    } else {
      hi = mid;
    }
  }
  return lo;
}

/* ---- the keys of the index ---- */

// The secret under which the index hashes: 128 bits drawn once per process
// (from the system, else the random generator; the clock and an address
// are mixed in either way).  Each word goes from 0 to its value by
// compare-and-swap and never changes after, so every thread that has
// loaded both hashes under the same secret.
constinit std::atomic<uint64_t> index_secret[2];

struct Secret {
  uint64_t k0, k1;
};

uint64_t load_le64(const unsigned char* p) {
  return morvane::internal::load_le32(p) |
         static_cast<uint64_t>(morvane::internal::load_le32(p + 4)) << 32;
}

Secret secret() {
  uint64_t w[2] = {index_secret[0].load(std::memory_order_acquire),
                   index_secret[1].load(std::memory_order_acquire)};
  if (w[0] != 0 && w[1] != 0) return {w[0], w[1]};
  unsigned char buf[16] = {};
  if (getrandom(buf, sizeof buf, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof buf)) {
    morvane::internal::ErrorMark mark;  // a generator that cannot serve says why: not ours
    RAND_bytes(buf, sizeof buf);
    mark.pop();
  }
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t drawn[2] = {
      load_le64(buf) ^ static_cast<uint64_t>(now.tv_nsec),
      load_le64(buf + 8) ^ static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&now))};
  morvane::internal::wipe(buf, sizeof buf);
  for (int i = 0; i < 2; i++) {
    if (w[i] != 0) continue;
    uint64_t expected = 0;
    const uint64_t mine = drawn[i] != 0 ? drawn[i] : 1;
    w[i] = index_secret[i].compare_exchange_strong(expected, mine, std::memory_order_acq_rel,
                                                   std::memory_order_acquire)
               ? mine
               : expected;
  }
  morvane::internal::wipe(drawn, sizeof drawn);
  return {w[0], w[1]};
}

// SipHash-1-3 (the function of Aumasson and Bernstein, "SipHash: a fast
// short-input PRF", 2012, with one round per word and three to finish)
// under the secret, over octets given in pieces.
class KeyedHash {
 public:
  explicit KeyedHash(const Secret& s)
      : v0_(s.k0 ^ 0x736f6d6570736575ULL),
        v1_(s.k1 ^ 0x646f72616e646f6dULL),
        v2_(s.k0 ^ 0x6c7967656e657261ULL),
        v3_(s.k1 ^ 0x7465646279746573ULL) {}

  void add(const unsigned char* p, size_t n) {
    total_ += n;
    for (; n > 0 && fill_ != 0; n--) take(*p++);
    for (; n >= 8; p += 8, n -= 8) block(load_le64(p));
    for (; n > 0; n--) take(*p++);
  }
  // A number as eight octets, least significant first.
  void add(uint64_t v) {
    unsigned char b[8];
    for (int i = 0; i < 8; i++) b[i] = static_cast<unsigned char>(v >> (8 * i));
    add(b, sizeof b);
  }
  // A string's type and length, then its octets (a null one: a mark).
  void add(const ASN1_STRING* s) {
    if (s == nullptr) return add(~0ULL);
    add(static_cast<uint64_t>(static_cast<unsigned>(s->type)) << 32 |
        static_cast<unsigned>(s->length));
    if (s->data != nullptr && s->length > 0) add(s->data, static_cast<size_t>(s->length));
  }

  uint64_t final() {
    block(tail_ | static_cast<uint64_t>(total_ & 0xff) << 56);
    v2_ ^= 0xff;
    for (int i = 0; i < kFinishRounds; i++) round();
    return v0_ ^ v1_ ^ v2_ ^ v3_;
  }

 private:
  static constexpr int kWordRounds = 1, kFinishRounds = 3;
  static uint64_t rotl(uint64_t x, int b) { return x << b | x >> (64 - b); }
  void round() {
    v0_ += v1_;
    v1_ = rotl(v1_, 13) ^ v0_;
    v0_ = rotl(v0_, 32);
    v2_ += v3_;
    v3_ = rotl(v3_, 16) ^ v2_;
    v0_ += v3_;
    v3_ = rotl(v3_, 21) ^ v0_;
    v2_ += v1_;
    v1_ = rotl(v1_, 17) ^ v2_;
    v2_ = rotl(v2_, 32);
  }
  void block(uint64_t m) {
    v3_ ^= m;
    for (int i = 0; i < kWordRounds; i++) round();
    v0_ ^= m;
  }
  void take(unsigned char c) {
    tail_ |= static_cast<uint64_t>(c) << (8 * fill_);
    if (++fill_ < 8) return;
    block(tail_);
    tail_ = 0;
    fill_ = 0;
  }

  uint64_t v0_, v1_, v2_, v3_;
  uint64_t tail_ = 0;
  int fill_ = 0;
  size_t total_ = 0;
};

// The key of an object that cannot be encoded.  Such certificates are all
// one to X509_cmp, so one is keyed by what tells them apart in the cache:
// its subject (each entry's type, RDN and value), serial number and
// signature.  Such a list is only ever a duplicate of itself: its address.
uint64_t bare_key(const X509_OBJECT* obj, const Secret& s) {
  KeyedHash h(s);
  h.add(static_cast<uint64_t>(obj->type) | 0x100);
  if (obj->type == X509_LU_CRL) {
    h.add(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(obj->data.ptr)));
    return h.final();
  }
  const X509* x = obj->data.x509;
  const X509_CINF* ci = x->cert_info;
  const X509_NAME* subject = ci != nullptr ? ci->subject : nullptr;
  const STACK* entries = subject != nullptr ? subject->entries : nullptr;
  h.add(static_cast<uint64_t>(sk_num(entries)));
  for (int i = 0; i < sk_num(entries); i++) {
    const auto* e = reinterpret_cast<const X509_NAME_ENTRY*>(sk_value(entries, i));
    const ASN1_OBJECT* type = e->object;
    h.add(static_cast<uint64_t>(static_cast<unsigned>(e->set)) << 32 |
          static_cast<unsigned>(type != nullptr ? type->length : -1));
    if (type != nullptr && type->data != nullptr && type->length > 0)
      h.add(type->data, static_cast<size_t>(type->length));
    h.add(e->value);
  }
  h.add(ci != nullptr ? ci->serialNumber : nullptr);
  h.add(x->signature);
  return h.final();
}

// The octets an encoder writes (asked for their length first), in a buffer
// of their own: on the stack when short.
class Written {
 public:
  Written() = default;
  ~Written() {
    if (buf_ != local_) MORVANE_free(buf_);
  }
  Written(const Written&) = delete;
  Written& operator=(const Written&) = delete;

  // Writes with `write` (an i2d-style function of the output pointer).
  template <class Write>
  void encode(Write write) {
    const int n = write(nullptr);
    if (n <= 0) return;
    if (n > static_cast<int>(sizeof local_)) {
      buf_ = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(n)));
      if (buf_ == nullptr) {
        buf_ = local_;
        length_ = -1;
        return;
      }
    }
    unsigned char* p = buf_;
    if (write(&p) == n) length_ = n;
  }
  unsigned char* data() { return buf_; }
  // The count of octets; 0 when none could be written, -1 when memory ran
  // out (nothing queued).
  int length() const { return length_; }
  void set_length(int n) { length_ = n; }

 private:
  unsigned char local_[1024];
  unsigned char* buf_ = local_;
  int length_ = 0;
};

// The DER of an algorithm identifier into out: written here for one of no
// parameter or a NULL one (nearly every one), as the encoder writes it;
// otherwise encoded.
void algorithm_der(X509_ALGOR* alg, Written& out) {
  const ASN1_OBJECT* oid = alg != nullptr ? alg->algorithm : nullptr;
  const ASN1_TYPE* param = alg != nullptr ? alg->parameter : nullptr;
  if (oid == nullptr || oid->data == nullptr || oid->length <= 0 || oid->length > 123 ||
      (param != nullptr && param->type != ASN1_UT_NULL)) {
    out.encode([alg](unsigned char** p) { return i2d_X509_ALGOR(alg, p); });
    return;
  }
  unsigned char* p = out.data();
  *p++ = 0x30;
  *p++ = static_cast<unsigned char>(oid->length + (param != nullptr ? 4 : 2));
  *p++ = 0x06;
  *p++ = static_cast<unsigned char>(oid->length);
  memcpy(p, oid->data, static_cast<size_t>(oid->length));
  p += oid->length;
  if (param != nullptr) {
    *p++ = 0x05;
    *p++ = 0x00;
  }
  out.set_length(static_cast<int>(p - out.data()));
}

// The DER header of a value of the tag and content length, into out (at
// most 10 octets); its size.
size_t der_header(unsigned char* out, unsigned char tag, size_t length) {
  out[0] = tag;
  if (length < 0x80) {
    out[1] = static_cast<unsigned char>(length);
    return 2;
  }
  size_t n = 0;
  for (size_t v = length; v != 0; v >>= 8) n++;
  out[1] = static_cast<unsigned char>(0x80 | n);
  for (size_t i = 0; i < n; i++)
    out[2 + i] = static_cast<unsigned char>(length >> (8 * (n - 1 - i)));
  return 2 + n;
}

// The SHA-1 digest, into md, of the DER (as i2d writes it) of a certificate
// or list whose signed part is `tbs` (its DER): 1, 0 when it cannot be
// encoded, -1 when memory ran out (nothing queued).
int digest_of(const unsigned char* tbs, size_t tbs_length, X509_ALGOR* alg,
              ASN1_BIT_STRING* signature, unsigned char* md) {
  Written algorithm;
  algorithm_der(alg, algorithm);
  Written content;
  content.encode([signature](unsigned char** p) { return i2c_ASN1_BIT_STRING(signature, p); });
  if (algorithm.length() < 0 || content.length() < 0) return -1;
  if (algorithm.length() == 0 || content.length() == 0) return 0;
  unsigned char head[10];
  unsigned char bit_head[10];
  const size_t bit_head_length = der_header(bit_head, 0x03, static_cast<size_t>(content.length()));
  const size_t head_length =
      der_header(head, 0x30,
                 tbs_length + static_cast<size_t>(algorithm.length()) + bit_head_length +
                     static_cast<size_t>(content.length()));
  SHA_CTX c;
  SHA1_Init(&c);
  SHA1_Update(&c, head, head_length);
  SHA1_Update(&c, tbs, tbs_length);
  SHA1_Update(&c, algorithm.data(), static_cast<size_t>(algorithm.length()));
  SHA1_Update(&c, bit_head, bit_head_length);
  SHA1_Update(&c, content.data(), static_cast<size_t>(content.length()));
  SHA1_Final(md, &c);
  return 1;
}

// The SHA-1 digest of obj's DER into md, as digest_of.  A certificate's is
// the one X509_cmp compares: the one its cached facts hold when they are
// made; else, when its signed part is the one decoded, it is computed here
// (equal to the one the facts would hold), and a certificate built or
// changed in memory has its facts made (which encodes it under lock 3).  A
// list's signed part is read as decoded, or encoded under lock 6 when built
// or changed in memory.  What a failed encoding queued is taken back.
int der_digest(const X509_OBJECT* obj, unsigned char* md) {
  if (obj->type == X509_LU_X509) {
    X509* x = obj->data.x509;
    const X509_CINF* ci = x->cert_info;
    if (!(morvane::x509v3::flags_of(x) & EXFLAG_SET)) {
      if (ci != nullptr && ci->enc.modified == 0)
        return digest_of(ci->enc.enc, static_cast<size_t>(ci->enc.len), x->sig_alg, x->signature,
                         md);
      morvane::internal::ErrorMark mark;
      const bool made = morvane::x509v3::cache_extensions(x);
      mark.pop();
      if (!made) return -1;
    }
    memcpy(md, x->sha1_hash, SHA_DIGEST_LENGTH);
    // A certificate that cannot be encoded has a digest of zeros.
    unsigned char any = 0;
    for (int i = 0; i < SHA_DIGEST_LENGTH; i++) any |= md[i];
    return any != 0 ? 1 : 0;
  }
  X509_CRL* crl = obj->data.crl;
  if (crl->crl == nullptr) return 0;
  if (crl->crl->enc.modified == 0)
    return digest_of(crl->crl->enc.enc, static_cast<size_t>(crl->crl->enc.len), crl->sig_alg,
                     crl->signature, md);
  const morvane::internal::MallocFailureWatch watch;
  morvane::internal::ErrorMark mark;
  unsigned char* der = nullptr;
  int n;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509_CRL);
    n = i2d_X509_CRL_INFO(crl->crl, &der);
  }
  const int r =
      n > 0 ? digest_of(der, static_cast<size_t>(n), crl->sig_alg, crl->signature, md) : 0;
  MORVANE_free(der);
  const bool lack = watch.seen();
  mark.pop();
  return lack ? -1 : r;
}

// The key of obj in *key: a keyed hash of the digest of its DER, or of what
// bare_key reads when it has none; false (nothing queued) when memory ran
// out.
bool key_of(const X509_OBJECT* obj, uint64_t* key) {
  const Secret s = secret();
  if (obj->type != X509_LU_X509 && obj->type != X509_LU_CRL) {
    KeyedHash h(s);
    h.add(static_cast<uint64_t>(static_cast<unsigned>(obj->type)));
    *key = h.final();
    return true;
  }
  unsigned char md[SHA_DIGEST_LENGTH];
  const int r = der_digest(obj, md);
  if (r < 0) return false;
  if (r == 0) {
    *key = bare_key(obj, s);
    return true;
  }
  KeyedHash h(s);
  h.add(static_cast<uint64_t>(obj->type));
  h.add(md, sizeof md);
  *key = h.final();
  return true;
}

// Where the address of a certificate or list falls in the index.
uint64_t address_key(const void* p) {
  uint64_t h = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)) ^ secret().k0;
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

/* ---- the index ---- */

// The cache's objects as entries found through two hash tables with linear
// probing: by key (key_of: copies of one object share it, other objects
// almost never do, and no caller can choose which) and by the address of
// the certificate or list.  An entry's object is read only after it is
// found in the cache by address, so that an entry of a cache a caller has
// changed is never read: `rank`, the number of objects of its name before
// it, says where (the first object of the name, plus rank).
struct HeldIndex {
  struct Entry {
    uint64_t key;
    X509_OBJECT* obj;
    const void* data;  // obj's certificate or list when indexed
    int type;
    int rank;
  };
  Entry* entries;    // `count` of them, in no order; the one block allocated
  uint32_t* by_key;  // 2 * cap slots each: 1 + an entry's index, or 0 (free)
  uint32_t* by_data;
  int cap;  // a power of two, or 0
  int count;
  int join;  // the index after the last object added, when it joined
             // others of its name; else 0
};

// The store as X509_STORE_new allocates it.
struct StoreBody {
  X509_STORE store;  // first: the address handed out
  HeldIndex held;
};
static_assert(offsetof(StoreBody, store) == 0);

HeldIndex& held_of(X509_STORE* store) {
  return reinterpret_cast<StoreBody*>(store)->held;
}

void link(uint32_t* table, int cap, uint64_t key, int index) {
  const auto mask = static_cast<uint64_t>(2 * cap - 1);
  uint64_t i = key & mask;
  while (table[i] != 0) i = (i + 1) & mask;
  table[i] = static_cast<uint32_t>(index + 1);
}

// Places an entry; the index has room.
void place(HeldIndex& h, const HeldIndex::Entry& e) {
  h.entries[h.count] = e;
  link(h.by_key, h.cap, e.key, h.count);
  link(h.by_data, h.cap, address_key(e.data), h.count);
  h.count++;
}

void clear(HeldIndex& h) {
  MORVANE_free(h.entries);
  h = HeldIndex{};
}

// Makes room for one more entry: true, or false when memory ran out (the
// index unchanged).
bool reserve(HeldIndex& h) {
  if (h.count < h.cap) return true;
  if (h.cap >= (1 << 26)) return false;
  const int cap = h.cap == 0 ? 32 : 2 * h.cap;
  const size_t slots = 2 * static_cast<size_t>(cap);
  auto* block = static_cast<unsigned char*>(MORVANE_malloc(
      static_cast<size_t>(cap) * sizeof(HeldIndex::Entry) + 2 * slots * sizeof(uint32_t)));
  if (block == nullptr) return false;
  HeldIndex grown{};
  grown.entries = reinterpret_cast<HeldIndex::Entry*>(block);
  grown.by_key = reinterpret_cast<uint32_t*>(block + cap * sizeof(HeldIndex::Entry));
  grown.by_data = grown.by_key + slots;
  grown.cap = cap;
  grown.join = h.join;
  memset(grown.by_key, 0, 2 * slots * sizeof(uint32_t));
  for (int i = 0; i < h.count; i++) place(grown, h.entries[i]);
  MORVANE_free(h.entries);
  h = grown;
  return true;
}

// Indexes the sorted cache anew: true, or false when memory ran out (the
// index then empty).
bool reindex(HeldIndex& h, STACK* objs) {
  clear(h);
  int rank = 0;
  for (int i = 0; i < sk_num(objs); i++) {
    auto* obj = reinterpret_cast<X509_OBJECT*>(sk_value(objs, i));
    if (i > 0) {
      const char* prev = sk_value(objs, i - 1);
      const char* at = reinterpret_cast<const char*>(obj);
      rank = x509_object_cmp(&prev, &at) == 0 ? rank + 1 : 0;
    }
    uint64_t key;
    if (!key_of(obj, &key) || !reserve(h)) {
      clear(h);
      return false;
    }
    place(h, {key, obj, obj->data.ptr, obj->type, rank});
  }
  return true;
}

// Whether the entry's object stands where its rank says among the objects
// of obj's name in the sorted cache.
bool at_rank(STACK* objs, X509_OBJECT* obj, const HeldIndex::Entry& e) {
  const int first = sk_find(objs, reinterpret_cast<char*>(obj));
  return first >= 0 && e.rank < sk_num(objs) - first &&
         sk_value(objs, first + e.rank) == reinterpret_cast<const char*>(e.obj);
}

// Whether c is anywhere in the cache (by address).
bool anywhere(STACK* objs, const X509_OBJECT* c) {
  for (int i = 0; i < sk_num(objs); i++)
    if (sk_value(objs, i) == reinterpret_cast<const char*>(c)) return true;
  return false;
}

enum class Held { kNo, kYes, kStale };

// Whether the cache holds obj (key: its key) again: its certificate or list
// itself, whatever became of its contents since it was added, or an object
// of its name and contents that same_object takes for it.  An entry is
// looked for where its rank places it, else (objects changed after they
// were added can leave the cache out of order) anywhere in the cache;
// kStale when one that might have answered is not there (a caller changed
// the cache since).
Held held(const HeldIndex& h, STACK* objs, uint64_t key, X509_OBJECT* obj) {
  if (h.cap == 0) return Held::kNo;
  const auto mask = static_cast<uint64_t>(2 * h.cap - 1);
  bool stale = false;
  for (uint64_t i = address_key(obj->data.ptr) & mask; h.by_data[i] != 0; i = (i + 1) & mask) {
    const HeldIndex::Entry& e = h.entries[h.by_data[i] - 1];
    if (e.data != obj->data.ptr || e.type != obj->type) continue;
    if ((at_rank(objs, obj, e) || anywhere(objs, e.obj)) && e.obj->type == obj->type &&
        e.obj->data.ptr == obj->data.ptr)
      return Held::kYes;
    stale = true;
  }
  for (uint64_t i = key & mask; h.by_key[i] != 0; i = (i + 1) & mask) {
    const HeldIndex::Entry& e = h.entries[h.by_key[i] - 1];
    if (e.key != key || e.type != obj->type) continue;
    const bool placed = at_rank(objs, obj, e);
    if (!placed && !anywhere(objs, e.obj)) {
      stale = true;
      continue;
    }
    const char* held_at = reinterpret_cast<const char*>(e.obj);
    const char* key_at = reinterpret_cast<const char*>(obj);
    if ((placed || x509_object_cmp(&held_at, &key_at) == 0) && same_object(e.obj, obj))
      return Held::kYes;
  }
  return stale ? Held::kStale : Held::kNo;
}

// The rank of an object inserted at index `at` of the sorted cache: one
// more than that of the object before it when that one has its name.
int rank_at(const HeldIndex& h, STACK* objs, int at, bool after_its_name) {
  if (!after_its_name || h.cap == 0) return 0;
  const auto* prev = reinterpret_cast<const X509_OBJECT*>(sk_value(objs, at - 1));
  const auto mask = static_cast<uint64_t>(2 * h.cap - 1);
  for (uint64_t i = address_key(prev->data.ptr) & mask; h.by_data[i] != 0; i = (i + 1) & mask) {
    const HeldIndex::Entry& e = h.entries[h.by_data[i] - 1];
    if (e.obj == prev) return e.rank + 1;
  }
  return 0;  // not indexed: a later search looks for it and indexes anew
}

// Adds obj (type and pointer filled, no reference yet) to the cache, which
// stays sorted: one binary search finds the place, after the objects of its
// name (two comparisons when the addition before joined that name), and the
// index tells whether the cache holds a duplicate; an addition costs one
// digest of the object's encoding and at most O(log n) name comparisons
// however many objects share its name, serial number or signature.
int add_object(X509_STORE* ctx, X509_OBJECT* obj, int func) {
  int reason = 0;
  uint64_t key;
  if (!key_of(obj, &key)) {
    reason = ERR_R_MALLOC_FAILURE;
  } else {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509_STORE);
    STACK* objs = ctx->objs;
    HeldIndex& h = held_of(ctx);
    // A caller that pushed objects itself left the cache unsorted; one that
    // removed some changed the count.
    const bool pushed = !sk_is_sorted(objs);
    sk_sort(objs);
    bool current = (!pushed && h.count == sk_num(objs)) || reindex(h, objs);
    Held found = current ? held(h, objs, key, obj) : Held::kNo;
    if (found == Held::kStale) {
      current = reindex(h, objs);
      found = current ? held(h, objs, key, obj) : Held::kNo;
    }
    if (!current || !reserve(h)) {
      reason = ERR_R_MALLOC_FAILURE;
    } else if (found == Held::kYes) {
      reason = X509_R_CERT_ALREADY_IN_HASH_TABLE;
    } else {
      bool after_its_name;
      const int at = insertion_point(objs, obj, h.join, &after_its_name);
      const int rank = rank_at(h, objs, at, after_its_name);
      if (sk_insert(objs, reinterpret_cast<char*>(obj), at) == 0) {
        reason = ERR_R_MALLOC_FAILURE;
      } else {
        X509_OBJECT_up_ref_count(obj);
        place(h, {key, obj, obj->data.ptr, obj->type, rank});
        h.join = after_its_name ? at + 1 : 0;
        objs->sorted = 1;  // inserted in its place: no sort is due
      }
    }
  }
  if (reason == 0) return 1;
  MORVANE_free(obj);
  ERR_put_error(ERR_LIB_X509, func, reason, __FILE__, __LINE__);
  return 0;
}

}  // namespace

/* ---- objects ---- */

void X509_OBJECT_up_ref_count(X509_OBJECT* a) {
  switch (a->type) {
    case X509_LU_X509:
      CRYPTO_add(&a->data.x509->references, 1, CRYPTO_LOCK_X509);
      break;
    case X509_LU_CRL:
      CRYPTO_add(&a->data.crl->references, 1, CRYPTO_LOCK_X509_CRL);
      break;
    default:
      break;
  }
}

void X509_OBJECT_free_contents(X509_OBJECT* a) {
  switch (a->type) {
    case X509_LU_X509:
      X509_free(a->data.x509);
      break;
    case X509_LU_CRL:
      X509_CRL_free(a->data.crl);
      break;
    default:
      break;
  }
}

int X509_OBJECT_idx_by_subject(STACK* h, int type, X509_NAME* name) {
  return idx_by_subject(h, type, name);
}

X509_OBJECT* X509_OBJECT_retrieve_by_subject(STACK* h, int type, X509_NAME* name) {
  const int idx = idx_by_subject(h, type, name);
  if (idx == -1) return nullptr;
  return reinterpret_cast<X509_OBJECT*>(sk_value(h, idx));
}

X509_OBJECT* X509_OBJECT_retrieve_match(STACK* h, X509_OBJECT* x) {
  int idx = sk_find(h, reinterpret_cast<char*>(x));
  if (idx == -1) return nullptr;
  // The objects of one name follow each other.
  const char* key = reinterpret_cast<const char*>(x);
  for (; idx < sk_num(h); idx++) {
    auto* obj = reinterpret_cast<X509_OBJECT*>(sk_value(h, idx));
    const char* held = reinterpret_cast<const char*>(obj);
    if (x509_object_cmp(&held, &key) != 0) return nullptr;
    if (same_object(obj, x)) return obj;
  }
  return nullptr;
}

/* ---- store ---- */

X509_STORE* X509_STORE_new(void) {
  auto* body = static_cast<StoreBody*>(MORVANE_malloc(sizeof(StoreBody)));
  if (body == nullptr) {
    ERR_put_error(ERR_LIB_X509, X509_F_X509_STORE_NEW, ERR_R_MALLOC_FAILURE, __FILE__, __LINE__);
    return nullptr;
  }
  memset(body, 0, sizeof(*body));
  X509_STORE* ret = &body->store;
  ret->cache = 1;
  ret->references = 1;
  ret->objs = sk_new(x509_object_cmp);
  ret->get_cert_methods = sk_new_null();
  ret->param = X509_VERIFY_PARAM_new();
  if (ret->objs == nullptr || ret->get_cert_methods == nullptr || ret->param == nullptr ||
      CRYPTO_new_ex_data(CRYPTO_EX_INDEX_X509_STORE, ret, &ret->ex_data) == 0) {
    sk_free(ret->objs);
    sk_free(ret->get_cert_methods);
    X509_VERIFY_PARAM_free(ret->param);
    MORVANE_free(ret);
    ERR_put_error(ERR_LIB_X509, X509_F_X509_STORE_NEW, ERR_R_MALLOC_FAILURE, __FILE__, __LINE__);
    return nullptr;
  }
  return ret;
}

void X509_STORE_free(X509_STORE* vfy) {
  if (vfy == nullptr) return;
  sk_pop_free(vfy->get_cert_methods, free_lookup);
  sk_pop_free(vfy->objs, free_object);
  CRYPTO_free_ex_data(CRYPTO_EX_INDEX_X509_STORE, vfy, &vfy->ex_data);
  X509_VERIFY_PARAM_free(vfy->param);
  clear(held_of(vfy));
  MORVANE_free(vfy);
}

X509_LOOKUP* X509_STORE_add_lookup(X509_STORE* v, X509_LOOKUP_METHOD* m) {
  STACK* sk = v->get_cert_methods;
  for (int i = 0; i < sk_num(sk); i++) {
    auto* lu = reinterpret_cast<X509_LOOKUP*>(sk_value(sk, i));
    if (lu->method == m) return lu;
  }
  X509_LOOKUP* lu = X509_LOOKUP_new(m);  // queues why it failed
  if (lu == nullptr) return nullptr;
  lu->store_ctx = v;
  if (sk_push(sk, reinterpret_cast<char*>(lu)) == 0) {
    X509_LOOKUP_free(lu);
    ERR_put_error(ERR_LIB_X509, X509_F_X509_STORE_ADD_LOOKUP, ERR_R_MALLOC_FAILURE, __FILE__,
                  __LINE__);
    return nullptr;
  }
  return lu;
}

int X509_STORE_add_cert(X509_STORE* ctx, X509* x) {
  if (x == nullptr) return 0;
  auto* obj = static_cast<X509_OBJECT*>(MORVANE_malloc(sizeof(X509_OBJECT)));
  if (obj == nullptr) {
    ERR_put_error(ERR_LIB_X509, X509_F_X509_STORE_ADD_CERT, ERR_R_MALLOC_FAILURE, __FILE__,
                  __LINE__);
    return 0;
  }
  obj->type = X509_LU_X509;
  obj->data.x509 = x;
  return add_object(ctx, obj, X509_F_X509_STORE_ADD_CERT);
}

int X509_STORE_add_crl(X509_STORE* ctx, X509_CRL* x) {
  if (x == nullptr) return 0;
  auto* obj = static_cast<X509_OBJECT*>(MORVANE_malloc(sizeof(X509_OBJECT)));
  if (obj == nullptr) {
    ERR_put_error(ERR_LIB_X509, X509_F_X509_STORE_ADD_CRL, ERR_R_MALLOC_FAILURE, __FILE__,
                  __LINE__);
    return 0;
  }
  obj->type = X509_LU_CRL;
  obj->data.crl = x;
  return add_object(ctx, obj, X509_F_X509_STORE_ADD_CRL);
}

int X509_STORE_get_by_subject(X509_STORE_CTX* vs, int type, X509_NAME* name, X509_OBJECT* ret) {
  X509_STORE* ctx = vs->ctx;
  if (ctx == nullptr) return 0;  // a context without store finds nothing
  X509_OBJECT stmp{};
  X509_OBJECT* tmp;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509_STORE);
    tmp = X509_OBJECT_retrieve_by_subject(ctx->objs, type, name);
  }
  if (tmp == nullptr) {
    // The first object a lookup method returns.
    const auto take_first = [](void* arg, X509_OBJECT* obj) {
      *static_cast<X509_OBJECT*>(arg) = *obj;
      return 0;
    };
    const int j = morvane::x509::load_subject(vs, type, name, take_first, &stmp);
    if (j < 0) return j;
    if (stmp.data.ptr == nullptr) return 0;
    tmp = &stmp;
  }
  ret->type = tmp->type;
  ret->data.ptr = tmp->data.ptr;
  X509_OBJECT_up_ref_count(ret);
  return 1;
}

int X509_STORE_CTX_get1_issuer(X509** issuer, X509_STORE_CTX* ctx, X509* x) {
  return morvane::x509::store_issuer(issuer, ctx, x);
}

namespace morvane::x509 {

int scan_subject(X509_STORE* store, int type, X509_NAME* name, ObjectSink add, void* arg) {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509_STORE);
  STACK* objs = store->objs;
  const int idx = X509_OBJECT_idx_by_subject(objs, type, name);
  if (idx < 0) return 1;
  for (int i = idx; i < sk_num(objs); i++) {
    auto* obj = reinterpret_cast<X509_OBJECT*>(sk_value(objs, i));
    if (obj->type != type) break;
    X509_NAME* held =
        type == X509_LU_X509 ? X509_get_subject_name(obj->data.x509) : obj->data.crl->crl->issuer;
    if (X509_NAME_cmp(name, held) != 0) break;
    if (!add(arg, obj)) return 0;
  }
  return 1;
}

int load_subject(X509_STORE_CTX* vs, int type, X509_NAME* name, ObjectSink add, void* arg) {
  STACK* methods = vs->ctx->get_cert_methods;
  // A lookup that asked to be retried is asked first next time.
  if (vs->current_method < 0 || vs->current_method >= sk_num(methods)) vs->current_method = 0;
  for (int i = vs->current_method; i < sk_num(methods); i++) {
    auto* lu = reinterpret_cast<X509_LOOKUP*>(sk_value(methods, i));
    X509_OBJECT obj;
    const int j = X509_LOOKUP_by_subject(lu, type, name, &obj);
    if (j < 0) {
      vs->current_method = i;
      return j;
    }
    if (j > 0 && obj.type == type && !add(arg, &obj)) {
      vs->current_method = 0;
      return 0;
    }
  }
  vs->current_method = 0;
  return 1;
}

}  // namespace morvane::x509

int X509_STORE_set_flags(X509_STORE* ctx, unsigned long flags) {
  return X509_VERIFY_PARAM_set_flags(ctx->param, flags);
}

int X509_STORE_set_depth(X509_STORE* ctx, int depth) {
  X509_VERIFY_PARAM_set_depth(ctx->param, depth);
  return 1;
}

int X509_STORE_set_purpose(X509_STORE* ctx, int purpose) {
  return X509_VERIFY_PARAM_set_purpose(ctx->param, purpose);
}

int X509_STORE_set_trust(X509_STORE* ctx, int trust) {
  return X509_VERIFY_PARAM_set_trust(ctx->param, trust);
}

int X509_STORE_set1_param(X509_STORE* ctx, X509_VERIFY_PARAM* param) {
  return X509_VERIFY_PARAM_set1(ctx->param, param);
}

/* ---- lookups ---- */

// A method whose new_item fails queues its own reason.
X509_LOOKUP* X509_LOOKUP_new(X509_LOOKUP_METHOD* method) {
  auto* ret = static_cast<X509_LOOKUP*>(MORVANE_malloc(sizeof(X509_LOOKUP)));
  if (ret == nullptr) {
    ERR_put_error(ERR_LIB_X509, X509_F_X509_LOOKUP_NEW, ERR_R_MALLOC_FAILURE, __FILE__, __LINE__);
    return nullptr;
  }
  memset(ret, 0, sizeof(*ret));
  ret->method = method;
  if (method != nullptr && method->new_item != nullptr && method->new_item(ret) == 0) {
    MORVANE_free(ret);
    return nullptr;
  }
  return ret;
}

void X509_LOOKUP_free(X509_LOOKUP* ctx) {
  if (ctx == nullptr) return;
  if (ctx->method != nullptr && ctx->method->free != nullptr) ctx->method->free(ctx);
  MORVANE_free(ctx);
}

int X509_LOOKUP_init(X509_LOOKUP* ctx) {
  if (ctx->method == nullptr) return 0;
  if (ctx->method->init == nullptr) return 1;
  return ctx->method->init(ctx);
}

int X509_LOOKUP_shutdown(X509_LOOKUP* ctx) {
  if (ctx->method == nullptr) return 0;
  if (ctx->method->shutdown == nullptr) return 1;
  return ctx->method->shutdown(ctx);
}

int X509_LOOKUP_ctrl(X509_LOOKUP* ctx, int cmd, const char* argc, long argl, char** ret) {
  if (ctx->method == nullptr) return -1;
  if (ctx->method->ctrl == nullptr) return 0;  // an operation the method does not offer
  return ctx->method->ctrl(ctx, cmd, argc, argl, ret);
}

int X509_LOOKUP_by_subject(X509_LOOKUP* ctx, int type, X509_NAME* name, X509_OBJECT* ret) {
  if (ctx->method == nullptr || ctx->method->get_by_subject == nullptr) return 0;
  if (ctx->skip) return 0;
  return ctx->method->get_by_subject(ctx, type, name, ret);
}

int X509_LOOKUP_by_issuer_serial(X509_LOOKUP* ctx, int type, X509_NAME* name, ASN1_INTEGER* serial,
                                 X509_OBJECT* ret) {
  if (ctx->method == nullptr || ctx->method->get_by_issuer_serial == nullptr) return 0;
  return ctx->method->get_by_issuer_serial(ctx, type, name, serial, ret);
}

int X509_LOOKUP_by_fingerprint(X509_LOOKUP* ctx, int type, unsigned char* bytes, int len,
                               X509_OBJECT* ret) {
  if (ctx->method == nullptr || ctx->method->get_by_fingerprint == nullptr) return 0;
  return ctx->method->get_by_fingerprint(ctx, type, bytes, len, ret);
}

int X509_LOOKUP_by_alias(X509_LOOKUP* ctx, int type, char* str, int len, X509_OBJECT* ret) {
  if (ctx->method == nullptr || ctx->method->get_by_alias == nullptr) return 0;
  return ctx->method->get_by_alias(ctx, type, str, len, ret);
}
