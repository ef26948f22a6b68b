// Reading one whole DER or BER object off a stream and decoding it, through
// a structure's d2i function or its item, from a BIO or a stdio FILE.
//
// Implementation notes: the reader asks the stream for exactly the octets
// the object still needs, header by header: the identifier and first length
// octet, the remaining length octets, then the content of each definite
// element (which is not parsed; a constructed definite element is taken
// whole).  Indefinite elements are counted open until their end-of-contents
// octets.  Nothing past the object is read, so the next call starts at the
// next object.  The content is read in chunks of at most kChunk octets and
// the buffer grows by what each read delivered, never by what a header
// announced.

#include <limits.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "internal/err_mark.h"

namespace {

constexpr size_t kChunk = 4096;      // octets asked of the stream at most per read
constexpr size_t kMaxIdOctets = 6;   // beyond this the header parser refuses the tag
constexpr size_t kMaxLenOctets = 4;  // long-form length octets the parser accepts

// How a read of octets ended.
enum class Got {
  kAll,      // every octet asked for arrived
  kEnd,      // a read gave 0 (end of data)
  kFailed,   // a read gave less than 0
  kNoRoom,   // the buffer could not grow
  kTooLong,  // the object would pass INT_MAX octets
};

// The octets of one object as they arrive from the stream, kept in a buffer
// that the caller owns.
class Reader {
 public:
  explicit Reader(BIO* in, BUF_MEM* b) : in_(in), b_(b) {}
  ~Reader() {
    if (used_ != 0) MORVANE_cleanse(chunk_, used_);
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  size_t held() const { return len_; }
  const unsigned char* at(size_t off) const {
    return reinterpret_cast<const unsigned char*>(b_->data) + off;
  }

  // Appends octets of the stream until `need` more arrived or a read gave 0
  // or less.
  Got fill(size_t need) {
    while (need > 0) {
      const int ask = static_cast<int>(need < kChunk ? need : kChunk);
      int n = BIO_read(in_, chunk_, ask);
      if (n <= 0) return n == 0 ? Got::kEnd : Got::kFailed;
      if (n > ask) n = ask;  // a stream may not hand out more than asked
      if (static_cast<size_t>(n) > used_) used_ = static_cast<size_t>(n);
      if (len_ + static_cast<size_t>(n) > INT_MAX) return Got::kTooLong;
      if (!BUF_MEM_grow_clean(b_, static_cast<int>(len_ + n))) return Got::kNoRoom;
      memcpy(b_->data + len_, chunk_, static_cast<size_t>(n));
      len_ += static_cast<size_t>(n);
      need -= static_cast<size_t>(n);
    }
    return Got::kAll;
  }

  // Reads the octets of one identifier-and-length header (X.690, 8.1.2 and
  // 8.1.3) as far as they are well formed; the parser judges them.
  Got header() {
    const size_t start = len_;
    Got r = fill(2);  // every header has an identifier and a length octet
    if (r != Got::kAll) return r;
    if ((*at(start) & 0x1F) == 0x1F) {  // high tag number: groups until bit 8 is clear
      size_t last = start + 1;
      while ((*at(last) & 0x80) && last - start < kMaxIdOctets) {
        if ((r = fill(1)) != Got::kAll) return r;
        last++;
      }
      if ((r = fill(1)) != Got::kAll) return r;  // the first length octet
    }
    const unsigned char first = *at(len_ - 1);
    if ((first & 0x80) && first != 0x80) {
      const size_t n = first & 0x7F;
      if (n <= kMaxLenOctets) return fill(n);
    }
    return Got::kAll;
  }

 private:
  BIO* in_;
  BUF_MEM* b_;
  size_t len_ = 0;
  size_t used_ = 0;  // octets of chunk_ that held data
  unsigned char chunk_[kChunk];
};

// Reads one object off `in` into a new buffer (*pb): its length, or -1 with
// the buffer freed and an error queued.
long read_object(BIO* in, BUF_MEM** pb) {
  BUF_MEM* b = BUF_MEM_new();
  if (b == nullptr) {
    ASN1err(ASN1_F_ASN1_D2I_READ_BIO, ERR_R_MALLOC_FAILURE);
    return -1;
  }
  int reason = 0;
  long eos = 0;  // open indefinite-length constructions
  {
    Reader r(in, b);
    size_t off = 0;
    for (;;) {
      const Got got = r.header();
      if (got == Got::kNoRoom || got == Got::kTooLong) {
        reason = got == Got::kNoRoom ? ERR_R_MALLOC_FAILURE : ASN1_R_TOO_LONG;
        break;
      }
      if (got == Got::kFailed && r.held() == off) {  // a failing read before any header octet
        reason = ASN1_R_NOT_ENOUGH_DATA;
        break;
      }
      // Only the header is held, so a definite content is "too long" for
      // the parser; that one complaint is taken back, and the caller's
      // queue (with its marks) is left as it was.
      morvane::internal::ErrorMark mark;
      const unsigned char* q = r.at(off);
      long slen = 0;
      int tag = 0, xclass = 0;  // not needed: the header's octets tell an end-of-contents
      const int inf = ASN1_get_object(&q, &slen, &tag, &xclass, static_cast<long>(r.held() - off));
      const unsigned long e = (inf & ASN1_HDR_ERROR) ? ERR_peek_last_error() : 0;
      mark.pop();
      if (e != 0 && ERR_GET_REASON(e) != ASN1_R_TOO_LONG) {
        ERR_put_error(ERR_GET_LIB(e), ERR_GET_FUNC(e), ERR_GET_REASON(e), __FILE__, __LINE__);
        break;
      }
      // End-of-contents octets are exactly 00 00 (X.690, 8.1.5); a context
      // tag 0 or a long-form zero length is an element like any other.
      const bool eoc = q - r.at(off) == 2 && r.at(off)[0] == 0 && r.at(off)[1] == 0;
      off = static_cast<size_t>(q - r.at(0));
      if (inf & ASN1_HDR_INDEFINITE) {
        eos++;
        continue;
      }
      if (eos > 0 && eoc) {
        eos--;
      } else if (slen > 0) {
        const Got n = r.fill(static_cast<size_t>(slen));
        if (n != Got::kAll) {
          reason = n == Got::kNoRoom    ? ERR_R_MALLOC_FAILURE
                   : n == Got::kTooLong ? ASN1_R_TOO_LONG
                                        : ASN1_R_NOT_ENOUGH_DATA;
          break;
        }
        off += static_cast<size_t>(slen);
      }
      if (eos <= 0) {
        *pb = b;
        return static_cast<long>(off);
      }
    }
  }
  if (reason != 0) ASN1err(ASN1_F_ASN1_D2I_READ_BIO, reason);
  BUF_MEM_free(b);
  return -1;
}

}  // namespace

/* see morvane/asn1.h */
void* ASN1_d2i_bio(void* (*)(void), d2i_of_void* d2i, BIO* in, void** x) {
  BUF_MEM* b = nullptr;
  const long len = read_object(in, &b);
  if (len < 0) return nullptr;
  const auto* p = reinterpret_cast<const unsigned char*>(b->data);
  void* ret = d2i(x, &p, len);
  BUF_MEM_free(b);
  return ret;
}

/* see morvane/asn1.h */
void* ASN1_item_d2i_bio(const ASN1_ITEM* it, BIO* in, void* x) {
  BUF_MEM* b = nullptr;
  const long len = read_object(in, &b);
  if (len < 0) return nullptr;
  const auto* p = reinterpret_cast<const unsigned char*>(b->data);
  void* ret = ASN1_item_d2i(static_cast<ASN1_VALUE**>(x), &p, len, it);
  BUF_MEM_free(b);
  return ret;
}

/* see morvane/asn1.h */
void* ASN1_d2i_fp(void* (*xnew)(void), d2i_of_void* d2i, FILE* in, void** x) {
  BIO* b = BIO_new_fp(in, BIO_NOCLOSE);
  if (b == nullptr) {
    ASN1err(ASN1_F_ASN1_D2I_FP, ERR_R_BUF_LIB);
    return nullptr;
  }
  void* ret = ASN1_d2i_bio(xnew, d2i, b, x);
  BIO_free(b);
  return ret;
}

/* see morvane/asn1.h */
void* ASN1_item_d2i_fp(const ASN1_ITEM* it, FILE* in, void* x) {
  BIO* b = BIO_new_fp(in, BIO_NOCLOSE);
  if (b == nullptr) {
    ASN1err(ASN1_F_ASN1_ITEM_D2I_FP, ERR_R_BUF_LIB);
    return nullptr;
  }
  void* ret = ASN1_item_d2i_bio(it, b, x);
  BIO_free(b);
  return ret;
}
