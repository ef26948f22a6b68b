// Hexadecimal and decimal text of BIGNUMs: conversion both ways and printing
// to a stream or a C file.
//
// Implementation notes: the parsers count the digits first and refuse a run
// longer than the largest number (0xFFFFFF words) before sizing anything, so
// no size computation can overflow.  Digits are classified without the C
// locale.  Temporary copies of the value are wiped before release.

#include <stddef.h>
#include <string.h>

#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "bn/internal.h"
#include "internal/wipe.h"

namespace morvane::bn {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";
// The longest digit run that fits in kMaxWords words at 4 bits a digit.
constexpr size_t kMaxDigits = 8 * static_cast<size_t>(kMaxWords);
constexpr BN_ULONG kDecGroup = 1000000000;  // 10^9: nine digits a word

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int dec_value(char c) { return c >= '0' && c <= '9' ? c - '0' : -1; }

// The shared front of BN_hex2bn and BN_dec2bn: counts the sign and digits
// (0: none); when bn is not null, sets *out to *bn made zero, or to a new
// record (*created true), grown for the digits.  Returns the count taken,
// 0 on failure.
int parse_front(BIGNUM** bn, const char* a, int (*value)(char), BIGNUM** out, bool* created,
                size_t* digits) {
  if (a == nullptr || *a == '\0') return 0;
  const int neg = *a == '-' ? 1 : 0;
  a += neg;
  size_t n = 0;
  while (n <= kMaxDigits && value(a[n]) >= 0) n++;
  if (n == 0) return 0;
  if (n > kMaxDigits) {
    err_too_long();
    return 0;
  }
  *digits = n;
  if (bn == nullptr) return static_cast<int>(n) + neg;
  BIGNUM* ret = *bn;
  *created = ret == nullptr;
  if (ret == nullptr && (ret = BN_new()) == nullptr) return 0;
  ret->top = 0;
  ret->neg = 0;
  if (wexpand(ret, static_cast<int>((4 * n + 31) / 32)) == nullptr) {
    if (*created) BN_free(ret);
    return 0;
  }
  *out = ret;
  return static_cast<int>(n) + neg;
}

// Writes w in decimal at p, at least `width` digits; returns the end.
char* put_decimal(char* p, BN_ULONG w, int width) {
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + w % 10);
    w /= 10;
  } while (w != 0);
  while (n < width) digits[n++] = '0';
  while (n > 0) *p++ = digits[--n];
  return p;
}

}  // namespace
}  // namespace morvane::bn

namespace bn = morvane::bn;

/* see morvane/bn.h */
char* BN_bn2hex(const BIGNUM* a) {
  auto* buf = static_cast<char*>(MORVANE_malloc(static_cast<size_t>(a->top) * 8 + 2));
  if (buf == nullptr) {
    BNerr(BN_F_BN_BN2HEX, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  char* p = buf;
  if (a->top == 0) {
    *p++ = '0';
  } else if (a->neg) {
    *p++ = '-';
  }
  bool started = false;
  for (int i = a->top - 1; i >= 0; i--) {
    for (int j = 24; j >= 0; j -= 8) {
      const unsigned v = (a->d[i] >> j) & 0xFF;
      if (!started && v == 0) continue;
      started = true;
      *p++ = bn::kHex[v >> 4];
      *p++ = bn::kHex[v & 15];
    }
  }
  *p = '\0';
  return buf;
}

char* BN_bn2dec(const BIGNUM* a) {
  // At most 0.30103 digits a bit: 3 bits / 10 + 3 bits / 1000 + 2 is enough.
  const size_t i = 3 * static_cast<size_t>(BN_num_bits(a));
  const size_t num = i / 10 + i / 1000 + 2;
  const size_t groups_size = (num / 9 + 1) * sizeof(BN_ULONG);
  auto* groups = static_cast<BN_ULONG*>(MORVANE_malloc(groups_size));
  auto* buf = static_cast<char*>(MORVANE_malloc(num + 3));
  BIGNUM* t = nullptr;
  if (groups == nullptr || buf == nullptr) {
    BNerr(BN_F_BN_BN2DEC, ERR_R_MALLOC_FAILURE);
    goto err;
  }
  if (a->top == 0) {
    strcpy(buf, "0");
  } else {
    if ((t = BN_dup(a)) == nullptr) goto err;
    char* p = buf;
    if (a->neg) *p++ = '-';
    size_t n = 0;
    while (t->top != 0) {
      const BN_ULONG g = BN_div_word(t, bn::kDecGroup);
      if (g == 0xFFFFFFFFU) goto err;
      groups[n++] = g;
    }
    p = bn::put_decimal(p, groups[--n], 1);
    while (n > 0) p = bn::put_decimal(p, groups[--n], 9);
    *p = '\0';
  }
  morvane::internal::wipe(groups, groups_size);
  MORVANE_free(groups);
  BN_clear_free(t);
  return buf;
err:
  morvane::internal::wipe(groups, groups != nullptr ? groups_size : 0);
  MORVANE_free(groups);
  MORVANE_free(buf);
  BN_clear_free(t);
  return nullptr;
}

int BN_hex2bn(BIGNUM** bn, const char* a) {
  BIGNUM* ret = nullptr;
  bool created = false;
  size_t n = 0;
  const int taken = bn::parse_front(bn, a, bn::hex_value, &ret, &created, &n);
  if (taken == 0 || ret == nullptr) return taken;
  const char* digits = a + (*a == '-' ? 1 : 0);
  // Chunks of eight digits from the end: the last chunk is word 0.
  int w = 0;
  for (size_t end = n; end > 0; w++) {
    const size_t start = end > 8 ? end - 8 : 0;
    BN_ULONG l = 0;
    for (size_t k = start; k < end; k++) l = (l << 4) | static_cast<BN_ULONG>(bn::hex_value(digits[k]));
    ret->d[w] = l;
    end = start;
  }
  ret->top = w;
  bn::strip(ret);
  BN_set_negative(ret, *a == '-');
  *bn = ret;
  return taken;
}

int BN_dec2bn(BIGNUM** bn, const char* a) {
  BIGNUM* ret = nullptr;
  bool created = false;
  size_t n = 0;
  const int taken = bn::parse_front(bn, a, bn::dec_value, &ret, &created, &n);
  if (taken == 0 || ret == nullptr) return taken;
  const char* digits = a + (*a == '-' ? 1 : 0);
  // Groups of nine digits, the first one shorter: value = value * 10^9 + group.
  size_t j = n % 9 == 0 ? 0 : 9 - n % 9;
  BN_ULONG l = 0;
  for (size_t k = 0; k < n; k++) {
    l = l * 10 + static_cast<BN_ULONG>(digits[k] - '0');
    if (++j == 9) {
      if (!BN_mul_word(ret, bn::kDecGroup) || !BN_add_word(ret, l)) {
        if (created) BN_free(ret);
        return 0;
      }
      l = 0;
      j = 0;
    }
  }
  bn::strip(ret);
  BN_set_negative(ret, *a == '-');
  *bn = ret;
  return taken;
}

int BN_print(BIO* bp, const BIGNUM* a) {
  if (a->neg && a->top != 0 && BIO_write(bp, "-", 1) != 1) return 0;
  if (a->top == 0 && BIO_write(bp, "0", 1) != 1) return 0;
  bool started = false;
  for (int i = a->top - 1; i >= 0; i--) {
    for (int j = 28; j >= 0; j -= 4) {
      const unsigned v = (a->d[i] >> j) & 15;
      if (!started && v == 0) continue;
      started = true;
      if (BIO_write(bp, &bn::kHex[v], 1) != 1) return 0;
    }
  }
  return 1;
}

int BN_print_fp(FILE* fp, const BIGNUM* a) {
  BIO* b = BIO_new(BIO_s_file());
  if (b == nullptr) return 0;
  BIO_set_fp(b, fp, BIO_NOCLOSE);
  const int ret = BN_print(b, a);
  BIO_free(b);
  return ret;
}
