// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// What a run tells its host: the mount checked before anything runs, the
// report of every list written, and the manifest that names them.
#include <sys/stat.h>

#include <algorithm>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "scanner/guards/mount_check.h"
#include "scanner/run/run_manifest.h"
#include "unit/scan_scenario.h"
#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::fake_glusterfind;
using testing_util::log_capture;
using testing_util::read_tree;
using testing_util::scoped_env;
using testing_util::temp_dir;
using testing_util::write_file;

TEST(MountTableTest, OnlyAGlusterMountOfTheVolumeAtThePathPasses) {
  const std::string table =
      "/dev/sda1 / ext4 rw 0 0\n"
      "127.0.0.1:/vol1 /mnt/vol1 fuse.glusterfs rw,allow_other 0 0\n"
      "node2:vol1 /mnt/other\\040name fuse.glusterfs rw 0 0\n"
      "127.0.0.1:/vol2 /mnt/vol2 fuse.glusterfs rw 0 0\n"
      "tmpfs /mnt/over tmpfs rw 0 0\n"
      "garbage\n"
      "127.0.0.1:/vol1 /mnt/over fuse.glusterfs rw 0 0\n"
      "127.0.0.1:/vol1 /mnt/hidden fuse.glusterfs rw 0 0\n"
      "tmpfs /mnt/hidden tmpfs rw 0 0\n";
  EXPECT_EQ(parse_mount_table(table).size(), 8u);
  EXPECT_TRUE(check_mount_table(table, "/mnt/vol1", "", "vol1").ok);
  EXPECT_TRUE(check_mount_table(table, "/mnt//vol1/./", "", "vol1").ok);
  EXPECT_TRUE(check_mount_table(table, "/mnt/other name", "", "vol1").ok);  // HOST:VOLUME
  EXPECT_TRUE(check_mount_table(table, "/srv/link", "/mnt/vol1", "vol1").ok);  // a link to it
  EXPECT_TRUE(check_mount_table(table, "/mnt/over", "", "vol1").ok);  // the later mount counts

  mount_verdict v = check_mount_table(table, "/mnt/vol2", "", "vol1");
  EXPECT_FALSE(v.ok);
  EXPECT_EQ(v.found, "it is a mount of 127.0.0.1:/vol2 (fuse.glusterfs)");
  v = check_mount_table(table, "/mnt/hidden", "", "vol1");
  EXPECT_EQ(v.found, "it is a mount of tmpfs (tmpfs)");
  v = check_mount_table(table, "/mnt/vol1/sub", "", "vol1");
  EXPECT_EQ(v.found, "no file system is mounted there");
  EXPECT_FALSE(check_mount_table(table, "/mnt/vol1", "", "vol").ok);

  // The host the library connects to, as the mount did.
  EXPECT_EQ(mount_server(table, "/mnt/vol1", "", "vol1"), "127.0.0.1");
  EXPECT_EQ(mount_server(table, "/mnt/other name", "", "vol1"), "node2");
  EXPECT_EQ(mount_server("10.77.0.2,10.77.0.3:/vol1 /m fuse.glusterfs rw 0 0\n", "/m", "", "vol1"),
            "10.77.0.2");
  EXPECT_EQ(mount_server(table, "/mnt/hidden", "", "vol1"), "");
  EXPECT_EQ(mount_server(table, "/mnt/vol2", "", "vol1"), "");
}

TEST(MountCheckTest, ThisMachinesTableAndLocalDirectoryVolumes) {
  temp_dir dir;
  std::string found;
  {
    scoped_env plain("TARN_LOCAL_VOLUME_ROOT");
    EXPECT_EQ(check_mount(dir.path(), "vol1", &found).value(), EINVAL);
    EXPECT_EQ(found, "no file system is mounted there");
    EXPECT_EQ(check_mount(dir.path("missing"), "vol1", &found).value(), EINVAL);
    EXPECT_EQ(found, "it does not exist");
    EXPECT_EQ(check_mount("/", "vol1", &found).value(), EINVAL);
    EXPECT_EQ(found.rfind("it is a mount of ", 0), 0u) << found;
  }
  {
    // Empty is unset: the volume opens through GlusterFS, so the mount counts.
    scoped_env empty("TARN_LOCAL_VOLUME_ROOT", "");
    EXPECT_EQ(check_mount(dir.path(), "vol1", &found).value(), EINVAL);
  }
  scoped_env local("TARN_LOCAL_VOLUME_ROOT", dir.path());
  EXPECT_EQ(check_mount(dir.path(), "vol1", &found), success);
  write_file(dir.path("file"), "");
  EXPECT_EQ(check_mount(dir.path("file"), "vol1", &found).value(), EINVAL);
  EXPECT_EQ(found, "it is not a directory");
}

class ReportTest : public ::testing::Test {
 protected:
  ReportTest()
      : volume_root_("TARN_LOCAL_VOLUME_ROOT", root_.path()),
        volume_(root_.path("vol1")),
        out_(root_.path("out")) {
    mkdir(volume_.c_str(), 0755);
  }

  std::string working() const { return volume_ + "/.tarn/working/scanner"; }
  std::string runs() const { return volume_ + "/.tarn/working/runs/s1"; }

  temp_dir root_;
  scoped_env volume_root_;
  std::string volume_;
  std::string out_;
  fake_glusterfind tool_;
  log_capture log_;
};

TEST_F(ReportTest, AWrongMountEndsTheRunBeforeGlusterfindAndTheLock) {
  scanner s("vol1", out_, volume_ + "/missing");
  EXPECT_EQ(s.initiate_scan("s1"), std::error_code(EINVAL, std::generic_category()));
  EXPECT_TRUE(tool_.calls().empty());
  EXPECT_TRUE(log_.contains(volume_ + "/missing is not a mount of volume vol1: it cannot be "
                                      "reached: No such file or directory"))
      << log_.text();
  EXPECT_FALSE(log_.contains("Trying to acquire lock"));
  EXPECT_FALSE(testing_util::exists(volume_ + "/vol1.lock.s1"));
  EXPECT_EQ(s.last_report().failure, "mount");
  EXPECT_EQ(s.last_report().failed_path, volume_ + "/missing");
  EXPECT_EQ(s.last_report().failure_cause,
            "not a mount of volume vol1: it cannot be reached: No such file or directory");
  EXPECT_FALSE(s.last_report().mount_checked);
}

// The report and the manifest name exactly the lists that appeared in the
// volume, with the lines and bytes each run added.
TEST_F(ReportTest, ReportAndManifestNameEveryListWritten) {
  const testing_util::scan_scenario sc = testing_util::make_scenario("s1", 3, 2, 3);
  tool_.set_changelist(sc.changelist);
  scanner s("vol1", out_, volume_);
  const auto gfids = testing_util::use_scenario_gfids();
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    ASSERT_EQ(s.initiate_scan("s1"), success) << log_.text();
    const scan_report& r = s.last_report();
    EXPECT_TRUE(r.full);
    EXPECT_TRUE(r.mount_checked);
    EXPECT_FALSE(r.aux_gfid_mount);
    EXPECT_TRUE(r.failure.empty());
    EXPECT_LE(r.started, r.finished);
    const std::map<std::string, std::string> tree = read_tree(working());
    ASSERT_EQ(r.lists.size(), tree.size());
    uint64_t total = 0;
    for (const scan_report_list& l : r.lists) {
      SCOPED_TRACE(l.path);
      const std::string rel = l.path.substr(std::string(".tarn/working/scanner/").size());
      ASSERT_EQ(tree.count(rel), 1u);
      const std::string& text = tree.at(rel);
      EXPECT_EQ(l.application, rel.substr(0, rel.find('/')));
      EXPECT_EQ(l.appended, run == 1);  // the same changes: the same names
      EXPECT_EQ(l.end, static_cast<int64_t>(text.size()));
      EXPECT_EQ(l.offset, run == 0 ? 0 : l.end / 2);
      EXPECT_EQ(text.substr(l.offset), sc.results.at(rel));
      EXPECT_EQ(l.entries, static_cast<uint64_t>(std::count(text.begin() + l.offset, text.end(),
                                                            '\n')));
      total += l.entries;
    }
    EXPECT_EQ(r.total_entries, total);
    EXPECT_EQ(r.piece_lines, total);
    EXPECT_EQ(r.path_lines, 0u);
    // The scenario's piece of no listed file: this mount cannot name owners.
    EXPECT_EQ(r.dropped_no_aux_gfid, 1u);
    EXPECT_TRUE(r.needs_attention());
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(r.warnings[0], "1 changed pieces could not be attributed: " + volume_ +
                                 " is not mounted with -o aux-gfid-mount");

    // One manifest per run, matching its report.
    const std::map<std::string, std::string> manifests = read_tree(runs());
    ASSERT_EQ(manifests.size(), static_cast<std::size_t>(run + 1));
    ASSERT_EQ(r.manifest, manifest_path(r));
    const std::string name = r.manifest.substr(r.manifest.rfind('/') + 1);
    nlohmann::json m = nlohmann::json::parse(manifests.at(name));
    EXPECT_EQ(m["schema"], 1);
    EXPECT_EQ(m["session"], "s1");
    EXPECT_EQ(m["scan_type"], "full");
    ASSERT_EQ(m["lists"].size(), r.lists.size());
    for (std::size_t i = 0; i < r.lists.size(); ++i) {
      EXPECT_EQ(m["lists"][i]["path"], r.lists[i].path);
      EXPECT_EQ(m["lists"][i]["entries"], r.lists[i].entries);
      EXPECT_EQ(m["lists"][i]["offset"], r.lists[i].offset);
      EXPECT_EQ(m["lists"][i]["end"], r.lists[i].end);
      EXPECT_EQ(m["lists"][i]["appended"], r.lists[i].appended);
    }
  }
}

// What a progress display sees: every step in the run's order, and the
// entries the filter kept and the copy wrote.
TEST_F(ReportTest, AProgressObserverSeesTheStepsAndTheEntriesDone) {
  struct recorder : progress_observer {
    std::vector<std::string> steps;
    std::map<std::string, uint64_t> done;
    void step_entered(const char* step) override { steps.push_back(step); }
    void entries_done(const char* step, uint64_t entries) override { done[step] = entries; }
  } seen;
  const testing_util::scan_scenario sc = testing_util::make_scenario("s1", 2, 2, 3);
  tool_.set_changelist(sc.changelist);
  scanner s("vol1", out_, volume_);
  const auto gfids = testing_util::use_scenario_gfids();
  s.set_progress_observer(&seen);
  ASSERT_EQ(s.initiate_scan("s1"), success) << log_.text();
  const std::vector<std::string> expected = {
      "output directory", "session", "working directory", "unread journals", "glusterfind",
      "names", "filter", "collect file", "post-processing", "sort", "distribute", "link", "chunk", "copy",
      "manifest", "tidy"};
  EXPECT_EQ(seen.steps, expected);
  EXPECT_GT(seen.done["filter"], 0u);
  EXPECT_EQ(seen.done["post-processing"], seen.done["filter"]);
  EXPECT_EQ(seen.done["sort"], 0u);
  EXPECT_EQ(seen.done["copy"], s.last_report().total_entries);
  s.set_progress_observer(nullptr);
  seen.steps.clear();
  ASSERT_EQ(s.initiate_scan("s1"), success);
  EXPECT_TRUE(seen.steps.empty());
}

TEST(ManifestTest, PathsThatAreNotUtf8KeepTheirBytes) {
  scan_report r;
  r.session = "s1";
  scan_report_list l;
  l.path = ".tarn/working/scanner/caf\xc3\xa9/caf\xc3\xa9-s1.1";
  l.application = "caf\xc3\xa9";
  r.lists.push_back(l);
  l.path = ".tarn/working/scanner/x\xe9/x\xe9-s1.1";  // Latin-1
  l.application = "x\xe9";
  r.lists.push_back(l);
  nlohmann::json m = nlohmann::json::parse(manifest_json(r, "vol1"));
  EXPECT_EQ(m["lists"][0]["path"], ".tarn/working/scanner/caf\xc3\xa9/caf\xc3\xa9-s1.1");
  EXPECT_FALSE(m["lists"][0].contains("path_hex"));
  EXPECT_EQ(m["lists"][1]["path"], ".tarn/working/scanner/x\xef\xbf\xbd/x\xef\xbf\xbd-s1.1");
  EXPECT_EQ(m["lists"][1]["application_hex"], "78e9");
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
