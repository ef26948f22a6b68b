#!/usr/bin/env python3
"""A plain-integer model of the PKCS#12 key derivation (RFC 7292, Appendix
B.2) over the SHA-1 model of tools/rand_model.py (FIPS 180-4, 6.1), used to check the known answers
in test/pkcs12/.  Run it to print them; it exits non-zero if a known answer
disagrees with the model."""

import sys

from rand_model import sha1  # FIPS 180-4, 6.1, plain integers


def bmp(password):
    # B.1: a null password is no bytes; text gets 00 c per byte and 00 00.
    if password is None:
        return b""
    return b"".join(b"\x00" + bytes([c]) for c in password.encode()) + b"\x00\x00"


def kdf(password, salt: bytes, ident: int, iterations: int, n: int) -> bytes:
    u, v = 20, 64
    d = bytes([ident]) * v
    rep = lambda s: b"" if not s else (s * (v * ((len(s) + v - 1) // v) // len(s) + 1))[: v * ((len(s) + v - 1) // v)]
    i = rep(salt) + rep(bmp(password))
    out = b""
    while True:
        a = sha1(d + i)
        for _ in range(iterations - 1):
            a = sha1(a)
        out += a
        if len(out) >= n:
            return out[:n]
        b = int.from_bytes((a * (v // u + 1))[:v], "big")
        i = b"".join(((int.from_bytes(i[j:j + v], "big") + b + 1) % (1 << (8 * v))).to_bytes(v, "big")
                     for j in range(0, len(i), v))


# (password, salt, id, iterations, length, expected) as in test/pkcs12/.
KNOWN = [
    ("smeg", "0A58CF64530D823F", 1, 1, 24, "8AAAE6297B6CB04642AB5B077851284EB7128F1A2A7FBCA3"),
    ("smeg", "0A58CF64530D823F", 2, 1, 8, "79993DFE048D3B76"),
    ("queeg", "05DEC959ACFF72F7", 1, 1000, 24, "ED2034E36328830FF09DF1E1A07DD357185DAC0D4F9EB3D4"),
    ("queeg", "05DEC959ACFF72F7", 2, 1000, 8, "11DEDAD7758D4860"),
    ("", "0A58CF64530D823F", 1, 1, 24, "46DCC1D4AEA61E4498F3EA3E6507A7E2572A837ACD212182"),
    (None, "0A58CF64530D823F", 1, 1, 24, "9985036E1A31D2812085D6CEF9DB2E03DCBB6B9CD0100FB5"),
]


def main() -> int:
    assert sha1(b"abc").hex() == "a9993e364706816aba3e25717850c26c9cd0d89d"  # FIPS 180-2, B.1
    bad = 0
    for pw, salt, ident, it, n, want in KNOWN:
        got = kdf(pw, bytes.fromhex(salt), ident, it, n).hex().upper()
        print(f"{pw!r:8} {salt} id={ident} iter={it} n={n}: {got}{'' if got == want else '  MISMATCH'}")
        bad += got != want
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
