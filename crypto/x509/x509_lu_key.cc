// The keys of the store's index (x509_lu.cc), each a keyed hash under a
// secret drawn once per process, so that no input can choose which objects
// share one: an object's key, of the SHA-256 digest of its signed part (the
// one kept with its octets as decoded), its signature algorithm and its
// signature value, so that copies of one encoding share it; the subject,
// serial and signature of a certificate that cannot be encoded; the quick
// key, of the signature value's length and end octets alone, which is all
// an addition reads while no other object shares it; the key of a name,
// of its folded form (internal/name_order.h), which every name that
// X509_NAME_cmp calls equal shares; and the hash of an object's address.

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/random.h>
#include <time.h>

#include <atomic>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
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
#include "internal/name_order.h"
#include "internal/wipe.h"
#include "x509_local.h"
#include "x509v3/internal.h"

namespace morvane::x509 {

namespace {

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
  // One octet.
  void add_octet(unsigned char c) {
    total_++;
    take(c);
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

}  // namespace

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

namespace {

// The SHA-256 digest of obj's signed part into md: the one kept with its
// octets as decoded, else of its encoding now (under the object's lock: a
// name changed in memory is encoded again in place).  1, 0 when it does
// not encode, -1 without memory (what it queued taken back).
int signed_part_of(const X509_OBJECT* obj, unsigned char* md) {
  ASN1_ENCODING* enc = nullptr;
  if (obj->type == X509_LU_X509 && obj->data.x509->cert_info != nullptr)
    enc = &obj->data.x509->cert_info->enc;
  if (obj->type == X509_LU_CRL && obj->data.crl->crl != nullptr) enc = &obj->data.crl->crl->enc;
  if (enc == nullptr) return 0;
  if (enc->enc != nullptr && enc->modified == 0 && enc->len > 0) {
    signed_part_digest(enc, md);
    return 1;
  }
  const morvane::internal::MallocFailureWatch watch;
  morvane::internal::ErrorMark mark;
  unsigned char* der = nullptr;
  int n;
  if (obj->type == X509_LU_X509) {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509);
    n = i2d_X509_CINF(obj->data.x509->cert_info, &der);
  } else {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509_CRL);
    n = i2d_X509_CRL_INFO(obj->data.crl->crl, &der);
  }
  if (n > 0) SHA256(der, static_cast<size_t>(n), md);
  MORVANE_free(der);
  const bool lack = watch.seen();
  mark.pop();
  return lack ? -1 : n > 0 ? 1 : 0;
}

}  // namespace

bool store_key(const X509_OBJECT* obj, uint64_t* key) {
  const Secret s = secret();
  if (obj->type != X509_LU_X509 && obj->type != X509_LU_CRL) {
    KeyedHash h(s);
    h.add(static_cast<uint64_t>(static_cast<unsigned>(obj->type)));
    *key = h.final();
    return true;
  }
  unsigned char md[SHA256_DIGEST_LENGTH];
  const int r = signed_part_of(obj, md);
  if (r < 0) return false;
  X509_ALGOR* alg = obj->type == X509_LU_X509 ? obj->data.x509->sig_alg : obj->data.crl->sig_alg;
  ASN1_BIT_STRING* sig =
      obj->type == X509_LU_X509 ? obj->data.x509->signature : obj->data.crl->signature;
  Written algorithm;
  Written value;
  if (r > 0) {
    algorithm_der(alg, algorithm);
    value.encode([sig](unsigned char** p) { return i2c_ASN1_BIT_STRING(sig, p); });
    if (algorithm.length() < 0 || value.length() < 0) return false;
  }
  if (r == 0 || algorithm.length() == 0 || value.length() == 0) {
    *key = bare_key(obj, s);
    return true;
  }
  // As the DER writes them: copies of one encoding share the key.
  KeyedHash h(s);
  h.add(static_cast<uint64_t>(obj->type));
  h.add(md, sizeof md);
  h.add(static_cast<uint64_t>(algorithm.length()));
  h.add(algorithm.data(), static_cast<size_t>(algorithm.length()));
  h.add(value.data(), static_cast<size_t>(value.length()));
  *key = h.final();
  return true;
}

uint64_t store_name_key(int type, const X509_NAME* name) {
  KeyedHash h(secret());
  const int n = name != nullptr ? sk_num(name->entries) : 0;
  h.add(static_cast<uint64_t>(static_cast<unsigned>(type)) << 32 | static_cast<unsigned>(n));
  unsigned char folded[128];
  size_t m = 0;
  for (int i = n - 1; i >= 0; i--) {
    const auto* e = reinterpret_cast<const X509_NAME_ENTRY*>(sk_value(name->entries, i));
    // The value as the folded order reads it, an octet 0xff doubled and the
    // end marked by 0xff 0x01; then its set and type.
    if (e->value != nullptr) {
      morvane::internal::FoldedValue v(e->value);
      for (int c = v.next(); c >= 0; c = v.next()) {
        if (m + 2 > sizeof folded - 10) {
          h.add(folded, m);
          m = 0;
        }
        folded[m++] = static_cast<unsigned char>(c);
        if (c == 0xff) folded[m++] = 0xff;
      }
    }
    const ASN1_OBJECT* type_oid = e->object;
    const int oid_length = type_oid != nullptr ? type_oid->length : -1;
    folded[m++] = 0xff;
    folded[m++] = 0x01;
    morvane::internal::store_le32(folded + m, static_cast<uint32_t>(e->set));
    morvane::internal::store_le32(folded + m + 4, static_cast<uint32_t>(oid_length));
    h.add(folded, m + 8);
    m = 0;
    if (oid_length > 0) h.add(type_oid->data, static_cast<size_t>(oid_length));
  }
  return h.final();
}

uint64_t store_quick_key(const X509_OBJECT* obj, uint64_t name) {
  KeyedHash h(secret());
  h.add(static_cast<uint64_t>(static_cast<unsigned>(obj->type)) | 0x200);
  h.add(name);
  const ASN1_BIT_STRING* sig = obj->type == X509_LU_X509  ? obj->data.x509->signature
                               : obj->type == X509_LU_CRL ? obj->data.crl->signature
                                                          : nullptr;
  if (sig == nullptr || sig->data == nullptr || sig->length <= 0) return h.final();
  // Without the zero octets that end it, which the encoder may drop, and
  // with the last octet's unused bits as zeros, as the encoder writes them;
  // its length and the octets at both ends (which tell signatures apart;
  // values made alike there only cost their objects' digests).
  constexpr size_t kEnd = 24;
  const size_t length = static_cast<size_t>(sig->length);
  const int unused = sig->flags & ASN1_STRING_BITS_LEFT ? static_cast<int>(sig->flags & 7) : 0;
  const auto octet = [sig, length, unused](size_t i) {
    return i + 1 == length ? static_cast<unsigned char>(sig->data[i] & (0xff << unused))
                           : sig->data[i];
  };
  size_t n = length;
  while (n > 0 && octet(n - 1) == 0) n--;
  h.add(static_cast<uint64_t>(n));
  const size_t head = n <= 2 * kEnd ? n : kEnd;
  for (size_t i = 0; i < head; i++) h.add_octet(octet(i));
  for (size_t i = n - kEnd; head < n && i < n; i++) h.add_octet(octet(i));
  return h.final();
}

uint64_t store_address_key(const void* p) {
  uint64_t h = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)) ^ secret().k0;
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

}  // namespace morvane::x509
