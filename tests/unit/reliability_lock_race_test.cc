// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Many processes racing for one session's lock, round after round: one holds
// it each time, and no lock file outlives its round.
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

void wait_for(int fd) {
  char c;
  while (read(fd, &c, 1) < 0 && errno == EINTR) {
  }
}

// One racer: a host process of its own. It starts its run when `start_fd`
// closes; holding the lock, it waits at `gate_fd` before the lock file is
// removed, so that every other racer meets a held lock.
int race(const std::string& output_dir, const std::string& mount, int start_fd, int gate_fd) {
  testing_util::fault_injection faults;
  faults.plan().before(
      volume_call::unlink, [gate_fd](const std::string&) { wait_for(gate_fd); }, ".lock.");
  scanner s("vol1", output_dir, mount);
  wait_for(start_fd);
  return s.initiate_scan("s1").value();
}

class LockRaceTest : public ::testing::Test {
 protected:
  LockRaceTest() : volume_root_("TARN_LOCAL_VOLUME_ROOT", root_.path()) {
    mkdir(root_.path("vol1").c_str(), 0755);
    tool_.add_session("s1", "vol1");
  }

  // One round: the exit statuses of `racers` processes racing for the lock,
  // and whether the lock file was there while the holder waited.
  std::map<pid_t, int> round(int racers, bool* held_meanwhile) {
    int start[2];
    int gate[2];
    std::map<pid_t, int> status;
    if (pipe(start) != 0 || pipe(gate) != 0) return status;
    std::vector<pid_t> pids;
    for (int i = 0; i < racers; ++i) {
      pid_t pid = fork();
      if (pid == 0) {
        close(start[1]);
        close(gate[1]);
        _exit(race(root_.path("out" + std::to_string(i)), root_.path("vol1"), start[0], gate[0]));
      }
      if (pid > 0) pids.push_back(pid);
    }
    close(start[0]);
    close(gate[0]);
    close(start[1]);  // all go

    // The losers answer at once. A second holder would wait at the gate
    // too: stop waiting after a while then.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (status.size() + 1 < pids.size() && std::chrono::steady_clock::now() < deadline) {
      for (pid_t pid : pids) {
        int st;
        if (status.count(pid) == 0 && waitpid(pid, &st, WNOHANG) == pid) status[pid] = st;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    *held_meanwhile = exists(lock_file());
    close(gate[1]);  // the holder may finish
    for (pid_t pid : pids) {
      int st;
      if (status.count(pid) == 0 && waitpid(pid, &st, 0) == pid) status[pid] = st;
    }
    return status;
  }

  std::string lock_file() const { return root_.path("vol1/vol1.lock.s1"); }

  temp_dir root_;
  scoped_env volume_root_;
  fake_glusterfind tool_;
  log_capture log_;
};

TEST_F(LockRaceTest, SixteenProcessesTwentyRoundsOneHolderEachTime) {
  constexpr int kRacers = 16;
  constexpr int kRounds = 20;
  for (int r = 0; r < kRounds; ++r) {
    SCOPED_TRACE("round " + std::to_string(r));
    bool held = false;
    std::map<pid_t, int> status = round(kRacers, &held);
    ASSERT_EQ(status.size(), static_cast<size_t>(kRacers));
    int holders = 0;
    int busy = 0;
    for (const auto& entry : status) {
      ASSERT_TRUE(WIFEXITED(entry.second));
      if (WEXITSTATUS(entry.second) == 0) ++holders;
      if (WEXITSTATUS(entry.second) == EBUSY) ++busy;
    }
    EXPECT_EQ(holders, 1);
    EXPECT_EQ(busy, kRacers - 1);
    EXPECT_TRUE(held);
    ASSERT_FALSE(exists(lock_file()));
  }
  // Every pass ran under the lock: one per round.
  int passes = 0;
  for (const std::string& call : tool_.calls()) passes += call.rfind("glusterfind pre ", 0) == 0;
  EXPECT_EQ(passes, kRounds);
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
