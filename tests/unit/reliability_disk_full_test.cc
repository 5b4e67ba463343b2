// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// A full disk under the output directory at each step of a run: the step
// says so, the run fails, and no list is left under a final name that
// promises more lines than it holds.
#include <sys/stat.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "unit/fault_files.h"
#include "unit/scan_scenario.h"
#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::exists;
using testing_util::fake_glusterfind;
using testing_util::list_dir;
using testing_util::lists_not_whole;
using testing_util::log_capture;
using testing_util::read_tree;
using testing_util::scoped_env;
using testing_util::small_tmpfs;
using testing_util::temp_dir;

// 60 applications of one file without pieces (one page each as a list, an
// empty linked list), and "vm", whose one file, listed twice, owns 8001
// pieces: its linked list of 16002 entries is cut into two chunks. Each
// step then needs more room than the one before it: the change list about
// 420k, filtering 820k, distribution 1030k, linking 1420k, chunking 1570k.
std::string changelist() {
  std::string text;
  for (int i = 0; i < 60; ++i) text += "NEW s" + std::to_string(i) + "/nogfid.img\n";
  text += "NEW vm/big.img\nMODIFY vm/big.img\n";
  const std::string piece = "NEW .shard/" + testing_util::scenario_gfid_text("vm/big.img") + ".";
  for (int k = 1; k <= 8001; ++k) text += piece + std::to_string(k) + "\n";
  return text;
}

struct disk_case {
  const char* size;  // of the file system holding the output directory
  const char* step;  // the message of the step that meets the full disk
};

void PrintTo(const disk_case& c, std::ostream* os) { *os << c.size; }

const disk_case kCases[] = {
    {"256k", "[scanner::initiate_scan] Failed to perform full scan for session s1 on volume vol1"},
    {"600k", "[session::filter_new_and_modified] Failed to write "},
    {"920k", "[session::distribute_basedon_application] Failed to write file "},
    {"1230k", "[session::link_shard_to_app] Failed to write file "},
    {"1500k", "[session::chunk_collectfile] Failed to write file "},
};

class DiskFullTest : public ::testing::TestWithParam<disk_case> {
 protected:
  DiskFullTest() : volume_root_("TARN_LOCAL_VOLUME_ROOT", root_.path()) {
    mkdir(root_.path("vol1").c_str(), 0755);
  }

  temp_dir root_;
  scoped_env volume_root_;
  fake_glusterfind tool_;
  log_capture log_;
};

TEST_P(DiskFullTest, StepSaysSoAndNoListPromisesMoreThanItHolds) {
  const disk_case& c = GetParam();
  small_tmpfs disk(c.size);
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string out = disk.path() + "/out";
  const std::string volume = root_.path("vol1");
  tool_.set_changelist(testing_util::make_scenario("s1", 0, 0, 0).changelist + changelist());
  scanner s("vol1", out, volume);
  const auto gfids = testing_util::use_scenario_gfids();

  EXPECT_EQ(s.initiate_scan("s1"), std::error_code(EFAULT, std::generic_category()));
  EXPECT_TRUE(log_.contains(c.step)) << log_.text();
  // The report names what filled up: the pass's command, or a working file.
  const scan_report& r = s.last_report();
  if (c.step != kCases[0].step) {
    EXPECT_TRUE(log_.contains("No space left on device")) << log_.text();
    EXPECT_EQ(r.failed_path.rfind(out + "/", 0), 0u) << r.failed_path;
    EXPECT_EQ(r.failure_cause, "No space left on device");
  } else {
    EXPECT_EQ(r.failed_command.rfind("glusterfind pre s1 vol1 " + out + "/full-s1 --full", 0), 0u)
        << r.failed_command;
    EXPECT_EQ(r.failure_cause.rfind("exit status ", 0), 0u) << r.failure_cause;
  }
  EXPECT_TRUE(lists_not_whole(out).empty()) << ::testing::PrintToString(lists_not_whole(out));
  EXPECT_FALSE(exists(volume + "/vol1.lock.s1"));
  EXPECT_TRUE(list_dir(volume + "/.tarn/working/scanner").empty());

  // Room again: the next run delivers every list whole and sets aside what
  // the failed one left.
  ASSERT_TRUE(disk.resize("8m"));
  log_capture next;
  ASSERT_EQ(s.initiate_scan("s1"), success) << next.text();
  std::map<std::string, std::string> results = read_tree(volume + "/.tarn/working/scanner");
  EXPECT_EQ(results.size(), 62u);
  EXPECT_TRUE(lists_not_whole(volume + "/.tarn/working/scanner/vm").empty());
  EXPECT_EQ(results.count("vm/vm-s1-1.16000"), 1u);
  EXPECT_EQ(results.count("vm/vm-s1-2.2"), 1u);
  EXPECT_EQ(results.count("s7/s7-s1.0"), 1u);
}

INSTANTIATE_TEST_SUITE_P(AtEachStep, DiskFullTest, ::testing::ValuesIn(kCases));

// The same in process, where the session's lists meet a full disk: no root
// and no file system of a chosen size needed.
struct list_case {
  const char* name;
  const char* list;     // part of the path of the list whose second write fails
  const char* message;  // what the step says
};

void PrintTo(const list_case& c, std::ostream* os) { *os << c.name; }

const list_case kListCases[] = {
    {"distribute", "/vm-s1.0", "[session::distribute_basedon_application] Failed to write file "},
    {"link", "/vm-s1", "[session::link_shard_to_app] Failed to write file "},
    {"chunk", "/vm-s1-2", "[session::chunk_collectfile] Failed to write file "},
};

class ListDiskFullTest : public ::testing::TestWithParam<list_case> {
 protected:
  ListDiskFullTest() : volume_root_("TARN_LOCAL_VOLUME_ROOT", root_.path()) {
    mkdir(root_.path("vol1").c_str(), 0755);
  }

  temp_dir root_;
  scoped_env volume_root_;
  fake_glusterfind tool_;
  log_capture log_;
};

TEST_P(ListDiskFullTest, StepSaysSoAndNoListPromisesMoreThanItHolds) {
  const list_case& c = GetParam();
  const std::string out = root_.path("out");
  const std::string volume = root_.path("vol1");
  tool_.set_changelist(testing_util::make_scenario("s1", 0, 0, 0).changelist + changelist());
  scanner s("vol1", out, volume);
  testing_util::fault_files full;
  full.gfid = testing_util::scenario_gfid;
  full.fail(testing_util::local_call::write, 2, ENOSPC, c.list);
  scoped_local_side in_force(full);

  EXPECT_EQ(s.initiate_scan("s1"), std::error_code(EFAULT, std::generic_category()));
  EXPECT_TRUE(log_.contains(std::string(c.message) + out + c.list)) << log_.text();
  EXPECT_TRUE(log_.contains("No space left on device")) << log_.text();
  EXPECT_EQ(s.last_report().failure, "post-processing");
  EXPECT_EQ(s.last_report().failed_path.rfind(out + c.list, 0), 0u) << s.last_report().failed_path;
  EXPECT_EQ(s.last_report().failure_cause, "No space left on device");
  EXPECT_TRUE(lists_not_whole(out).empty()) << ::testing::PrintToString(lists_not_whole(out));
  EXPECT_FALSE(exists(volume + "/vol1.lock.s1"));
  EXPECT_TRUE(list_dir(volume + "/.tarn/working/scanner").empty());

  log_capture next;
  ASSERT_EQ(s.initiate_scan("s1"), success) << next.text();
  std::map<std::string, std::string> results = read_tree(volume + "/.tarn/working/scanner");
  EXPECT_EQ(results.size(), 62u);
  EXPECT_EQ(results.count("vm/vm-s1-1.16000"), 1u);
  EXPECT_EQ(results.count("vm/vm-s1-2.2"), 1u);
}

// A gfid that cannot be read for the mount's sake, not the file's, fails
// the run, and the report names the file.
TEST_F(ListDiskFullTest, AGfidReadTheMountFailsNamesTheFile) {
  const std::string out = root_.path("out");
  tool_.set_changelist(testing_util::make_scenario("s1", 0, 0, 0).changelist + changelist());
  scanner s("vol1", out, root_.path("vol1"));
  testing_util::fault_files broken;
  broken.gfid = testing_util::scenario_gfid;
  broken.fail(testing_util::local_call::read_xattr, 1, ENOTCONN, "vm/big.img");
  scoped_local_side in_force(broken);

  EXPECT_EQ(s.initiate_scan("s1"), std::error_code(EFAULT, std::generic_category()));
  EXPECT_EQ(s.last_report().failure, "post-processing");
  EXPECT_EQ(s.last_report().failed_path, root_.path("vol1") + "/vm/big.img");
  EXPECT_EQ(s.last_report().failure_cause, "Transport endpoint is not connected");
}

INSTANTIATE_TEST_SUITE_P(AtEachList, ListDiskFullTest, ::testing::ValuesIn(kListCases),
                         [](const ::testing::TestParamInfo<list_case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace scanner
}  // namespace tarn
