// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The output directory belongs to the library: a run refuses one that holds
// other files or lies in or around the mount, and sets aside what failed
// runs left inside it, keeping the newest few sets.
#include "scanner/guards/output_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "unit/scan_scenario.h"
#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::exists;
using testing_util::fake_glusterfind;
using testing_util::list_dir;
using testing_util::log_capture;
using testing_util::read_file;
using testing_util::scoped_env;
using testing_util::temp_dir;
using testing_util::write_file;

std::error_code err(int e) { return std::error_code(e, std::generic_category()); }

class OutputDirRunTest : public ::testing::Test {
 protected:
  OutputDirRunTest()
      : volume_root_("TARN_LOCAL_VOLUME_ROOT", root_.path()), volume_(root_.path("vol1")) {
    mkdir(volume_.c_str(), 0755);
    write_file(volume_ + "/data", "the volume's own file\n");
    tool_.set_changelist("NEW home/a\n");
  }

  // A run with `out` refused with `expected`: nothing ran, nothing moved,
  // the lock released, the log names the directory.
  void expect_refused(const std::string& out, int expected) {
    SCOPED_TRACE(out);
    log_capture log;
    scanner s("vol1", out, volume_);
    EXPECT_EQ(s.initiate_scan("s1"), err(expected));
    EXPECT_TRUE(log.contains("Refusing to run session s1: output directory " + out)) << log.text();
    EXPECT_TRUE(tool_.calls().empty());
    EXPECT_FALSE(exists(volume_ + "/vol1.lock.s1"));
    EXPECT_EQ(read_file(volume_ + "/data"), "the volume's own file\n");
    EXPECT_EQ(list_dir(volume_), std::vector<std::string>{"data"});
  }

  temp_dir root_;
  scoped_env volume_root_;
  std::string volume_;
  fake_glusterfind tool_;
};

TEST_F(OutputDirRunTest, DirectoryWithAUsersFileIsRefusedAndLeftAlone) {
  const std::string out = root_.path("notes");
  mkdir(out.c_str(), 0755);
  write_file(out + "/notes.txt", "mine\n");
  expect_refused(out, ENOTEMPTY);
  EXPECT_EQ(list_dir(out), std::vector<std::string>{"notes.txt"});
  EXPECT_EQ(read_file(out + "/notes.txt"), "mine\n");
  EXPECT_EQ(list_dir(root_.path()), (std::vector<std::string>{"notes", "vol1"}));
}

TEST_F(OutputDirRunTest, MountItsInsideAndItsParentAreRefused) {
  expect_refused(volume_, EINVAL);
  expect_refused(volume_ + "/", EINVAL);
  expect_refused(volume_ + "/new/out", EINVAL);
  expect_refused(root_.path("vol1/../vol1/x"), EINVAL);
  expect_refused(root_.path(), EINVAL);
  // Through a symbolic link to the mount.
  ASSERT_EQ(symlink(volume_.c_str(), root_.path("link").c_str()), 0);
  expect_refused(root_.path("link/out"), EINVAL);
}

TEST_F(OutputDirRunTest, NewAndEmptyDirectoriesAreTakenAndRemovedAfterSuccess) {
  const std::string fresh = root_.path("a/b/out");
  scanner one("vol1", fresh, volume_);
  ASSERT_EQ(one.initiate_scan("s1"), success);
  EXPECT_FALSE(exists(fresh));
  EXPECT_TRUE(exists(volume_ + "/.tarn/working/scanner/home/home-s1.0"));

  const std::string empty = root_.path("empty");
  mkdir(empty.c_str(), 0755);
  scanner two("vol1", empty, volume_);
  ASSERT_EQ(two.initiate_scan("s2"), success);
  EXPECT_FALSE(exists(empty));
}

// A killed run's sort runs are removed by the next run, its other files
// set aside; none of them is filed.
TEST_F(OutputDirRunTest, ARunRemovesTheSortRunsAKilledOneLeft) {
  const std::string out = root_.path("out");
  std::string why;
  ASSERT_NO_ERROR(claim_output_dir(out, volume_, &why));
  write_file(out + "/.s1.sort.1", "home/old\n");
  write_file(out + "/.s1.sort.2.partial", "home/o");
  write_file(out + "/home-s1.1", "home/old\n");
  log_capture log;
  scanner s("vol1", out, volume_);
  ASSERT_EQ(s.initiate_scan("s1"), success);
  EXPECT_TRUE(log.contains("Removed 2 sort run files left in " + out + " by an earlier run"))
      << log.text();
  EXPECT_TRUE(log.contains("Moved 1 files left in " + out));
  const std::vector<std::string> sets = list_dir(out + "/.tarn_leftovers/s1");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(list_dir(out + "/.tarn_leftovers/s1/" + sets[0]),
            std::vector<std::string>{"home-s1.1"});
  EXPECT_EQ(list_dir(volume_ + "/.tarn/working/scanner"), std::vector<std::string>{"home"});
}

// Each failed run's files go to a set of their own; sets beyond the newest
// three of a session are removed, and a session name cannot lead outside.
TEST(LeftoversTest, SetsAsideInsideAndKeepsTheNewestThree) {
  temp_dir root;
  const std::string out = root.path("out");
  std::string why;
  ASSERT_NO_ERROR(claim_output_dir(out, root.path("mnt"), &why));
  ASSERT_TRUE(exists(out + "/" + kOutputDirMarker));

  std::vector<std::string> sets;
  for (int run = 0; run < 5; ++run) {
    write_file(out + "/home-s1." + std::to_string(run), "line\n");
    leftovers_moved moved;
    ASSERT_NO_ERROR(set_aside_leftovers(out, "s1", &moved));
    EXPECT_EQ(moved.files, 1u);
    sets.push_back(moved.to);
    EXPECT_EQ(moved.pruned, run < 3 ? std::vector<std::string>{}
                                    : std::vector<std::string>{sets[run - 3]});
  }
  EXPECT_EQ(list_dir(out), (std::vector<std::string>{".tarn_leftovers", ".tarn_output_dir"}));
  const std::vector<std::string> kept = list_dir(out + "/.tarn_leftovers/s1");
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(out + "/.tarn_leftovers/s1/" + kept[2], sets[4]);
  EXPECT_EQ(list_dir(sets[4]), std::vector<std::string>{"home-s1.4"});

  // Nothing to set aside: nothing made.
  leftovers_moved none;
  ASSERT_NO_ERROR(set_aside_leftovers(out, "s1", &none));
  EXPECT_EQ(none.files, 0u);
  EXPECT_EQ(list_dir(out + "/.tarn_leftovers/s1").size(), 3u);

  write_file(out + "/x-..", "");
  leftovers_moved odd;
  ASSERT_NO_ERROR(set_aside_leftovers(out, "..", &odd));
  EXPECT_EQ(odd.to.rfind(out + "/.tarn_leftovers/%2E./", 0), 0u) << odd.to;
  EXPECT_EQ(list_dir(out + "/.tarn_leftovers").size(), 2u);
}

// A killed run's sort runs hold only entries of its collect file, which is
// set aside too: they are removed. Another session's are not this run's.
TEST(LeftoversTest, TheSessionsSortRunsAreRemovedNotKept) {
  temp_dir root;
  const std::string out = root.path("out");
  std::string why;
  ASSERT_NO_ERROR(claim_output_dir(out, "", &why));
  for (const char* name : {".s1.sort.3", ".s1.sort.4.partial", ".s2.sort.1", "s1-processed.9"}) {
    write_file(out + "/" + name, "a\n");
  }
  leftovers_moved moved;
  ASSERT_NO_ERROR(set_aside_leftovers(out, "s1", &moved));
  EXPECT_EQ(moved.sort_runs_removed, 2u);
  EXPECT_EQ(moved.files, 2u);
  EXPECT_EQ(list_dir(moved.to), (std::vector<std::string>{".s2.sort.1", "s1-processed.9"}));
  EXPECT_EQ(list_dir(out), (std::vector<std::string>{".tarn_leftovers", ".tarn_output_dir"}));

  // Only run files: nothing to set aside.
  write_file(out + "/.s1.sort.1", "");
  leftovers_moved only_runs;
  ASSERT_NO_ERROR(set_aside_leftovers(out, "s1", &only_runs));
  EXPECT_EQ(only_runs.sort_runs_removed, 1u);
  EXPECT_EQ(only_runs.files, 0u);
  EXPECT_EQ(list_dir(out + "/.tarn_leftovers/s1").size(), 1u);
}

// Where an entry lies on another file system than its set (a mount inside
// the output directory), it is copied and removed instead of renamed.
TEST(LeftoversTest, MoveOntoAnotherFileSystemIsACopy) {
  testing_util::small_tmpfs other("1m");
  if (!other.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  temp_dir root;
  const std::string out = root.path("out");
  std::string why;
  ASSERT_NO_ERROR(claim_output_dir(out, "", &why));
  ASSERT_EQ(symlink(other.path().c_str(), (out + "/" + kLeftoversDirectory).c_str()), 0);
  write_file(out + "/home-s1.2", "a\nb\n");
  leftovers_moved moved;
  ASSERT_NO_ERROR(set_aside_leftovers(out, "s1", &moved));
  EXPECT_EQ(moved.files, 1u);
  EXPECT_FALSE(exists(out + "/home-s1.2"));
  EXPECT_EQ(read_file(moved.to + "/home-s1.2"), "a\nb\n");
}

TEST(LeftoversTest, ClaimRefusesWhatIsNotTheLibrarys) {
  temp_dir root;
  std::string why;
  write_file(root.path("file"), "");
  EXPECT_EQ(claim_output_dir(root.path("file"), "", &why), err(EINVAL));
  EXPECT_EQ(claim_output_dir(root.path("file/below"), "", &why), err(ENOTDIR));
  mkdir(root.path("d").c_str(), 0755);
  write_file(root.path("d/.hidden"), "");
  EXPECT_EQ(claim_output_dir(root.path("d"), "", &why), err(ENOTEMPTY));
  EXPECT_NE(why.find(root.path("d") + " holds 1 entries that no run made"), std::string::npos)
      << why;
  EXPECT_EQ(list_dir(root.path("d")), std::vector<std::string>{".hidden"});
  // A marked directory is the library's, whatever it holds.
  write_file(root.path("d/.tarn_output_dir"), "");
  EXPECT_NO_ERROR(claim_output_dir(root.path("d"), "", &why));
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
