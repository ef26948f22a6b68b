#!/usr/bin/env python3
"""The MODP group primes of RFC 2409 (section 6) and RFC 3526 (sections 2 to
7), from the formula the RFCs give with plain Python integers:

    p = 2^b - 2^(b-64) - 1 + 2^64 * (floor(2^(b-130) * pi) + offset)

pi comes from Machin's formula, pi = 16 atan(1/5) - 4 atan(1/239), in fixed
point with 64 guard bits.  Each prime is checked as a safe prime ((p - 1) / 2
prime too, 64 Miller-Rabin rounds each), and its last 64 bits against the
words the RFC prints.

    python3 tools/gen_rfc_primes.py --data  > test/data/bn/rfc_primes.txt
    python3 tools/gen_rfc_primes.py --cxx   (the byte tables of crypto/bn/bn_const.cc)
"""
import random
import sys

# (function, bits, offset, the last word pair the RFC prints before the final
# FFFFFFFF FFFFFFFF)
GROUPS = [
    ("get_rfc2409_prime_768", 768, 149686, "A63A3620"),
    ("get_rfc2409_prime_1024", 1024, 129093, "ECE65381"),
    ("get_rfc3526_prime_1536", 1536, 741804, "CA237327"),
    ("get_rfc3526_prime_2048", 2048, 124476, "8AACAA68"),
    ("get_rfc3526_prime_3072", 3072, 1690314, "A93AD2CA"),
    ("get_rfc3526_prime_4096", 4096, 240904, "34063199"),
    ("get_rfc3526_prime_6144", 6144, 929484, "6DCC4024"),
    ("get_rfc3526_prime_8192", 8192, 4743158, "98EDD3DF"),
]


def atan_inv(x, one):
    """atan(1/x) * one, by its Taylor series."""
    total = term = one // x
    x2, n, sign = x * x, 1, 1
    while term:
        term //= x2
        n += 2
        sign = -sign
        total += sign * (term // n)
    return total


def pi_scaled(bits):
    """floor(pi * 2^bits)."""
    guard = 64
    one = 1 << (bits + guard)
    pi = 16 * atan_inv(5, one) - 4 * atan_inv(239, one)
    return pi >> guard


def probable_prime(n, rounds=64):
    if n < 4:
        return n in (2, 3)
    if n % 2 == 0:
        return False
    d, s = n - 1, 0
    while d % 2 == 0:
        d //= 2
        s += 1
    rng = random.Random(n & 0xFFFFFFFF)
    for _ in range(rounds):
        x = pow(rng.randrange(2, n - 1), d, n)
        if x in (1, n - 1):
            continue
        for _ in range(s - 1):
            x = x * x % n
            if x == n - 1:
                break
        else:
            return False
    return True


def primes():
    out = []
    for name, b, offset, tail in GROUPS:
        p = (1 << b) - (1 << (b - 64)) - 1 + (1 << 64) * (pi_scaled(b - 130) + offset)
        text = "%X" % p
        assert len(text) == b // 4 and text.endswith(tail + "FFFFFFFFFFFFFFFF"), name
        assert text.startswith("FFFFFFFFFFFFFFFFC90FDAA22168C234C4C6628B80DC1CD1"), name
        assert probable_prime(p) and probable_prime((p - 1) // 2), name
        out.append((name, b, text))
    return out


def main():
    if sys.argv[1:] == ["--data"]:
        print("# The MODP primes of RFC 2409 (section 6) and RFC 3526 (sections 2 to 7),")
        print("# from the RFCs' formula by tools/gen_rfc_primes.py; each is a safe prime.")
        for name, b, text in primes():
            print()
            print("name = %s" % name)
            print("bits = %d" % b)
            print("p = %s" % text)
    elif sys.argv[1:] == ["--cxx"]:
        for name, b, text in primes():
            print("constexpr unsigned char k%d[%d] = {" % (b, b // 8))
            data = bytes.fromhex(text)
            for i in range(0, len(data), 12):
                print("    " + " ".join("0x%02X," % c for c in data[i:i + 12]))
            print("};")
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
