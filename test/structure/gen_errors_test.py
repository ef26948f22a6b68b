#!/usr/bin/env python3
"""Checks tools/gen_errors.py on small trees made in a temporary folder: the
header block and string arrays it writes, the stale-header check, and the
malformed tables it must reject."""
import importlib.util
import io
import os
import sys
import tempfile
import unittest
from contextlib import redirect_stderr, redirect_stdout

spec = importlib.util.spec_from_file_location("gen_errors", sys.argv.pop(1))
gen = importlib.util.module_from_spec(spec)
spec.loader.exec_module(gen)

HEADER = "/* x.h */\n%s\n%s\nint after;\n" % (gen.BEGIN, gen.END)
ERR_TABLE = 'library ERR 0\nheader err.h\nlib BIO 32 "BIO routines"\nlib UI 40\n' \
            'reason ERR_R_MALLOC_FAILURE 65 "malloc failure"\n'
BIO_TABLE = '# a comment\nlibrary BIO 32 "BIO routines"   # trailing comment\n' \
            'header bio.h\nfunction BIO_F_ACPT_STATE 100 "ACPT_STATE"\n' \
            'reason BIO_R_ACCEPT_ERROR 100 "accept \\"error\\""\nreason BIO_R_QUIET 0x65\n'


class Tree:
    def __init__(self, case, tables):
        self.dir = tempfile.TemporaryDirectory()
        case.addCleanup(self.dir.cleanup)
        self.root = self.dir.name
        os.makedirs(os.path.join(self.root, "include", "morvane"))
        for name in ("err.h", "bio.h"):
            self.write(os.path.join("include", "morvane", name), HEADER)
        for rel, text in tables.items():
            self.write(rel, text)

    def write(self, rel, text):
        path = os.path.join(self.root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)

    def read(self, rel):
        with open(os.path.join(self.root, rel)) as f:
            return f.read()

    def run(self, *args):
        out, err = io.StringIO(), io.StringIO()
        with redirect_stdout(out), redirect_stderr(err):
            rc = gen.main(list(args) + ["--root", self.root])
        return rc, out.getvalue() + err.getvalue()


def good_tree(case):
    return Tree(case, {"crypto/err/err.errors": ERR_TABLE, "crypto/bio/bio.errors": BIO_TABLE})


class Generation(unittest.TestCase):
    def test_update_writes_blocks_and_check_then_passes(self):
        t = good_tree(self)
        self.assertEqual(t.run("--check")[0], 1)
        self.assertEqual(t.run("--update")[0], 0)
        self.assertEqual(t.run("--check"), (0, ""))
        bio = t.read("include/morvane/bio.h")
        self.assertIn("#define BIO_F_ACPT_STATE 100\n", bio)
        self.assertIn("#define BIO_R_QUIET 101\n", bio)
        self.assertTrue(bio.endswith("%s\nint after;\n" % gen.END))
        err = t.read("include/morvane/err.h")
        self.assertIn("#define ERR_LIB_BIO 32\n", err)
        self.assertIn("#define ERR_LIB_UI 40\n", err)
        self.assertIn("#define BIOerr(f, r) ERR_PUT_error(ERR_LIB_BIO, (f), (r), __FILE__, "
                      "__LINE__)\n", err)
        self.assertIn("#define ERR_R_MALLOC_FAILURE 65\n", err)

    def test_string_arrays(self):
        t = good_tree(self)
        out = os.path.join(t.root, "bio_err_data.inc")
        self.assertEqual(t.run("--inc", os.path.join(t.root, "crypto/bio/bio.errors"),
                               "--out", out)[0], 0)
        inc = t.read("bio_err_data.inc")
        self.assertIn("BIO_str_functs[] = {\n    {ERR_PACK(32, 100, 0), \"ACPT_STATE\"},\n"
                      "    {0, NULL},\n};", inc)
        # A reason without text is a constant only.
        self.assertIn("BIO_str_reasons[] = {\n    {ERR_PACK(32, 0, 100), "
                      "\"accept \\\"error\\\"\"},\n    {0, NULL},\n};", inc)
        out = os.path.join(t.root, "err_err_data.inc")
        t.run("--inc", os.path.join(t.root, "crypto/err/err.errors"), "--out", out)
        inc = t.read("err_err_data.inc")
        self.assertIn("ERR_str_libraries[] = {\n    {ERR_PACK(32, 0, 0), \"BIO routines\"},\n"
                      "    {0, NULL},\n};", inc)
        self.assertIn("{ERR_PACK(0, 0, 65), \"malloc failure\"}", inc)

    def test_hand_edit_inside_block_is_stale(self):
        t = good_tree(self)
        t.run("--update")
        bio = t.read("include/morvane/bio.h").replace("ACPT_STATE 100", "ACPT_STATE 101")
        t.write("include/morvane/bio.h", bio)
        rc, msg = t.run("--check")
        self.assertEqual(rc, 1)
        self.assertIn("include/morvane/bio.h", msg)


class Rejection(unittest.TestCase):
    def rejects(self, bio_table, expect, err_table=ERR_TABLE):
        t = Tree(self, {"crypto/err/err.errors": err_table, "crypto/bio/bio.errors": bio_table})
        rc, msg = t.run("--check")
        self.assertEqual(rc, 1, msg)
        self.assertIn(expect, msg)

    def test_duplicates(self):
        self.rejects(BIO_TABLE + 'function BIO_F_OTHER 100 "x"\n', "duplicate function code 100")
        self.rejects(BIO_TABLE + 'reason BIO_R_ACCEPT_ERROR 7 "x"\n', "duplicate name")
        self.rejects(BIO_TABLE + "reason ERR_R_MALLOC_FAILURE 300\n", "duplicate name")

    def test_ranges(self):
        self.rejects(BIO_TABLE + 'function BIO_F_BIG 4096 "x"\n', "outside 1..4095")
        self.rejects(BIO_TABLE + 'reason BIO_R_ZERO 0 "x"\n', "outside 1..4095")
        self.rejects(BIO_TABLE.replace("BIO 32", "BIO 200"), "outside 0..127")

    def test_syntax(self):
        self.rejects(BIO_TABLE + "function BIO_F_NOTEXT 101\n", "needs a text")
        self.rejects(BIO_TABLE + 'function BIO_F_X 1O1 "x"\n', "is not a number")
        self.rejects(BIO_TABLE + 'reason BIO_F_SWAPPED 102 "x"\n', "lacks _R_")
        self.rejects(BIO_TABLE + 'reason BIO_R_Q 102 "open\n', "unbalanced quote")
        self.rejects(BIO_TABLE + "header other.h\n", "second header line")
        self.rejects("header bio.h\n" + BIO_TABLE, "first line must be the library line")
        self.rejects(BIO_TABLE + "lib FOO 50\n", "belong to the table of library 0")

    def test_library_line_must_match_the_list(self):
        self.rejects(BIO_TABLE.replace('"BIO routines"', '"bio"'), "disagrees")
        self.rejects(BIO_TABLE.replace("BIO 32", "BIO 33"), "disagrees")
        self.rejects(BIO_TABLE.replace("library BIO", "library BOI"), "not listed")

    def test_markers_required(self):
        t = good_tree(self)
        t.write("include/morvane/bio.h", "/* no markers */\n")
        rc, msg = t.run("--update")
        self.assertEqual(rc, 1)
        self.assertIn("needs the lines", msg)


if __name__ == "__main__":
    unittest.main()
