// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Runs of one session in several processes at once: the lock file on the
// volume lets exactly one through.
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "e2e/scan_fixture.h"

namespace tarn {
namespace e2e {
namespace {

using testing_util::exists;
using testing_util::read_file;
using testing_util::write_file;

// A glusterfind in front of the real one that holds every "pre" until the
// test releases it, so that the process holding the lock is still running
// while the others try.
constexpr char kGateScript[] =
    "#!/bin/bash\n"
    "if [ \"$1\" = pre ]; then\n"
    "  touch \"$TARN_E2E_GATE/entered.$$\"\n"
    "  for i in $(seq 1200); do [ -e \"$TARN_E2E_GATE/release\" ] && break; sleep 0.1; done\n"
    "fi\n"
    "PATH=${PATH#*:} exec glusterfind \"$@\"\n";

class LockTest : public scan_test {
 protected:
  void SetUp() override {
    scan_test::SetUp();
    gate_ = local_.path("gate");
    mkdir(gate_.c_str(), 0755);
    mkdir(local_.path("bin").c_str(), 0755);
    write_file(local_.path("bin/glusterfind"), kGateScript);
    chmod(local_.path("bin/glusterfind").c_str(), 0755);
  }

  // The shell line of host process `i`: its own output directory and log,
  // its result value written to result.<i>.
  std::string host_command(int i) const {
    std::string n = std::to_string(i);
    return "PATH=" + quote(local_.path("bin")) + ":\"$PATH\" TARN_E2E_GATE=" + quote(gate_) +
           " TARN_LOG_FILE=" + quote(local_.path("log." + n)) + " " + quote(TARN_E2E_HOST) +
           " " + quote(volume()) + " " + quote(local_.path("out." + n)) + " " + quote(mount()) +
           " " + quote(session_) + " full > " + quote(local_.path("result." + n));
  }

  std::string result(int i) const { return read_file(local_.path("result." + std::to_string(i))); }

  int gate_entries() const {
    int n = 0;
    for (const std::string& name : testing_util::list_dir(gate_)) n += name.find("entered") == 0;
    return n;
  }

  std::string gate_;
};

TEST_F(LockTest, OneOfSeveralProcessesScansTheOthersGet16) {
  constexpr int kProcesses = 4;
  std::vector<std::thread> hosts;
  for (int i = 0; i < kProcesses; ++i) {
    hosts.emplace_back([this, i] { sh(host_command(i)); });
  }
  // Wait (bounded) until all but the lock holder have given up.
  int finished = 0;
  for (int tenth = 0; tenth < 900; ++tenth) {
    finished = 0;
    for (int i = 0; i < kProcesses; ++i) finished += !result(i).empty();
    if (finished == kProcesses - 1 && gate_entries() == 1) break;
    pause(0.1);
  }
  EXPECT_EQ(finished, kProcesses - 1);
  EXPECT_EQ(gate_entries(), 1);
  EXPECT_TRUE(exists(lock_file())) << "the holder keeps its lock while it scans";

  write_file(gate_ + "/release", "");
  for (std::thread& t : hosts) t.join();

  int winners = 0, busy = 0;
  for (int i = 0; i < kProcesses; ++i) {
    std::string log = read_file(local_.path("log." + std::to_string(i)));
    if (result(i) == "0\n") {
      ++winners;
    } else if (result(i) == "16\n") {
      ++busy;
      EXPECT_NE(log.find("Failed to create lock file " + volume() + ".lock." + session_ +
                         "on volume " + volume()),
                std::string::npos)
          << log;
    } else {
      ADD_FAILURE() << "process " << i << " returned " << result(i) << log;
    }
  }
  EXPECT_EQ(winners, 1);
  EXPECT_EQ(busy, kProcesses - 1);
  EXPECT_TRUE(lock_gone());
  EXPECT_EQ(results(), expected_full());
}

}  // namespace
}  // namespace e2e
}  // namespace tarn
