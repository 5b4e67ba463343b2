// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Application lists and their files' gfids, read ahead on several threads
// and handed out in order; failures end the reading at their line.
#include "scanner/stages/gfid_read_ahead.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::attribute_files;
using testing_util::numbered_lines;
using testing_util::temp_dir;
using testing_util::write_file;

using failure = listed_batch::failure;

const char* const kMount = "/mnt/vol";

// A gfid made from the path, so that every line's can be checked.
gfid_value gfid_of(const std::string& path) {
  gfid_value gfid{};
  std::size_t h = std::hash<std::string>()(path);
  for (std::size_t i = 0; i < gfid.size(); ++i) {
    gfid[i] = static_cast<unsigned char>(h >> (i % 8 * 8));
  }
  gfid[0] |= 1;  // never the zero identifier
  return gfid;
}

std::error_code hashed_gfid(const std::string& path, const char* name, unsigned char* value) {
  if (std::string(name) != "trusted.gfid") {
    return std::error_code(ENODATA, std::generic_category());
  }
  // A file named "broken" is on a mount that went away.
  if (path.find("broken") != std::string::npos) return std::error_code(EIO, std::generic_category());
  gfid_value gfid = gfid_of(path);
  std::copy(gfid.begin(), gfid.end(), value);
  return std::error_code();
}

// A GlusterFS mount: "trusted.gfid" is never there, "glusterfs.gfid" is.
std::atomic<int> trusted_asked(0);
std::error_code mount_gfid(const std::string& path, const char* name, unsigned char* value) {
  if (std::string(name) == "trusted.gfid") {
    ++trusted_asked;
    return std::error_code(ENODATA, std::generic_category());
  }
  gfid_value gfid = gfid_of(path);
  std::copy(gfid.begin(), gfid.end(), value);
  return std::error_code();
}

// The local files, with `gfid` answering the identifier reads.
attribute_files playing(attribute_files::gfid_function gfid) {
  attribute_files files;
  files.gfid = gfid;
  return files;
}

// Every batch until next() says no more.
std::vector<listed_batch> drain(listed_gfids& listed) {
  std::vector<listed_batch> batches;
  listed_batch batch;
  while (listed.next(&batch)) batches.push_back(batch);
  return batches;
}

class ListedGfidsTest : public ::testing::Test {
 protected:
  std::string list(int count, const std::string& extra = "") {
    std::string path = dir_.path("app" + std::to_string(lists_.size()) + "-s1." +
                                 std::to_string(count));
    std::string prefix = "app" + std::to_string(lists_.size()) + "/f";
    write_file(path, numbered_lines(prefix, count) + extra);
    lists_.push_back(path);
    return path;
  }

  // Checks that the batches give each list's lines in order with their
  // gfids, each list ending once, up to list `until` (exclusive).
  void expect_lists(const std::vector<listed_batch>& batches, const std::vector<int>& counts,
                    std::size_t until) {
    std::size_t b = 0;
    for (std::size_t l = 0; l < until; ++l) {
      int line = 0;
      for (bool ended = false; !ended; ++b) {
        ASSERT_LT(b, batches.size()) << "list " << l;
        const listed_batch& batch = batches[b];
        ASSERT_EQ(batch.list, l);
        ASSERT_EQ(batch.failed, failure::none);
        ASSERT_EQ(batch.lines.size(), batch.gfids.size());
        for (std::size_t i = 0; i < batch.lines.size(); ++i, ++line) {
          std::string expected = "app" + std::to_string(l) + "/f" + std::to_string(line);
          ASSERT_EQ(batch.lines[i], expected);
          ASSERT_EQ(batch.gfids[i], gfid_of(std::string(kMount) + "/" + expected));
        }
        ended = batch.ends_list;
      }
      EXPECT_EQ(line, counts[l]) << "list " << l;
    }
    consumed_ = b;
  }

  temp_dir dir_;
  std::vector<std::string> lists_;
  std::size_t consumed_ = 0;
};

TEST_F(ListedGfidsTest, HandsOutEveryLineInOrderWithItsGfid) {
  const std::vector<int> counts = {0, 1, 1023, 1024, 1025, 5000, 3, 0, 2049};
  for (int c : counts) list(c);
  attribute_files files = playing(hashed_gfid);
  listed_gfids listed(lists_, kMount, files);
  std::vector<listed_batch> batches = drain(listed);
  expect_lists(batches, counts, counts.size());
  EXPECT_EQ(consumed_, batches.size());
  listed_batch batch;
  EXPECT_FALSE(listed.next(&batch));
}

// Through a mount, "trusted.gfid" only ever fails: once a file has shown
// that, the run stops asking for it (but for the reads already under way).
TEST_F(ListedGfidsTest, OnAMountTrustedGfidIsAskedOnlyUntilItIsSeenMissing) {
  const std::vector<int> counts = {5000, 3000};
  for (int c : counts) list(c);
  trusted_asked = 0;
  attribute_files files = playing(mount_gfid);
  listed_gfids listed(lists_, kMount, files);
  expect_lists(drain(listed), counts, counts.size());
  EXPECT_GE(trusted_asked.load(), 1);
  EXPECT_LE(trusted_asked.load(), 8);

  // A file without "glusterfs.gfid" is still asked for "trusted.gfid".
  std::atomic<bool> seen(true);
  gfid_value gfid{};
  attribute_files local = playing(hashed_gfid);
  ASSERT_NO_ERROR(read_gfid(local, "/mnt/vol/x", &gfid, &seen));
  EXPECT_EQ(gfid, gfid_of("/mnt/vol/x"));
}

TEST_F(ListedGfidsTest, AFailureEndsTheReadingAtItsLine) {
  // A file that cannot be read: the batch stops before it.
  {
    list(1500);
    list(2500, "broken\nafter\n");
    list(10);
    attribute_files files = playing(hashed_gfid);
    listed_gfids listed(lists_, kMount, files);
    std::vector<listed_batch> batches = drain(listed);
    expect_lists(batches, {1500}, 1);
    ASSERT_EQ(batches.size(), consumed_ + 3);  // 1024 + 1024 lines, then 452 and the failure
    const listed_batch& last = batches.back();
    EXPECT_EQ(last.list, 1u);
    EXPECT_EQ(last.failed, failure::gfid);
    EXPECT_EQ(last.error, std::error_code(EIO, std::generic_category()));
    EXPECT_EQ(last.failed_path, std::string(kMount) + "/broken");
    EXPECT_EQ(last.lines.size(), 2500u - 2048u);
    EXPECT_EQ(last.lines.back(), "app1/f2499");
  }
  // A list that is missing, and one that cannot be read.
  for (failure what : {failure::open, failure::read}) {
    lists_.clear();
    list(3000);
    std::string bad = dir_.path(what == failure::open ? "missing-s1.1" : "directory-s1.1");
    if (what == failure::read) mkdir(bad.c_str(), 0755);
    lists_.push_back(bad);
    list(5);
    attribute_files files = playing(hashed_gfid);
    listed_gfids listed(lists_, kMount, files);
    std::vector<listed_batch> batches = drain(listed);
    expect_lists(batches, {3000}, 1);
    ASSERT_EQ(batches.size(), consumed_ + 1);
    EXPECT_EQ(batches.back().list, 1u);
    EXPECT_EQ(batches.back().failed, what);
    EXPECT_EQ(batches.back().error.value(), what == failure::open ? ENOENT : EISDIR);
    EXPECT_TRUE(batches.back().ends_list);
  }
}

// The file "slow/broken" fails only once the files of list 1 were read, so
// that later batches are ready before the failure of an earlier one.
std::atomic<int> later_files_read(0);

std::error_code late_failure(const std::string& path, const char* name, unsigned char* value) {
  if (path.find("slow/broken") != std::string::npos) {
    for (int i = 0; i < 500 && later_files_read.load() < 2000; ++i) usleep(10000);
    return std::error_code(EIO, std::generic_category());
  }
  if (path.find("/app1/") != std::string::npos) ++later_files_read;
  return hashed_gfid(path, name, value);
}

TEST_F(ListedGfidsTest, AnEarlierFailureWinsOverLaterBatchesReadBeforeIt) {
  list(10, "slow/broken\n");
  list(3000);
  attribute_files files = playing(late_failure);
  listed_gfids listed(lists_, kMount, files);
  std::vector<listed_batch> batches = drain(listed);
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_EQ(batches[0].list, 0u);
  EXPECT_EQ(batches[0].lines.size(), 10u);
  EXPECT_EQ(batches[0].failed, failure::gfid);
  EXPECT_EQ(batches[0].failed_path, std::string(kMount) + "/slow/broken");
  EXPECT_GE(later_files_read.load(), 2000) << "the later batches were not read first";
}

TEST_F(ListedGfidsTest, ALinkingThatStopsEarlyEndsTheReading) {
  for (int i = 0; i < 200; ++i) list(1000);
  attribute_files files = playing(hashed_gfid);
  listed_gfids listed(lists_, kMount, files);
  listed_batch batch;
  ASSERT_TRUE(listed.next(&batch));
  EXPECT_EQ(batch.lines.size(), 1000u);
  // Leaving the scope must stop and wait for the threads, well before the
  // 200 lists are read.
}

// Reads every list as a user allowed no further thread, and exits with 0
// when the batches are those of the lists.
void read_without_threads(const std::vector<std::string>& lists) {
  struct rlimit none = {1, 1};
  if (setgid(65534) != 0 || setuid(65534) != 0 || setrlimit(RLIMIT_NPROC, &none) != 0) {
    _exit(100);
  }
  attribute_files files = playing(hashed_gfid);
  listed_gfids listed(lists, kMount, files);
  std::vector<listed_batch> batches = drain(listed);
  std::size_t lines = 0;
  for (std::size_t i = 0; i < batches.size(); ++i) {
    if (batches[i].failed != failure::none || batches[i].gfids.size() != batches[i].lines.size()) {
      _exit(1);
    }
    lines += batches[i].lines.size();
  }
  _exit(batches.size() == 4 && lines == 2049 + 2 ? 0 : 2);
}

TEST_F(ListedGfidsTest, WithoutThreadsEachBatchIsReadWhenAskedFor) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to drop to a limited user";
  chmod(dir_.path().c_str(), 0755);
  list(2049);  // three batches
  list(2);
  for (const std::string& l : lists_) chmod(l.c_str(), 0644);
  EXPECT_EXIT(read_without_threads(lists_), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
