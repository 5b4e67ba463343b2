#!/usr/bin/env python3
# Copyright 2026 The tarn-scanner Authors. All rights reserved.
# Checks the benchmark generator: the change list has glusterfind's line
# format and the mix the manifest states, pieces name real identifiers of
# existing owners, and a seed always gives the same case. Needs root.
import os
import re
import subprocess
import sys
import tempfile
import unittest
import uuid

GEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "gen_volume.py")
PIECE = re.compile(r"^\.shard/([0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12})\.(\d+)$")


def generate(out, *extra):
    args = [sys.executable, GEN, "--out", out, "--lines", "3000", "--apps", "20", "--owners",
            "10", "--pieces", "1000", "--hot-share", "0.5"] + list(extra)
    subprocess.run(args, check=True, capture_output=True)
    with open(os.path.join(out, "manifest")) as f:
        manifest = dict(l.rstrip("\n").split("=", 1) for l in f)
    with open(os.path.join(out, "changelist"), encoding="utf-8") as f:
        text = f.read()
    return manifest, text


class gen_volume_test(unittest.TestCase):
    EXTRA = ()  # more generator arguments

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.case = os.path.join(cls.tmp.name, "case")
        cls.manifest, cls.text = generate(cls.case, *cls.EXTRA)
        cls.lines = cls.text.split("\n")[:-1]

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_line_format_and_mix(self):
        self.assertTrue(self.text.endswith("\n"))
        self.assertEqual(len(self.lines), int(self.manifest["lines"]))
        kinds = {}
        for line in self.lines:
            kind, _, path = line.partition(" ")
            self.assertIn(kind, ("NEW", "MODIFY", "DELETE", "RENAME"), line)
            self.assertTrue(path and not path.startswith("/") and "\t" not in path, line)
            kinds[kind] = kinds.get(kind, 0) + 1
        self.assertEqual(kinds["DELETE"], int(self.manifest["deletes"]))
        self.assertEqual(kinds["RENAME"], int(self.manifest["renames"]))
        self.assertEqual(kinds["NEW"] + kinds["MODIFY"], int(self.manifest["kept"]))
        for needed in ("NEW .shard", "NEW .shard/.remove_me"):
            self.assertIn(needed, self.lines)
        self.assertTrue(any(l.startswith("DELETE .shard/.remove_me/") for l in self.lines))
        blanks = [l for l in self.lines if l.startswith(("NEW ", "MODIFY ")) and
                  " " in l.partition(" ")[2]]
        self.assertGreater(len(blanks), 0)
        self.assertTrue(40 <= float(self.manifest["avg_path_bytes"]) <= 60)

    def test_pieces_belong_to_existing_owners(self):
        volume = os.path.join(self.case, "volumes", self.manifest["volume"])
        gfids = {}
        for root, _, files in os.walk(volume):
            for name in files:
                path = os.path.join(root, name)
                raw = os.getxattr(path, "trusted.gfid")
                self.assertEqual(len(raw), 16)
                gfids[str(uuid.UUID(bytes=raw))] = os.path.relpath(path, volume)
        listed = {l.partition(" ")[2] for l in self.lines if l.startswith("MODIFY ")}
        linked = 0
        pieces = 0
        for line in self.lines:
            m = PIECE.match(line.partition(" ")[2])
            if not m or not line.startswith(("NEW ", "MODIFY ")):
                continue
            pieces += 1
            self.assertIn(m.group(1), gfids, line)
            linked += gfids[m.group(1)] in listed
        self.assertEqual(pieces, int(self.manifest["pieces"]))
        self.assertEqual(linked, int(self.manifest["linked"]))
        self.assertLess(linked, pieces)  # some owners changed in place, unlisted

    def test_same_seed_same_case_other_seed_other_case(self):
        _, again = generate(os.path.join(self.tmp.name, "again"), *self.EXTRA)
        self.assertEqual(again, self.text)
        _, other = generate(os.path.join(self.tmp.name, "other"), "--seed", "10", *self.EXTRA)
        self.assertNotEqual(other, self.text)


class gen_volume_blocks_test(gen_volume_test):
    """A list written in several blocks, as long lists are: the same mix."""
    EXTRA = ("--block-lines", "700")

    def test_every_block_has_its_share(self):
        first = self.lines[:700]
        self.assertTrue(any(PIECE.match(l.partition(" ")[2]) for l in first))
        self.assertTrue(any(l.startswith("DELETE ") for l in first))


if __name__ == "__main__":
    unittest.main()
