#!/usr/bin/env python3
"""Checks that the length sweep (test/sweep/) calls every exported function
that takes an int length or count, and every long length of the ASN.1 codec.

A parameter counts when its type is a plain (signed) `int` and its name says
it sizes or counts something: len, length, num, size, bits, bytes, words,
count, n, or a name ending in one of them (inl, max_len, keylen, ...).  Each
such function must have an entry `{"Name",` in a source of test/sweep/, or
be listed in EXEMPT below with the reason it is not swept.

A `long` parameter with such a name counts in the functions of the ASN.1
codec (LONG_FAMILY: the DER decoders, the header and dump readers, the
string limits), except the decoders generated from the item registry
(crypto/asn1/exports_items.txt), which are ASN1_item_d2i, swept itself.
Each such parameter must have an entry `{"Name:param",` (the sweep's long
table).

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

# The functions whose long lengths are swept.
LONG_FAMILY = re.compile(r'^(ASN1_|asn1_|a2d_|c2i_|d2i_|o2i_)')

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


def generated_decoders(root):
    """The one-line decoders that the item registry generates."""
    path = os.path.join(root, 'crypto', 'asn1', 'exports_items.txt')
    return {line.strip() for line in open(path) if line.startswith('d2i_')}


def length_functions(root, kind='int'):
    """{function: [parameter, ...]} for the int lengths, or (kind 'long') the
    long lengths of LONG_FAMILY outside the generated decoders."""
    skip = generated_decoders(root) if kind == 'long' else set()
    found = {}
    for h in sorted(glob.glob(os.path.join(root, 'include', 'morvane', '*.h'))):
        text = re.sub(r'/\*.*?\*/', ' ', open(h).read(), flags=re.S)
        text = re.sub(r'//[^\n]*', ' ', text)
        text = re.sub(r'^\s*#[^\n]*', ' ', text, flags=re.M)
        for m in re.finditer(r'MORVANE_EXPORT\s+([^;{}]*?)\b(\w+)\s*\(((?:[^()]|\([^()]*\))*)\)\s*;',
                             text, re.S):
            func, plist = m.group(2), m.group(3)
            if '(' in m.group(1) or func in skip:
                continue
            if kind == 'long' and not LONG_FAMILY.match(func):
                continue
            for p in params(plist):
                if '(' in p or '*' in p:
                    continue
                words = p.replace('const', ' ').split()
                if len(words) != 2 or words[0] != kind:
                    continue
                if NAME.match(words[1]) and (func, words[1]) not in NOT_LENGTHS:
                    found.setdefault(func, []).append(words[1])
    return found


def swept(root, pattern=r'\{\s*"(\w+)"\s*,'):
    names = set()
    for src in glob.glob(os.path.join(root, 'test', 'sweep', '*.cc')):
        names.update(re.findall(pattern, open(src).read()))
    return names


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--root', required=True)
    ap.add_argument('--list', action='store_true')
    args = ap.parse_args()
    found = length_functions(args.root)
    longs = length_functions(args.root, 'long')
    if args.list:
        for f in sorted(found):
            print(f, ', '.join(found[f]))
        for f in sorted(longs):
            print(f, ', '.join('long ' + p for p in longs[f]))
        return 0
    have = swept(args.root)
    missing = sorted(f for f in found if f not in have and f not in EXEMPT)
    for f in missing:
        print('not swept: %s (%s)' % (f, ', '.join(found[f])))
    have_long = swept(args.root, r'\{\s*"(\w+:\w+)"\s*,')
    missing_long = sorted('%s:%s' % (f, p) for f in longs for p in longs[f]
                          if '%s:%s' % (f, p) not in have_long)
    for f in missing_long:
        print('long length not swept: %s' % f)
    stale = sorted(f for f in EXEMPT if f not in found)
    for f in stale:
        print('exempt but no longer a length function: %s' % f)
    return 1 if missing or missing_long or stale else 0


if __name__ == '__main__':
    sys.exit(main())
