// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The tarn-scan program, run as a user would, on a local-directory volume
// with the fake glusterfind: options, exit statuses and the summary.
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "unit/test_util.h"

namespace tarn {
namespace {

using testing_util::fake_glusterfind;
using testing_util::scoped_env;
using testing_util::temp_dir;
using testing_util::write_file;

struct run_result {
  int status = -1;
  std::string out;  // stdout and stderr, in that order
  std::string err;
};

class TarnScanCliTest : public ::testing::Test {
 protected:
  TarnScanCliTest() : volume_root_("TARN_LOCAL_VOLUME_ROOT", root_.path()) {
    mkdir(root_.path("vol1").c_str(), 0755);
  }

  run_result run(const std::string& args) {
    std::string cmd = std::string(TARN_SCAN_BINARY) + " " + args + " >" + root_.path("stdout") +
                      " 2>" + root_.path("stderr");
    int status = system(cmd.c_str());
    run_result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = testing_util::read_file(root_.path("stdout"));
    r.err = testing_util::read_file(root_.path("stderr"));
    return r;
  }

  std::string base_args() {
    return "--volume vol1 --output-dir " + root_.path("out") + " --mount " + root_.path("vol1") +
           " --session nightly --log-file " + root_.path("log");
  }

  temp_dir root_;
  scoped_env volume_root_;
  fake_glusterfind tool_;
};

TEST_F(TarnScanCliTest, BadCommandLinesGiveUsageAndStatus2) {
  const char* cases[] = {
      "",                                                       // nothing
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x",       // no session
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session s --bogus",
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session s --incremental --full",
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session s stray",
      "--volume '' --output-dir /tmp/x --mount /mnt/x --session s",
  };
  for (const char* args : cases) {
    SCOPED_TRACE(args);
    run_result r = run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Usage: tarn-scan"), std::string::npos);
  }
  EXPECT_TRUE(tool_.calls().empty());
}

TEST_F(TarnScanCliTest, HelpAndVersion) {
  run_result help = run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--incremental"), std::string::npos);
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
  run_result version = run("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("tarn-scan ", 0), 0u);
}

TEST_F(TarnScanCliTest, LockedSessionIsExplained) {
  write_file(root_.path("vol1/vol1.lock.nightly"), "");
  run_result r = run(base_args());
  EXPECT_EQ(r.status, 16);
  EXPECT_NE(r.err.find("session 'nightly' is locked on volume 'vol1': another scan is running, "
                       "or a crashed one left vol1.lock.nightly in the volume root"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(r.out.empty());
}

TEST_F(TarnScanCliTest, FailedStepGives14AndPointsAtTheLog) {
  tool_.set_status("pre", 1);
  run_result r = run(base_args() + " --incremental");
  EXPECT_EQ(r.status, 14);
  EXPECT_NE(r.err.find("says at which step"), std::string::npos) << r.err;
  EXPECT_NE(testing_util::read_file(root_.path("log")).find("Failed to perform incr scan"),
            std::string::npos);
}

TEST_F(TarnScanCliTest, SuccessPrintsASummaryAndPostsWhenAsked) {
  run_result r = run(base_args() + " --post");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Scan of session 'nightly' on volume 'vol1' done in"), std::string::npos)
      << r.out;
  std::vector<std::string> calls = tool_.calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), "glusterfind post nightly vol1");

  run_result json = run(base_args() + " --json");
  EXPECT_EQ(json.status, 0) << json.err;
  write_file(root_.path("summary.json"), json.out);
  std::string check = "python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); "
                      "assert d[\"session\"]==\"nightly\" and \"applications\" in d' " +
                      root_.path("summary.json");
  EXPECT_EQ(system(check.c_str()), 0) << json.out;
}

TEST_F(TarnScanCliTest, SummaryCountsTheLinesEachRunAdded) {
  // Results of an earlier run, and this run's additions, as the copy step
  // leaves them: the summary reads back only what grew.
  std::string app = root_.path("vol1/.tarn/working/scanner/app1");
  std::string cmd = "mkdir -p " + app;
  ASSERT_EQ(system(cmd.c_str()), 0);
  write_file(app + "/app1-old.2", ".shard/x.1\n.shard/x.2\n");
  run_result r = run(base_args() + " --json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"total_entries\": 0"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace tarn
