#!/usr/bin/env python3
"""Checks of tools/gen_objects.py: the OID rules and encodings, and that a
faulty data file stops the generator without writing anything.

usage: gen_objects_test.py TOOLS_DIR DATA_FILE
"""

import io
import os
import sys
import tempfile
import unittest
from contextlib import redirect_stderr

TOOLS_DIR, DATA_FILE = sys.argv[1], sys.argv[2]
sys.path.insert(0, TOOLS_DIR)
import gen_objects  # noqa: E402


def der(text):
    return gen_objects.encode_oid(gen_objects.parse_oid(text))


class OidRules(unittest.TestCase):
    def test_published_encodings(self):
        # X.690, 8.19 and its examples; arcs beyond 32 bits stay exact.
        self.assertEqual(der("1.2.840.113549"), bytes.fromhex("2A864886F70D"))
        self.assertEqual(der("2.999"), bytes.fromhex("8837"))
        self.assertEqual(der("1.2.4294967296"), bytes.fromhex("2A9080808000"))
        self.assertEqual(der("2.4294967295"), der("2.4294967295"))
        self.assertEqual(gen_objects.decode_oid(der("2.4294967295")), [2, 4294967295])
        self.assertEqual(der("2.40"), bytes.fromhex("78"))
        self.assertEqual(der("1.3.6.1.4.1.311.2.1.14"), bytes.fromhex("2B0601040182370201 0E".replace(" ", "")))

    def test_roots_read_as_r_0(self):
        self.assertEqual(der("0"), b"\x00")
        self.assertEqual(der("1"), b"\x28")
        self.assertEqual(der("2"), b"\x50")

    def test_round_trip(self):
        for text in ("0.0", "1.3", "2.23.42.8.6011", "0.9.2342.19200300.100.1.25", "2.16.840.1.101.3.4.2.1"):
            arcs = gen_objects.parse_oid(text)
            self.assertEqual(gen_objects.decode_oid(gen_objects.encode_oid(arcs)), arcs)

    def test_rejected_text(self):
        for text in ("3.1", "1.40", "0.40", "1..2", "1.02", ".1", "1.", "a.b", "", "1.2.-3", "1 2"):
            with self.assertRaises(ValueError, msg=text):
                gen_objects.parse_oid(text)

    def test_rejected_content(self):
        for content in (b"\x80\x01", b"\x2a\x80\x01", b"\x2a\x86", b""):
            with self.assertRaises(ValueError, msg=content.hex()):
                gen_objects.decode_oid(content)


GOOD = """# a small table
!shared NULL
0 | UNDEF | undefined | 0.0 | test
1 | | | | retired
2 | NULL | NULL | 1.2.3 | test
3 | NULL | NULL | 1.2.4 | test
4 | DES-EDE3 | des-ede3 | | test
"""


class DataFiles(unittest.TestCase):
    def run_generator(self, text):
        with tempfile.TemporaryDirectory() as tmp:
            data = os.path.join(tmp, "objects.txt")
            out = os.path.join(tmp, "gen", "obj_dat.inc")
            with open(data, "w", encoding="ascii") as f:
                f.write(text)
            err = io.StringIO()
            with redirect_stderr(err):
                rc = gen_objects.main(["gen_objects.py", data, out])
            written = None
            if os.path.exists(out):
                with open(out, encoding="ascii") as f:
                    written = f.read()
        return rc, err.getvalue(), written

    def assert_rejected(self, text, message):
        rc, err, written = self.run_generator(text)
        self.assertEqual(rc, 1, err)
        self.assertIn(message, err)
        self.assertIsNone(written)

    def test_good_file(self):
        rc, err, written = self.run_generator(GOOD)
        self.assertEqual(rc, 0, err)
        self.assertIn("static constexpr unsigned char lvalues[5] = {", written)
        self.assertIn("{nullptr, nullptr, 0, 0, nullptr, 0},  // 1: retired", written)
        self.assertIn('{"DES-EDE3", "des-ede3", 4, 0, nullptr, 0},', written)
        self.assertIn("static constexpr unsigned int sn_objs[kNumSn] = {\n    4, 2, 3, 0,\n};", written)
        self.assertIn("static constexpr unsigned int obj_objs[kNumObj] = {\n    0, 2, 3,\n};", written)

    def test_the_library_table(self):
        with open(DATA_FILE, encoding="ascii") as f:
            rc, err, written = self.run_generator(f.read())
        self.assertEqual(rc, 0, err)
        self.assertIn("lvalues[5824]", written)

    def test_faults(self):
        base = GOOD.replace("!shared NULL\n", "")
        cases = [
            (GOOD.replace("1 | | | | retired", "5 | | | | retired"), "NID 5 where 1 was expected"),
            (GOOD + "5 | X | x | 1.2.5\n", "4 fields instead of 5"),
            (GOOD + "5 | A B | x | 1.2.5 | t\n", "bad short name"),
            (GOOD + "5 | | x | | t\n", "bad short name"),
            (GOOD + "5 | AB | x\ty | | t\n", "bad long name"),
            (GOOD + "5 | AB | ab | 1.40.1 | t\n", "second arc"),
            (GOOD + "5 | AB | ab | 3.1 | t\n", "first arc"),
            (GOOD + "5 | AB | ab | 1.2.05 | t\n", "malformed OID"),
            (GOOD + "5 | UNDEF | ab | 1.2.5 | t\n", "short name UNDEF already used by NID 0"),
            (GOOD + "5 | AB | des-ede3 | 1.2.5 | t\n", "long name des-ede3 already used by NID 4"),
            (GOOD + "5 | AB | ab | 1.2.4 | t\n", "content 2A04 already used by NID 3"),
            (base, "short name NULL already used by NID 2"),
            (GOOD + "!shared 2A05\n", "matches no repeated name or content"),
            (GOOD + "!unique x\n", "unknown directive"),
            ("# nothing\n", "no entries"),
            ("0 | | | | retired\n", "no live entry"),
            ("0 | A | a | | t\n", "no entry has content"),
        ]
        for text, message in cases:
            with self.subTest(message=message):
                self.assert_rejected(text, message)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=1)
