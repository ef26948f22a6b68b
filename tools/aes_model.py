#!/usr/bin/env python3
"""An independent model of AES in CTR mode, written from FIPS-197 with plain
integers (no crypto module): the S-box from the inverse in GF(2^8) and the
affine map (5.1.1), the key expansion (5.2) and the cipher (5.1), and the
counter of NIST SP 800-38A, 6.5 (the whole 16-byte block as one big-endian
number, plus one per block, modulo 2^128).

It fills in the `Ciphertext` of each record of a data file from its `Key`,
`Counter` (the first counter block) and `Plaintext`, all hex (--check:
compares instead of writing).  Before that it checks itself against the
examples of FIPS-197, Appendix C.

    python3 tools/aes_model.py [--check] test/data/aes/ctr_runs.txt
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rand_model import update  # noqa: E402  (the pool model reads and writes the same record files)


def xtime(a):
    """Multiplication by x in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1 (4.2.1)."""
    a <<= 1
    return a ^ 0x11B if a & 0x100 else a


def gmul(a, b):
    r = 0
    while b:
        if b & 1:
            r ^= a
        a = xtime(a)
        b >>= 1
    return r


def sbox_entry(x):
    """5.1.1: the multiplicative inverse (0 for 0), then the affine map."""
    inv = 0
    if x:
        inv = next(y for y in range(1, 256) if gmul(x, y) == 1)
    s = 0x63
    for i in range(5):
        s ^= ((inv << i) | (inv >> (8 - i))) & 0xFF
    return s


SBOX = [sbox_entry(x) for x in range(256)]


def expand_key(key):
    """5.2: Nb (Nr + 1) words, each a list of four bytes."""
    nk = len(key) // 4
    nr = nk + 6
    w = [list(key[4 * i:4 * i + 4]) for i in range(nk)]
    rcon = 1
    for i in range(nk, 4 * (nr + 1)):
        t = list(w[i - 1])
        if i % nk == 0:
            t = [SBOX[b] for b in t[1:] + t[:1]]
            t[0] ^= rcon
            rcon = xtime(rcon)
        elif nk > 6 and i % nk == 4:
            t = [SBOX[b] for b in t]
        w.append([a ^ b for a, b in zip(w[i - nk], t)])
    return w, nr


def encrypt_block(w, nr, block):
    """5.1: the state as s[r][c] = in[r + 4c]."""
    s = [[block[r + 4 * c] for c in range(4)] for r in range(4)]

    def add_round_key(rnd):
        for c in range(4):
            for r in range(4):
                s[r][c] ^= w[4 * rnd + c][r]

    add_round_key(0)
    for rnd in range(1, nr + 1):
        for r in range(4):
            s[r] = [SBOX[b] for b in s[r]]          # SubBytes
            s[r] = s[r][r:] + s[r][:r]              # ShiftRows
        if rnd != nr:                               # MixColumns
            for c in range(4):
                a = [s[r][c] for r in range(4)]
                for r in range(4):
                    s[r][c] = (gmul(a[r], 2) ^ gmul(a[(r + 1) % 4], 3) ^ a[(r + 2) % 4]
                               ^ a[(r + 3) % 4])
        add_round_key(rnd)
    return bytes(s[r][c] for c in range(4) for r in range(4))


def ctr(key, counter, data):
    w, nr = expand_key(key)
    n = int.from_bytes(counter, "big")
    out = bytearray()
    for i in range(0, len(data), 16):
        ks = encrypt_block(w, nr, n.to_bytes(16, "big"))
        out += bytes(a ^ b for a, b in zip(data[i:i + 16], ks))
        n = (n + 1) % (1 << 128)
    return bytes(out)


def self_test():
    """FIPS-197, Appendix C.1 to C.3, and SP 800-38A, F.5.1."""
    pt = bytes.fromhex("00112233445566778899aabbccddeeff")
    for bits, want in ((128, "69c4e0d86a7b0430d8cdb78070b4c55a"),
                       (192, "dda97ca4864cdfe06eaf70a0ec0d7191"),
                       (256, "8ea2b7ca516745bfeafc49904b496089")):
        w, nr = expand_key(bytes(range(bits // 8)))
        if encrypt_block(w, nr, pt).hex() != want:
            raise SystemExit("model fails FIPS-197, C (%d-bit key)" % bits)
    got = ctr(bytes.fromhex("2b7e151628aed2a6abf7158809cf4f3c"),
              bytes.fromhex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff"),
              bytes.fromhex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"))
    if got.hex() != "874d6191b620e3261bef6864990db6ce9806f66b7970fdff8617187bb9fffdff":
        raise SystemExit("model fails SP 800-38A, F.5.1")


def fill(records):
    for r in records:
        r["Ciphertext"] = ctr(bytes.fromhex(r["Key"]), bytes.fromhex(r["Counter"]),
                              bytes.fromhex(r["Plaintext"])).hex()


if __name__ == "__main__":
    self_test()
    update(sys.argv[1:], fill)
