// Base64 encoding (RFC 4648, section 4) with AVX-512 VBMI: 48 bytes, one
// line of the streaming encoder, become 64 characters in one 512-bit
// register.  Built with -mavx512f -mavx512bw -mavx512vbmi (CMakeLists.txt);
// called only where the processor has them (internal/cpu.h, kVbmi).
//
// Implementation notes: a byte permutation puts each group of three bytes
// a b c in a 32-bit lane as the bytes b a c b (little-endian), where each of
// the four six-bit values is eight consecutive bits starting at bit 10, 4,
// 22 and 16 of the lane; VPMULTISHIFTQB takes those eight bits into each
// byte, and a second permutation, which reads only the low six bits of each
// index, looks the characters up in the alphabet held in a register.  No
// address depends on the data, so a secret (a private key's PEM text) leaves
// no trace in the cache.  A short last piece is loaded and stored under byte
// masks (nothing past the input is read, nothing past the text written) and
// its "=" padding blended in.  This file includes no header with inline
// functions that other files use.

#include <stddef.h>
#include <stdint.h>

#include <immintrin.h>

namespace morvane::evp {

namespace {

alignas(64) constexpr uint8_t kAlphabet[64] = {
    'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P',
    'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', 'a', 'b', 'c', 'd', 'e', 'f',
    'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v',
    'w', 'x', 'y', 'z', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '+', '/'};

// Lane i (bytes 4i to 4i + 3) takes input bytes 3i + 1, 3i, 3i + 2, 3i + 1.
constexpr uint8_t spread(int k) {
  const int group = k / 4, at = k % 4;
  return static_cast<uint8_t>(3 * group + (at == 0 || at == 3 ? 1 : at == 1 ? 0 : 2));
}

alignas(64) constexpr uint8_t kSpread[64] = {
    spread(0),  spread(1),  spread(2),  spread(3),  spread(4),  spread(5),  spread(6),  spread(7),
    spread(8),  spread(9),  spread(10), spread(11), spread(12), spread(13), spread(14), spread(15),
    spread(16), spread(17), spread(18), spread(19), spread(20), spread(21), spread(22), spread(23),
    spread(24), spread(25), spread(26), spread(27), spread(28), spread(29), spread(30), spread(31),
    spread(32), spread(33), spread(34), spread(35), spread(36), spread(37), spread(38), spread(39),
    spread(40), spread(41), spread(42), spread(43), spread(44), spread(45), spread(46), spread(47),
    spread(48), spread(49), spread(50), spread(51), spread(52), spread(53), spread(54), spread(55),
    spread(56), spread(57), spread(58), spread(59), spread(60), spread(61), spread(62), spread(63)};
static_assert(kSpread[0] == 1 && kSpread[1] == 0 && kSpread[2] == 2 && kSpread[3] == 1 &&
              kSpread[63] == 46);

// The bit offsets of the four values in each 32-bit lane, twice per 64 bits.
constexpr uint64_t kShifts = 0x3036242a1016040aULL;  // 10, 4, 22, 16, 42, 36, 54, 48

struct Tables {
  __m512i spread, alphabet, shifts;
  Tables()
      : spread(_mm512_load_si512(kSpread)),
        alphabet(_mm512_load_si512(kAlphabet)),
        shifts(_mm512_set1_epi64(static_cast<long long>(kShifts))) {}
};

// The 64 characters of the 48 bytes in the low lanes of x.  (The zero-
// masking forms with every lane kept: the plain ones start from an undefined
// register, which GCC 12 warns of.)
inline __m512i characters(__m512i x, const Tables& t) {
  const __mmask64 all = ~__mmask64{0};
  const __m512i lanes = _mm512_maskz_permutexvar_epi8(all, t.spread, x);
  const __m512i values = _mm512_maskz_multishift_epi64_epi8(all, t.shifts, lanes);
  return _mm512_maskz_permutexvar_epi8(all, values, t.alphabet);
}

constexpr __mmask64 kLineBytes = (__mmask64{1} << 48) - 1;

// A mask of the low n (0 to 64) bytes.
inline __mmask64 low_bytes(size_t n) {
  return n >= 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1;
}

}  // namespace

size_t encode_vbmi(unsigned char* t, const unsigned char* f, size_t n) noexcept {
  const Tables tab;
  unsigned char* const start = t;
  for (; n >= 48; n -= 48, f += 48, t += 64)
    _mm512_storeu_si512(t, characters(_mm512_maskz_loadu_epi8(kLineBytes, f), tab));
  if (n != 0) {
    const size_t chars = (n + 2) / 3 * 4, pad = (3 - n % 3) % 3;
    __m512i c = characters(_mm512_maskz_loadu_epi8(low_bytes(n), f), tab);
    c = _mm512_mask_blend_epi8(low_bytes(chars) & ~low_bytes(chars - pad), c,
                               _mm512_set1_epi8('='));
    _mm512_mask_storeu_epi8(t, low_bytes(chars), c);
    t += chars;
  }
  return static_cast<size_t>(t - start);
}

void encode_lines_vbmi(unsigned char* t, const unsigned char* f, size_t lines) noexcept {
  const Tables tab;
  for (; lines != 0; lines--, f += 48, t += 65) {
    _mm512_storeu_si512(t, characters(_mm512_maskz_loadu_epi8(kLineBytes, f), tab));
    t[64] = '\n';
  }
}

}  // namespace morvane::evp
