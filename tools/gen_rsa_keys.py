#!/usr/bin/env python3
"""RSA test keys, from Python integers.

Each key is drawn from Python's `random` generator with a fixed seed (these
are test inputs, not secrets): two primes of bits/2 and bits - bits/2 bits
with their two top bits set, so that n has exactly `bits` bits, found by trial
division and 40 Miller-Rabin rounds; e = 65537 (drawn again until it is prime
to p - 1 and q - 1); d = e^-1 mod (p-1)(q-1); and the CRT numbers of RFC
8017, 3.2: dP = d mod (p-1), dQ = d mod (q-1), qInv = q^-1 mod p.  Numbers
are written in upper-case hexadecimal.

Usage: tools/gen_rsa_keys.py > test/data/rsa/keys.txt
"""

import random
import sys

SIZES = [512, 520, 768, 1024, 1025, 1031, 1536, 2048, 3072, 4096]
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


def key(bits, seed):
    rng = random.Random(seed)
    e = 65537
    while True:
        p = prime(bits - bits // 2, e, rng)
        q = prime(bits // 2, e, rng)
        if p == q:
            continue
        if p < q:  # the larger prime first, as keys are usually written
            p, q = q, p
        n = p * q
        if n.bit_length() == bits:
            break
    d = pow(e, -1, (p - 1) * (q - 1))
    return {"n": n, "e": e, "d": d, "p": p, "q": q,
            "dmp1": d % (p - 1), "dmq1": d % (q - 1), "iqmp": pow(q, -1, p)}


def main():
    out = sys.stdout
    out.write("# RSA test keys made by tools/gen_rsa_keys.py (plain integers, fixed seeds).\n")
    for bits in SIZES:
        k = key(bits, 1000 + bits)
        out.write("\nbits = %d\n" % bits)
        for name in ("n", "e", "d", "p", "q", "dmp1", "dmq1", "iqmp"):
            out.write("%s = %X\n" % (name, k[name]))


if __name__ == "__main__":
    main()
