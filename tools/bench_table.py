#!/usr/bin/env python3
"""Turns the JSON output of the benchmark program into Markdown tables.

Every benchmark the program ran gets a row, whatever its name:

- "<op>/<library>/<bytes>" (a library of LIBS): throughput in MB/s for each
  library (and Morvane's cycles per byte at the measured core clock), with
  the ratio of Morvane's throughput to the fastest peer's (above 1.0:
  Morvane is faster);
- "<op>/<library>" (a library of LIBS or PEERS_EXTRA, or "morvane-wnaf",
  Morvane's windowed path): time per operation for each library and the
  ratio of the fastest peer's time to Morvane's;
- "kdf-<op>/<library>": iterations per second and the ratio of Morvane's
  rate to Nettle's;
- "evp-<op>/<way>/<bytes>": the envelope's overhead over the direct calls;
- "bn-<op>/<library>/<bits>": nanoseconds per operation and the ratio of
  GMP's time to Morvane's;
- "rsa-<op>/<way>/<bits>": microseconds per operation, the ratio to the
  fastest peer for signing and verification, and the share of the blinding,
  of the check of the CRT result and of the two half-size exponentiations in
  a private operation;
- anything else: its time per operation, its rate and its counters.

Google Benchmark's own suffixes ("iterations:10", "min_time:2.000") are left
out of the names.  With repetitions, each figure is the best of them: on a
machine shared with other work the best run is the one least disturbed, and
every library is treated alike.

Usage: bench_table.py results.json
"""
import json
import re
import sys

LIBS = ("morvane", "nettle", "libgcrypt")
PEERS_EXTRA = ("cryptopp",)
NAMES = {"morvane": "Morvane", "nettle": "Nettle", "libgcrypt": "libgcrypt", "cryptopp": "Crypto++",
         "gmp": "GMP"}
SUFFIX = re.compile(r"^(iterations|min_time|min_warmup_time|repeats|threads|real_time|manual_time|"
                    r"process_time)(:.*)?$")
TIME_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
# Fields of a run that are not user counters.
RUN_FIELDS = {"name", "family_index", "per_family_instance_index", "run_name", "run_type", "repetitions",
              "repetition_index", "threads", "iterations", "real_time", "cpu_time", "time_unit",
              "bytes_per_second", "items_per_second", "label", "error_occurred", "error_message",
              "aggregate_name", "aggregate_unit"}


def size_of(text):
    return int(text) if text.isdigit() else None


class Run:
    """The best of the repetitions of one benchmark."""

    def __init__(self, record):
        self.ns = record["cpu_time"] * TIME_NS.get(record.get("time_unit", "ns"), 1.0)
        self.bytes = record.get("bytes_per_second") or None
        self.items = record.get("items_per_second") or None
        self.counters = {k: v for k, v in record.items() if k not in RUN_FIELDS
                         and isinstance(v, (int, float))}

    def better(self, other):
        return self.ns < other.ns

    def ns_per_item(self):
        """Time of one operation: per item where the benchmark counts items."""
        return 1e9 / self.items if self.items else self.ns


def load(path):
    with open(path) as f:
        text = f.read()
    # Google Benchmark leaves the file empty when the filter matches nothing.
    data = json.loads(text) if text.strip() else {}
    runs = {}
    order = []
    for r in data.get("benchmarks", []):
        if r.get("run_type") == "aggregate" or r.get("error_occurred"):
            continue
        parts = tuple(p for p in r.get("run_name", r["name"]).split("/") if not SUFFIX.match(p))
        run = Run(r)
        if parts not in runs:
            runs[parts] = run
            order.append(parts)
        elif run.better(runs[parts]):
            runs[parts] = run
    return data.get("context", {}), runs, order


def ratio_text(r):
    return f"{r:.2f}" if r is not None else "-"


def time_text(ns):
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e4:
        return f"{ns / 1e3:.1f} us"
    return f"{ns:.1f} ns"


class Tables:
    def __init__(self, runs, order):
        self.runs = runs
        self.streams = {}    # (op, bytes) -> {lib: Run}
        self.ops = {}        # op -> {lib: Run}
        self.kdf = {}        # op -> {lib: Run}
        self.envelope = {}   # (op, bytes) -> {way: Run}
        self.bignum = {}     # (op, bits) -> {lib: Run}
        self.rsa = {}        # (op, way, bits) -> Run
        self.other = []      # name parts
        self.clock = None
        for parts in order:
            self.place(parts, runs[parts])

    def place(self, parts, run):
        op = parts[0]
        second = parts[1] if len(parts) > 1 else None
        size = size_of(parts[2]) if len(parts) == 3 else None
        if parts == ("clock", "calibrate"):
            self.clock = run.items
        elif op.startswith("rsa-") and size is not None:
            self.rsa[(op, second, size)] = run
        elif op.startswith("bn-") and size is not None:
            self.bignum.setdefault((op, size), {})[second] = run
        elif op.startswith("evp-") and size is not None:
            self.envelope.setdefault((op, size), {})[second] = run
        elif op.startswith("kdf-") and len(parts) == 2:
            self.kdf.setdefault(op, {})[second] = run
        elif second in LIBS and size is not None and (run.bytes or run.items):
            self.streams.setdefault((op, size), {})[second] = run
        elif len(parts) == 2 and second in LIBS + PEERS_EXTRA:
            self.ops.setdefault(op, {})[second] = run
        elif len(parts) == 2 and second == "morvane-wnaf":
            self.ops.setdefault(op + " (windowed)", {})["morvane"] = run
        else:
            self.other.append(parts)


def print_streams(t, slow):
    if not t.streams:
        return
    hz = t.clock
    print()
    print("| operation | bytes | Morvane MB/s | Morvane c/B | Nettle MB/s | libgcrypt MB/s | ratio |")
    print("|---|--:|--:|--:|--:|--:|--:|")
    largest = {}
    for op, size in t.streams:
        largest[op] = max(largest.get(op, 0), size)
    for op, size in sorted(t.streams):
        row = t.streams[(op, size)]
        mbs = {lib: (run.bytes or run.items) / 1e6 for lib, run in row.items()}
        ours = mbs.get("morvane")
        peers = [mbs[lib] for lib in LIBS[1:] if lib in mbs]
        ratio = ours / max(peers) if ours and peers else None
        if ratio is not None and round(ratio, 2) < 1.0 and size == largest[op]:
            slow.append(f"{op} ({ratio:.2f})")
        cells = [f"{mbs[lib]:.0f}" if lib in mbs else "-" for lib in LIBS]
        cpb = f"{hz / (ours * 1e6):.2f}" if hz and ours else "-"
        print(f"| {op} | {size} | {cells[0]} | {cpb} | {cells[1]} | {cells[2]} | {ratio_text(ratio)} |")


def print_ops(t, slow):
    if not t.ops:
        return
    libs = [lib for lib in LIBS + PEERS_EXTRA if any(lib in row for row in t.ops.values())]
    print()
    print("| operation | " + " | ".join(NAMES[lib] for lib in libs) + " | ratio |")
    print("|---|" + "--:|" * (len(libs) + 1))
    for op in sorted(t.ops):
        row = t.ops[op]
        ns = {lib: run.ns_per_item() for lib, run in row.items()}
        ours = ns.get("morvane")
        peers = [ns[lib] for lib in libs if lib != "morvane" and lib in ns]
        ratio = min(peers) / ours if ours and peers else None
        if ratio is not None and round(ratio, 2) < 1.0 and not op.endswith("(windowed)"):
            slow.append(f"{op} ({ratio:.2f})")
        cells = [time_text(ns[lib]) if lib in ns else "-" for lib in libs]
        print(f"| {op} | " + " | ".join(cells) + f" | {ratio_text(ratio)} |")


def print_kdf(t):
    if not t.kdf:
        return
    print()
    print("| key derivation | Morvane iterations/s | Nettle iterations/s | ratio |")
    print("|---|--:|--:|--:|")
    for op in sorted(t.kdf):
        rate = {lib: run.items for lib, run in t.kdf[op].items() if run.items}
        ours, nettle = rate.get("morvane"), rate.get("nettle")
        cells = [f"{rate[lib]:.0f}" if lib in rate else "-" for lib in ("morvane", "nettle")]
        ratio = ours / nettle if ours and nettle else None
        print(f"| {op[4:]} | {cells[0]} | {cells[1]} | {ratio_text(ratio)} |")


def print_envelope(t):
    # Extra time the envelope takes over the direct functions ("morvane"),
    # or a filter stream over the envelope's update calls.
    if not t.envelope:
        return
    ways = ("evp-oneshot", "evp-context", "evp-update", "filter")
    print()
    print("| envelope | bytes | direct MB/s | EVP_Digest overhead | kept context overhead "
          "| EVP update overhead | filter overhead |")
    print("|---|--:|--:|--:|--:|--:|--:|")
    for op, size in sorted(t.envelope):
        row = {way: run.bytes or run.items for way, run in t.envelope[(op, size)].items()}
        cells = []
        for way in ways:
            ref = row.get("evp-update") if way == "filter" else row.get("morvane")
            cells.append(f"{(ref / row[way] - 1) * 100:+.1f}%" if ref and row.get(way) else "-")
        direct = f"{row['morvane'] / 1e6:.0f}" if row.get("morvane") else "-"
        print(f"| {op[4:]} | {size} | {direct} | " + " | ".join(cells) + " |")


def print_bignum(t):
    if not t.bignum:
        return
    print()
    print("| big numbers | bits | Morvane ns | GMP ns | ratio |")
    print("|---|--:|--:|--:|--:|")
    for op, size in sorted(t.bignum):
        ns = {lib: run.ns_per_item() for lib, run in t.bignum[(op, size)].items()}
        ours, gmp = ns.get("morvane"), ns.get("gmp")
        ratio = gmp / ours if ours and gmp else None
        cells = [f"{ns[lib]:.0f}" if lib in ns else "-" for lib in ("morvane", "gmp")]
        print(f"| {op[3:]} | {size} | {cells[0]} | {cells[1]} | {ratio_text(ratio)} |")


def print_rsa(t):
    if not t.rsa:
        return
    us = {key: run.ns_per_item() / 1e3 for key, run in t.rsa.items()}
    sizes = sorted({size for _, _, size in us})
    head = " | ".join(f"{b} bits" for b in sizes)
    print()
    print(f"| RSA (us per operation) | {head} |")
    print("|---|" + "--:|" * len(sizes))
    for op, way in sorted({(op, way) for op, way, _ in us}):
        cells = [f"{us[(op, way, b)]:.1f}" if (op, way, b) in us else "-" for b in sizes]
        print(f"| {op[4:]} ({way}) | " + " | ".join(cells) + " |")
    # Fastest peer's time over Morvane's for the operations timed in each library.
    for op in sorted({op for op, way, _ in us if way in LIBS[1:]}):
        cells = []
        for b in sizes:
            ours = us.get((op, "morvane", b))
            peers = [us[(op, lib, b)] for lib in LIBS[1:] if (op, lib, b) in us]
            cells.append(ratio_text(min(peers) / ours if ours and peers else None))
        print(f"| {op[4:]}: fastest peer / Morvane | " + " | ".join(cells) + " |")
    if not any(k[0] == "rsa-private-decrypt" for k in us):
        return
    print()
    print(f"| share of a private decryption | {head} |")
    print("|---|" + "--:|" * len(sizes))
    shares = {"blinding": [], "check of the CRT result": [], "two half-size exponentiations": [],
              "the rest (reductions, recombination, padding, frames)": []}
    for b in sizes:
        full = us.get(("rsa-private-decrypt", "blinded", b))
        unblinded = us.get(("rsa-private-decrypt", "unblinded", b))
        unchecked = us.get(("rsa-private-decrypt", "unchecked", b))
        half = us.get(("rsa-exp-mod-p", "consttime", b))
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


def print_other(t):
    if not t.other:
        return
    print()
    print("| benchmark | time per operation | rate | counters |")
    print("|---|--:|--:|---|")
    for parts in t.other:
        run = t.runs[parts]
        if run.bytes:
            rate = f"{run.bytes / 1e6:.0f} MB/s"
        elif run.items:
            rate = f"{run.items:.0f}/s"
        else:
            rate = "-"
        counters = ", ".join(f"{k} {v:.4g}" for k, v in sorted(run.counters.items()))
        print(f"| {'/'.join(parts)} | {time_text(run.ns)} | {rate} | {counters or '-'} |")


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: bench_table.py results.json")
    context, runs, order = load(sys.argv[1])
    t = Tables(runs, order)
    print(f"{context.get('morvane', 'Morvane')} (hardware paths: {context.get('morvane_hwcrypt', '?')}), "
          f"Nettle {context.get('nettle', '?')}, libgcrypt {context.get('libgcrypt', '?')}")
    if not runs:
        print("No benchmark ran (check MORVANE_BENCH_FILTER).")
        return
    if t.clock:
        print(f"Core clock measured by a chain of dependent additions: {t.clock / 1e9:.2f} GHz")
    slow = []
    print_streams(t, slow)
    print_ops(t, slow)
    print_envelope(t)
    print_kdf(t)
    print_bignum(t)
    print_rsa(t)
    print_other(t)
    if t.streams or t.ops:
        print()
        if slow:
            print("Below the fastest peer (at the largest size): " + ", ".join(slow))
        else:
            print("Every operation timed against a peer is at least as fast as the fastest peer.")


if __name__ == "__main__":
    main()
