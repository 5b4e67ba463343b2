// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Runs while glusterd or the volume is down: the run fails, says why, and the
// changes made meanwhile show in the first run after the rig is restored.
#include <signal.h>

#include <fcntl.h>

#include <cstring>
#include <ctime>
#include <iostream>

#include <gtest/gtest.h>

#include "e2e/scan_fixture.h"

namespace tarn {
namespace e2e {
namespace {

using testing_util::exists;
using testing_util::write_file;

class OutageTest : public scan_test {
 protected:
  void TearDown() override {
    // Whatever happened, leave the rig as the next test expects it.
    if (!glusterd_pid() || !exists(on_mount(".gfid"))) {
      EXPECT_EQ(rig("up"), 0) << "the rig could not be restored";
    }
  }

  // A full run and post_scan, then changes: piece .5 of big.bin and a file.
  void scan_then_change(scanner::scanner& s) {
    ASSERT_EQ(s.initiate_scan(session_), success) << log_.text();
    ASSERT_EQ(s.get_sessionobj(session_)->post_scan(), 0);
    clear_results();
    append_mb("app2/big.bin", 2);
    write_file(on_mount("app1/during outage.txt"), "x\n");
    wait_for_changelog();
  }

  result_map expected_changes() const {
    std::vector<std::string> pieces = pieces_of("app2/big.bin");
    if (pieces.size() != 5) return {};
    return {{result_file("app1", 0), {}}, {result_file("app2", 1), {pieces[4]}}};
  }
};

TEST_F(OutageTest, GlusterdStoppedFailsTheRunAndLosesNothing) {
  if (!rig_owns_glusterd()) GTEST_SKIP() << "glusterd was not started by the rig";
  scanner::scanner s(volume(), out_, mount());
  scan_then_change(s);
  result_map expected = expected_changes();
  ASSERT_FALSE(expected.empty());

  int pid = glusterd_pid();
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  for (int tenth = 0; tenth < 100 && glusterd_pid() != 0; ++tenth) pause(0.1);
  ASSERT_EQ(glusterd_pid(), 0);

  // The bricks still serve the scanner's connection, but the lock file is
  // created over a new one, in a helper process, and a new connection needs
  // glusterd: the run is refused before it touches anything, and says why.
  s.set_scan_type(scanner::scanner::scan_incremental);
  EXPECT_EQ(s.initiate_scan(session_).value(), EBUSY);
  EXPECT_TRUE(log_.contains("on volume " + volume() + " failed: cannot connect to the volume: " +
                            std::strerror(ENOTCONN)))
      << log_.text();
  EXPECT_TRUE(log_.contains("Failed to acquire lock for session " + session_)) << log_.text();
  EXPECT_TRUE(lock_gone());
  EXPECT_TRUE(results().empty());

  // A process that starts now cannot reach the volume at all, and says so.
  std::string late_log = local_.path("late.log");
  EXPECT_EQ(sh("TARN_LOG_FILE=" + quote(late_log) + " " + quote(TARN_E2E_HOST) + " " +
               quote(volume()) + " " + quote(local_.path("late")) + " " + quote(mount()) + " " +
               quote(session_) + " incremental > /dev/null"),
            1);
  EXPECT_NE(testing_util::read_file(late_log).find("Cannot open volume " + volume() + ": "),
            std::string::npos)
      << testing_util::read_file(late_log);

  ASSERT_EQ(rig("up"), 0);
  EXPECT_EQ(scan_until(s, expected), success) << log_.text();
  EXPECT_EQ(results(), expected);
  EXPECT_TRUE(lock_gone());
}

TEST_F(OutageTest, VolumeStoppedFailsTheRunAndLosesNothing) {
  scanner::scanner s(volume(), out_, mount());
  scan_then_change(s);
  result_map expected = expected_changes();
  ASSERT_FALSE(expected.empty());

  // A file with lines kept back when the volume goes away: close tells. It
  // lies below ".tarn", which no scan reports.
  ASSERT_EQ(sh("mkdir -p " + quote(on_mount(".tarn"))), 0);
  tarn_api api;
  iopx_tree_cfg cfg;
  cfg.fs_type = "glusterfs";
  cfg.volume = volume();
  boost::shared_ptr<tarn_iopx::tarn_iopx> iopx = api.init(cfg);
  ASSERT_TRUE(iopx);
  boost::shared_ptr<tarn_file::tarn_file> f = api.open(iopx, ".tarn/pending.txt", O_CREAT | O_WRONLY);
  ASSERT_TRUE(f);
  boost::shared_ptr<tarn_mem::buff> line = api.alloc_io_buffer(5);
  memcpy(line->get_base(), "line\n", 5);
  EXPECT_EQ(api.write(f, line, 5, 0, 0), 5);

  ASSERT_EQ(sh("gluster --mode=script volume stop " + quote(volume()) + " >/dev/null"), 0);

  EXPECT_TRUE(api.close(f));
  s.set_scan_type(scanner::scanner::scan_incremental);
  EXPECT_EQ(s.initiate_scan(session_).value(), EBUSY);
  EXPECT_TRUE(log_.contains("Failed to create lock file")) << log_.text();
  // Every lock attempt connects anew, in a helper process.
  EXPECT_TRUE(log_.contains("on volume " + volume() + " failed: cannot connect to the volume"))
      << log_.text();

  ASSERT_EQ(rig("up"), 0);
  // The connection comes back by itself within seconds; scan_until retries.
  EXPECT_EQ(scan_until(s, expected), success) << log_.text();
  EXPECT_EQ(results(), expected) << log_.text();
  EXPECT_TRUE(lock_gone());
  sh("rm -f " + quote(on_mount(".tarn/pending.txt")));
}

// A brick leaves its last journal out of the change-log index when it stops,
// so an incremental pass of glusterfind never lists the changes of the last
// seconds before a stop: the run finds them in that journal.
TEST_F(OutageTest, ChangesOfTheSecondBeforeAVolumeStopAreListedAfterTheRestart) {
  scanner::scanner s(volume(), out_, mount());
  ASSERT_EQ(s.initiate_scan(session_), success) << log_.text();
  ASSERT_EQ(s.get_sessionobj(session_)->post_scan(), 0);
  clear_results();
  pause(2);

  append_mb("app2/big.bin", 2);
  write_file(on_mount("app1/last second.txt"), "x\n");
  const std::time_t changed = std::time(nullptr);
  ASSERT_EQ(sh("gluster --mode=script volume stop " + quote(volume()) + " >/dev/null"), 0);
  EXPECT_LE(std::time(nullptr) - changed, 2);
  ASSERT_EQ(rig("up"), 0);
  result_map expected = expected_changes();
  ASSERT_FALSE(expected.empty());

  // The first run that succeeds (the volume's connection and its change-log
  // history come back within seconds) lists them. A change that did reach
  // the index is listed by glusterfind itself once the rollover time (3 s)
  // has passed since it.
  while (std::time(nullptr) <= changed + 3) pause(0.1);
  s.set_scan_type(scanner::scanner::scan_incremental);
  std::error_code ec;
  for (int attempt = 0; attempt < 15; ++attempt) {
    clear_results();
    ec = s.initiate_scan(session_);
    if (ec == success) break;
    pause(1);
  }
  ASSERT_EQ(ec, success) << log_.text();
  EXPECT_EQ(results(), expected) << log_.text();
  std::cerr << "[ info     ] "
            << (log_.contains("journals that the incremental pass does not read")
                    ? "the last journal was left out of the index and read by the run\n"
                    : "the last journal reached the index this time\n");
}

// Switched off and on, the change log starts its history afresh: an
// incremental pass of glusterfind finds none back to the session's last pass,
// lists nothing, exits 0, and so does every pass after it. The run makes that
// pass a full one, and the passes after it are incremental again.
TEST_F(OutageTest, AChangeLogSwitchedOffAndOnMakesThePassFull) {
  scanner::scanner s(volume(), out_, mount());
  ASSERT_EQ(s.initiate_scan(session_), success) << log_.text();
  ASSERT_EQ(s.get_sessionobj(session_)->post_scan(), 0);
  const std::string set =
      "gluster --mode=script volume set " + quote(volume()) + " changelog.changelog ";
  ASSERT_EQ(sh(set + "off >/dev/null"), 0);
  append_mb("app2/big.bin", 2);  // journaled nowhere
  ASSERT_EQ(sh(set + "on >/dev/null"), 0);
  wait_for_changelog();
  auto listed = [this](const std::string& line) {
    for (const auto& file : results()) {
      for (const std::string& l : file.second) if (l == line) return true;
    }
    return false;
  };
  std::vector<std::string> pieces = pieces_of("app2/big.bin");
  ASSERT_EQ(pieces.size(), 5u);

  clear_results();
  s.set_scan_type(scanner::scanner::scan_incremental);
  ASSERT_EQ(s.initiate_scan(session_), success) << log_.text();
  EXPECT_TRUE(s.last_report().became_full);
  EXPECT_TRUE(listed(pieces[4])) << log_.text();
  ASSERT_EQ(s.get_sessionobj(session_)->post_scan(), 0);

  clear_results();
  append_mb("app2/big.bin", 4);
  wait_for_changelog();
  pieces = pieces_of("app2/big.bin");
  ASSERT_EQ(pieces.size(), 6u);
  EXPECT_EQ(scan_until(s, {{result_file("app2", 2), {pieces[4], pieces[5]}}}), success)
      << log_.text();
  EXPECT_FALSE(s.last_report().became_full);
}

}  // namespace
}  // namespace e2e
}  // namespace tarn
