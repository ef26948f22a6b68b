#!/usr/bin/env python3
"""Writes crypto/des/des_slices.inc: DES in bit-slice form.

A bit-sliced DES keeps one vector per bit position of the block, bit k of
the vector being that bit of block k; IP, E and P are then only a choice of
which vectors to read, and the eight S-boxes become boolean circuits.  This
script builds those circuits from the S-box tables of FIPS 46-3 out of
three-input gates (any function of three operands, one instruction on a
processor with a ternary-logic operation), and writes:

  sbox_logic<S>(x, l0, l1, l2, l3)  S-box S+1 on inputs x[0..5] (FIPS b1..b6),
      its four outputs (the most significant first) XORed into l0..l3;
  round_ab / round_ba                one Feistel round on the 64 slices, the
      half that IP makes L (resp. R) taking f of the other;
  kFinalSlice                        where each output slice is after the
      rounds, the halves exchanged and FP applied.

Slices are numbered as the bits of a block read as a little-endian 64-bit
word: slice j is bit j % 8 of byte j / 8, FIPS bit 8 (j / 8) + 8 - j % 8.

Each output of an S-box is a tree of multiplexers: three of the six inputs
select, the other three feed the leaves (functions of three inputs, one gate
each); gates are shared wherever two of them compute the same function or
its complement (a consumer's gate absorbs a complement).  For each S-box
the script tries every split of the inputs and every order of the selectors;
for the best few it builds the outputs again in every order, looking for
each multiplexer first as one gate on three nodes already built, and keeps
the circuit with the fewest gates (about half a minute).

    python3 tools/gen_des_slices.py > crypto/des/des_slices.inc
"""
import itertools

# FIPS 46-3: the initial permutation, the expansion E, the permutation P and
# the eight S-boxes (rows by b1 b6, columns by b2 b3 b4 b5).
IP = [58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
      62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
      57, 49, 41, 33, 25, 17, 9, 1, 59, 51, 43, 35, 27, 19, 11, 3,
      61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7]
E = [32, 1, 2, 3, 4, 5, 4, 5, 6, 7, 8, 9, 8, 9, 10, 11, 12, 13,
     12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21, 22, 23, 24, 25,
     24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1]
P = [16, 7, 20, 21, 29, 12, 28, 17, 1, 15, 23, 26, 5, 18, 31, 10,
     2, 8, 24, 14, 32, 27, 3, 9, 19, 13, 30, 6, 22, 11, 4, 25]
S = [
    [[14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7],
     [0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8],
     [4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0],
     [15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13]],
    [[15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10],
     [3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5],
     [0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15],
     [13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9]],
    [[10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8],
     [13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1],
     [13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7],
     [1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12]],
    [[7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15],
     [13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9],
     [10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4],
     [3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14]],
    [[2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9],
     [14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6],
     [4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14],
     [11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3]],
    [[12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11],
     [10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8],
     [9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6],
     [4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13]],
    [[4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1],
     [13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6],
     [1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2],
     [6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12]],
    [[13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7],
     [1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2],
     [7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8],
     [2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11]],
]

FULL = (1 << 64) - 1


def var_table(i):
    """Input i (b_{i+1}) over the 64 input values, b1 the top bit of a value."""
    return sum(1 << v for v in range(64) if (v >> (5 - i)) & 1)


def output_table(box, t):
    """Output bit t (0 the most significant) of S-box `box` over its inputs."""
    table = 0
    for v in range(64):
        row, col = ((v >> 4) & 2) | (v & 1), (v >> 1) & 15
        if (S[box][row][col] >> (3 - t)) & 1:
            table |= 1 << v
    return table


VARS = [var_table(i) for i in range(6)]


def cofactor(h, i, bit):
    """h with input i fixed to `bit`, as a function of all six inputs."""
    out = 0
    m = 1 << (5 - i)
    for v in range(64):
        w = (v | m) if bit else (v & ~m)
        if (h >> w) & 1:
            out |= 1 << v
    return out


def gate_imm(operands, h):
    """The 8-bit immediate of a three-input gate on `operands` (truth tables)
    that computes h, or None if h is no function of them."""
    imm, seen = 0, {}
    a, b, c = operands
    for v in range(64):
        idx = ((a >> v) & 1) << 2 | ((b >> v) & 1) << 1 | ((c >> v) & 1)
        bit = (h >> v) & 1
        if seen.setdefault(idx, bit) != bit:
            return None
        imm |= bit << idx
    return imm


class Circuit:
    def __init__(self, search=False):
        self.search = search
        # Nodes: ("x", i) inputs, ("g", imm, (refs)) gates; tables[k] the
        # function node k computes.
        self.nodes = [("x", i) for i in range(6)]
        self.tables = list(VARS)
        self.index = {t: k for k, t in enumerate(self.tables)}
        self.gates = 0

    def find(self, h):
        """A node computing h or its complement, or None."""
        if h in self.index:
            return self.index[h]
        return self.index.get(FULL ^ h)

    def gate(self, refs, h):
        ops = [self.tables[r] for r in refs]
        imm = gate_imm(ops, h)
        assert imm is not None
        self.nodes.append(("g", imm, tuple(refs)))
        self.tables.append(h)
        self.index.setdefault(h, len(self.tables) - 1)
        self.gates += 1
        return len(self.tables) - 1

    def triple(self, h):
        """Three nodes of which h is a function, or None."""
        t = self.tables
        n = len(t)
        for i in range(n):
            a = t[i]
            cells_a = (FULL ^ a, a)
            for j in range(i + 1, n):
                b = t[j]
                cells_ab = [x & y for x in cells_a for y in (FULL ^ b, b)]
                for k in range(j + 1, n):
                    c = t[k]
                    nc = FULL ^ c
                    for m in cells_ab:
                        m0, m1 = m & nc, m & c
                        x0, x1 = h & m0, h & m1
                        if (x0 and x0 != m0) or (x1 and x1 != m1):
                            break
                    else:
                        return [i, j, k]
        return None

    def build(self, h, leaf_vars, selectors):
        """A node for h (or its complement); constants come back as None."""
        if h == 0 or h == FULL:
            return None
        k = self.find(h)
        if k is not None:
            return k
        if self.search and selectors:
            # One gate on nodes already built, where some three give h.
            refs = self.triple(h)
            if refs is not None:
                return self.gate(refs, h)
        if not selectors:
            return self.gate(list(leaf_vars), h)
        s = selectors[-1]
        h1, h0 = cofactor(h, s, 1), cofactor(h, s, 0)
        if h1 == h0:
            return self.build(h1, leaf_vars, selectors[:-1])
        n1 = self.build(h1, leaf_vars, selectors[:-1])
        n0 = self.build(h0, leaf_vars, selectors[:-1])
        refs = [s] + [n for n in (n1, n0) if n is not None]
        while len(refs) < 3:
            refs.append(s)
        return self.gate(refs, h)


def permute_imm(imm, order):
    """The immediate of the same gate with its operands taken in `order`
    (new operand k is old operand order[k])."""
    out = 0
    for idx in range(8):
        new_bits = [(idx >> 2) & 1, (idx >> 1) & 1, idx & 1]
        old_bits = [0, 0, 0]
        for k in range(3):
            old_bits[order[k]] = new_bits[k]
        old = old_bits[0] << 2 | old_bits[1] << 1 | old_bits[2]
        out |= ((imm >> old) & 1) << idx
    return out


def destructive_first(c, refs):
    """Puts first in each gate an operand that dies there, where one does:
    the instruction overwrites its first operand, so a compiler copies any
    first operand that is still live."""
    last = {}
    for k, node in enumerate(c.nodes):
        if node[0] == "g":
            for r in node[2]:
                last[r] = k
    for r in refs:
        last[r] = len(c.nodes)  # the outputs live to the end
    for k, node in enumerate(c.nodes):
        if node[0] != "g":
            continue
        _, imm, r = node
        for pos in range(3):
            if last[r[pos]] == k and r.count(r[pos]) == 1:
                order = [pos] + [i for i in range(3) if i != pos]
                c.nodes[k] = ("g", permute_imm(imm, order), tuple(r[i] for i in order))
                break


def best_circuit(box, searched=6):
    """The split with the fewest gates: every split plainly, then the best
    `searched` of them again with each multiplexer first looked for as one
    gate on three nodes already built (slow), the outputs in every order."""
    outs = [output_table(box, t) for t in range(4)]
    plain = []
    for leaf in itertools.combinations(range(6), 3):
        rest = [i for i in range(6) if i not in leaf]
        for order in itertools.permutations(rest):
            c = Circuit()
            refs = [c.build(h, leaf, list(order)) for h in outs]
            plain.append((c.gates, leaf, order, c, refs))
    plain.sort(key=lambda e: e[0])
    best = (plain[0][3], plain[0][4], outs)
    for _, leaf, order, _, _ in plain[:searched]:
        for perm in itertools.permutations(range(4)):
            c = Circuit(search=True)
            refs = [None] * 4
            for t in perm:
                refs[t] = c.build(outs[t], leaf, list(order))
            if c.gates < best[0].gates:
                best = (c, refs, outs)
    return best


def check(c, refs, outs):
    """Evaluates the circuit on all 64 inputs at once."""
    vals = []
    for node in c.nodes:
        if node[0] == "x":
            vals.append(VARS[node[1]])
            continue
        _, imm, r = node
        a, b, cc = (vals[k] for k in r)
        v = 0
        for i in range(8):
            if (imm >> i) & 1:
                ta = a if i & 4 else FULL ^ a
                tb = b if i & 2 else FULL ^ b
                tc = cc if i & 1 else FULL ^ cc
                v |= ta & tb & tc
        vals.append(v)
    for r, h in zip(refs, outs):
        assert vals[r] in (h, FULL ^ h)


def slice_of_bit(n):
    """The slice holding FIPS bit n (1 to 64) of a block."""
    byte, bit = (n - 1) // 8, 7 - (n - 1) % 8
    return 8 * byte + bit


def main():
    for box in range(8):
        for row in S[box]:
            assert sorted(row) == list(range(16))
    out = []
    w = out.append
    w("// Generated by tools/gen_des_slices.py from the tables of FIPS 46-3; do not edit.")
    w("// DES in bit-slice form: the S-boxes as circuits of three-input gates")
    w("// (Ops::tern<imm>(a, b, c): bit i of imm is the result for a b c = i in")
    w("// binary, a the top bit), and the rounds on 64 slices, slice j holding")
    w("// bit j % 8 of byte j / 8 of every block.")
    w("")
    total = 0
    for box in range(8):
        c, refs, outs = best_circuit(box)
        destructive_first(c, refs)
        check(c, refs, outs)
        total += c.gates
        w(f"// S-box {box + 1}: {c.gates} gates.")
        w("template <class Ops, class V>")
        w(f"[[gnu::always_inline]] inline void sbox_logic{box + 1}(const V (&x)[6], V& l0, V& l1, V& l2, V& l3) {{")
        names = [f"x[{i}]" for i in range(6)]
        for k, node in enumerate(c.nodes):
            if node[0] == "x":
                continue
            _, imm, r = node
            names.append(f"t{k}")
            args = ", ".join(names[i] for i in r)
            w(f"  const V t{k} = Ops::template tern<0x{imm:02x}>({args});")
        for t, (r, h) in enumerate(zip(refs, outs)):
            imm = 0x3C if c.tables[r] == h else 0xC3  # l ^ y, or l ^ ~y
            w(f"  l{t} = Ops::template tern<0x{imm:02x}>(l{t}, {names[r]}, {names[r]});")
        w("}")
        w("")
    # Slices of L and R after IP.
    half_l = [slice_of_bit(IP[i]) for i in range(32)]
    half_r = [slice_of_bit(IP[32 + i]) for i in range(32)]
    for name, dst, src in (("round_ab", half_l, half_r), ("round_ba", half_r, half_l)):
        what = "L" if name == "round_ab" else "R"
        w(f"// The half that IP makes {what} takes f of the other, under the 48 round-key")
        w("// masks k (FIPS subkey bit 1 first), each all zeros or all ones.")
        w("template <class Ops, class V>")
        w(f"[[gnu::always_inline]] inline void {name}(V* s, const uint32_t* k) {{")
        for box in range(8):
            xs = ", ".join(f"Ops::key(s[{src[E[6 * box + i] - 1]}], k[{6 * box + i}])" for i in range(6))
            # Output t of the box is bit 4 box + t + 1 of f before P.
            ls = []
            for t in range(4):
                p = P.index(4 * box + t + 1)
                ls.append(f"s[{dst[p]}]")
            w(f"  {{ const V x[6] = {{{xs}}};")
            w(f"    sbox_logic{box + 1}<Ops>(x, {', '.join(ls)}); }}")
        w("}")
        w("")
    # After the rounds (an odd number of passes of 16), the output before FP
    # is R16 L16: R16 in the slices of L, L16 in those of R.
    pre = half_r + half_l
    fp = [IP.index(n) + 1 for n in range(1, 65)]  # FP = IP^-1
    final = [0] * 64
    for n in range(1, 65):
        final[slice_of_bit(n)] = pre[fp[n - 1] - 1]
    w("// Output slice j is slice kFinalSlice[j] after the rounds.")
    w("constexpr uint8_t kFinalSlice[64] = {")
    for i in range(0, 64, 16):
        w("    " + ", ".join(str(v) for v in final[i:i + 16]) + ",")
    w("};")
    w(f"// {total} gates in the eight S-boxes.")
    print("\n".join(out))


if __name__ == "__main__":
    main()
