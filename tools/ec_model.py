#!/usr/bin/env python3
"""A plain-integer model of short Weierstrass curves y^2 = x^3 + a x + b over
GF(p), written from SEC 1 (2.2.1: the group law in affine coordinates) with
Python integers only, for checking the curve data the elliptic-curve tests
type in by hand.

  python3 tools/ec_model.py --check test/data/ec/curves.txt
      verifies each curve record: p and n prime (Miller-Rabin, 64 rounds),
      a and b below p, 4a^3 + 27b^2 != 0 mod p, G on the curve, n G the point
      at infinity, and h n within the Hasse bound of p + 1.
  python3 tools/ec_model.py --mul CURVE K
      prints K G of the named record as uncompressed hex (04 X Y).
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_rfc_primes import probable_prime  # noqa: E402  (Miller-Rabin, 64 rounds)

INF = None  # the point at infinity


def read_records(path):
    records, cur = [], {}
    with open(path) as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                if cur:
                    records.append(cur)
                    cur = {}
                continue
            key, _, value = line.partition("=")
            cur[key.strip()] = value.strip()
    if cur:
        records.append(cur)
    return records


class Curve:
    def __init__(self, rec):
        self.name = rec["name"]
        self.p = int(rec["p"], 16)
        self.a = int(rec["a"], 16)
        self.b = int(rec["b"], 16)
        self.g = (int(rec["gx"], 16), int(rec["gy"], 16))
        self.n = int(rec["n"], 16)
        self.h = int(rec["h"], 16)

    def on_curve(self, pt):
        if pt is INF:
            return True
        x, y = pt
        p = self.p
        return (y * y - (x * x * x + self.a * x + self.b)) % p == 0

    def add(self, P, Q):
        # SEC 1, 2.2.1: rules 1 to 5.
        if P is INF:
            return Q
        if Q is INF:
            return P
        p = self.p
        (x1, y1), (x2, y2) = P, Q
        if x1 == x2:
            if (y1 + y2) % p == 0:
                return INF
            lam = (3 * x1 * x1 + self.a) * pow(2 * y1, p - 2, p) % p
        else:
            lam = (y2 - y1) * pow(x2 - x1, p - 2, p) % p
        x3 = (lam * lam - x1 - x2) % p
        return (x3, (lam * (x1 - x3) - y1) % p)

    def mul(self, k, P):
        R = INF
        for bit in bin(k)[2:] if k > 0 else "":
            R = self.add(R, R)
            if bit == "1":
                R = self.add(R, P)
        return R

    def encode(self, pt):
        if pt is INF:
            return "00"
        size = (self.p.bit_length() + 7) // 8
        return "04" + format(pt[0], "0%dX" % (2 * size)) + format(pt[1], "0%dX" % (2 * size))


def check(curve):
    p, n = curve.p, curve.n
    problems = []
    if not probable_prime(p):
        problems.append("p is not prime")
    if not probable_prime(n):
        problems.append("n is not prime")
    if not (0 <= curve.a < p and 0 <= curve.b < p):
        problems.append("a or b not below p")
    if (4 * curve.a ** 3 + 27 * curve.b ** 2) % p == 0:
        problems.append("zero discriminant")
    if not curve.on_curve(curve.g):
        problems.append("G is not on the curve")
    elif curve.mul(n, curve.g) is not INF:
        problems.append("n G is not the point at infinity")
    # Hasse: |#E - (p + 1)| <= 2 sqrt(p), with #E = h n.
    t = curve.h * n - (p + 1)
    if t * t > 4 * p:
        problems.append("h n outside the Hasse bound")
    return problems


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--check", metavar="FILE")
    ap.add_argument("--mul", nargs=2, metavar=("CURVE", "K"))
    ap.add_argument("--curves", default="test/data/ec/curves.txt")
    args = ap.parse_args()
    if args.check:
        bad = 0
        for rec in read_records(args.check):
            problems = check(Curve(rec))
            print("%-10s %s" % (rec["name"], "ok" if not problems else "; ".join(problems)))
            bad += bool(problems)
        return 1 if bad else 0
    if args.mul:
        curves = {r["name"]: Curve(r) for r in read_records(args.curves)}
        c = curves[args.mul[0]]
        print(c.encode(c.mul(int(args.mul[1], 0), c.g)))
        return 0
    ap.print_help()
    return 2


if __name__ == "__main__":
    sys.exit(main())
