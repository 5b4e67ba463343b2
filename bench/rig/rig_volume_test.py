#!/usr/bin/env python3
# Copyright 2026 The tarn-scanner Authors. All rights reserved.
# Checks the parts of the real-volume case that read a brick: which journal
# the change-log index has closed last, and which pieces of an image no
# brick holds, on made-up brick directories.
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rig_volume  # noqa: E402

GFID = "65d6dec3-aa20-4112-86dc-d8c366a5471f"


class args:
    mount = "/nonexistent"
    volume = "v"
    image_mib = 20  # five blocks of 4 MiB: pieces 1 to 4
    images = 1
    apps = 1


class rig_volume_test(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.bricks = [os.path.join(self.tmp.name, "b%d" % i) for i in (1, 2)]
        for b in self.bricks:
            os.makedirs(os.path.join(b, ".shard"))
            os.makedirs(os.path.join(b, ".glusterfs", "changelogs", "htime"))
        self.saved = rig_volume.brick_paths, rig_volume.gfid_text
        rig_volume.brick_paths = lambda volume: self.bricks
        rig_volume.gfid_text = lambda full: GFID

    def tearDown(self):
        rig_volume.brick_paths, rig_volume.gfid_text = self.saved
        self.tmp.cleanup()

    def test_newest_journal_of_the_index(self):
        b = self.bricks[0]
        self.assertEqual(rig_volume.newest_journal(b), 0)
        htime = os.path.join(b, ".glusterfs", "changelogs", "htime", "HTIME.1796780000")
        with open(htime, "wb") as f:
            f.write(b"%s/.glusterfs/changelogs/2026/12/09/changelog.1796780003\0"
                    b"%s/.glusterfs/changelogs/2026/12/09/changelog.1796780006\0" %
                    (b.encode(), b.encode()))
        self.assertEqual(rig_volume.newest_journal(b), 1796780006)

    def test_pieces_missing_from_every_brick(self):
        def piece(brick, n):
            open(os.path.join(brick, ".shard", "%s.%d" % (GFID, n)), "w").close()
        piece(self.bricks[0], 1)
        piece(self.bricks[1], 2)
        piece(self.bricks[0], 4)
        open(os.path.join(self.bricks[0], ".shard", "other.3"), "w").close()
        self.assertEqual(rig_volume.missing_pieces(args, "app000/images/disk0.img"), [3])
        piece(self.bricks[1], 3)
        self.assertEqual(rig_volume.missing_pieces(args, "app000/images/disk0.img"), [])


if __name__ == "__main__":
    unittest.main()
