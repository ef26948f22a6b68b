#!/usr/bin/env python3
"""Expected results of the big-number differential test, from Python integers.

The operands are not stored: the test and this script draw them from the same
splitmix64 sequence (fixed seed).  For each case the file holds three 32-bit
FNV-1a hashes of the expected results, one per group of operations:

  arith   add, sub, uadd, usub (larger magnitude first), cmp, ucmp (sign)
  shift   lshift1, rshift1, lshift s, rshift s, add_word, sub_word, mul_word,
          div_word (quotient, remainder), mod_word
  text    hex text, decimal text, MPI bytes

A number is hashed as its sign byte, its word count (4 bytes, little-endian)
and its 32-bit words little-endian, least significant first; a plain integer
as 4 bytes little-endian; a text as its bytes and a zero byte.  The semantics
modelled are those of the library's header: truncating division of
magnitudes, results never negative zero, 0xFFFFFFFF for a word op by 0.

Usage: tools/gen_bn_vectors.py > test/data/bn/differential.txt

With --products the script writes the expected results of the second test
(test/data/bn/products.txt), over operands of 1 to 140 words drawn by
draw_products_case, two hashes a case:

  prod    mul a b, sqr a
  divmod  div a b (quotient, remainder), div a m, nnmod a b; mod_add a b m,
          mod_sub, mod_mul, mod_sqr a m, mod_lshift1 a m, mod_lshift a s m;
          with a' = a mod |m| and b' = b mod |m|: add_quick a' b' |m|,
          sub_quick, lshift1_quick a', lshift_quick a' s |m|

Division truncates toward zero and the remainder has the numerator's sign;
the modular results lie in [0, |m|).

Usage: tools/gen_bn_vectors.py --products > test/data/bn/products.txt

With --exponents the script writes the expected results of the third test
(test/data/bn/exponents.txt): 2000 cases drawn by draw_exponent_case (a
modulus m of 1 to 70 words, odd or even, a base a of 0 to 71 words, an
exponent p of 0 to 8 words, a word w), one hash a case of
a^|p| mod |m| (every exponentiation form; 1 for p = 0, even mod 1); for odd m also w^|p| mod |m| and
the two-base product a^|p| w^(|p| >> 7) mod |m| (1 when both exponents are
0, else 0 for a zero base); then gcd(a, m), the inverse of a mod |m| (the
word 0xFFFFFFFF when there is none) and the Kronecker symbol (a | m).

Usage: tools/gen_bn_vectors.py --exponents > test/data/bn/exponents.txt
"""

import sys
from math import gcd

SEED = 0x6D6F7276616E6562  # "morvaneb"
COUNT = 10000
MASK64 = (1 << 64) - 1
MASK32 = 0xFFFFFFFF


class SplitMix64:
    def __init__(self, seed):
        self.state = seed

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & MASK64
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK64
        return z ^ (z >> 31)


def draw_words(rng, n):
    """n words, biased towards the values that carry and borrow."""
    out = []
    for _ in range(n):
        r = rng.next()
        kind = r & 7
        out.append({0: MASK32, 1: 0, 2: 1, 3: 0x80000000}.get(kind, r >> 32))
    return out


def value(words, neg):
    v = 0
    for w in reversed(words):
        v = (v << 32) | w
    return -v if neg and v else v


def draw_case(rng):
    na = rng.next() % 71
    r = rng.next()
    nb = na if r % 4 == 0 else (r >> 2) % 71
    wa = draw_words(rng, na)
    wb = draw_words(rng, nb)
    if na == nb and na > 0 and rng.next() % 2 == 0:
        wb = wa[:]  # equal or nearly equal magnitudes
        wb[0] = (wb[0] + rng.next() % 3 - 1) & MASK32
    a = value(wa, rng.next() & 1)
    b = value(wb, rng.next() & 1)
    s = rng.next() % 2400
    r = rng.next()
    w = [0, 1, MASK32, 0x10000, 0x10001, 0xFFFF, 10, r >> 32][r % 8]
    return a, b, s, w


class Fnv:
    def __init__(self):
        self.h = 0x811C9DC5

    def bytes(self, data):
        for c in data:
            self.h = ((self.h ^ c) * 0x01000193) & MASK32

    def int(self, v):
        self.bytes((v & MASK32).to_bytes(4, "little"))

    def bn(self, v):
        mag = abs(v)
        words = []
        while mag:
            words.append(mag & MASK32)
            mag >>= 32
        self.bytes(bytes([1 if v < 0 else 0]))
        self.int(len(words))
        for x in words:
            self.int(x)

    def text(self, t):
        self.bytes(t + b"\0")


def sign(v):
    return (v > 0) - (v < 0)


def with_sign(neg, mag):
    return -mag if neg else mag


def hex_text(v):
    mag = abs(v)
    if mag == 0:
        return b"0"
    n = (mag.bit_length() + 7) // 8
    return (b"-" if v < 0 else b"") + mag.to_bytes(n, "big").hex().upper().encode()


def mpi(v):
    mag = abs(v)
    bits = mag.bit_length()
    n = (bits + 7) // 8
    ext = 1 if bits > 0 and bits % 8 == 0 else 0
    body = bytearray(b"\0" * ext + mag.to_bytes(n, "big"))
    if v < 0:
        body[0] |= 0x80
    return (len(body)).to_bytes(4, "big") + bytes(body)


def expected(a, b, s, w):
    arith, shift, text = Fnv(), Fnv(), Fnv()
    arith.bn(a + b)
    arith.bn(a - b)
    arith.bn(abs(a) + abs(b))
    arith.bn(abs(abs(a) - abs(b)))
    arith.int(sign(a - b))
    arith.int(sign(abs(a) - abs(b)))

    neg = a < 0
    shift.bn(2 * a)
    shift.bn(with_sign(neg, abs(a) >> 1))
    shift.bn(with_sign(neg, abs(a) << s))
    shift.bn(with_sign(neg, abs(a) >> s))
    shift.bn(a + w)
    shift.bn(a - w)
    shift.bn(a * w)
    if w == 0:
        shift.bn(a)
        shift.int(MASK32)
        shift.int(MASK32)
    else:
        shift.bn(with_sign(neg, abs(a) // w))
        shift.int(abs(a) % w)
        shift.int(abs(a) % w)

    text.text(hex_text(a))
    text.text(str(a).encode())
    text.text(mpi(a))
    return arith.h, shift.h, text.h


PRODUCTS_SEED = 0x6D6F7276616E6532  # "morvane2"
# Operand shapes of the size rules: comba, Karatsuba (equal, one word apart,
# part-recursive), schoolbook.
SHAPES = [(8, 8), (16, 16), (16, 17), (17, 16), (16, 18), (15, 15), (32, 31), (31, 32),
          (4, 4), (64, 64), (33, 32), (128, 127), (140, 139), (1, 1), (17, 17), (64, 63)]


def draw_number(rng, n):
    """n words with a non-zero top word; one draw in eight has equal halves."""
    w = draw_words(rng, n)
    if rng.next() % 8 == 0:
        half = n // 2
        w[n - half:] = w[:half]
    if w[-1] == 0:
        w[-1] = 1
    return value(w, rng.next() & 1)


def draw_products_case(rng):
    r = rng.next()
    na = 1 + rng.next() % 140
    nb = 1 + rng.next() % 140
    if r % 8 == 0:
        nb = na
    elif r % 8 == 1:
        nb = max(1, min(140, na + (1 if r & 8 else -1)))
    elif r % 8 == 2:
        na, nb = SHAPES[(r >> 4) % len(SHAPES)]
    a = draw_number(rng, na)
    b = draw_number(rng, nb)
    if r % 16 == 3:
        b = a  # equal values in two records
    m = draw_number(rng, 1 + rng.next() % 70)
    s = rng.next() % 300
    return a, b, m, s


def tdiv(a, b):
    q = abs(a) // abs(b)
    if (a < 0) != (b < 0):
        q = -q
    return q, a - q * b


def expected_products(a, b, m, s):
    prod, divmod_ = Fnv(), Fnv()
    prod.bn(a * b)
    prod.bn(a * a)
    for q, r in (tdiv(a, b), tdiv(a, m)):
        divmod_.bn(q)
        divmod_.bn(r)
    am = abs(m)
    for v in (a % abs(b), (a + b) % am, (a - b) % am, (a * b) % am, (a * a) % am,
              (2 * a) % am, (a << s) % am):
        divmod_.bn(v)
    ar, br = a % am, b % am
    for v in ((ar + br) % am, (ar - br) % am, (2 * ar) % am, (ar << s) % am):
        divmod_.bn(v)
    return prod.h, divmod_.h


EXPONENTS_SEED = 0x6D6F7276616E6533  # "morvane3"
EXPONENTS_COUNT = 2000
KRONECKER_TWO = [0, 1, 0, -1, 0, -1, 0, 1]  # (x | 2) by x mod 8


def draw_exponent_case(rng):
    m = draw_number(rng, 1 + rng.next() % 70)
    mag = abs(m) | 1 if rng.next() & 1 else abs(m) & ~1
    m = (-1 if m < 0 else 1) * (mag or 2)
    na = rng.next() % (len_words(m) + 2)
    a = draw_number(rng, na) if na else 0
    p = value(draw_words(rng, rng.next() % 9), rng.next() & 1)
    w = rng.next() >> 32
    return a, p, m, w


def len_words(v):
    return (abs(v).bit_length() + 31) // 32


def kronecker(a, b):
    """The Kronecker symbol (a | b), by the binary algorithm (Cohen 1.4.10)."""
    if b == 0:
        return 1 if abs(a) == 1 else 0
    if a % 2 == 0 and b % 2 == 0:
        return 0
    v = 0
    while b % 2 == 0:
        b //= 2
        v += 1
    k = KRONECKER_TWO[a % 8] if v % 2 else 1
    if b < 0:
        b = -b
        if a < 0:
            k = -k
    while a != 0:
        v = 0
        while a % 2 == 0:
            a //= 2
            v += 1
        if v % 2:
            k *= KRONECKER_TWO[b % 8]
        if a & b & 2:  # both are 3 mod 4
            k = -k
        a, b = b % abs(a), abs(a)
    return k if b == 1 else 0


def expected_exponents(a, p, m, w):
    h = Fnv()
    mod, e = abs(m), abs(p)
    h.bn(pow(a, e, mod) if e else 1)  # a zero exponent gives 1, even mod 1
    if mod % 2:
        h.bn(pow(w, e, mod) if e else 1)
        e2 = e >> 7
        if e == 0:
            h.bn(1)
        elif a % mod == 0 or w % mod == 0:
            h.bn(0)
        else:
            h.bn(pow(a, e, mod) * pow(w, e2, mod) % mod)
    g = gcd(a, m)
    h.bn(g)
    if g == 1:
        h.bn(pow(a, -1, mod))
    else:
        h.int(MASK32)
    h.int(kronecker(a, m))
    return (h.h,)


def write(seed, title, groups, draw, expected, count=COUNT):
    rng = SplitMix64(seed)
    out = sys.stdout
    out.write("# Expected results of the big-number %s: written by\n" % title)
    out.write("# tools/gen_bn_vectors.py from Python integers (seed, operand draw and\n")
    out.write("# hashes described there).  One record a case: %s.\n\n" % groups)
    out.write("seed = %016x\ncount = %d\n\n" % (seed, count))
    for _ in range(count):
        out.write("h = %s\n\n" % " ".join("%08x" % h for h in expected(*draw(rng))))


def main():
    if sys.argv[1:] == ["--exponents"]:
        write(EXPONENTS_SEED, "exponentiation test", "the results", draw_exponent_case,
              expected_exponents, EXPONENTS_COUNT)
    elif sys.argv[1:] == ["--products"]:
        write(PRODUCTS_SEED, "product and division test", "prod, divmod",
              draw_products_case, expected_products)
    else:
        write(SEED, "differential test", "arith, shift, text", draw_case, expected)


if __name__ == "__main__":
    main()
