#!/usr/bin/env python3
# Copyright 2026 The tarn-scanner Authors. All rights reserved.
# Generates one benchmark case: a local-directory volume whose sharded files
# carry real "trusted.gfid" attributes, and the change list that
# `glusterfind pre --no-encode` would write for it. Deterministic from the
# seed and the sizes (for one Python 3 version). Run as root: trusted.*
# attributes need CAP_SYS_ADMIN.
#
# Layout of the case directory:
#   changelist      the change list, played back by the fake glusterfind
#   volumes/<vol>/  the volume (TARN_LOCAL_VOLUME_ROOT=<case>/volumes)
#   manifest        key=value: the sizes and what a correct run must produce
#
# Only the files that own shard pieces exist in the volume (with their
# identifiers), plus every application directory and its subdirectories.
# The other listed files do not exist: their identifiers read as zero, as for
# files that vanished between the change list and the scan.
import argparse
import os
import random
import shutil
import sys
import uuid

APP_KINDS = ["vm", "home", "db", "proj", "web", "mail", "build", "media"]
SUBDIRS = ["images", "data", "logs", "config", "backup", "sources", "exports", "reports"]
STEMS = ["quarterly_report_", "customer_invoice_", "nightly_export_", "meeting_notes_",
         "sensor_readings_", "build_artifact_"]
EXTS = ["txt", "json", "csv", "log", "pdf", "tar.gz"]
SUBDIRS_PER_APP = 2


def app_name(i):
    if i % 97 == 13:  # about one in a hundred applications has blanks in its name
        return "shared docs %05d" % i
    return "%s%05d" % (APP_KINDS[i % len(APP_KINDS)], i)


def subdir_of(app_index, k):
    return SUBDIRS[(app_index * 3 + k) % len(SUBDIRS)]


class generator:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.used_gfids = set()
        self.apps = [app_name(i) for i in range(args.apps)]

    def new_gfid(self):
        while True:
            raw = self.rng.getrandbits(128).to_bytes(16, "big")
            if raw != bytes(16) and raw not in self.used_gfids:
                self.used_gfids.add(raw)
                return raw

    def file_path(self, blank=False):
        a = self.rng.randrange(len(self.apps))
        sub = subdir_of(a, self.rng.randrange(SUBDIRS_PER_APP))
        stem = self.rng.choice(STEMS)
        ext = self.rng.choice(EXTS)
        n = self.rng.randrange(10**7)
        day = "20%02d-%02d-%02d" % (self.rng.randrange(18, 27), self.rng.randrange(1, 13),
                                    self.rng.randrange(1, 29))
        if blank:
            return "%s/%s/%s copy %s %d.%s" % (self.apps[a], sub, stem.rstrip("_"), day, n, ext)
        return "%s/%s/%s%s_%07d.%s" % (self.apps[a], sub, stem, day, n, ext)

    def owner_app(self, i):
        # A share of the owners crowd into the first application, so that its
        # linked list is long enough to be cut into chunks; the others spread.
        hot = int(self.args.hot_share * self.args.owners)
        return 0 if i < hot else i % len(self.apps)

    def build(self):
        """The directories and owners, and the sizes of the other kinds of line."""
        a = self.args
        # Directories: glusterfind lists them like files.
        self.dirs = [".shard", ".shard/.remove_me"]
        for i, app in enumerate(self.apps):
            self.dirs.append(app)
            self.dirs.extend("%s/%s" % (app, subdir_of(i, k)) for k in range(SUBDIRS_PER_APP))

        # Owners of shard pieces: listed ones, and a few whose pieces changed in
        # place without the owner being listed.
        unlisted = max(1, a.owners // 100)
        self.owners = []  # (path, gfid, listed)
        for i in range(a.owners + unlisted):
            app_index = self.owner_app(i) if i < a.owners else self.rng.randrange(len(self.apps))
            sub = subdir_of(app_index, i % SUBDIRS_PER_APP)
            path = "%s/%s/disk_image_%06d.qcow2" % (self.apps[app_index], sub, i)
            self.owners.append((path, self.new_gfid(), i < a.owners))
        self.listed = [p for p, _, listed in self.owners if listed]

        self.deletes = round(a.lines * 0.02)
        self.renames = round(a.lines * 0.01)
        self.regular = (a.lines - len(self.dirs) - len(self.listed) - a.pieces - self.deletes -
                        self.renames)
        if self.regular < 0:
            sys.exit("gen_volume: %d lines are too few for these sizes" % a.lines)
        self.stats = {
            "lines": a.lines,
            "apps": len(self.apps),
            "directories": len(self.dirs),
            "owners": a.owners,
            "unlisted_owners": unlisted,
            "pieces": a.pieces,
            "deletes": self.deletes,
            "renames": self.renames,
            "blank_names": 0,
            # NEW and MODIFY lines: what the filter keeps (nothing is excluded).
            "kept": a.lines - self.deletes - self.renames,
            # Pieces of listed owners: the lines of the results in the volume.
            "linked": 0,
        }

    def blocks(self):
        """The change list in blocks of about --block-lines lines, each shuffled:
        every kind of line is dealt out evenly over the blocks, so that a list
        of any length is written without holding it in memory. A list of one
        block is shuffled whole."""
        a = self.args
        count = max(1, -(-a.lines // a.block_lines))

        def share(n, k):
            return range(n * k // count, n * (k + 1) // count)

        for k in range(count):
            lines = ["NEW " + self.dirs[i] for i in share(len(self.dirs), k)]
            lines.extend("MODIFY " + self.listed[i] for i in share(len(self.listed), k))
            # Pieces, dealt round-robin to the owners.
            for j in share(a.pieces, k):
                path, gfid, listed = self.owners[j % len(self.owners)]
                number = j // len(self.owners) + 1
                kind = "NEW" if self.rng.random() < 0.7 else "MODIFY"
                lines.append("%s .shard/%s.%d" % (kind, uuid.UUID(bytes=gfid), number))
                self.stats["linked"] += listed
            for d in share(self.deletes, k):
                if d % 4 == 0:
                    lines.append("DELETE .shard/.remove_me/%s" % uuid.UUID(bytes=self.new_gfid()))
                else:
                    lines.append("DELETE " + self.file_path())
            for _ in share(self.renames, k):
                src = self.file_path(blank=self.rng.random() < 0.01)
                head, _, name = src.rpartition("/")
                lines.append("RENAME %s %s/renamed_%s" % (src, head, name))
            for _ in share(self.regular, k):
                blank = self.rng.random() < 0.01
                self.stats["blank_names"] += blank
                kind = "NEW" if self.rng.random() < 0.6 else "MODIFY"
                lines.append("%s %s" % (kind, self.file_path(blank)))
            self.rng.shuffle(lines)
            yield lines

    def write(self):
        a = self.args
        case = a.out
        vol = os.path.join(case, "volumes", a.volume)
        if os.path.exists(case):
            shutil.rmtree(case)
        os.makedirs(os.path.join(vol, ".shard"))
        for i, app in enumerate(self.apps):
            for k in range(SUBDIRS_PER_APP):
                os.makedirs(os.path.join(vol, app, subdir_of(i, k)), exist_ok=True)
        for path, gfid, _ in self.owners:
            full = os.path.join(vol, path)
            with open(full, "wb"):
                pass
            os.setxattr(full, "trusted.gfid", gfid)
        size = 0
        path_bytes = 0
        with open(os.path.join(case, "changelist"), "wb") as f:
            for lines in self.blocks():
                data = "".join(l + "\n" for l in lines).encode()
                f.write(data)
                size += len(data)
                # The path is all of a line but its type word, its blank and "\n".
                path_bytes += len(data) - sum(len(l.partition(" ")[0]) + 2 for l in lines)
        self.stats["bytes"] = size
        self.stats["avg_path_bytes"] = "%.1f" % (path_bytes / a.lines)
        with open(os.path.join(case, "manifest"), "w") as f:
            f.write("volume=%s\nseed=%d\nruns=%d\n" % (a.volume, a.seed, a.runs))
            for k, v in self.stats.items():
                f.write("%s=%s\n" % (k, v))


def main():
    p = argparse.ArgumentParser(description="Generates a benchmark volume and change list.")
    p.add_argument("--out", required=True, help="case directory (replaced)")
    p.add_argument("--volume", default="bench")
    p.add_argument("--lines", type=int, required=True)
    p.add_argument("--apps", type=int, required=True)
    p.add_argument("--owners", type=int, required=True, help="listed files that own pieces")
    p.add_argument("--pieces", type=int, required=True)
    p.add_argument("--hot-share", type=float, default=0.1,
                   help="share of the owners placed in the first application")
    p.add_argument("--runs", type=int, default=1, help="runs on one scanner object")
    p.add_argument("--seed", type=int, default=9)
    p.add_argument("--block-lines", type=int, default=1000000,
                   help="lines generated, shuffled and written at a time")
    args = p.parse_args()
    g = generator(args)
    g.build()
    g.write()
    print("gen_volume: %s: %s" % (args.out, " ".join("%s=%s" % kv for kv in g.stats.items())))


if __name__ == "__main__":
    main()
