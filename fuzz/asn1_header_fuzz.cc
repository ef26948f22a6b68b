// Fuzzes the identifier-and-length header reader and the legacy parse
// context.
//
// Headers: the input is walked element by element (into constructed ones,
// past primitive ones).  Checks: a header read without error lies inside the
// input and announces no more content than is left; written again with
// ASN1_put_object it reads back to the same tag, class, length and form, and
// ASN1_object_size counts exactly the octets written plus the content.  A
// failed read leaves the position where it was.
// Parse context: the input is opened as a SEQUENCE, its elements are stepped
// over as the legacy decoders do, and the sequence is closed; the context
// never points outside the input.

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <morvane/asn1.h>
#include <morvane/err.h>

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "check failed: %s\n", what);
    abort();
  }
}

// Rewrites the header just read and reads it back.
void CheckRewrite(int ret, long length, int tag, int xclass) {
  const int form = (ret & ASN1_HDR_INDEFINITE) ? 2 : (ret & ASN1_HDR_CONSTRUCTED) ? 1 : 0;
  if (form == 2 && !(ret & ASN1_HDR_CONSTRUCTED)) return;  // not writable as read
  unsigned char buf[16];
  unsigned char* out = buf;
  ASN1_put_object(&out, form, static_cast<int>(length), tag, xclass);
  const long written = out - buf;
  Check(ASN1_object_size(form, static_cast<int>(length), tag) ==
            written + length + (form == 2 ? 2 : 0),
        "object size counts the header written");
  const unsigned char* in = buf;
  long length2 = -1;
  int tag2 = -1, xclass2 = -1;
  const int ret2 = ASN1_get_object(&in, &length2, &tag2, &xclass2, written + length);
  Check(ret2 == ret && in == out, "rewritten header reads back whole");
  Check(length2 == length && tag2 == tag && xclass2 == xclass, "same tag, class and length");
}

void WalkHeaders(const unsigned char* data, long size) {
  const unsigned char* p = data;
  const unsigned char* end = data + size;
  for (int steps = 0; p < end && steps < 4096; steps++) {
    const unsigned char* start = p;
    long length = 0;
    int tag = 0, xclass = 0;
    const int ret = ASN1_get_object(&p, &length, &tag, &xclass, end - p);
    if (ret & ASN1_HDR_ERROR) {
      Check(p == start || length > end - p, "failed read keeps the position");
      return;
    }
    Check(p > start && p <= end && length >= 0 && length <= end - p, "header inside the input");
    Check((xclass & ~0xC0) == 0 && tag >= 0, "class bits and tag");
    CheckRewrite(ret, length, tag, xclass);
    if (!(ret & ASN1_HDR_CONSTRUCTED)) p += length;  // step over the content
  }
}

void WalkSequence(const unsigned char* data, long size) {
  ASN1_const_CTX c = {};
  c.p = data;
  c.max = data + size;
  long length = size;
  if (!asn1_GetSequence(&c, &length)) return;
  Check(c.p >= data && c.p <= c.max && length == c.max - c.p, "sequence header consumed");
  // Step over the elements as the legacy decoders do, until the end of a
  // definite sequence or the end-of-contents of an indefinite one.
  for (int steps = 0; steps < 4096; steps++) {
    if (c.inf & ASN1_HDR_INDEFINITE) {
      if ((c.eos = ASN1_const_check_infinite_end(&c.p, c.slen))) break;
    } else if (c.slen <= 0) {
      break;
    }
    c.q = c.p;
    long elen = 0;
    int tag = 0, xclass = 0;
    const int ret = ASN1_get_object(&c.p, &elen, &tag, &xclass, c.slen);
    if (ret & (ASN1_HDR_ERROR | ASN1_HDR_INDEFINITE)) return;
    c.p += elen;
    c.slen -= c.p - c.q;
    Check(c.p <= c.max, "elements inside the input");
  }
  asn1_const_Finish(&c);
  Check(c.p <= c.max, "the close stays inside the input");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const long n = static_cast<long>(size);
  WalkHeaders(data, n);
  WalkSequence(data, n);
  ERR_clear_error();
  return 0;
}
