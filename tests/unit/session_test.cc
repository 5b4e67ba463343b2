// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The session object: working-file names, the exclude list and the record
// of the latest collect file.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::exists;
using testing_util::fake_glusterfind;
using testing_util::list_dir;
using testing_util::log_capture;
using testing_util::read_file;
using testing_util::temp_dir;

TEST(SessionNamingTest, OutputAndCollectFileNames) {
  struct row {
    std::string output_dir, prefix, suffix, expected;
  };
  const row rows[] = {
      {"/tmp/out", "full", "", "/tmp/out/full-s1"},
      {"/tmp/out", "filteredfile", "", "/tmp/out/filteredfile-s1"},
      {"/tmp/out", "app", ".3", "/tmp/out/app-s1.3"},
      {"/tmp/out/", "full", "", "/tmp/out//full-s1"},
      {"/tmp/out", "", "", "/tmp/out/-s1"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.expected);
    session s("s1", "vol1", r.output_dir, "/mnt/vol1");
    std::string prefix = r.prefix;
    std::string out = "previous content";
    s.get_outputfilepath(prefix, r.suffix, out);
    EXPECT_EQ(out, r.expected);
  }

  session s("s1", "vol1", "/tmp/out", "/mnt/vol1");
  std::string prefix = "processed";
  std::string out = "previous content";
  s.get_collectfilename(prefix, 0, out);
  EXPECT_EQ(out, "/tmp/out/s1-processed.0");
  s.get_collectfilename(prefix, 125, out);
  EXPECT_EQ(out, "/tmp/out/s1-processed.125");
  s.get_collectfilename(prefix, 18446744073709551615ul, out);
  EXPECT_EQ(out, "/tmp/out/s1-processed.18446744073709551615");
}

TEST(SessionTest, StartsWithTheTwoDirectoryNamesAndAnEmptyExcludeList) {
  session s("s1", "vol1", "/tmp/out", "/mnt/vol1");
  EXPECT_TRUE(s.get_excludelist().empty());

  s.insert_to_excludelist("a/b");
  s.insert_to_excludelist("a/b");
  EXPECT_EQ(s.get_excludelist(), (std::set<std::string>{"a/b"}));

  // The two directory names drop a path wherever they are a component of it,
  // and no other name does.
  session fresh("s1", "vol1", "/tmp/out", "/mnt/vol1");
  EXPECT_TRUE(fresh.is_excluded("app/.snaps/x"));
  EXPECT_TRUE(fresh.is_excluded(".tarn"));
  EXPECT_FALSE(fresh.is_excluded("app/.snapshots/x"));
}

class SaveFilenameTest : public ::testing::Test {
 protected:
  std::string output_dir() const { return root_.path("out"); }
  std::string record() const { return root_.path("out.s1.collect"); }

  temp_dir root_;
  log_capture log_;
};

TEST_F(SaveFilenameTest, RecordBesideTheOutputDirectoryHoldsOnlyTheLatestName) {
  mkdir(output_dir().c_str(), 0755);
  for (const std::string& dir : {output_dir(), output_dir() + "//"}) {
    SCOPED_TRACE(dir);
    session s("s1", "vol1", dir, "/mnt/vol1");
    std::string first = dir + "/s1-processed.7";
    std::string second = dir + "/s1-processed.12";
    ASSERT_NO_ERROR(s.savefilename(first));
    ASSERT_NO_ERROR(s.savefilename(second));
    EXPECT_EQ(read_file(record()), second + "\n");
    EXPECT_TRUE(log_.contains("[session::savefilename] Successfully inserted the file " + second +
                              " to collect file"));
  }
  // Nothing for the copy step to pick up, and no temporary left over.
  EXPECT_TRUE(list_dir(output_dir()).empty());
  EXPECT_EQ(list_dir(root_.path()), (std::vector<std::string>{"out", "out.s1.collect"}));
}

TEST_F(SaveFilenameTest, FailuresAreLoggedAndReturned) {
  struct row {
    std::string output_dir;
    int error;
  };
  const row rows[] = {
      {root_.path("missing/out"), ENOENT},  // the record's directory does not exist
      {"/", EINVAL},                        // no place outside the output directory
      {root_.path("out/."), EINVAL},
      {"", EINVAL},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.output_dir);
    session s("s1", "vol1", r.output_dir, "/mnt/vol1");
    std::string name = r.output_dir + "/s1-processed.3";
    EXPECT_EQ(s.savefilename(name), std::error_code(r.error, std::generic_category()));
    EXPECT_TRUE(log_.contains("[session::savefilename] Failed to insert the file " + name +
                              " to collect file"));
  }
  EXPECT_TRUE(list_dir(root_.path()).empty());
}

TEST_F(SaveFilenameTest, ARecordThatCannotBeReplacedKeepsItsOldContent) {
  session s("s1", "vol1", output_dir(), "/mnt/vol1");
  std::string old_name = "old";
  ASSERT_NO_ERROR(s.savefilename(old_name));
  // A directory in the temporary's place makes the new record fail to open.
  mkdir((record() + ".tmp").c_str(), 0755);
  std::string new_name = "new";
  EXPECT_EQ(s.savefilename(new_name), std::error_code(EISDIR, std::generic_category()));
  EXPECT_EQ(read_file(record()), "old\n");
}

TEST(SessionScanRunTest, RunRecordsTheCollectFileOfWhatFilteringKept) {
  temp_dir root;
  testing_util::scoped_env volume_root("TARN_LOCAL_VOLUME_ROOT", root.path());
  mkdir(root.path("vol1").c_str(), 0755);
  fake_glusterfind tool;
  log_capture log;
  tool.set_changelist(
      "NEW app 3\nNEW app 3/file with blank.txt\nMODIFY app1/a.txt\nDELETE app1/b.txt\n"
      "NEW vol1.lock.s1\nNEW .tarn/working/scanner/app1/app1-s1.1\nNEW app1/.snaps/x");
  const std::string output_dir = root.path("out");
  scanner s("vol1", output_dir, root.path("vol1"));
  EXPECT_EQ(s.initiate_scan("s1"), success);
  EXPECT_EQ(read_file(root.path("out.s1.collect")), output_dir + "/s1-processed.3\n");
  EXPECT_FALSE(exists(output_dir + "/full-s1"));
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
