// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The session lock file: exclusion between processes racing for one lock,
// independence of volumes, and a lock file left behind by a killed run.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "unit/fault_backend.h"
#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::exists;
using testing_util::fake_glusterfind;
using testing_util::log_capture;
using testing_util::scoped_env;
using testing_util::temp_dir;
using testing_util::volume_call;
using testing_util::write_file;

std::error_code err(int e) { return std::error_code(e, std::generic_category()); }

class LockTest : public ::testing::Test {
 protected:
  LockTest() : volume_root_("TARN_LOCAL_VOLUME_ROOT", root_.path()) {
    mkdir(root_.path("vol1").c_str(), 0755);
    mkdir(root_.path("vol2").c_str(), 0755);
  }

  std::string lock_file(const std::string& volume) const {
    return root_.path(volume + "/" + volume + ".lock.s1");
  }

  temp_dir root_;
  scoped_env volume_root_;
  fake_glusterfind tool_;
  log_capture log_;
};

size_t count_of(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) {
    ++n;
  }
  return n;
}

// One racer: waits at `start_fd` until every racer is ready, then runs. When
// it holds the lock it waits at `gate_fd`, just before the lock file is
// removed, until the parent has heard from every other racer.
int race(const std::string& output_dir, const std::string& mount, int start_fd, int gate_fd) {
  testing_util::fault_injection faults;
  faults.plan().before(
      volume_call::unlink,
      [gate_fd](const std::string&) {
        char c;
        while (read(gate_fd, &c, 1) < 0 && errno == EINTR) {
        }
      },
      ".lock.");
  scanner s("vol1", output_dir, mount);
  char c;
  while (read(start_fd, &c, 1) < 0 && errno == EINTR) {
  }
  return s.initiate_scan("s1").value();
}

TEST_F(LockTest, OneOfEightProcessesObtainsTheLock) {
  constexpr int kRacers = 8;
  int start[2];
  int gate[2];
  ASSERT_EQ(pipe(start), 0);
  ASSERT_EQ(pipe(gate), 0);
  std::vector<pid_t> racers;
  for (int i = 0; i < kRacers; ++i) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(start[1]);
      close(gate[1]);
      _exit(race(root_.path("out" + std::to_string(i)), root_.path("vol1"), start[0], gate[0]));
    }
    racers.push_back(pid);
  }
  close(start[0]);
  close(gate[0]);
  close(start[1]);  // all racers go

  // The losers answer at once; the winner holds the lock meanwhile. A second
  // winner would wait at the gate too: give up waiting after a while then.
  std::map<pid_t, int> status;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (status.size() < kRacers - 1 && std::chrono::steady_clock::now() < deadline) {
    for (pid_t pid : racers) {
      int st;
      if (status.count(pid) == 0 && waitpid(pid, &st, WNOHANG) == pid) status[pid] = st;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(status.size(), static_cast<size_t>(kRacers - 1));
  EXPECT_TRUE(exists(lock_file("vol1")));  // still held by the winner
  close(gate[1]);                          // let the winner finish
  for (pid_t pid : racers) {
    int st;
    if (status.count(pid) == 0 && waitpid(pid, &st, 0) == pid) status[pid] = st;
  }

  int winners = 0;
  int busy = 0;
  for (const auto& entry : status) {
    ASSERT_TRUE(WIFEXITED(entry.second));
    if (WEXITSTATUS(entry.second) == 0) ++winners;
    if (WEXITSTATUS(entry.second) == EBUSY) ++busy;
  }
  EXPECT_EQ(winners, 1);
  EXPECT_EQ(busy, kRacers - 1);
  EXPECT_FALSE(exists(lock_file("vol1")));
  EXPECT_EQ(count_of(log_.text(), "Failed to create lock file vol1.lock.s1on volume vol1"),
            static_cast<size_t>(kRacers - 1));
}

TEST_F(LockTest, SameSessionOnTwoVolumesBothProceed) {
  scanner first("vol1", root_.path("out1"), root_.path("vol1"));
  boost::shared_ptr<tarn_file> held = first.acquire_lock("s1");
  ASSERT_TRUE(held);
  EXPECT_TRUE(exists(lock_file("vol1")));

  scanner second("vol2", root_.path("out2"), root_.path("vol2"));
  EXPECT_EQ(second.initiate_scan("s1"), success);
  EXPECT_FALSE(exists(lock_file("vol2")));
  EXPECT_TRUE(exists(lock_file("vol1")));

  first.release_lock(held);
  EXPECT_FALSE(exists(lock_file("vol1")));
}

TEST_F(LockTest, LockFileOfAKilledRunBlocksUntilRemoved) {
  write_file(lock_file("vol1"), "");
  scanner s("vol1", root_.path("out"), root_.path("vol1"));
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(s.initiate_scan("s1"), err(EBUSY));
  }
  EXPECT_EQ(
      count_of(log_.text(),
               "[scanner::acquire_lock] Failed to create lock file vol1.lock.s1on volume vol1"),
      2u);
  EXPECT_EQ(count_of(log_.text(),
                     "[scanner::acquire_lock] Lock file vol1.lock.s1 on volume vol1 exists: "
                     "another scan of the session is running, or a crashed one left it"),
            2u);
  EXPECT_TRUE(tool_.calls().empty());
  EXPECT_TRUE(exists(lock_file("vol1")));

  ::unlink(lock_file("vol1").c_str());
  EXPECT_EQ(s.initiate_scan("s1"), success);
  EXPECT_FALSE(exists(lock_file("vol1")));
}

TEST_F(LockTest, ACreateGivenUpIsRefusedAndToldApartFromAHeldLock) {
  testing_util::fault_injection faults;
  faults.plan().fail(volume_call::open, 1, ETIMEDOUT, ".lock.");
  faults.plan().fail(volume_call::open, 2, EACCES, ".lock.");
  scanner s("vol1", root_.path("out"), root_.path("vol1"));
  EXPECT_EQ(s.initiate_scan("s1"), err(EBUSY));
  EXPECT_TRUE(log_.contains("Failed to create lock file vol1.lock.s1on volume vol1\n"));
  EXPECT_TRUE(
      log_.contains("Creating lock file vol1.lock.s1 on volume vol1 did not finish within " +
                    std::to_string(kExclusiveCreateTimeoutSeconds) + " s and was given up"));
  EXPECT_FALSE(log_.contains("exists:"));

  EXPECT_EQ(s.initiate_scan("s1"), err(EBUSY));
  EXPECT_TRUE(log_.contains("Creating lock file vol1.lock.s1 on volume vol1 failed: " +
                            err(EACCES).message()));
  EXPECT_TRUE(tool_.calls().empty());  // neither run went past the lock

  EXPECT_EQ(s.initiate_scan("s1"), success);
  EXPECT_FALSE(exists(lock_file("vol1")));
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
