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
"""

import sys

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


def main():
    rng = SplitMix64(SEED)
    out = sys.stdout
    out.write("# Expected results of the big-number differential test: written by\n")
    out.write("# tools/gen_bn_vectors.py from Python integers (seed, operand draw and\n")
    out.write("# hashes described there).  One record a case: arith, shift, text.\n\n")
    out.write("seed = %016x\ncount = %d\n\n" % (SEED, COUNT))
    for _ in range(COUNT):
        out.write("h = %08x %08x %08x\n\n" % expected(*draw_case(rng)))


if __name__ == "__main__":
    main()
