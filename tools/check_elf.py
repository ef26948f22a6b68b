#!/usr/bin/env python3
"""Checks that nothing of ours runs at load time and that the library needs
only the C and C++ runtime.

The initialiser and finaliser arrays must be no larger than those of an empty
library built with the same toolchain and flags (whose entries are the
toolchain's own), and there must be no .ctors/.dtors entries.
"""
import argparse
import re
import subprocess
import sys

ALLOWED_NEEDED = {"libc.so.6", "libm.so.6", "libstdc++.so.6", "libgcc_s.so.1"}
INIT_SECTIONS = (".init_array", ".preinit_array", ".ctors")


def sections(lib):
    out = subprocess.run(["readelf", "-W", "-S", lib], check=True,
                         capture_output=True, text=True).stdout
    sizes = {}
    for line in out.splitlines():
        m = re.match(r"\s*\[\s*\d+\]\s+(\S+)\s+\S+\s+[0-9a-f]+\s+[0-9a-f]+\s+([0-9a-f]+)", line)
        if m:
            sizes[m.group(1)] = int(m.group(2), 16)
    return sizes


def needed(lib):
    out = subprocess.run(["readelf", "-W", "-d", lib], check=True,
                         capture_output=True, text=True).stdout
    return set(re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", out))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--shared-object", dest="lib", required=True)
    ap.add_argument("--baseline", required=True)
    a = ap.parse_args()
    problems = []
    ours, base = sections(a.lib), sections(a.baseline)
    for s in INIT_SECTIONS:
        if ours.get(s, 0) > base.get(s, 0):
            problems.append("%s has %d bytes of entries (an empty library has %d): "
                            "something runs at load time" % (s, ours.get(s, 0), base.get(s, 0)))
    extra = needed(a.lib) - ALLOWED_NEEDED
    if extra:
        problems.append("needs unexpected shared objects: %s" % ", ".join(sorted(extra)))
    if problems:
        print("\n".join(problems))
        return 1
    print("no load-time code; needs only %s" % ", ".join(sorted(needed(a.lib))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
