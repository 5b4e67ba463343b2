// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Shells run in process groups of their own, which stop_runs ends whole.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "core/child_process.h"
#include "unit/test_util.h"

namespace tarn {
namespace core {
namespace {

TEST(ShellRunTest, StatusOutputAndAGroupOfItsOwn) {
  std::string out;
  EXPECT_EQ(run_shell("exit 3", nullptr), 3 << 8);
  ASSERT_EQ(run_shell("echo $$; ps -o pgid= -p $$", &out), 0);
  std::istringstream lines(out);
  long shell = 0, group = 0;
  lines >> shell >> group;
  EXPECT_EQ(shell, group) << out;
  EXPECT_NE(group, static_cast<long>(getpgrp()));
}

TEST(ShellRunTest, StopEndsTheWholeGroupAndLaterRunsFailAtOnce) {
  testing_util::temp_dir dir;
  const std::string child = dir.path("child");
  int status = 0;
  auto begin = std::chrono::steady_clock::now();
  std::thread run([&] {
    // A background child of the shell and one deaf to SIGTERM.
    status = run_shell("sleep 30 & echo $! > " + child + "; trap '' TERM; sleep 30", nullptr);
  });
  while (!testing_util::exists(child)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  stop_runs(std::chrono::milliseconds(300));
  run.join();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
  EXPECT_TRUE(WIFSIGNALED(status));
  const pid_t background = std::stoi(testing_util::read_file(child));
  // Gone (or a zombie until its new parent reaps it).
  const std::string state = testing_util::read_file("/proc/" + std::to_string(background) + "/stat");
  EXPECT_TRUE(state.empty() || state.find(") Z") != std::string::npos) << state;

  errno = 0;
  EXPECT_EQ(run_shell("true", nullptr), -1);
  EXPECT_EQ(errno, ECANCELED);  // the caller can say why
  resume_runs();
  EXPECT_EQ(run_shell("true", nullptr), 0);
}

}  // namespace
}  // namespace core
}  // namespace tarn
