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
        a = self.args
        lines = []
        # Directories: glusterfind lists them like files.
        dirs = [".shard", ".shard/.remove_me"]
        for i, app in enumerate(self.apps):
            dirs.append(app)
            dirs.extend("%s/%s" % (app, subdir_of(i, k)) for k in range(SUBDIRS_PER_APP))
        lines.extend("NEW " + d for d in dirs)

        # Owners of shard pieces: listed ones, and a few whose pieces changed in
        # place without the owner being listed.
        unlisted = max(1, a.owners // 100)
        owners = []  # (path, gfid, listed)
        for i in range(a.owners + unlisted):
            app_index = self.owner_app(i) if i < a.owners else self.rng.randrange(len(self.apps))
            sub = subdir_of(app_index, i % SUBDIRS_PER_APP)
            path = "%s/%s/disk_image_%06d.qcow2" % (self.apps[app_index], sub, i)
            owners.append((path, self.new_gfid(), i < a.owners))
        lines.extend("MODIFY " + p for p, _, listed in owners if listed)

        # Pieces, dealt round-robin to the owners.
        linked = 0
        for j in range(a.pieces):
            path, gfid, listed = owners[j % len(owners)]
            number = j // len(owners) + 1
            kind = "NEW" if self.rng.random() < 0.7 else "MODIFY"
            lines.append("%s .shard/%s.%d" % (kind, uuid.UUID(bytes=gfid), number))
            linked += listed

        deletes = round(a.lines * 0.02)
        renames = round(a.lines * 0.01)
        for d in range(deletes):
            if d % 4 == 0:
                lines.append("DELETE .shard/.remove_me/%s" % uuid.UUID(bytes=self.new_gfid()))
            else:
                lines.append("DELETE " + self.file_path())
        for _ in range(renames):
            src = self.file_path(blank=self.rng.random() < 0.01)
            head, _, name = src.rpartition("/")
            lines.append("RENAME %s %s/renamed_%s" % (src, head, name))
        regular = a.lines - len(lines)
        if regular < 0:
            sys.exit("gen_volume: %d lines are too few for these sizes" % a.lines)
        blanks = 0
        for _ in range(regular):
            blank = self.rng.random() < 0.01
            blanks += blank
            kind = "NEW" if self.rng.random() < 0.6 else "MODIFY"
            lines.append("%s %s" % (kind, self.file_path(blank)))
        self.rng.shuffle(lines)

        self.stats = {
            "lines": len(lines),
            "apps": len(self.apps),
            "directories": len(dirs),
            "owners": a.owners,
            "unlisted_owners": unlisted,
            "pieces": a.pieces,
            "deletes": deletes,
            "renames": renames,
            "blank_names": blanks,
            # NEW and MODIFY lines: what the filter keeps (nothing is excluded).
            "kept": len(lines) - deletes - renames,
            # Pieces of listed owners: the lines of the results in the volume.
            "linked": linked,
        }
        return lines, owners

    def write(self, lines, owners):
        a = self.args
        case = a.out
        vol = os.path.join(case, "volumes", a.volume)
        if os.path.exists(case):
            shutil.rmtree(case)
        os.makedirs(os.path.join(vol, ".shard"))
        for i, app in enumerate(self.apps):
            for k in range(SUBDIRS_PER_APP):
                os.makedirs(os.path.join(vol, app, subdir_of(i, k)), exist_ok=True)
        for path, gfid, _ in owners:
            full = os.path.join(vol, path)
            with open(full, "wb"):
                pass
            os.setxattr(full, "trusted.gfid", gfid)
        text = "".join(l + "\n" for l in lines)
        with open(os.path.join(case, "changelist"), "w", encoding="utf-8") as f:
            f.write(text)
        paths = [l.split(" ", 1)[1] for l in lines]
        self.stats["bytes"] = len(text.encode())
        self.stats["avg_path_bytes"] = "%.1f" % (sum(len(p.encode()) for p in paths) / len(paths))
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
    args = p.parse_args()
    g = generator(args)
    lines, owners = g.build()
    g.write(lines, owners)
    print("gen_volume: %s: %s" % (args.out, " ".join("%s=%s" % kv for kv in g.stats.items())))


if __name__ == "__main__":
    main()
