#!/usr/bin/env python3
"""Checks that the length sweep (test/sweep/) calls every exported function
that takes an int length or count.

A parameter counts when its type is a plain (signed) `int` and its name says
it sizes or counts something: len, length, num, size, bits, bytes, words,
count, n, or a name ending in one of them (inl, max_len, keylen, ...).  Each
such function must have an entry `{"Name",` in a source of test/sweep/, or
be listed in EXEMPT below with the reason it is not swept.

  check_length_sweep.py --root DIR           check (exit 1 on a gap)
  check_length_sweep.py --root DIR --list    print the functions found
"""
import argparse
import glob
import os
import re
import sys

NAME = re.compile(r'^(n|num|len|inl|datal|.*(len|length|size|bits|bytes|words|count|num|max))$', re.I)

# Parameters that match the pattern but are no length or count.
NOT_LENGTHS = {
    ('ASN1_TYPE_set_int_octetstring', 'num'),  # the INTEGER's value (a long)
    ('EVP_BytesToKey', 'count'),  # digest passes, a work factor: INT_MAX is INT_MAX digests
}

# Functions not swept, and why.
EXEMPT = {
    'ERR_add_error_data': 'num counts the variadic arguments that follow: '
                          'no call can pass INT_MAX of them',
}


def params(decl):
    """The parameters of one prototype, split at top-level commas."""
    out, depth, cur = [], 0, ''
    for ch in decl:
        if ch == '(':
            depth += 1
        elif ch == ')':
            depth -= 1
        if ch == ',' and depth == 0:
            out.append(cur.strip())
            cur = ''
        else:
            cur += ch
    if cur.strip():
        out.append(cur.strip())
    return out


def length_functions(root):
    found = {}
    for h in sorted(glob.glob(os.path.join(root, 'include', 'morvane', '*.h'))):
        text = re.sub(r'/\*.*?\*/', ' ', open(h).read(), flags=re.S)
        text = re.sub(r'//[^\n]*', ' ', text)
        text = re.sub(r'^\s*#[^\n]*', ' ', text, flags=re.M)
        for m in re.finditer(r'MORVANE_EXPORT\s+([^;{}]*?)\b(\w+)\s*\(((?:[^()]|\([^()]*\))*)\)\s*;',
                             text, re.S):
            func, plist = m.group(2), m.group(3)
            if '(' in m.group(1):
                continue
            for p in params(plist):
                if '(' in p or '*' in p:
                    continue
                words = p.replace('const', ' ').split()
                if len(words) != 2 or words[0] != 'int':
                    continue
                if NAME.match(words[1]) and (func, words[1]) not in NOT_LENGTHS:
                    found.setdefault(func, []).append(words[1])
    return found


def swept(root):
    names = set()
    for src in glob.glob(os.path.join(root, 'test', 'sweep', '*.cc')):
        names.update(re.findall(r'\{\s*"(\w+)"\s*,', open(src).read()))
    return names


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--root', required=True)
    ap.add_argument('--list', action='store_true')
    args = ap.parse_args()
    found = length_functions(args.root)
    if args.list:
        for f in sorted(found):
            print(f, ', '.join(found[f]))
        return 0
    have = swept(args.root)
    missing = sorted(f for f in found if f not in have and f not in EXEMPT)
    for f in missing:
        print('not swept: %s (%s)' % (f, ', '.join(found[f])))
    stale = sorted(f for f in EXEMPT if f not in found)
    for f in stale:
        print('exempt but no longer a length function: %s' % f)
    return 1 if missing or stale else 0


if __name__ == '__main__':
    sys.exit(main())
