#!/usr/bin/env python3
"""Turns the JSON output of the benchmark program into a Markdown table.

Each row is one operation at one message size: Morvane's throughput (and its
cycles per byte at the measured core clock), each peer's, and the ratio of
Morvane's throughput to the fastest peer's (above 1.0: Morvane is faster).
Key-setup rows give nanoseconds per key and the ratio of the fastest peer's
time to Morvane's; key-derivation rows ("kdf-<op>/<library>") give
iterations per second and the ratio of Morvane's rate to Nettle's; big-number
rows ("bn-<op>/<library>/<bits>") give nanoseconds per operation and the ratio
of GMP's time to Morvane's; RSA rows ("rsa-<op>/<way>/<bits>") give
microseconds per operation and the share of the blinding, of the check of the
CRT result and of the two half-size exponentiations in a private operation.
With
repetitions, each figure is the best of them: on a
machine shared with other work the best run is the one least disturbed, and
every library is treated alike.

Usage: bench_table.py results.json
"""
import json
import sys

LIBS = ("morvane", "nettle", "libgcrypt")
BN_LIBS = ("morvane", "gmp")


def load(path):
    with open(path) as f:
        data = json.load(f)
    figures = {}
    order = []
    for r in data["benchmarks"]:
        if r.get("run_type") == "aggregate":
            continue
        name = r.get("run_name", r["name"])
        parts = name.split("/")
        op, lib = parts[0], parts[1]
        size = int(parts[2]) if len(parts) > 2 else None
        key = (op, size)
        if key not in figures:
            figures[key] = {}
            order.append(key)
        rate = r.get("bytes_per_second") or r.get("items_per_second")
        best = figures[key].get(lib)
        if best is None or rate > best:
            figures[key][lib] = rate
    order.sort(key=lambda k: (k[0], k[1] or 0))
    return data.get("context", {}), figures, order


def ns_per_item(rate):
    return 1e9 / rate


def main():
    context, figures, order = load(sys.argv[1])
    clock = figures.get(("clock", None), {}).get("calibrate")
    hz = clock
    print(f"{context.get('morvane', 'Morvane')} (hardware paths: {context.get('morvane_hwcrypt', '?')}), "
          f"Nettle {context.get('nettle', '?')}, libgcrypt {context.get('libgcrypt', '?')}")
    if hz:
        print(f"Core clock measured by a chain of dependent additions: {hz / 1e9:.2f} GHz")
    # Rows of the throughput table (not the clock, envelope or big numbers).
    streams = [k for k in order if k[1] is not None and k[0] != "clock"
               and not k[0].startswith(("evp-", "bn-", "rsa-"))]
    if streams:
        print()
        print("| operation | bytes | Morvane MB/s | Morvane c/B | Nettle MB/s | libgcrypt MB/s | ratio |")
        print("|---|--:|--:|--:|--:|--:|--:|")
    keys = []
    slow = []
    envelope = []
    bignum = []
    rsa = {}
    kdf = []
    for op, size in order:
        if op == "clock":
            continue
        if op.startswith("rsa-"):
            for way, rate in figures[(op, size)].items():
                rsa[(op, way, size)] = ns_per_item(rate) / 1e3
            continue
        if op.startswith("kdf-"):
            kdf.append(op)
            continue
        if op.startswith("bn-"):
            bignum.append((op, size))
            continue
        if op.startswith("evp-"):
            envelope.append((op, size))
            continue
        row = figures[(op, size)]
        if size is None:
            keys.append((op, row))
            continue
        mbs = {lib: row[lib] / 1e6 for lib in LIBS if lib in row}
        ours = mbs.get("morvane")
        peers = [mbs[lib] for lib in LIBS[1:] if lib in mbs]
        cells = [f"{mbs[lib]:.0f}" if lib in mbs else "-" for lib in LIBS]
        cpb = f"{hz / (ours * 1e6):.2f}" if hz and ours else "-"
        ratio = ours / max(peers) if ours and peers else None
        if ratio is not None and round(ratio, 2) < 1.0 and size == max(z for o, z in order if o == op):
            slow.append(f"{op} ({ratio:.2f})")
        rtext = f"{ratio:.2f}" if ratio is not None else "-"
        print(f"| {op} | {size} | {cells[0]} | {cpb} | {cells[1]} | {cells[2]} | {rtext} |")
    if keys:
        print()
        print("| key setup | Morvane ns | Nettle ns | libgcrypt ns | ratio |")
        print("|---|--:|--:|--:|--:|")
        for op, row in keys:
            ns = {lib: ns_per_item(row[lib]) for lib in LIBS if lib in row}
            ours = ns.get("morvane")
            peers = [ns[lib] for lib in LIBS[1:] if lib in ns]
            ratio = min(peers) / ours if ours and peers else None
            cells = [f"{ns[lib]:.1f}" if lib in ns else "-" for lib in LIBS]
            rtext = f"{ratio:.2f}" if ratio is not None else "-"
            print(f"| {op} | {cells[0]} | {cells[1]} | {cells[2]} | {rtext} |")
    if envelope:
        # Extra time the envelope takes over the digest's own functions.
        print()
        print("| envelope | bytes | direct MB/s | EVP_Digest overhead | kept context overhead |")
        print("|---|--:|--:|--:|--:|")
        for op, size in envelope:
            row = figures[(op, size)]
            direct = row["morvane"]
            cells = [f"{(direct / row[way] - 1) * 100:+.1f}%" if way in row else "-"
                     for way in ("evp-oneshot", "evp-context")]
            print(f"| {op[4:]} | {size} | {direct / 1e6:.0f} | {cells[0]} | {cells[1]} |")
    if kdf:
        print()
        print("| key derivation | Morvane iterations/s | Nettle iterations/s | ratio |")
        print("|---|--:|--:|--:|")
        for op in kdf:
            row = figures[(op, None)]
            ours, nettle = row.get("morvane"), row.get("nettle")
            rtext = f"{ours / nettle:.2f}" if ours and nettle else "-"
            cells = [f"{row[lib]:.0f}" if lib in row else "-" for lib in ("morvane", "nettle")]
            print(f"| {op[4:]} | {cells[0]} | {cells[1]} | {rtext} |")
    if bignum:
        print()
        print("| big numbers | bits | Morvane ns | GMP ns | ratio |")
        print("|---|--:|--:|--:|--:|")
        for op, size in bignum:
            ns = {lib: ns_per_item(r) for lib, r in figures[(op, size)].items()}
            ours, gmp = ns.get("morvane"), ns.get("gmp")
            rtext = f"{gmp / ours:.2f}" if ours and gmp else "-"
            cells = [f"{ns[lib]:.0f}" if lib in ns else "-" for lib in BN_LIBS]
            print(f"| {op[3:]} | {size} | {cells[0]} | {cells[1]} | {rtext} |")
    if rsa:
        print_rsa(rsa)
    if not streams:
        return
    print()
    if slow:
        print("Below the fastest peer at the largest size: " + ", ".join(slow))
    else:
        print("At the largest size every operation is at least as fast as the fastest peer.")


def print_rsa(rsa):
    sizes = sorted({size for _, _, size in rsa})
    print()
    print("| RSA (us per operation) | " + " | ".join(f"{b} bits" for b in sizes) + " |")
    print("|---|" + "--:|" * len(sizes))
    rows = sorted({(op, way) for op, way, _ in rsa})
    for op, way in rows:
        cells = [f"{rsa[(op, way, b)]:.1f}" if (op, way, b) in rsa else "-" for b in sizes]
        print(f"| {op[4:]} ({way}) | " + " | ".join(cells) + " |")
    print()
    print("| share of a private decryption | " + " | ".join(f"{b} bits" for b in sizes) + " |")
    print("|---|" + "--:|" * len(sizes))
    shares = {"blinding": [], "check of the CRT result": [], "two half-size exponentiations": [],
              "the rest (reductions, recombination, padding, frames)": []}
    for b in sizes:
        full = rsa.get(("rsa-private-decrypt", "blinded", b))
        unblinded = rsa.get(("rsa-private-decrypt", "unblinded", b))
        unchecked = rsa.get(("rsa-private-decrypt", "unchecked", b))
        half = rsa.get(("rsa-exp-mod-p", "consttime", b))
        if None in (full, unblinded, unchecked, half):
            for v in shares.values():
                v.append("-")
            continue
        parts = [full - unblinded, unblinded - unchecked, 2 * half]
        parts.append(full - sum(parts))
        for name, part in zip(shares, parts):
            shares[name].append(f"{100 * part / full:.1f}%")
    for name, cells in shares.items():
        print(f"| {name} | " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
