// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The scan run on a local-directory volume with the fake glusterfind: order
// of steps, results, messages and the lock on every way out.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "unit/fake_tool.h"
#include "unit/scan_scenario.h"
#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::exists;
using testing_util::fake_glusterfind;
using testing_util::log_capture;
using testing_util::scoped_env;
using testing_util::temp_dir;
using testing_util::write_file;

class ScanRunTest : public ::testing::Test {
 protected:
  ScanRunTest()
      : volume_root_("TARN_LOCAL_VOLUME_ROOT", root_.path()),
        volume_dir_(root_.path("vol1")),
        output_dir_(root_.path("out")) {
    mkdir(volume_dir_.c_str(), 0755);
  }

  std::string lock_file(const std::string& session) const {
    return volume_dir_ + "/vol1.lock." + session;
  }

  temp_dir root_;
  scoped_env volume_root_;
  std::string volume_dir_;
  std::string output_dir_;
  fake_glusterfind tool_;
  log_capture log_;
};

// A run takes its commands, its clock and its local files from the
// environment in force on its thread when it begins, and keeps that one to
// its end.
TEST_F(ScanRunTest, ARunWorksInTheEnvironmentInForce) {
  struct counted_files : forwarding_local_files {
    using forwarding_local_files::forwarding_local_files;
    std::error_code create(const std::string& path, std::unique_ptr<line_output>* out) override {
      ++created;
      return forwarding_local_files::create(path, out);
    }
    int created = 0;
  } files(posix_local_files());
  struct stopped_clock : testing_util::fake_tool_env {
    using fake_tool_env::fake_tool_env;
    std::chrono::system_clock::time_point now() override {
      return std::chrono::system_clock::time_point(std::chrono::seconds(1796755200));
    }
    local_files& files() override { return *local; }
    local_files* local = nullptr;
  } env(tool_.dir());
  env.local = &files;
  tool_.set_changelist("NEW app\n");
  scanner s("vol1", output_dir_, volume_dir_);
  {
    scoped_run_env in_force(env);
    ASSERT_EQ(s.initiate_scan("s1"), success) << log_.text();
  }
  EXPECT_EQ(s.last_report().started, env.now());
  EXPECT_EQ(s.last_report().finished, env.now());
  EXPECT_EQ(tool_.calls().size(), 3u);  // list, create, pre: answered by `env`
  const int created = files.created;
  EXPECT_GT(created, 0);

  ASSERT_EQ(s.initiate_scan("s1"), success) << log_.text();
  EXPECT_GT(s.last_report().started, env.now());
  EXPECT_EQ(files.created, created);
}

// The copy takes the lists the run made, in the run's order: a file put
// into the output directory meanwhile is neither copied nor removed.
TEST_F(ScanRunTest, TheCopyTakesTheRunsListsAndLeavesOtherFiles) {
  struct stray_writer : progress_observer {
    std::string dir;
    void step_entered(const char* step) override {
      if (std::string(step) == "copy") write_file(dir + "/stray-s1.1", "stray/x\n");
    }
    void entries_done(const char*, uint64_t) override {}
  } writer;
  writer.dir = output_dir_;
  tool_.set_changelist("NEW b\nNEW a\n");
  scanner s("vol1", output_dir_, volume_dir_);
  s.set_progress_observer(&writer);
  ASSERT_EQ(s.initiate_scan("s1"), success) << log_.text();
  std::vector<std::string> copied;
  for (const scan_report_list& list : s.last_report().lists) copied.push_back(list.application);
  EXPECT_EQ(copied, (std::vector<std::string>{"a", "b"}));
  EXPECT_FALSE(exists(volume_dir_ + "/.tarn/working/scanner/stray"));
  EXPECT_TRUE(exists(output_dir_ + "/stray-s1.1"));
}

TEST_F(ScanRunTest, EmptyInputsFailBeforeAnyLockOrCommand) {
  scanner s("vol1", output_dir_, volume_dir_);
  EXPECT_EQ(s.initiate_scan(""), std::error_code(EFAULT, std::generic_category()));
  EXPECT_TRUE(log_.contains("Session name is empty, Please provide a valid session name"));

  scanner no_output("vol1", "", volume_dir_);
  EXPECT_EQ(no_output.initiate_scan("s1"), std::error_code(EFAULT, std::generic_category()));
  EXPECT_TRUE(log_.contains("[scanner::initiate_scan] Failed to find volume path"));

  EXPECT_TRUE(tool_.calls().empty());
  EXPECT_FALSE(exists(lock_file("s1")));
}

TEST_F(ScanRunTest, ForeignLockFileEndsTheRunWithBusyAndStays) {
  write_file(lock_file("s1"), "someone else's");
  scanner s("vol1", output_dir_, volume_dir_);
  EXPECT_EQ(s.initiate_scan("s1"), std::error_code(EBUSY, std::generic_category()));
  EXPECT_TRUE(log_.contains("Trying to acquire lock for session s1"));
  EXPECT_TRUE(log_.contains("Failed to create lock file vol1.lock.s1on volume vol1"));
  EXPECT_TRUE(log_.contains("Failed to acquire lock for session s1"));
  EXPECT_TRUE(tool_.calls().empty());
  EXPECT_EQ(testing_util::read_file(lock_file("s1")), "someone else's");
}

TEST_F(ScanRunTest, UnreachableVolumeCannotBeLocked) {
  scanner s("no-such-volume", output_dir_, volume_dir_);
  EXPECT_EQ(s.initiate_scan("s1"), std::error_code(EBUSY, std::generic_category()));
}

TEST_F(ScanRunTest, SuccessfulRunsTakeAndReleaseTheirOwnLock) {
  scanner s("vol1", output_dir_, volume_dir_);
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    EXPECT_EQ(s.initiate_scan("s1"), success);
    EXPECT_TRUE(s.last_report().full);  // a new scanner runs full scans
    EXPECT_FALSE(exists(lock_file("s1")));
    EXPECT_FALSE(exists(output_dir_));
  }
  // Each run asked for a lock of its own; none ran lockless.
  EXPECT_FALSE(log_.contains("Lock is already being held"));
  std::vector<std::string> calls = tool_.calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0], "glusterfind list --session s1 --volume vol1");
  EXPECT_EQ(calls[1], "glusterfind create s1 vol1");
  EXPECT_EQ(calls[2], "glusterfind pre s1 vol1 " + output_dir_ +
                          "/full-s1 --full --regenerate-outfile --no-encode --disable-partial");
  EXPECT_EQ(calls[3], calls[2]);  // the cached session runs no list/create
}

TEST_F(ScanRunTest, IncrementalScanUsesTheSameOutputFile) {
  tool_.add_session("s1", "vol1");
  scanner s("vol1", output_dir_, volume_dir_);
  s.set_scan_type(scanner::scan_incremental);
  EXPECT_EQ(s.initiate_scan("s1"), success);
  EXPECT_EQ(s.initiate_scan("s1"), success);
  std::vector<std::string> calls = tool_.calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[1], "glusterfind pre s1 vol1 " + output_dir_ +
                          "/full-s1 --regenerate-outfile --no-encode --disable-partial");
  EXPECT_EQ(calls[2], calls[1]);
}

TEST_F(ScanRunTest, AnyNonZeroScanTypeRunsAFullScan) {
  tool_.add_session("s1", "vol1");
  scanner s("vol1", output_dir_, volume_dir_);
  s.set_scan_type(static_cast<scanner::scantype>(7));
  EXPECT_EQ(s.initiate_scan("s1"), success);
  EXPECT_NE(tool_.calls().back().find(" --full "), std::string::npos);
  EXPECT_EQ(sizeof(scanner::scantype), 4u);
}

TEST_F(ScanRunTest, SessionThatCannotBeMadeReleasesTheLock) {
  tool_.set_status("create", 1);
  scanner s("vol1", output_dir_, volume_dir_);
  EXPECT_EQ(s.initiate_scan("s1"), std::error_code(EFAULT, std::generic_category()));
  EXPECT_TRUE(log_.contains("Failed to initiate session object for session s1 "));
  EXPECT_FALSE(exists(lock_file("s1")));
  EXPECT_EQ(s.get_sessionobj("s1"), nullptr);
}

TEST_F(ScanRunTest, FailedPassReleasesTheLockAndNamesTheKind) {
  tool_.add_session("s1", "vol1");
  tool_.set_status("pre", 1);
  scanner s("vol1", output_dir_, volume_dir_);
  EXPECT_EQ(s.initiate_scan("s1"), std::error_code(EFAULT, std::generic_category()));
  EXPECT_TRUE(log_.contains("Failed to perform full scan for session s1 on volume vol1"));
  EXPECT_FALSE(exists(lock_file("s1")));

  s.set_scan_type(scanner::scan_incremental);
  EXPECT_EQ(s.initiate_scan("s1"), std::error_code(EFAULT, std::generic_category()));
  EXPECT_TRUE(log_.contains("Failed to perform incr scan for session s1 on volume vol1"));
  EXPECT_FALSE(exists(lock_file("s1")));
}

TEST_F(ScanRunTest, SessionObjectsAreCachedAndExcludeTheRunsFiles) {
  tool_.add_session("s1", "vol1");
  scanner s("vol1", output_dir_, volume_dir_);
  session* first = s.get_sessionobj("s1");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(s.get_sessionobj("s1"), first);
  EXPECT_EQ(tool_.calls().size(), 1u);

  ASSERT_EQ(s.initiate_scan("s1"), success);
  const std::set<std::string>& excluded = first->get_excludelist();
  EXPECT_EQ(excluded.count(".tarn/working/scanner"), 1u);
  EXPECT_EQ(excluded.count("vol1.lock.s1"), 1u);
  EXPECT_TRUE(first->is_excluded("vol1.lock.other-session"));  // any session's lock
  EXPECT_EQ(excluded.count(output_dir_ + "/filteredfile-s1"), 1u);
  EXPECT_EQ(excluded.count(output_dir_ + "/s1-processed.0"), 1u);
}

// A top-level directory whose name merely begins with ".shard" is an
// application: its changed files are linked like any other's, and the copy
// files its list by the text before the first "-".
TEST_F(ScanRunTest, ShardLookalikeDirectoryIsAnApplication) {
  const std::string gfid = "0a1b2c3d-0000-4000-8000-000000000001";
  mkdir((volume_dir_ + "/.shard-old").c_str(), 0755);
  write_file(volume_dir_ + "/.shard-old/f", "x");
  if (!testing_util::set_gfid(volume_dir_ + "/.shard-old/f", gfid)) {
    GTEST_SKIP() << "trusted.gfid cannot be set here";
  }
  tool_.set_changelist("NEW .shard-old\nNEW .shard-old/f\nNEW .shard/" + gfid + ".1\n");
  scanner s("vol1", output_dir_, volume_dir_);
  ASSERT_EQ(s.initiate_scan("s1"), success);
  EXPECT_EQ(testing_util::read_file(volume_dir_ + "/.tarn/working/scanner/.shard/.shard-old-s1.1"),
            ".shard/" + gfid + ".1\n");
}

// Entries listed on request: every piece line stays where it was in
// relation to the others, each application's entries come in list order
// right before their own pieces, and off again the results are those of a
// scanner that was never asked.
TEST_F(ScanRunTest, ListedEntriesOnRequestAndTheSameResultsAsEverWithout) {
  const testing_util::scan_scenario scenario = testing_util::make_scenario("s1", 2, 3, 2);
  tool_.set_changelist(scenario.changelist);
  const std::string working = volume_dir_ + "/.tarn/working/scanner";
  scanner s("vol1", output_dir_, volume_dir_);
  const auto gfids = testing_util::use_scenario_gfids();
  s.set_list_files(true);  // reaches the session made before
  ASSERT_EQ(s.initiate_scan("s1"), success) << log_.text();

  std::map<std::string, std::string> with = testing_util::read_tree(working);
  ASSERT_EQ(with.size(), scenario.results.size());
  unsigned long paths = 0;
  auto expected = scenario.results.begin();
  for (const auto& result : with) {
    SCOPED_TRACE(result.first);
    std::vector<std::string> entries;
    std::string pieces;
    std::string owner;
    std::istringstream lines(result.second);
    for (std::string line; std::getline(lines, line);) {
      if (line.compare(0, 7, ".shard/") != 0) {
        entries.push_back(line);
        owner = testing_util::scenario_gfid_text(line);
        continue;
      }
      EXPECT_EQ(line.compare(7, owner.size(), owner), 0) << line;
      pieces += line + "\n";
    }
    EXPECT_EQ(pieces, expected->second);
    EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end()));
    EXPECT_EQ(entries.size(), result.first.compare(0, 3, "a0/") == 0 ? 4u : 3u);
    paths += entries.size();
    ++expected;
  }
  EXPECT_EQ(s.get_sessionobj("s1")->last_link_counts().path_lines, paths);
  EXPECT_EQ(s.get_sessionobj("s1")->last_link_counts().piece_lines, 12u);

  testing_util::temp_dir cleared;
  ASSERT_EQ(rename(working.c_str(), cleared.path("old").c_str()), 0);
  s.set_list_files(false);
  ASSERT_EQ(s.initiate_scan("s1"), success) << log_.text();
  EXPECT_EQ(testing_util::read_tree(working), scenario.results);
  EXPECT_EQ(s.get_sessionobj("s1")->last_link_counts().path_lines, 0u);

  // A session made after the option was set takes it too.
  scanner later("vol1", output_dir_, volume_dir_);
  later.set_list_files(true);
  EXPECT_TRUE(later.get_sessionobj("s2")->lists_files());
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
