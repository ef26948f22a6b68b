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
  python3 tools/ec_model.py --products > test/data/ec/products.txt
      writes the expected products of the differential test over every
      prime-field record of crypto/ec/curves.def (test/ec/ec_products_test.cc):
      k G and k P for edge and pseudo-random scalars, and on the curves of
      even order (cofactor 4) every point of the 2-power torsion subgroup
      E[2^e] (orders 2 and 4) and its sums with G and P (orders 2n, 4n), with
      whether each point lies in the subgroup <G> (n Q at infinity).  The
      points of order 2 are the roots of x^3 + a x + b; the others are found
      by multiplying points of the curve by the odd part of #E = h n.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gen_rfc_primes import probable_prime  # noqa: E402  (Miller-Rabin, 64 rounds)
from gen_bn_vectors import SplitMix64  # noqa: E402
import gen_ec_curves  # noqa: E402  (the reader of crypto/ec/curves.def)

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

    def neg(self, P):
        return INF if P is INF else (P[0], (-P[1]) % self.p)

    def mul_signed(self, k, P):
        return self.neg(self.mul(-k, P)) if k < 0 else self.mul(k, P)

    def order(self, P):
        """The order of P, a divisor of h n: the smallest d | h n with d P at
        infinity (found prime by prime: d starts at h n and each prime
        factor q is taken out while (d / q) P stays at infinity)."""
        d = self.h * self.n
        for q in factor_small(self.h) + [self.n]:
            while d % q == 0 and self.mul(d // q, P) is INF:
                d //= q
        return d

    def lift_x(self, x):
        """A point with abscissa x, or INF when x^3 + a x + b is no square."""
        y = sqrt_mod((x * x * x + self.a * x + self.b) % self.p, self.p)
        return INF if y is None else (x, y)

    def encode(self, pt, compressed=False):
        if pt is INF:
            return "00"
        size = (self.p.bit_length() + 7) // 8
        if compressed:
            return "%02X" % (2 + (pt[1] & 1)) + format(pt[0], "0%dX" % (2 * size))
        return "04" + format(pt[0], "0%dX" % (2 * size)) + format(pt[1], "0%dX" % (2 * size))


def factor_small(h):
    """The prime factors of a small cofactor, with repetition."""
    out, q = [], 2
    while h > 1:
        while h % q == 0:
            out.append(q)
            h //= q
        q += 1
    return out


def sqrt_mod(v, p):
    """A square root of v modulo the odd prime p (Tonelli-Shanks), or None."""
    v %= p
    if v == 0:
        return 0
    if pow(v, (p - 1) // 2, p) != 1:
        return None
    q, s = p - 1, 0
    while q % 2 == 0:
        q //= 2
        s += 1
    z = 2
    while pow(z, (p - 1) // 2, p) != p - 1:
        z += 1
    m, c, t, r = s, pow(z, q, p), pow(v, q, p), pow(v, (q + 1) // 2, p)
    while t != 1:
        i, t2 = 0, t
        while t2 != 1:
            t2 = t2 * t2 % p
            i += 1
        b = pow(c, 1 << (m - i - 1), p)
        m, c, t, r = i, b * b % p, t * b * b % p, r * b % p
    return r


def two_power_torsion(curve, seed):
    """Every point of the 2-power part of the curve's group (a subgroup of
    order 2^e, 2^e the largest power of two dividing #E = h n), INF first.
    Points m R for pseudo-random points R of the curve and m the odd part of
    h n lie in it; they are gathered, with their sums, until all 2^e are
    found."""
    total = curve.h * curve.n
    e = 0
    while total % 2 == 0:
        total //= 2
        e += 1
    group = [INF]
    rng = SplitMix64(seed)
    while len(group) < (1 << e):
        R = curve.lift_x(rng.next() % curve.p)
        if R is INF:
            continue
        S = curve.mul(total, R)
        if S in group:
            continue
        group = closure(curve, group + [S])
    return group


def closure(curve, pts):
    out = list(pts)
    grew = True
    while grew:
        grew = False
        for P in list(out):
            for Q in list(out):
                S = curve.add(P, Q)
                if S not in out:
                    out.append(S)
                    grew = True
    return out


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


def prime_records():
    """The prime-field records of crypto/ec/curves.def in file order, each
    with the NID of its first row."""
    order, records, rows = gen_ec_curves.parse(gen_ec_curves.DEF)
    nids = {}
    for nid, _, rec in rows:
        nids.setdefault(rec, nid)
    out = []
    for name in order:
        rec = records[name]
        if rec["field"] != "prime":
            continue
        out.append((nids[name], Curve({"name": name, "p": rec["p"], "a": rec["a"], "b": rec["b"],
                                        "gx": rec["x"], "gy": rec["y"], "n": rec["order"],
                                        "h": "%X" % int(rec["cofactor"])})))
    return out


def draw(rng, bits):
    """A pseudo-random number below 2^bits."""
    v = 0
    for _ in range((bits + 63) // 64):
        v = v << 64 | rng.next()
    return v & ((1 << bits) - 1)


def hexs(k):
    return ("-%X" % -k) if k < 0 else "%X" % k


def products():
    """The records of test/data/ec/products.txt (see the module text)."""
    out = ["# Generated by tools/ec_model.py --products (plain-integer curve arithmetic,",
           "# SEC 1, 2.2.1) from the prime-field records of crypto/ec/curves.def.",
           "# [points]: each point Q of a curve (uncompressed) with its order and whether",
           "# n Q is the point at infinity.  [products]: k Q for the point of that label",
           "# (compressed, 00 the point at infinity); with g, g G + k Q.", ""]
    pts_out, prod_out = ["[points]", ""], ["[products]", ""]
    for nid, c in prime_records():
        rng = SplitMix64(0x6563 ^ nid)
        P = c.mul(0x1F2E3D4C5B6A7988, c.g)
        points = [("G", c.g), ("P", P)]
        if c.h % 2 == 0:
            for i, T in enumerate(two_power_torsion(c, nid)[1:]):
                points.append(("T%d" % i, T))
                points.append(("G+T%d" % i, c.add(c.g, T)))
                points.append(("P+T%d" % i, c.add(P, T)))
        n, hn = c.n, c.h * c.n
        edge = [1, 2, 3, 5, 6, n - 6, n - 1, n, n + 1, hn - 1, hn, -3]
        for label, Q in points:
            order = c.order(Q)
            pts_out += ["curve = %s" % c.name, "nid = %d" % nid, "label = %s" % label,
                        "point = %s" % c.encode(Q), "order = %X" % order,
                        "subgroup = %d" % (c.mul(n, Q) is INF), ""]
            bits = n.bit_length()
            scalars = edge + [draw(rng, bits) for _ in range(3)]
            if order % 2 == 0:
                scalars += [order - 1, order + 1, order // 2]
            for k in dict.fromkeys(scalars):  # each once, in order
                prod_out += ["curve = %s" % c.name, "label = %s" % label, "k = %s" % hexs(k),
                             "result = %s" % c.encode(c.mul_signed(k, Q), True), ""]
            # Two terms: g G + k Q, the shape of signature verification.
            for _ in range(2 if order % 2 == 0 else 1):
                g, k = draw(rng, n.bit_length()) % n, draw(rng, n.bit_length()) % n
                R = c.add(c.mul(g, c.g), c.mul(k, Q))
                prod_out += ["curve = %s" % c.name, "label = %s" % label, "g = %s" % hexs(g),
                             "k = %s" % hexs(k),
                             "result = %s" % c.encode(R, True), ""]
    return "\n".join(out + pts_out + prod_out)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--check", metavar="FILE")
    ap.add_argument("--mul", nargs=2, metavar=("CURVE", "K"))
    ap.add_argument("--products", action="store_true")
    ap.add_argument("--curves", default="test/data/ec/curves.txt")
    args = ap.parse_args()
    if args.products:
        print(products())
        return 0
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
