// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// A corpus of hostile names on real volumes: commas that glusterfind splits
// at, names beyond ASCII that it decodes byte by byte, blanks it strips, and
// the like. The lists name every changed entry under its real name, with and
// without --with-files; the expected lists come from the files written.
#include <gtest/gtest.h>

#include "cluster/cluster_util.h"

namespace tarn {
namespace cluster {
namespace {

using strings = std::vector<std::string>;

// Files that exist before the sessions' first scans, and are changed after.
const strings kChanged = {"home3/Report, final.docx", "café/sub/été.txt", "dir,x/inner.txt",
                          "日本/ファイル.txt",          "app1/Ã©.txt",      "app1/hl.txt"};
// Files made after the first scans.
const strings kMade = {"app1/small,notes.txt", "app1/,start.txt",   "app1/end,",
                       "app1/two,,commas.txt", "app1/😀.txt",       "app1/e\xcc\x81.txt",
                       "app1/ padded .txt",    "app1/100%.txt",     "app1/a%20b.txt",
                       "app1/tab\there.txt",  "app1/a, b, c, d,e.txt"};

class NamesTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    ASSERT_EQ(on_node(0, "stat " + quote(volume_.path(".gfid")) + " >/dev/null"), 0)
        << "start the volume: scripts/gluster-rig.sh up, scripts/gluster-rig.sh replica";
  }

  // Runs `script` in the volume's top directory.
  void in_volume(const std::string& script) {
    std::string out;
    ASSERT_EQ(on_node(0, "cd " + quote(volume_.path("")) + " && " + script, &out), 0) << out;
  }

  const mounted volume_{GetParam(), 0};
};

TEST_P(NamesTest, EveryChangedEntryIsListedUnderItsRealName) {
  clear_volume(volume_);
  std::string script = "mkdir -p home3 café/sub dir,x 日本 app1 app2 vms";
  for (const std::string& file : kChanged) script += " && echo a > " + quote(file);
  script += " && ln app1/hl.txt app2/hl-link.txt && echo a > app1/before.txt"
            " && dd if=/dev/urandom of='vms/disk,1.img' bs=1M count=9 status=none"
            " && dd if=/dev/urandom of='vms/été.img' bs=1M count=9 status=none";
  in_volume(script);
  wait_for_changelog(volume_.volume);
  const std::string plain = "names_" + std::to_string(getpid()), with = plain + "w";
  for (const std::string* session : {&plain, &with}) {
    scan_run run = scan(volume_, *session, "--full --post");
    ASSERT_EQ(run.status, 0) << run.err;
  }
  clear_results(volume_);

  // The changes: appends, new files, a new image written in its first block
  // and its piece .1, a rename followed by a write, an in-place write into
  // a piece, the first block and a piece of an image, and a name with a
  // line feed, which no list can hold.
  script = "true";
  for (const std::string& file : kChanged) script += " && echo b >> " + quote(file);
  for (const std::string& file : kMade) script += " && echo n > " + quote(file);
  script += " && echo n > " + quote("app1/new\nline.txt") +
            " && dd if=/dev/urandom of='app1/vm,1.img' bs=1M count=6 status=none"
            " && mv app1/before.txt 'app1/after, renamed.txt' && echo b >> 'app1/after, renamed.txt'"
            " && dd if=/dev/urandom of='vms/disk,1.img' bs=1M count=1 seek=5 conv=notrunc status=none"
            " && dd if=/dev/urandom of='vms/été.img' bs=1M count=1 conv=notrunc status=none"
            " && dd if=/dev/urandom of='vms/été.img' bs=1M count=1 seek=6 conv=notrunc status=none";
  in_volume(script);
  wait_for_changelog(volume_.volume);

  const std::string vm_piece = pieces_of(volume_, "app1/vm,1.img").at(0);
  const std::string disk_piece = pieces_of(volume_, "vms/disk,1.img").at(0);
  const std::string image_piece = pieces_of(volume_, "vms/été.img").at(0);
  strings app1 = {"app1/Ã©.txt", "app1/hl.txt", "app1/vm,1.img", vm_piece,
                  "app1/after, renamed.txt"};
  app1.insert(app1.end(), kMade.begin(), kMade.end());
  for (const std::string* session : {&plain, &with}) {
    const bool files = session == &with;
    auto list = [&](const std::string& application, strings lines) {
      strings kept;
      for (const std::string& line : lines) {
        if (files || line.compare(0, 7, ".shard/") == 0) kept.push_back(line);
      }
      return list_of(application, *session, kept);
    };
    const result_map expected = {
        list("home3", {"home3/Report, final.docx"}),
        list("café", {"café/sub/été.txt"}),
        list("dir,x", {"dir,x/inner.txt"}),
        list("日本", {"日本/ファイル.txt"}),
        list("app1", app1),
        list("app2", {"app2/hl-link.txt"}),
        list("vms", {disk_piece, "vms/été.img", image_piece}),
    };
    scan_run run = scan(volume_, *session, std::string("--incremental") + (files ? " --with-files" : ""));
    // The name with a line feed is counted, and the run needs attention.
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_EQ(results(volume_), expected) << run.err;
    ASSERT_FALSE(run.report.is_null()) << run.err;
    EXPECT_EQ(run.report["names"]["unrepaired"], 0) << run.err;
    EXPECT_EQ(run.report["names"]["line_feed"], 1) << run.err;
    EXPECT_GE(run.report["names"]["joined"], 7) << run.err;
    EXPECT_GE(run.report["names"]["decoded"], 5) << run.err;
    clear_results(volume_);
  }
}

INSTANTIATE_TEST_SUITE_P(Volumes, NamesTest, ::testing::Values("tarn-e2e", "tarn-rep"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param == "tarn-e2e" ? std::string("OneBrick")
                                                           : std::string("Replica");
                         });

}  // namespace
}  // namespace cluster
}  // namespace tarn
