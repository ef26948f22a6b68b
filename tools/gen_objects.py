#!/usr/bin/env python3
"""Builds the object database's constant tables from crypto/objects/objects.txt.

usage: gen_objects.py DATA_FILE OUTPUT_INC

The output is a C++ fragment that defines, for a record type ObjRecord that the
includer supplies (fields sn, ln, nid, length, data, flags, in that order):
  lvalues    the content octets of every entry, back to back, in NID order;
  nid_objs   one record per NID, the retired numbers all zero;
  sn_objs    the NIDs of the live entries by short name (byte order, then NID);
  ln_objs    the same by long name;
  obj_objs   the NIDs of the entries with content, shorter content first, then
             by the octets (unsigned), then by NID.
The data file is checked first and nothing is written when it is faulty: the
NIDs must run from 0 without a gap, names must be well formed and unique,
every OID must be valid dotted text, and shared names or contents must be
declared with a '!shared' line (see the data file's header).
"""

import os
import re
import sys

_ARC = re.compile(r"0|[1-9][0-9]*")
_SHORT_NAME = re.compile(r"[\x21-\x7e]+")
_LONG_NAME = re.compile(r"[\x21-\x7e]([\x20-\x7e]*[\x21-\x7e])?")


class DataError(Exception):
    """A fault in the data file, with the line it was found on."""

    def __init__(self, line, message):
        super().__init__(f"line {line}: {message}")


def parse_oid(text):
    """Dotted OID text to its list of arcs (X.660 rules).

    A single arc 0, 1 or 2 names a root; otherwise the first arc is 0, 1 or 2
    and, under 0 and 1, the second arc is below 40 (X.690, 8.19.4)."""
    parts = text.split(".")
    if not all(_ARC.fullmatch(p) for p in parts):
        raise ValueError(f"malformed OID {text!r}")
    arcs = [int(p) for p in parts]
    if arcs[0] > 2:
        raise ValueError(f"first arc of {text} is not 0, 1 or 2")
    if len(arcs) > 1 and arcs[0] < 2 and arcs[1] >= 40:
        raise ValueError(f"second arc of {text} is 40 or more under root {arcs[0]}")
    return arcs


def encode_oid(arcs):
    """Content octets of an OBJECT IDENTIFIER (X.690, 8.19).

    The first two arcs form one subidentifier 40 * first + second; a lone root
    arc r is stored as r.0.  Each subidentifier is written in base 128, most
    significant group first, with bit 8 set on all but its last octet."""
    subids = [40 * arcs[0] + (arcs[1] if len(arcs) > 1 else 0)] + arcs[2:]
    out = bytearray()
    for value in subids:
        groups = [value & 0x7F]
        value >>= 7
        while value:
            groups.append(0x80 | (value & 0x7F))
            value >>= 7
        out.extend(reversed(groups))
    return bytes(out)


def decode_oid(content):
    """Arcs of content octets, the inverse of encode_oid (a root reads as r.0)."""
    subids, value = [], 0
    for i, octet in enumerate(content):
        if value == 0 and octet == 0x80:
            raise ValueError("subidentifier with a leading 0x80 octet")
        value = (value << 7) | (octet & 0x7F)
        if not octet & 0x80:
            subids.append(value)
            value = 0
        elif i == len(content) - 1:
            raise ValueError("content ends inside a subidentifier")
    if not subids:
        raise ValueError("empty content")
    first = min(subids[0] // 40, 2)
    return [first, subids[0] - 40 * first] + subids[1:]


class Entry:
    def __init__(self, line, nid, sn, ln, oid, content):
        self.line, self.nid, self.sn, self.ln = line, nid, sn, ln
        self.oid, self.content = oid, content

    @property
    def live(self):
        return self.sn is not None


def parse(text):
    """Parses and checks the data file; returns (entries, shared keys)."""
    entries, shared = [], {}
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        if line.startswith("!"):
            words = line.split()
            if words[0] != "!shared" or len(words) != 2:
                raise DataError(number, f"unknown directive {line!r}")
            shared[words[1]] = number
            continue
        fields = [f.strip() for f in line.split("|")]
        if len(fields) != 5:
            raise DataError(number, f"{len(fields)} fields instead of 5")
        nid_text, sn, ln, oid, _source = fields
        if not _ARC.fullmatch(nid_text):
            raise DataError(number, f"bad NID {nid_text!r}")
        nid = int(nid_text)
        if nid != len(entries):
            raise DataError(number, f"NID {nid} where {len(entries)} was expected")
        if not sn and not ln and not oid:
            entries.append(Entry(number, nid, None, None, None, b""))
            continue
        if not _SHORT_NAME.fullmatch(sn):
            raise DataError(number, f"bad short name {sn!r}")
        if not _LONG_NAME.fullmatch(ln):
            raise DataError(number, f"bad long name {ln!r}")
        content = b""
        if oid:
            try:
                arcs = parse_oid(oid)
                content = encode_oid(arcs)
                if decode_oid(content) != (arcs if len(arcs) > 1 else arcs + [0]):
                    raise ValueError(f"{oid} does not survive its encoding")
            except ValueError as e:
                raise DataError(number, str(e)) from None
        entries.append(Entry(number, nid, sn, ln, oid, content))
    if not entries:
        raise DataError(0, "no entries")
    if not any(e.live for e in entries):
        raise DataError(0, "no live entry")
    if not any(e.content for e in entries):
        raise DataError(0, "no entry has content")
    return entries, shared


def check_unique(entries, shared):
    """Short names, long names and contents repeat only where declared."""
    used = set()
    for what, key in (("short name", lambda e: e.sn), ("long name", lambda e: e.ln),
                      ("content", lambda e: e.content.hex().upper() if e.content else None)):
        seen = {}
        for e in entries:
            k = key(e) if e.live else None
            if k is None:
                continue
            if k in seen and k not in shared:
                raise DataError(e.line, f"{what} {k} already used by NID {seen[k]}")
            if k in seen:
                used.add(k)
            seen.setdefault(k, e.nid)
    for k, number in shared.items():
        if k not in used:
            raise DataError(number, f"'!shared {k}' matches no repeated name or content")


def c_string(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def c_comment(s):
    return s.replace("*/", "* /")


def index_lines(nids, per_line=12):
    rows = [", ".join(str(n) for n in nids[i:i + per_line]) for i in range(0, len(nids), per_line)]
    return "\n".join("    " + r + "," for r in rows)


def render(entries, source_name):
    live = [e for e in entries if e.live]
    with_content = [e for e in live if e.content]
    sn_order = sorted(live, key=lambda e: (e.sn.encode(), e.nid))
    ln_order = sorted(live, key=lambda e: (e.ln.encode(), e.nid))
    obj_order = sorted(with_content, key=lambda e: (len(e.content), e.content, e.nid))
    total = sum(len(e.content) for e in entries)

    out = [f"// Generated by tools/gen_objects.py from {source_name}; do not edit.",
           "// The includer defines ObjRecord (sn, ln, nid, length, data, flags).",
           "",
           f"static constexpr int kNumNid = {len(entries)};",
           f"static constexpr int kNumSn = {len(live)};",
           f"static constexpr int kNumLn = {len(live)};",
           f"static constexpr int kNumObj = {len(with_content)};",
           "",
           f"static constexpr unsigned char lvalues[{total}] = {{"]
    offsets, offset = {}, 0
    for e in with_content:
        offsets[e.nid] = offset
        offset += len(e.content)
        octets = ",".join(f"0x{b:02X}" for b in e.content)
        out.append(f"    /* [{offsets[e.nid]:4}] {e.nid} {c_comment(e.sn)} {e.oid} */")
        out.append(f"    {octets},")
    out.append("};")
    out.append("")
    out.append("static constexpr ObjRecord nid_objs[kNumNid] = {")
    for e in entries:
        if not e.live:
            out.append(f"    {{nullptr, nullptr, 0, 0, nullptr, 0}},  // {e.nid}: retired")
        elif e.content:
            out.append(f"    {{{c_string(e.sn)}, {c_string(e.ln)}, {e.nid}, {len(e.content)}, "
                       f"&lvalues[{offsets[e.nid]}], 0}},")
        else:
            out.append(f"    {{{c_string(e.sn)}, {c_string(e.ln)}, {e.nid}, 0, nullptr, 0}},")
    out.append("};")
    for name, size, order in (("sn_objs", "kNumSn", sn_order), ("ln_objs", "kNumLn", ln_order),
                              ("obj_objs", "kNumObj", obj_order)):
        out.append("")
        out.append(f"static constexpr unsigned int {name}[{size}] = {{")
        out.append(index_lines([e.nid for e in order]))
        out.append("};")
    return "\n".join(out) + "\n"


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    data_path, out_path = argv[1], argv[2]
    try:
        with open(data_path, encoding="ascii") as f:
            text = f.read()
        entries, shared = parse(text)
        check_unique(entries, shared)
    except (DataError, UnicodeDecodeError) as e:
        sys.stderr.write(f"{data_path}: {e}\n")
        return 1
    os.makedirs(os.path.dirname(os.path.abspath(out_path)), exist_ok=True)
    tmp = out_path + ".tmp"
    with open(tmp, "w", encoding="ascii") as f:
        f.write(render(entries, os.path.basename(data_path)))
    os.replace(tmp, out_path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
