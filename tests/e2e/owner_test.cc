// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Changed pieces whose file is not in the change list, on the real volume:
// an overwrite inside a sharded file lists only the piece.
#include <gtest/gtest.h>

#include "e2e/scan_fixture.h"
#include "scanner/scanner.h"

namespace tarn {
namespace e2e {
namespace {

using testing_util::write_file;

using OwnerTest = scan_test;

// A full scan and post_scan, so that the next incremental scan starts here.
void start_incremental(scanner::scanner& s, const std::string& session) {
  ASSERT_EQ(s.initiate_scan(session), success);
  ASSERT_EQ(s.get_sessionobj(session)->post_scan(), 0);
  clear_results();
  pause(2);
}

TEST_F(OwnerTest, InPlaceOverwriteReachesTheOwnersApplication) {
  scanner::scanner s(volume(), out_, mount());
  ASSERT_NO_FATAL_FAILURE(start_incremental(s, session_)) << log_.text();

  // 1 MB rewritten at 9 MB of the 20 MB file: glusterfind lists piece .2
  // and not the file.
  overwrite_mb("app2/big.bin", 9);
  wait_for_changelog();

  std::vector<std::string> pieces = pieces_of("app2/big.bin");
  ASSERT_EQ(pieces.size(), 4u);
  result_map expected = {{result_file("app2", 1), {pieces[1]}}};
  EXPECT_EQ(scan_until(s, expected), success) << log_.text();
  EXPECT_EQ(results(), expected) << log_.text();
  EXPECT_FALSE(log_.contains("Dropped")) << log_.text();
}

TEST_F(OwnerTest, PieceJoinsTheListOfAnApplicationWithOtherChanges) {
  scanner::scanner s(volume(), out_, mount());
  ASSERT_NO_FATAL_FAILURE(start_incremental(s, session_)) << log_.text();

  overwrite_mb("app2/big.bin", 9);
  write_file(on_mount("app2/new.txt"), "new\n");
  wait_for_changelog();

  std::vector<std::string> pieces = pieces_of("app2/big.bin");
  ASSERT_EQ(pieces.size(), 4u);
  result_map expected = {{result_file("app2", 1), {pieces[1]}}};
  EXPECT_EQ(scan_until(s, expected), success) << log_.text();
  EXPECT_EQ(results(), expected) << log_.text();
}

}  // namespace
}  // namespace e2e
}  // namespace tarn
