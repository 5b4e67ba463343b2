// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Change list to filtered file: the line format glusterfind writes, the
// exclusion rules and read and write failures.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <random>

#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::exists;
using testing_util::log_capture;
using testing_util::read_file;
using testing_util::temp_dir;
using testing_util::write_file;

const char kShard[] = ".shard/699ccf46-a526-4fb3-bf6b-55b54d645678";

class FilterTest : public ::testing::Test {
 protected:
  FilterTest()
      : session_("s1", "vol1", dir_.path("out"), "/mnt/vol1"),
        input_(dir_.path("full-s1")),
        output_(dir_.path("filteredfile-s1")) {}

  // Filters `change_list` and returns the filtered file's text.
  std::string filter(const std::string& change_list, unsigned long* count) {
    write_file(input_, change_list);
    std::error_code ec = session_.filter_new_and_modified(input_, output_, *count);
    EXPECT_FALSE(ec) << ec.message();
    return read_file(output_);
  }

  temp_dir dir_;
  session session_;
  std::string input_;
  std::string output_;
  log_capture log_;
};

TEST_F(FilterTest, KeepsNewAndModifiedPathsByteForByte) {
  const std::string shard = kShard;
  struct row {
    const char* what;
    std::string change_list;
    std::string filtered;
  };
  const row rows[] = {
      {"full scan with a blank in names",
       "NEW .shard\nNEW " + shard + ".1\nNEW " + shard +
           ".2\nNEW app 3\n"
           "NEW app 3/file with blank.txt\nNEW app1\nNEW app1/a.txt\nNEW app2/big.bin\n",
       ".shard\n" + shard + ".1\n" + shard +
           ".2\napp 3\napp 3/file with blank.txt\napp1\n"
           "app1/a.txt\napp2/big.bin\n"},
      {"incremental scan",
       "MODIFY app1/a.txt\nNEW app 3/new with blank.txt\nMODIFY " + shard +
           ".2\n"
           "NEW .shard/.remove_me\nDELETE app1/sub/b.txt\nDELETE .shard/.remove_me/d0e07be7\n"
           "RENAME app2/c.txt app2/c-renamed.txt\n"
           "RENAME app 3/file with blank.txt app 3/renamed blank.txt\n",
       "app1/a.txt\napp 3/new with blank.txt\n" + shard + ".2\n"},
      {"empty list", "", ""},
      {"last line without a line feed", "NEW a\nNEW b", "a\nb\n"},
      {"empty lines and a type word without a path", "\nNEW a\n\n\nNEW\nNEW \nMODIFY", "a\n"},
      {"case-sensitive types, other words", "new a\nModify b\nNEWS c\nMODIFY\td\n", "d\n"},
      {"the one separator only; the rest is the path", "NEW  lead\nNEW tail \nNEW\t\tx\n",
       " lead\ntail \n\tx\n"},
      {"listed twice, written twice", "NEW a\nMODIFY a\n", "a\na\n"},
      {"excluded paths dropped",
       "NEW .tarn/working/scanner/x\nNEW a/.snaps/b\nNEW a/.tarn\nNEW a/.snapshots/b\n"
       "NEW a/snaps\n",
       "a/.snapshots/b\na/snaps\n"},
      {"GlusterFS's own entries at the top only",
       "NEW .glusterfs-anonymous-inode-51bd24d0-bb6e-497d-b456-8ff23a38be0e\n"
       "NEW .glusterfs-anonymous-inode-51bd24d0/x\nNEW .glusterfs\nNEW .trashcan/internal_op\n"
       "NEW .shard/.remove_me\nMODIFY .shard/.remove_me/d0e07be7\nNEW .shard/.remove_me2\n"
       "NEW .glusterfs-old/x\nNEW .trashcan2\nNEW app/.glusterfs\nNEW app/.trashcan\n"
       "NEW .shard\nNEW " + shard + ".3\n",
       ".shard/.remove_me2\n.glusterfs-old/x\n.trashcan2\napp/.glusterfs\napp/.trashcan\n"
       ".shard\n" + shard + ".3\n"},
  };
  session_.insert_to_excludelist(".tarn/working/scanner");
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    unsigned long count = 99;
    EXPECT_EQ(filter(r.change_list, &count), r.filtered);
    EXPECT_EQ(count,
              static_cast<unsigned long>(std::count(r.filtered.begin(), r.filtered.end(), '\n')));
  }
}

TEST_F(FilterTest, LongListsCrossEveryBufferBoundary) {
  std::string change_list, filtered;
  for (int i = 0; i < 20000; ++i) {
    std::string path = "app" + std::to_string(i % 7) + "/dir with blank/file-" + std::to_string(i);
    change_list += (i % 3 ? "NEW " : "DELETE ") + path + "\n";
    if (i % 3) filtered += path + "\n";
  }
  unsigned long count = 0;
  EXPECT_EQ(filter(change_list, &count), filtered);
  EXPECT_EQ(count, 13333u);
}

TEST_F(FilterTest, ExcludeListAddedByOneRunAppliesToTheNext) {
  unsigned long count = 0;
  EXPECT_EQ(filter("NEW /.snapshots/x\nNEW a/.snaps/b\n", &count), "/.snapshots/x\n");
  EXPECT_EQ(session_.get_excludelist(), (std::set<std::string>{"/.snaps"}));
  // Now a string prefix: it drops the absolute path, not relative ones.
  EXPECT_EQ(filter("NEW /.snapshots/x\nNEW .snapshots/x\n", &count), ".snapshots/x\n");
  EXPECT_EQ(count, 1u);
}

TEST_F(FilterTest, FilesThatCannotBeOpenedChangeNothing) {
  unsigned long count = 77;
  std::string missing = dir_.path("no-such-list");
  EXPECT_EQ(session_.filter_new_and_modified(missing, output_, count),
            std::error_code(ENOENT, std::generic_category()));
  EXPECT_TRUE(log_.contains("[session::filter_new_and_modified] Failed to open " + missing));
  EXPECT_FALSE(exists(output_));

  write_file(input_, "NEW a\n");
  std::string unwritable = dir_.path("no-such-dir/filteredfile-s1");
  EXPECT_EQ(session_.filter_new_and_modified(input_, unwritable, count),
            std::error_code(ENOENT, std::generic_category()));
  EXPECT_TRUE(log_.contains("Failed to open " + unwritable));
  EXPECT_EQ(count, 77u);
}

TEST_F(FilterTest, ReadAndWriteErrorsFailTheFilter) {
  unsigned long count = 77;
  std::string full = "/dev/full";
  write_file(input_, "NEW a\n");
  EXPECT_EQ(session_.filter_new_and_modified(input_, full, count),
            std::error_code(ENOSPC, std::generic_category()));
  EXPECT_TRUE(log_.contains("Failed to write /dev/full"));

  // A directory opens for reading, then every read fails.
  std::string unreadable = dir_.path();
  EXPECT_EQ(session_.filter_new_and_modified(unreadable, output_, count),
            std::error_code(EISDIR, std::generic_category()));
  EXPECT_TRUE(log_.contains("Failed to read " + unreadable));
  EXPECT_EQ(count, 77u);
}

// A long list whose output fills the disk part-way: the writes stop at the
// first failure, and so does the reading ahead of them.
TEST_F(FilterTest, FullDiskPartWayStopsTheFilter) {
  testing_util::small_tmpfs disk("64k");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  std::string change_list;
  for (int i = 0; i < 50000; ++i) change_list += "NEW app/file-" + std::to_string(i) + "\n";
  write_file(input_, change_list);
  std::string output = disk.path() + "/filteredfile-s1";
  unsigned long count = 77;
  EXPECT_EQ(session_.filter_new_and_modified(input_, output, count),
            std::error_code(ENOSPC, std::generic_category()));
  EXPECT_TRUE(log_.contains("Failed to write " + output));
  EXPECT_EQ(count, 77u);
}

// The paths are found a little ahead of the writes. When a write fails, the
// rules must stand as if the lines after it had not been read: here the
// ".snaps" line lies far beyond the first line, whose write fails.
TEST_F(FilterTest, AFailedWriteLeavesTheRulesOfLaterLinesUnadded) {
  std::string many;
  for (int i = 0; i < 50000; ++i) many += "NEW app/file-" + std::to_string(i) + "\n";
  std::string full = "/dev/full";
  unsigned long count = 77;
  // The first kept line fails: nothing after it counts as read.
  write_file(input_, "NEW a\nMODIFY b/.tarn/c\n" + many + "NEW x/.snaps/y\n");
  EXPECT_EQ(session_.filter_new_and_modified(input_, full, count),
            std::error_code(ENOSPC, std::generic_category()));
  EXPECT_EQ(session_.get_excludelist(), (std::set<std::string>{}));
  // A line dropped before the failing one was read, and its rule stays.
  write_file(input_, "MODIFY b/.tarn/c\nNEW a\n" + many + "NEW x/.snaps/y\n");
  EXPECT_EQ(session_.filter_new_and_modified(input_, full, count),
            std::error_code(ENOSPC, std::generic_category()));
  EXPECT_EQ(session_.get_excludelist(), (std::set<std::string>{"/.tarn"}));
  EXPECT_EQ(count, 77u);
  EXPECT_TRUE(log_.contains("Failed to write /dev/full"));
}

// Filters `input` into `output` as a user allowed no further thread, when
// the filter reads a batch at a time as it is asked; exits with the result's
// value.
void filter_without_threads(const std::string& dir, std::string input, std::string output) {
  struct rlimit none = {1, 1};
  if (setgid(65534) != 0 || setuid(65534) != 0 || setrlimit(RLIMIT_NPROC, &none) != 0) {
    _exit(100);
  }
  session s("s1", "vol1", dir + "/out", "/mnt/vol1");
  unsigned long count = 0;
  std::error_code ec = s.filter_new_and_modified(input, output, count);
  _exit(ec ? ec.value() : count == 13333 ? 0 : 101);
}

TEST(FilterThreadTest, WithoutAThreadTheFilterReadsBatchByBatch) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to drop to a limited user";
  temp_dir dir;
  chmod(dir.path().c_str(), 0777);
  std::string change_list, filtered;
  for (int i = 0; i < 20000; ++i) {
    std::string path = "app/.snaps-not/file-" + std::to_string(i);
    change_list += (i % 3 ? "MODIFY " : "RENAME ") + path + "\n";
    if (i % 3) filtered += path + "\n";
  }
  write_file(dir.path("full-s1"), change_list);
  chmod(dir.path("full-s1").c_str(), 0644);
  EXPECT_EXIT(filter_without_threads(dir.path(), dir.path("full-s1"), dir.path("filtered")),
              ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(read_file(dir.path("filtered")), filtered);
}

TEST(ExclusionTest, PrefixAndComponentRules) {
  struct row {
    const char* path;
    bool excluded;
    const char* added;  // entry the call adds to the exclude list, if any
  };
  const row rows[] = {
      {".tarn/working/scanner", true, nullptr},
      {".tarn/working/scanner/app1-s1.3", true, nullptr},
      {"a/b", true, nullptr},
      {"a/bc", true, nullptr},  // a string prefix, not a path component
      {"a", false, nullptr},
      {"a/", false, nullptr},
      {"b/a/b", false, nullptr},
      {"a/.snapshots/b", false, nullptr},
      {"a/snaps", false, nullptr},
      {"x/.snaps/y", true, "/.snaps"},
      {"x//.tarn//", true, "/.tarn"},
      {".snaps", true, "/.snaps"},
      {"", false, nullptr},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.path);
    session s("s1", "vol1", "/tmp/out", "/mnt/vol1");
    s.insert_to_excludelist(".tarn/working/scanner");
    s.insert_to_excludelist("a/b");
    s.insert_to_excludelist("vol1.lock.s1");
    std::set<std::string> expected = s.get_excludelist();
    if (r.added != nullptr) expected.insert(r.added);
    EXPECT_EQ(s.is_excluded(r.path), r.excluded);
    EXPECT_EQ(s.get_excludelist(), expected);
  }

  session s("s1", "vol1", "/tmp/out", "/mnt/vol1");
  s.insert_to_excludelist("");
  EXPECT_TRUE(s.is_excluded("anything"));
  EXPECT_TRUE(s.is_excluded(""));
}

// The rules as a scan of every entry: the answers the lookup must give.
bool excluded_by_scan(std::set<std::string>& list, const std::string& path) {
  for (const std::string& entry : list) {
    if (path.compare(0, entry.size(), entry) == 0) return true;
  }
  std::size_t begin = 0;
  while (begin <= path.size()) {
    std::size_t end = std::min(path.find('/', begin), path.size());
    std::string component = path.substr(begin, end - begin);
    if (component == ".snaps" || component == ".tarn") {
      list.insert("/" + component);
      return true;
    }
    begin = end + 1;
  }
  return false;
}

TEST(ExclusionTest, AgreesWithAScanOfEveryEntry) {
  const char* const pieces[] = {"a", "b", "ab", "/", "//", ".", ".snaps", ".tarn", "x.tarn"};
  std::mt19937 random(20260101);
  auto some_path = [&] {
    std::string path;
    for (int n = random() % 6; n > 0; --n) path += pieces[random() % std::size(pieces)];
    return path;
  };
  for (int trial = 0; trial < 2000; ++trial) {
    session s("s1", "vol1", "/tmp/out", "/mnt/vol1");
    std::set<std::string> reference;
    for (int n = random() % 6; n > 0; --n) {
      std::string entry = some_path();
      s.insert_to_excludelist(entry);
      reference.insert(entry);
    }
    for (int n = 0; n < 20; ++n) {
      std::string path = some_path();
      SCOPED_TRACE(::testing::Message() << "trial " << trial << ", path \"" << path << "\"");
      ASSERT_EQ(s.is_excluded(path), excluded_by_scan(reference, path));
      ASSERT_EQ(s.get_excludelist(), reference);
    }
  }
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
