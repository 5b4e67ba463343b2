// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Scan runs on the real volume with the real glusterfind: full and
// incremental scans, repeated runs on one scanner, a run after post_scan.
#include <gtest/gtest.h>

#include "e2e/scan_fixture.h"
#include "scanner/scanner.h"

namespace tarn {
namespace e2e {
namespace {

using testing_util::exists;
using testing_util::write_file;

using ScanTest = scan_test;

size_t count_of(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
    ++n;
  }
  return n;
}

TEST_F(ScanTest, FullScanFilesEveryApplicationsPieces) {
  scanner::scanner s(volume(), out_, mount());
  EXPECT_EQ(s.initiate_scan(session_), success) << log_.text();

  // One list per application, the sharded file's pieces in its owner's; no
  // list for ".tarn", ".shard" or the lock file.
  EXPECT_EQ(results(), expected_full()) << log_.text();
  EXPECT_TRUE(lock_gone());
  EXPECT_FALSE(exists(out_));
  EXPECT_FALSE(log_.contains("Failed")) << log_.text();
}

TEST_F(ScanTest, IncrementalScanListsOnlyTheChangedPieces) {
  scanner::scanner s(volume(), out_, mount());
  ASSERT_EQ(s.initiate_scan(session_), success) << log_.text();
  ASSERT_EQ(s.get_sessionobj(session_)->post_scan(), 0);
  pause(2);

  // 20 MB + 2 MB: a new piece .5; 1 MB rewritten at 9 MB: piece .2 changes.
  append_mb("app2/big.bin", 2);
  overwrite_mb("app2/big.bin", 9);
  write_file(on_mount("app1/new1.txt"), "new\n");
  write_file(on_mount("app1/sub/new with blank.txt"), "new\n");
  wait_for_changelog();

  std::vector<std::string> pieces = pieces_of("app2/big.bin");
  ASSERT_EQ(pieces.size(), 5u);
  result_map expected = {{result_file("app1", 0), {}},
                         {result_file("app2", 2), {pieces[1], pieces[4]}}};
  EXPECT_EQ(scan_until(s, expected), success) << log_.text();
  EXPECT_EQ(results(), expected) << log_.text();
  EXPECT_TRUE(lock_gone());
  EXPECT_FALSE(exists(out_));
}

TEST_F(ScanTest, RunsFollowEachOtherOnOneScanner) {
  scanner::scanner s(volume(), out_, mount());
  ASSERT_EQ(s.initiate_scan(session_), success) << log_.text();
  ASSERT_EQ(results(), expected_full());
  clear_results();

  // The second run takes a lock of its own and gives the same results.
  EXPECT_EQ(s.initiate_scan(session_), success) << log_.text();
  EXPECT_EQ(results(), expected_full()) << log_.text();
  EXPECT_EQ(count_of(log_.text(), "Trying to acquire lock for session " + session_), 2u);
  EXPECT_FALSE(log_.contains("Lock is already being held"));
  EXPECT_TRUE(lock_gone());

  // After post_scan an incremental run starts there: only the new file.
  ASSERT_EQ(s.get_sessionobj(session_)->post_scan(), 0);
  pause(2);
  write_file(on_mount("app 3/after post.txt"), "x\n");
  wait_for_changelog();
  result_map expected = {{result_file("app 3", 0), {}}};
  EXPECT_EQ(scan_until(s, expected), success) << log_.text();
  EXPECT_EQ(results(), expected) << log_.text();
  EXPECT_TRUE(lock_gone());
}

}  // namespace
}  // namespace e2e
}  // namespace tarn
