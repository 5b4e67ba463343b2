// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Hostile names and odd change lists through whole runs: no name runs a
// command, and every run ends with whole result lists or a clear error.
#include <sys/stat.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "unit/scan_scenario.h"
#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::exists;
using testing_util::fake_glusterfind;
using testing_util::log_capture;
using testing_util::read_tree;
using testing_util::scoped_env;
using testing_util::temp_dir;

// Each would make a shell that read it as code create "owned" in $HOME.
const char* const kNames[] = {
    "x;cd;touch owned",    "$(cd;touch owned)", "`cd;touch owned`", "x|cd|touch owned",
    "x&&cd&&touch owned",  "x\ncd\ntouch owned", "it's;cd;touch owned", "';cd;touch owned;'",
    "\";cd;touch owned;\"", "x&cd&touch owned", "*", "~", "$HOME", "-x y", "%s%n,\t",
};

class HostileNameTest : public ::testing::Test {
 protected:
  HostileNameTest()
      : volume_root_("TARN_LOCAL_VOLUME_ROOT", root_.path()), home_("HOME", root_.path("home")) {
    mkdir(root_.path("home").c_str(), 0755);
  }

  bool owned() const { return exists(root_.path("home/owned")); }

  temp_dir root_;
  scoped_env volume_root_;
  scoped_env home_;
  fake_glusterfind tool_;
  log_capture log_;
};

TEST_F(HostileNameTest, SessionAndVolumeNamesNeverRunACommand) {
  for (const char* name : kNames) {
    SCOPED_TRACE(name);
    fake_glusterfind tool(fake_glusterfind::mode::through_shell);
    tool.set_changelist("NEW a/nogfid.img\n");
    const std::string volume = root_.path(name);
    ASSERT_EQ(mkdir(volume.c_str(), 0755), 0);
    const std::string out = root_.path("out");

    scanner s(name, out, volume);
    ASSERT_EQ(s.initiate_scan(name), success) << log_.text();
    EXPECT_FALSE(owned());
    // The tool got each name as one argument, and the run its results.
    std::vector<std::vector<std::string>> calls = tool.argv();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].at(1), name);
    EXPECT_EQ(calls[2].at(2), name);
    EXPECT_EQ(read_tree(volume + "/.tarn/working/scanner"),
              (std::map<std::string, std::string>{{"a/a-" + std::string(name) + ".0", ""}}));
    EXPECT_FALSE(exists(volume + "/" + name + ".lock." + name));
  }
}

TEST_F(HostileNameTest, SessionNameWithASlashIsRefusedAtTheLock) {
  mkdir(root_.path("vol1").c_str(), 0755);
  scanner s("vol1", root_.path("out"), root_.path("vol1"));
  EXPECT_EQ(s.initiate_scan("a/b;cd;touch owned"), std::error_code(EBUSY, std::generic_category()));
  EXPECT_TRUE(log_.contains("Failed to create lock file vol1.lock.a/b;cd;touch owned"));
  EXPECT_TRUE(tool_.calls().empty());
  EXPECT_FALSE(owned());
}

// Odd but legal change lists end in whole results.
TEST_F(HostileNameTest, OddChangeListsGiveWholeResults) {
  mkdir(root_.path("vol1").c_str(), 0755);
  const std::string piece = ".shard/" + testing_util::scenario_gfid_text("a b/c\td") + ".1";
  const std::string long_name = "app/" + std::string(4000, 'x');
  const std::string text = "NEW a b/c\td\r\n\n\nNEW " + piece + "\nMODIFY %d,%s/\xff\xfe.img\n" +
                           "NEW /lead/slash\nNEW " + long_name + "\n\t NEW  two/blanks\n" +
                           "MODIFY last/line";
  tool_.set_changelist(text);
  scanner s("vol1", root_.path("out"), root_.path("vol1"));
  const auto gfids = testing_util::use_scenario_gfids();
  ASSERT_EQ(s.initiate_scan("s1"), success) << log_.text();
  std::map<std::string, std::string> results =
      read_tree(root_.path("vol1/.tarn/working/scanner"));
  // "a b/c\td\r" has no gfid ("\r" is part of its name); " two/blanks"
  // begins with a blank, so its application is " two"; "/lead/slash" has
  // the empty application, whose list lies in the working directory itself.
  EXPECT_EQ(results, (std::map<std::string, std::string>{
                         {"a b/a b-s1.0", ""},
                         {"%d,%s/%d,%s-s1.0", ""},
                         {"app/app-s1.0", ""},
                         {"last/last-s1.0", ""},
                         {" two/ two-s1.0", ""},
                         {"-s1.0", ""},
                     }))
      << ::testing::PrintToString(results);
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
