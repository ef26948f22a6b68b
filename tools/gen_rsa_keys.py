#!/usr/bin/env python3
"""RSA test keys, from Python integers.

Each key is drawn from Python's `random` generator with a fixed seed (these
are test inputs, not secrets): two primes of bits/2 and bits - bits/2 bits
with their two top bits set, so that n has exactly `bits` bits, found by trial
division and 40 Miller-Rabin rounds; e = 65537 (drawn again until it is prime
to p - 1 and q - 1); d = e^-1 mod (p-1)(q-1); and the CRT numbers of RFC
8017, 3.2: dP = d mod (p-1), dQ = d mod (q-1), qInv = q^-1 mod p.  Numbers
are written in upper-case hexadecimal.

With --unbalanced, keys whose primes have the bit lengths given in SHAPES
(p first, kept in that order even when p < q, as an imported key may have
them), each under the name "<p bits>x<q bits>".

Usage: tools/gen_rsa_keys.py > test/data/rsa/keys.txt
       tools/gen_rsa_keys.py --unbalanced > test/data/rsa/unbalanced_keys.txt
"""

import random
import sys

SIZES = [512, 520, 768, 1024, 1025, 1031, 1536, 2048, 2049, 3072, 3073, 4096]
# Primes of different lengths: p shorter than q by two words, longer by two
# words, shorter by one, and about a third of q's length.  (The 2049- and
# 3073-bit keys above have p one word longer than q, as the built-in
# generator makes them for every size of 64k + 1 bits.)
SHAPES = [(992, 1056), (1056, 992), (1024, 1056), (544, 1504)]
SMALL_PRIMES = [p for p in range(3, 2000) if all(p % q for q in range(2, int(p ** 0.5) + 1))]


def is_probable_prime(n, rng):
    if n < 2:
        return False
    for p in SMALL_PRIMES:
        if n % p == 0:
            return n == p
    d, s = n - 1, 0
    while d % 2 == 0:
        d //= 2
        s += 1
    for _ in range(40):
        a = rng.randrange(2, n - 1)
        x = pow(a, d, n)
        if x in (1, n - 1):
            continue
        for _ in range(s - 1):
            x = x * x % n
            if x == n - 1:
                break
        else:
            return False
    return True


def prime(bits, e, rng):
    while True:
        p = rng.getrandbits(bits) | (3 << (bits - 2)) | 1
        if p.bit_length() == bits and (p - 1) % e != 0 and is_probable_prime(p, rng):
            return p


def key(bits, seed, pbits=None, qbits=None):
    rng = random.Random(seed)
    e = 65537
    ordered = pbits is not None
    if not ordered:
        pbits, qbits = bits - bits // 2, bits // 2
    while True:
        p = prime(pbits, e, rng)
        q = prime(qbits, e, rng)
        if p == q:
            continue
        if p < q and not ordered:  # the larger prime first, as keys are usually written
            p, q = q, p
        n = p * q
        if n.bit_length() == bits:
            break
    d = pow(e, -1, (p - 1) * (q - 1))
    return {"n": n, "e": e, "d": d, "p": p, "q": q,
            "dmp1": d % (p - 1), "dmq1": d % (q - 1), "iqmp": pow(q, -1, p)}


def write(out, k):
    for name in ("n", "e", "d", "p", "q", "dmp1", "dmq1", "iqmp"):
        out.write("%s = %X\n" % (name, k[name]))


def main():
    out = sys.stdout
    if sys.argv[1:] == ["--unbalanced"]:
        out.write("# RSA test keys with primes of different lengths, made by\n"
                  "# tools/gen_rsa_keys.py --unbalanced (plain integers, fixed seeds).\n")
        for pbits, qbits in SHAPES:
            k = key(pbits + qbits, 5000 + pbits, pbits, qbits)
            out.write("\nname = %dx%d\nbits = %d\n" % (pbits, qbits, pbits + qbits))
            write(out, k)
        return
    out.write("# RSA test keys made by tools/gen_rsa_keys.py (plain integers, fixed seeds).\n")
    for bits in SIZES:
        k = key(bits, 1000 + bits)
        out.write("\nbits = %d\n" % bits)
        write(out, k)


if __name__ == "__main__":
    main()
