// S/MIME framing (RFC 5751, RFC 1847): writing a structure of any item as an
// opaque base64 message or as a detached "multipart/signed" message, reading
// either back, copying content with CRLF line ends, and stripping a
// "text/plain" header.
//
// Implementation notes: every write of the framing is checked, so a message
// that could not be written whole is reported as a failure (the signature
// part of a detached message included).  Multipart bodies are split into
// memory streams that report their end as 0, so the parts read like files;
// the splitter reads lines of any length piece by piece and stops at a part
// past the two a signed message has, so what it holds stays within the
// input.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rand.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "asn1/mime_hdr.h"
#include "internal/line_read.h"

using namespace morvane::asn1;

namespace {

// The flag bits this file reads (the PKCS#7 flags of the same values).
constexpr int kText = 0x1;
constexpr int kDetached = 0x40;
constexpr int kBinary = 0x80;
constexpr int kOldMime = 0x400;
constexpr int kCrlfEol = 0x800;

constexpr int kBoundaryLen = 32;
// The parts of a multipart/signed body: the content and its signature.
constexpr int kMaxParts = 2;
// CRs to write a run of them from.
constexpr char kCrs[16] = {'\r', '\r', '\r', '\r', '\r', '\r', '\r', '\r',
                           '\r', '\r', '\r', '\r', '\r', '\r', '\r', '\r'};
// The read size of SMIME_crlf_copy.
constexpr size_t kCrlfBlock = 4096;

// Collects the results of a run of writes: false once any of them failed.
class Out {
 public:
  explicit Out(BIO* bio) : bio_(bio) {}
  Out& text(const char* s) {
    const int n = static_cast<int>(strlen(s));
    ok_ = ok_ && BIO_write(bio_, s, n) == n;
    return *this;
  }
  Out& operator<<(const char* s) { return text(s); }
  bool ok() const { return ok_; }
  void fail() { ok_ = false; }

 private:
  BIO* bio_;
  bool ok_ = true;
};

// The value as base64 of its DER, in 64-character lines.
bool B64_write_ASN1(BIO* out, ASN1_VALUE* val, const ASN1_ITEM* it) {
  BIO* b64 = BIO_new(BIO_f_base64());
  if (b64 == nullptr) {
    ASN1err(ASN1_F_B64_WRITE_ASN1, ERR_R_MALLOC_FAILURE);
    return false;
  }
  BIO* chain = BIO_push(b64, out);
  bool ok = ASN1_item_i2d_bio(it, chain, val) == 1;
  ok = BIO_flush(chain) > 0 && ok;
  BIO_pop(chain);
  BIO_free(b64);
  return ok;
}

ASN1_VALUE* b64_read_asn1(BIO* in, const ASN1_ITEM* it) {
  BIO* b64 = BIO_new(BIO_f_base64());
  if (b64 == nullptr) {
    ASN1err(ASN1_F_B64_READ_ASN1, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  BIO* chain = BIO_push(b64, in);
  auto* val = static_cast<ASN1_VALUE*>(ASN1_item_d2i_bio(it, chain, nullptr));
  if (val == nullptr) ASN1err(ASN1_F_B64_READ_ASN1, ASN1_R_DECODE_ERROR);
  BIO_pop(chain);
  BIO_free(b64);
  return val;
}

// The MIME name of a digest (RFC 5751, 3.4.3.2), or null.
const char* micalg_name(int nid) {
  switch (nid) {
    case 4:
      return "md5";
    case 64:
      return "sha1";
    case 672:
      return "sha-256";
    case 673:
      return "sha-384";
    case 674:
      return "sha-512";
    default:
      return nullptr;
  }
}

// The digest names of `mdalgs` (X509_ALGOR records), comma-separated; digests
// without a MIME name appear once, as "unknown".
void asn1_write_micalg(Out& out, STACK* mdalgs) {
  bool first = true;
  bool unknown = false;
  for (int i = 0; i < sk_num(mdalgs); i++) {
    const auto* alg = reinterpret_cast<const X509_ALGOR*>(sk_value(mdalgs, i));
    const char* name = alg != nullptr ? micalg_name(OBJ_obj2nid(alg->algorithm)) : nullptr;
    if (name == nullptr) {
      if (unknown) continue;
      unknown = true;
      name = "unknown";
    }
    if (!first) out << ",";
    out << name;
    first = false;
  }
}

bool write_detached(BIO* bio, ASN1_VALUE* val, BIO* data, int flags, STACK* mdalgs,
                    asn1_output_data_fn* data_fn, const ASN1_ITEM* it) {
  const char* eol = (flags & kCrlfEol) ? "\r\n" : "\n";
  const char* prefix = (flags & kOldMime) ? "application/x-" : "application/";
  // 32 random upper-case hexadecimal digits.
  unsigned char rnd[kBoundaryLen] = {};
  if (RAND_pseudo_bytes(rnd, kBoundaryLen) == -1) return false;
  char bound[kBoundaryLen + 1];
  for (int i = 0; i < kBoundaryLen; i++) bound[i] = "0123456789ABCDEF"[rnd[i] & 0xF];
  bound[kBoundaryLen] = '\0';

  Out out(bio);
  out << "MIME-Version: 1.0" << eol << "Content-Type: multipart/signed;" << " protocol=\""
      << prefix << "pkcs7-signature\";" << " micalg=\"";
  asn1_write_micalg(out, mdalgs);
  out << "\"; boundary=\"----" << bound << "\"" << eol << eol;
  out << "This is an S/MIME signed message" << eol << eol;
  out << "------" << bound << eol;
  if (!out.ok() || data_fn == nullptr || !data_fn(bio, data, val, flags, it)) return false;
  out << eol << "------" << bound << eol;
  out << "Content-Type: " << prefix << "pkcs7-signature;" << " name=\"smime.p7s\"" << eol;
  out << "Content-Transfer-Encoding: base64" << eol;
  out << "Content-Disposition: attachment;" << " filename=\"smime.p7s\"" << eol << eol;
  if (!out.ok() || !B64_write_ASN1(bio, val, it)) return false;
  out << eol << "------" << bound << "--" << eol << eol;
  return out.ok();
}

bool write_opaque(BIO* bio, ASN1_VALUE* val, int flags, int ctype_nid, int econt_nid,
                  STACK* mdalgs, const ASN1_ITEM* it) {
  const char* eol = (flags & kCrlfEol) ? "\r\n" : "\n";
  const char* prefix = (flags & kOldMime) ? "application/x-" : "application/";
  const char* name = "smime.p7m";
  const char* msg_type = nullptr;
  switch (ctype_nid) {
    case 23:  // pkcs7-envelopedData
      msg_type = "enveloped-data";
      break;
    case 22:  // pkcs7-signedData: a receipt, a signed message, or certificates only
      if (econt_nid == 204)
        msg_type = "signed-receipt";
      else if (sk_num(mdalgs) > 0)
        msg_type = "signed-data";
      else
        msg_type = "certs-only";
      break;
    case 786:  // id-smime-ct-compressedData
      msg_type = "compressed-data";
      name = "smime.p7z";
      break;
    default:
      break;
  }
  Out out(bio);
  out << "MIME-Version: 1.0" << eol;
  out << "Content-Disposition: attachment;" << " filename=\"" << name << "\"" << eol;
  out << "Content-Type: " << prefix << "pkcs7-mime;";
  if (msg_type != nullptr) out << " smime-type=" << msg_type << ";";
  out << " name=\"" << name << "\"" << eol;
  out << "Content-Transfer-Encoding: base64" << eol << eol;
  if (!out.ok() || !B64_write_ASN1(bio, val, it)) return false;
  out << eol;
  return out.ok();
}

// Appends `n` CR characters to `out`.
bool write_crs(BIO* out, size_t n) {
  while (n > 0) {
    const int take = n < sizeof kCrs ? static_cast<int>(n) : static_cast<int>(sizeof kCrs);
    if (BIO_write(out, kCrs, take) != take) return false;
    n -= static_cast<size_t>(take);
  }
  return true;
}

// Splits a multipart body at the delimiters of `bound` (RFC 2046, 5.1.1)
// into memory streams appended to `parts`; true when the closing delimiter
// was found.  Lines of any length arrive in pieces: only a piece that starts
// a line (joined up to the length of a closing delimiter) is tested for a
// delimiter (the rest of a delimiter's line, and of a
// line before the first one, is passed over), and the CRs that end a piece
// are held back until the next one shows whether they end the line, so a
// part's lines keep every byte but the CRs and LF that end them, however
// they are cut.  A part past the kMaxParts allowed fails the split as it
// starts, before it is stored.
bool multi_split(BIO* bio, const char* bound, STACK* parts) {
  const int blen = static_cast<int>(strlen(bound));
  char line[kMimeLine];
  BIO* part = nullptr;
  bool in_parts = false;  // a delimiter was seen
  bool first = false;     // the next line starts a new part
  bool eol = false;       // the part's previous line ended with LF
  bool at_start = true;   // the next piece starts a line
  bool pass = true;       // the rest of the current line is passed over
  size_t crs = 0;         // CRs held back at the end of the line so far
  bool ok = true;
  int len = 0;
  // A piece that starts a line holds enough of it to tell a delimiter.
  const int want = blen < kMimeLine - 5 ? blen + 4 : kMimeLine - 1;
  while (ok && (len = at_start ? morvane::internal::read_line_start(bio, line, kMimeLine, want)
                               : morvane::internal::read_piece(bio, line, kMimeLine)) > 0) {
    const bool starts = at_start;
    at_start = line[len - 1] == '\n';
    if (starts) {
      const int state = mime_bound_check(line, len, bound, blen);
      if (state == 2) {
        if (part != nullptr && !sk_push(parts, reinterpret_cast<char*>(part))) break;
        return true;
      }
      if (state == 1) in_parts = first = true;
      pass = state == 1 || !in_parts;
      if (pass) continue;
      if (first) {
        first = false;
        if (part != nullptr) {
          if (sk_num(parts) + 1 >= kMaxParts) break;  // this part would be one too many
          if (!sk_push(parts, reinterpret_cast<char*>(part))) break;
        }
        if ((part = BIO_new(BIO_s_mem())) == nullptr) return false;
        BIO_set_mem_eof_return(part, 0);
      } else if (eol) {
        ok = BIO_write(part, "\r\n", 2) == 2;
      }
      eol = false;
      crs = 0;
    } else if (pass) {
      continue;
    }
    int n = len;
    const bool lf = strip_eol(line, &n);
    if (n > 0) {
      ok = ok && write_crs(part, crs) && BIO_write(part, line, n) == n;
      crs = 0;
    }
    crs += static_cast<size_t>(len - n - (lf ? 1 : 0));
    eol = lf;
  }
  if (ok && len < 0) ASN1err(ASN1_F_SMIME_READ_ASN1, ASN1_R_STREAM_READ_ERROR);
  BIO_free(part);
  return false;
}

void free_part(void* part) {
  BIO_free(static_cast<BIO*>(part));
}

void free_parts(STACK* parts) {
  sk_pop_free(parts, free_part);
}

// The stream a message is read from: the caller's, or, when the caller's
// chain has no line reads of its own (a descriptor, a socket, a stream
// pair), a buffer filter in front of it, so that lines cost one call per
// line, not per byte.  The reader owns the rest of the stream (the base64
// part, the multipart body, the text), so the buffer may read ahead past
// the message.  The filter is linked to the caller's stream without taking
// it into a chain: the caller's chain stays as it was.
class MessageSource {
 public:
  explicit MessageSource(BIO* in) : in_(in) {
    if (!morvane::internal::has_line_reads(in) && (buf_ = BIO_new(BIO_f_buffer())) != nullptr)
      buf_->next_bio = in;
  }
  ~MessageSource() {
    if (buf_ == nullptr) return;
    buf_->next_bio = nullptr;
    BIO_free(buf_);
  }
  MessageSource(const MessageSource&) = delete;
  MessageSource& operator=(const MessageSource&) = delete;

  BIO* bio() const { return buf_ != nullptr ? buf_ : in_; }

 private:
  BIO* in_;
  BIO* buf_ = nullptr;
};

bool is_type(const char* value, const char* a, const char* b) {
  return strcmp(value, a) == 0 || strcmp(value, b) == 0;
}

ASN1_VALUE* read_signed(BIO* bio, BIO** bcont, MIME_HEADER* hdr, const ASN1_ITEM* it) {
  MIME_PARAM* prm = mime_param_find(hdr, "boundary");
  if (prm == nullptr || prm->param_value == nullptr) {
    ASN1err(ASN1_F_SMIME_READ_ASN1, ASN1_R_NO_MULTIPART_BOUNDARY);
    return nullptr;
  }
  STACK* parts = sk_new_null();
  if (parts == nullptr || !multi_split(bio, prm->param_value, parts) ||
      sk_num(parts) != kMaxParts) {
    free_parts(parts);
    ASN1err(ASN1_F_SMIME_READ_ASN1, ASN1_R_NO_MULTIPART_BODY_FAILURE);
    return nullptr;
  }
  BIO* sig = reinterpret_cast<BIO*>(sk_value(parts, 1));
  STACK* headers = mime_parse_hdr(sig, ASN1_F_SMIME_READ_ASN1);
  if (headers == nullptr) {
    free_parts(parts);
    ASN1err(ASN1_F_SMIME_READ_ASN1, ASN1_R_MIME_SIG_PARSE_ERROR);
    return nullptr;
  }
  MIME_HEADER* ctype = mime_hdr_find(headers, "content-type");
  ASN1_VALUE* val = nullptr;
  if (ctype == nullptr || ctype->value == nullptr) {
    ASN1err(ASN1_F_SMIME_READ_ASN1, ASN1_R_NO_SIG_CONTENT_TYPE);
  } else if (!is_type(ctype->value, "application/x-pkcs7-signature",
                      "application/pkcs7-signature")) {
    ASN1err(ASN1_F_SMIME_READ_ASN1, ASN1_R_SIG_INVALID_MIME_TYPE);
    ERR_add_error_data(2, "type: ", ctype->value);
  } else if ((val = b64_read_asn1(sig, it)) == nullptr) {
    ASN1err(ASN1_F_SMIME_READ_ASN1, ASN1_R_ASN1_SIG_PARSE_ERROR);
  }
  mime_hdrs_free(headers);
  if (val != nullptr && bcont != nullptr) {
    *bcont = reinterpret_cast<BIO*>(sk_shift(parts));
  }
  free_parts(parts);
  return val;
}

}  // namespace

/* see morvane/asn1.h */
int int_smime_write_ASN1(BIO* bio, ASN1_VALUE* val, BIO* data, int flags, int ctype_nid,
                         int econt_nid, STACK* mdalgs, asn1_output_data_fn* data_fn,
                         const ASN1_ITEM* it) {
  if ((flags & kDetached) && data != nullptr)
    return write_detached(bio, val, data, flags, mdalgs, data_fn, it) ? 1 : 0;
  return write_opaque(bio, val, flags, ctype_nid, econt_nid, mdalgs, it) ? 1 : 0;
}

/* see morvane/asn1.h */
ASN1_VALUE* SMIME_read_ASN1(BIO* in, BIO** bcont, const ASN1_ITEM* it) {
  if (bcont != nullptr) *bcont = nullptr;
  const MessageSource source(in);
  BIO* const bio = source.bio();
  STACK* headers = mime_parse_hdr(bio, ASN1_F_SMIME_READ_ASN1);
  if (headers == nullptr) {
    ASN1err(ASN1_F_SMIME_READ_ASN1, ASN1_R_MIME_PARSE_ERROR);
    return nullptr;
  }
  MIME_HEADER* hdr = mime_hdr_find(headers, "content-type");
  ASN1_VALUE* val = nullptr;
  if (hdr == nullptr || hdr->value == nullptr) {
    ASN1err(ASN1_F_SMIME_READ_ASN1, ASN1_R_NO_CONTENT_TYPE);
  } else if (strcmp(hdr->value, "multipart/signed") == 0) {
    val = read_signed(bio, bcont, hdr, it);
  } else if (!is_type(hdr->value, "application/x-pkcs7-mime", "application/pkcs7-mime")) {
    ASN1err(ASN1_F_SMIME_READ_ASN1, ASN1_R_INVALID_MIME_TYPE);
    ERR_add_error_data(2, "type: ", hdr->value);
  } else if ((val = b64_read_asn1(bio, it)) == nullptr) {
    ASN1err(ASN1_F_SMIME_READ_ASN1, ASN1_R_ASN1_PARSE_ERROR);
  }
  mime_hdrs_free(headers);
  return val;
}

namespace {

// Output of the line copy, gathered so that a block of input costs one write.
class CrlfSink {
 public:
  explicit CrlfSink(BIO* out) : out_(out) {}
  bool put(const char* p, size_t n) {
    while (n > 0) {
      if (used_ == sizeof buf_ && !drain()) return false;
      const size_t take = n < sizeof buf_ - used_ ? n : sizeof buf_ - used_;
      memcpy(buf_ + used_, p, take);
      used_ += take;
      p += take;
      n -= take;
    }
    return true;
  }
  bool put_crs(size_t n) {
    for (; n > sizeof kCrs; n -= sizeof kCrs)
      if (!put(kCrs, sizeof kCrs)) return false;
    return put(kCrs, n);
  }
  bool drain() {
    const int n = static_cast<int>(used_);
    used_ = 0;
    return n == 0 || BIO_write(out_, buf_, n) == n;
  }

 private:
  BIO* out_;
  size_t used_ = 0;
  char buf_[2 * kCrlfBlock];
};

// Whether the read that returned `len` (0 or below, from read_to_end) ended
// the data: a failed read (also from no stream at all, or from a source that
// kept asking to retry) does not, and queues its reason under `func`; a
// retry at the end of the input (what an empty memory stream gives) did.
bool read_ended(int len, int func = ASN1_F_SMIME_CRLF_COPY) {
  if (len >= 0) return true;
  ASN1err(func, ASN1_R_STREAM_READ_ERROR);
  return false;
}

// Copies `in` to `out` with every line ending in CR LF.  A line is what
// precedes an LF or the end of the input; the CRs that end it are dropped
// (they are held back in `crs` until the next byte shows whether they end
// the line), so lines may cross block boundaries anywhere.
bool copy_crlf_lines(BIO* in, BIO* out) {
  CrlfSink sink(out);
  char block[kCrlfBlock];
  size_t crs = 0;
  int len;
  while ((len = morvane::internal::read_to_end(in, block, sizeof block)) > 0) {
    const char* p = block;
    const char* const end = block + len;
    for (;;) {
      // [p, q): the rest of a line, or of the block; CRs inside it stay, the
      // CRs that end it are held back.
      const char* q = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
      const char* const stop = q != nullptr ? q : end;
      const char* t = stop;
      while (t > p && t[-1] == '\r') t--;
      if (t > p) {
        if (crs > 0 && !sink.put_crs(crs)) return false;
        crs = 0;
        if (!sink.put(p, static_cast<size_t>(t - p))) return false;
      }
      crs += static_cast<size_t>(stop - t);
      if (q == nullptr) break;
      crs = 0;
      if (!sink.put("\r\n", 2)) return false;
      p = q + 1;
    }
    if (!sink.drain()) return false;
  }
  return read_ended(len);
}

}  // namespace

/* see morvane/asn1.h */
int SMIME_crlf_copy(BIO* in, BIO* out, int flags) {
  BIO* bf = BIO_new(BIO_f_buffer());
  if (bf == nullptr) {
    ASN1err(ASN1_F_SMIME_CRLF_COPY, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  BIO* chain = BIO_push(bf, out);
  bool ok = true;
  if (flags & kBinary) {
    char block[kCrlfBlock];
    int len = 0;
    while (ok && (len = morvane::internal::read_to_end(in, block, sizeof block)) > 0)
      ok = BIO_write(chain, block, len) == len;
    ok = ok && read_ended(len);
  } else {
    if (flags & kText) ok = BIO_puts(chain, "Content-Type: text/plain\r\n\r\n") == 28;
    ok = ok && copy_crlf_lines(in, chain);
  }
  ok = BIO_flush(chain) > 0 && ok;
  BIO_pop(chain);
  BIO_free(bf);
  return ok ? 1 : 0;
}

/* see morvane/asn1.h */
int SMIME_text(BIO* bio, BIO* out) {
  const MessageSource source(bio);
  BIO* const in = source.bio();
  STACK* headers = mime_parse_hdr(in, ASN1_F_SMIME_TEXT);
  if (headers == nullptr) {
    ASN1err(ASN1_F_SMIME_TEXT, ASN1_R_MIME_PARSE_ERROR);
    return 0;
  }
  MIME_HEADER* hdr = mime_hdr_find(headers, "content-type");
  int ok = 1;
  if (hdr == nullptr || hdr->value == nullptr) {
    ASN1err(ASN1_F_SMIME_TEXT, ASN1_R_MIME_NO_CONTENT_TYPE);
    ok = 0;
  } else if (strcmp(hdr->value, "text/plain") != 0) {
    ASN1err(ASN1_F_SMIME_TEXT, ASN1_R_INVALID_MIME_TYPE);
    ERR_add_error_data(2, "type: ", hdr->value);
    ok = 0;
  }
  mime_hdrs_free(headers);
  if (!ok) return 0;
  char buf[4096];
  int len;
  while ((len = morvane::internal::read_to_end(in, buf, sizeof buf)) > 0)
    if (BIO_write(out, buf, len) != len) return 0;
  return read_ended(len, ASN1_F_SMIME_TEXT) ? 1 : 0;
}
