// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Which bricks a failed glusterfind pass names in its own log, and the run
// that reports them.
#include "scanner/glusterfind/log.h"

#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::fake_glusterfind;
using testing_util::log_capture;
using testing_util::scoped_env;
using testing_util::temp_dir;
using testing_util::write_file;

// Two passes: one that reached every node, one that did not reach node 3.
const char kLog[] =
    "[2026-12-09 10:00:00,001] INFO [main - 700:mode_pre] - Pre started\n"
    "[2026-12-09 10:00:01,002] WARNING [main - 272:run_cmd_nodes] - Command pre failed in "
    "10.77.0.2:/old/brick\n"
    "[2026-12-09 11:00:21,530] ERROR [utils - 159:fail] - 10.77.0.3 - pre failed; stdout "
    "(including remote stderr):\n"
    "b'ssh: connect to host 10.77.0.3 port 22: No route to host\\r\\n'\n"
    "stderr:\n"
    "b''\n"
    "[2026-12-09 11:00:23,534] WARNING [main - 272:run_cmd_nodes] - Command pre failed in "
    "10.77.0.3:/var/lib/tarn-cluster/node3/bricks/tarn-c3\n"
    "[2026-12-09 11:00:21,540] WARNING [main - 272:run_cmd_nodes] - Command pre failed in "
    "10.77.0.3:/var/lib/tarn-cluster/node3/bricks/tarn-c3\n"
    "[2026-12-09 11:00:21,541] WARNING [main - 272:run_cmd_nodes] - Command post failed in "
    "10.77.0.1:/x\n";

TEST(GlusterfindLogTest, NamesEachFailedBrickOnceWithItsNodesReason) {
  std::vector<failed_brick> bricks = parse_failed_bricks(kLog, "pre");
  ASSERT_EQ(bricks.size(), 2u);
  EXPECT_EQ(bricks[0].brick, "10.77.0.2:/old/brick");
  EXPECT_EQ(bricks[0].reason, "");
  EXPECT_EQ(bricks[1].brick, "10.77.0.3:/var/lib/tarn-cluster/node3/bricks/tarn-c3");
  EXPECT_EQ(bricks[1].reason, "ssh: connect to host 10.77.0.3 port 22: No route to host");
  EXPECT_TRUE(parse_failed_bricks("", "pre").empty());
}

TEST(GlusterfindLogTest, OnlyWhatThePassAddedToTheLogCounts) {
  temp_dir dir;
  scoped_env logs("TARN_GLUSTERFIND_LOG_DIR", dir.path());
  const std::string path = glusterfind_log_path("s1", "gv0");
  EXPECT_EQ(path, dir.path("s1/gv0/cli.log"));
  EXPECT_EQ(log_end(path), 0u);
  EXPECT_TRUE(failed_bricks_since(path, 0, "pre").empty());  // no log yet
  const std::string text = kLog;
  const std::size_t second = text.find("[2026-12-09 11:00:21,530]");
  std::filesystem::create_directories(dir.path("s1/gv0"));
  write_file(path, text);
  std::vector<failed_brick> bricks = failed_bricks_since(path, second, "pre");
  ASSERT_EQ(bricks.size(), 1u);
  EXPECT_EQ(bricks[0].brick, "10.77.0.3:/var/lib/tarn-cluster/node3/bricks/tarn-c3");
  EXPECT_TRUE(failed_bricks_since(path, log_end(path), "pre").empty());
}

TEST(GlusterfindLogTest, AFailedPassNamesTheNodeAndSaysNothingIsLost) {
  temp_dir root;
  scoped_env volume_root("TARN_LOCAL_VOLUME_ROOT", root.path());
  scoped_env logs("TARN_GLUSTERFIND_LOG_DIR", root.path("gflog"));
  mkdir(root.path("gv0").c_str(), 0755);
  fake_glusterfind tool;
  tool.add_session("s1", "gv0");
  std::filesystem::create_directories(root.path("gflog/s1/gv0"));
  write_file(root.path("gflog/s1/gv0/cli.log"), kLog);  // an earlier pass's failure
  write_file(tool.dir() + "/log.pre", std::string(kLog).substr(std::string(kLog).find("[2026-12-09 11")));
  tool.set_status("pre", 1);
  log_capture log;
  scanner s("gv0", root.path("out"), root.path("gv0"));
  s.set_scan_type(scanner::scan_incremental);
  EXPECT_EQ(s.initiate_scan("s1").value(), EFAULT);
  EXPECT_EQ(s.last_report().failure, "glusterfind");
  EXPECT_EQ(s.last_report().failed_bricks,
            std::vector<std::string>{"10.77.0.3:/var/lib/tarn-cluster/node3/bricks/tarn-c3"});
  EXPECT_TRUE(log.contains("glusterfind could not do its part of the pass on node 10.77.0.3, "
                           "brick 10.77.0.3:/var/lib/tarn-cluster/node3/bricks/tarn-c3: ssh: "
                           "connect to host 10.77.0.3 port 22: No route to host; no change is "
                           "lost"))
      << log.text();
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
