#!/usr/bin/env python3
"""Checks that the library exports exactly its declared API.

Three sets must agree:
  - the names declared with MORVANE_EXPORT in include/morvane/*.h (read after
    preprocessing, so declarations made by macros count);
  - the checked-in lists crypto/**/exports*.txt (one sorted name per line);
  - the dynamic symbols the shared library defines.
No C++-mangled name may be exported.
"""
import argparse
import glob
import os
import re
import subprocess
import sys
import tempfile

ATTR = '__attribute__((visibility("default")))'
# Symbols the toolchain puts in every shared object.
TOOLCHAIN = {"_init", "_fini", "__bss_start", "_edata", "_end"}


def declared(cc, include_dir):
    headers = sorted(glob.glob(os.path.join(include_dir, "morvane", "*.h")))
    with tempfile.NamedTemporaryFile("w", suffix=".c", delete=False) as f:
        for h in headers:
            f.write("#include <morvane/%s>\n" % os.path.basename(h))
        src = f.name
    try:
        out = subprocess.run([cc, "-E", "-std=c11", "-I", include_dir, src],
                             check=True, capture_output=True, text=True).stdout
    finally:
        os.unlink(src)
    # Keep only text that came from our headers.
    keep, text = False, []
    for line in out.splitlines():
        m = re.match(r'#\s*\d+\s+"([^"]*)"', line)
        if m:
            keep = "/morvane/" in m.group(1)
            continue
        if keep:
            text.append(line)
    text = " ".join(text)
    names = set()
    for chunk in text.split(ATTR)[1:]:
        decl = chunk.split(";", 1)[0]
        decl = re.sub(r"\s+", " ", decl).strip()
        m = re.match(r"[^(]*\(\s*\*\s*(\w+)\s*\(", decl)  # returns a function pointer
        if m:
            names.add(m.group(1))
            continue
        if "(" in decl:
            m = re.search(r"(\w+)\s*\($", decl.split("(", 1)[0] + "(")
            if m:
                names.add(m.group(1))
                continue
        m = re.search(r"(\w+)\s*(\[[^\]]*\]\s*)*$", decl)
        if m:
            names.add(m.group(1))
        else:
            print("cannot parse declaration: %s" % decl)
            sys.exit(2)
    return names


def listed(crypto_dir):
    names, problems = set(), []
    for path in sorted(glob.glob(os.path.join(crypto_dir, "**", "exports*.txt"), recursive=True)):
        lines = [l.strip() for l in open(path) if l.strip() and not l.startswith("#")]
        if lines != sorted(lines):
            problems.append("%s is not sorted (LC_ALL=C sort)" % path)
        for l in lines:
            if l in names:
                problems.append("%s listed twice (%s)" % (l, path))
            names.add(l)
    return names, problems


def exported(lib):
    out = subprocess.run(["nm", "-D", "--defined-only", lib], check=True,
                         capture_output=True, text=True).stdout
    names = set()
    for line in out.splitlines():
        parts = line.split()
        if len(parts) >= 3:
            names.add(parts[2].split("@")[0])
    return names - TOOLCHAIN


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cc", required=True)
    ap.add_argument("--include", required=True)
    ap.add_argument("--sources", required=True)
    ap.add_argument("--shared-object", dest="lib", required=True)
    a = ap.parse_args()

    decl = declared(a.cc, a.include)
    lst, problems = listed(a.sources)
    exp = exported(a.lib)

    def report(title, names):
        if names:
            problems.append("%s:\n    %s" % (title, "\n    ".join(sorted(names))))

    report("exported by the library but not declared in a public header", exp - decl)
    report("declared in a public header but not defined by the library", decl - exp)
    report("listed in an exports.txt but not exported", lst - exp)
    report("exported but missing from every exports.txt", exp - lst)
    report("C++ symbols exported", {n for n in exp if n.startswith("_Z")})
    if problems:
        print("\n".join(problems))
        return 1
    print("%d exported symbols match the headers and the lists" % len(exp))
    return 0


if __name__ == "__main__":
    sys.exit(main())
