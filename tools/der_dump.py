#!/usr/bin/env python3
"""A small generic DER dumper (ITU-T X.690, 8.1 to 8.23), written with plain
Python only, for laying out expected printed forms by hand.

  python3 tools/der_dump.py FILE [--hex-cols N] [--colon]

prints one line per TLV: its offset, header and content lengths, class and
tag, and for primitives a reading of the content: dotted object identifiers,
decimal integers (with their content octets), text of the string types and
times, the unused-bit count of BIT STRINGs.  Constructed values, and BIT and
OCTET STRINGs whose content is itself a DER TLV, are walked into.  Content
octets (for a BIT STRING, those after the unused-bits octet) are shown as
lower-case hex, N octets (default 16) per line, separated by blanks or, with
--colon, as one run joined by ":" across the line ends.
"""

import argparse
import sys

UNIVERSAL = {
    1: "BOOLEAN", 2: "INTEGER", 3: "BIT STRING", 4: "OCTET STRING", 5: "NULL",
    6: "OBJECT IDENTIFIER", 10: "ENUMERATED", 12: "UTF8String", 16: "SEQUENCE",
    17: "SET", 19: "PrintableString", 20: "T61String", 22: "IA5String",
    23: "UTCTime", 24: "GeneralizedTime", 26: "VisibleString", 28: "UniversalString",
    30: "BMPString",
}
TEXT_TAGS = {12, 19, 20, 22, 23, 24, 26}
CLASSES = ["UNIV", "APPL", "CTX", "PRIV"]


def read_tlv(buf, pos, end):
    """(class, constructed, tag, header length, content length) at pos."""
    start = pos
    if pos >= end:
        raise ValueError("truncated identifier at %d" % pos)
    b = buf[pos]
    pos += 1
    cls, cons, tag = b >> 6, bool(b & 0x20), b & 0x1F
    if tag == 0x1F:
        tag = 0
        while True:
            if pos >= end:
                raise ValueError("truncated tag at %d" % start)
            b = buf[pos]
            pos += 1
            tag = (tag << 7) | (b & 0x7F)
            if not b & 0x80:
                break
    if pos >= end:
        raise ValueError("truncated length at %d" % start)
    b = buf[pos]
    pos += 1
    if b < 0x80:
        length = b
    elif b == 0x80:
        raise ValueError("indefinite length at %d (not DER)" % start)
    else:
        n = b & 0x7F
        if pos + n > end:
            raise ValueError("truncated length at %d" % start)
        length = int.from_bytes(buf[pos:pos + n], "big")
        pos += n
    if pos + length > end:
        raise ValueError("content past the end at %d" % start)
    return cls, cons, tag, pos - start, length


def oid_text(content):
    arcs, value = [], 0
    for b in content:
        value = (value << 7) | (b & 0x7F)
        if not b & 0x80:
            arcs.append(value)
            value = 0
    if not arcs:
        return "<empty>"
    first = arcs[0]
    head = [min(first // 40, 2), first - 40 * min(first // 40, 2)]
    return ".".join(str(a) for a in head + arcs[1:])


COLON = False


def hex_lines(content, cols, indent):
    out = []
    sep = ":" if COLON else " "
    for i in range(0, len(content), cols):
        line = sep.join("%02x" % b for b in content[i:i + cols])
        if COLON and i + cols < len(content):
            line += ":"
        out.append(" " * indent + line)
    return out


def is_tlv_sequence(buf):
    """True when buf is exactly one or more whole TLVs."""
    pos = 0
    try:
        while pos < len(buf):
            _, _, _, h, n = read_tlv(buf, pos, len(buf))
            pos += h + n
    except ValueError:
        return False
    return len(buf) > 0 and pos == len(buf)


def dump(buf, pos, end, depth, cols, lines):
    while pos < end:
        cls, cons, tag, hl, length = read_tlv(buf, pos, end)
        c0 = pos + hl
        content = buf[c0:c0 + length]
        name = UNIVERSAL.get(tag, "tag %d" % tag) if cls == 0 else "[%d]" % tag
        if cls not in (0, 2):
            name = "%s %d" % (CLASSES[cls], tag)
        pad = "  " * depth
        head = "%5d: hl=%d l=%4d %s%s%s" % (pos, hl, length, pad, "cons " if cons else "", name)
        note = ""
        if not cons and cls == 0:
            if tag == 6:
                note = " " + oid_text(content)
            elif tag in (2, 10):
                v = int.from_bytes(content, "big", signed=True) if content else 0
                note = " %d (0x%x)" % (v, v)
            elif tag in TEXT_TAGS:
                note = " '%s'" % content.decode("latin-1")
            elif tag == 1:
                note = " %s" % ("TRUE" if content and content[0] else "FALSE")
            elif tag == 3 and content:
                note = " unused bits %d" % content[0]
        lines.append(head + note)
        if cons:
            dump(buf, c0, c0 + length, depth + 1, cols, lines)
        elif cls == 0 and tag == 3 and content and content[0] == 0 and is_tlv_sequence(content[1:]):
            lines.extend(hex_lines(content[1:], cols, 8 + 2 * depth))
            dump(buf, c0 + 1, c0 + length, depth + 1, cols, lines)
        elif cls == 0 and tag == 4 and is_tlv_sequence(content):
            lines.extend(hex_lines(content, cols, 8 + 2 * depth))
            dump(buf, c0, c0 + length, depth + 1, cols, lines)
        elif cls == 0 and tag == 3:
            lines.extend(hex_lines(content[1:], cols, 8 + 2 * depth))
        elif length and not (cls == 0 and tag in TEXT_TAGS | {6, 1}):
            lines.extend(hex_lines(content, cols, 8 + 2 * depth))
        pos = c0 + length


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("file")
    ap.add_argument("--hex-cols", type=int, default=16)
    ap.add_argument("--colon", action="store_true")
    args = ap.parse_args()
    global COLON
    COLON = args.colon
    with open(args.file, "rb") as f:
        buf = f.read()
    lines = []
    try:
        dump(buf, 0, len(buf), 0, args.hex_cols, lines)
    except ValueError as e:
        print("\n".join(lines))
        print("error: %s" % e, file=sys.stderr)
        return 1
    print("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
