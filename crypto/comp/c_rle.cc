// "run length compression": a stored-block method that puts a zero marker
// byte in front of the input and takes it off again.

#include <limits.h>
#include <string.h>

#include <morvane/comp.h>

namespace {

constexpr int kNidRle = 124;  // NID_rle_compression

int rle_compress_block(COMP_CTX*, unsigned char* out, unsigned int olen, unsigned char* in,
                       unsigned int ilen) {
  if (static_cast<unsigned long>(olen) < static_cast<unsigned long>(ilen) + 1 || ilen >= INT_MAX)
    return -1;
  out[0] = 0;
  if (ilen != 0) memcpy(out + 1, in, ilen);
  return static_cast<int>(ilen + 1);
}

// Only blocks of the compressor's form (a zero marker) expand.
int rle_expand_block(COMP_CTX*, unsigned char* out, unsigned int olen, unsigned char* in,
                     unsigned int ilen) {
  if (ilen == 0 || olen < ilen - 1 || in[0] != 0) return -1;
  if (ilen > 1) memcpy(out, in + 1, ilen - 1);
  return static_cast<int>(ilen - 1);
}

constinit COMP_METHOD rle_method = {
    kNidRle,
    "run length compression",
    nullptr,
    nullptr,
    rle_compress_block,
    rle_expand_block,
    nullptr,
    nullptr,
};

}  // namespace

/* see morvane/comp.h */
COMP_METHOD* COMP_rle(void) {
  return &rle_method;
}
