// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Cutting long lists into chunk files: names, contents, the threads and the
// failures they report.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include <gtest/gtest.h>

#include "scanner/stages/chunk.h"
#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::exists;
using testing_util::list_dir;
using testing_util::log_capture;
using testing_util::numbered_lines;
using testing_util::read_file;
using testing_util::temp_dir;
using testing_util::write_file;

using Lines = std::vector<std::string>;

class ChunkTest : public ::testing::Test {
 protected:
  // A list of `count` numbered entries, named with its count.
  std::string list(const std::string& application, int count) {
    std::string path = dir_.path(application + "-s1." + std::to_string(count));
    write_file(path, numbered_lines(application + "/", count));
    return path;
  }

  temp_dir dir_;
  session session_{"s1", "vol1", dir_.path(), "/nonexistent"};
  log_capture log_;
};

TEST_F(ChunkTest, LongListIsCutIntoFullChunksAndARest) {
  std::string path = list("vm", 40000);
  ASSERT_NO_ERROR(session::chunk_collectfile(path, 16000));
  EXPECT_EQ(list_dir(dir_.path()), (Lines{"vm-s1-1.16000", "vm-s1-2.16000", "vm-s1-3.8000"}));
  // Together the chunks are the list, in its order.
  std::string all = numbered_lines("vm/", 40000);
  EXPECT_EQ(read_file(dir_.path("vm-s1-1.16000")), all.substr(0, all.find("vm/16000\n")));
  EXPECT_EQ(read_file(dir_.path("vm-s1-1.16000")) + read_file(dir_.path("vm-s1-2.16000")) +
                read_file(dir_.path("vm-s1-3.8000")),
            all);
  EXPECT_TRUE(log_.contains("[session::chunk_collectfile] Chunking the collect file " + path +
                            " \n"));
  EXPECT_TRUE(log_.contains("Chunking the collect file " + dir_.path("vm-s1") + " to " +
                            dir_.path("vm-s1-3") + " \n"));
}

TEST_F(ChunkTest, CountsAroundTheChunkSize) {
  list("a", 16001);
  list("b", 32000);
  std::string whole = list("c", 16000);
  for (const std::string& name : list_dir(dir_.path())) {
    ASSERT_NO_ERROR(session::chunk_collectfile(dir_.path(name), 16000));
  }
  EXPECT_EQ(list_dir(dir_.path()), (Lines{"a-s1-1.16000", "a-s1-2.1", "b-s1-1.16000",
                                          "b-s1-2.16000", "c-s1.16000"}));
  EXPECT_EQ(read_file(dir_.path("a-s1-2.1")), "a/16000\n");
  // The name decides; a list that needs no cutting is not even opened.
  EXPECT_NO_ERROR(session::chunk_collectfile(dir_.path("absent.16000"), 16000));
  EXPECT_TRUE(log_.contains("Chunking the collect file " + whole + " \n"));
}

TEST_F(ChunkTest, ListsAreSharedOutOverThreads) {
  Lines lists;
  for (int i = 0; i < 7; ++i) lists.push_back(list("app" + std::to_string(i), 16000 + i));
  lists.push_back(list("small", 3));
  ASSERT_NO_ERROR(session_.multithreaded_chunking(lists));
  Lines expected;
  for (int i = 0; i < 7; ++i) {
    std::string app = "app" + std::to_string(i);
    if (i == 0) {
      expected.push_back(app + "-s1.16000");
    } else {
      expected.push_back(app + "-s1-1.16000");
      expected.push_back(app + "-s1-2." + std::to_string(i));
    }
  }
  expected.push_back("small-s1.3");
  // The names follow from the counts, in the order of the lists.
  Lines named;
  for (const std::string& path : lists_after_chunking(lists)) {
    named.push_back(path.substr(dir_.path().size() + 1));
  }
  EXPECT_EQ(named, expected);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(list_dir(dir_.path()), expected);
  EXPECT_NO_ERROR(session_.multithreaded_chunking({}));
}

TEST_F(ChunkTest, FirstFailureInListOrderIsReportedAfterEveryListIsDone) {
  mkdir(dir_.path("busy-s1-1").c_str(), 0755);  // a chunk that cannot be written
  Lines lists = {list("ok1", 16001), dir_.path("busy-s1.16001"), dir_.path("gone-s1.16001"),
                 list("ok2", 16001)};
  write_file(lists[1], numbered_lines("busy/", 16001));
  EXPECT_EQ(session_.multithreaded_chunking(lists),
            std::error_code(EISDIR, std::generic_category()));
  std::swap(lists[1], lists[2]);
  EXPECT_EQ(session_.multithreaded_chunking(lists),
            std::error_code(ENOENT, std::generic_category()));
  EXPECT_TRUE(exists(dir_.path("ok1-s1-2.1")));
  EXPECT_TRUE(exists(dir_.path("ok2-s1-2.1")));
  EXPECT_TRUE(exists(lists[2]));  // a list that failed keeps its name
  EXPECT_TRUE(log_.contains("Failed to open the file " + dir_.path("gone-s1.16001") + " \n"));
}

// Chunks `paths` as an unprivileged user allowed no further thread and exits
// with the result's value.
void chunk_without_threads(const std::string& dir, const std::vector<std::string>& paths) {
  struct rlimit none = {1, 1};
  if (setgid(65534) != 0 || setuid(65534) != 0 || setrlimit(RLIMIT_NPROC, &none) != 0) {
    _exit(100);
  }
  session s("s1", "vol1", dir, "/nonexistent");
  _exit(s.multithreaded_chunking(paths).value());
}

// Two lists take a second thread; one that cannot be had fails the whole
// before a list is cut.
TEST(ChunkThreadTest, ThreadThatCannotStartIsAnError) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to drop to a limited user";
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "one core: no second thread";
  temp_dir dir;
  chmod(dir.path().c_str(), 0777);
  std::vector<std::string> paths = {dir.path("vm-s1.16001"), dir.path("db-s1.16001")};
  for (const std::string& path : paths) {
    write_file(path, numbered_lines("vm/", 16001));
    chmod(path.c_str(), 0666);
  }
  EXPECT_EXIT(chunk_without_threads(dir.path(), paths), ::testing::ExitedWithCode(EAGAIN),
              "Failed to start a chunking thread");
  EXPECT_EQ(list_dir(dir.path()), (Lines{"db-s1.16001", "vm-s1.16001"}));
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
