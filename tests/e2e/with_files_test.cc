// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The applications' own entries in the lists, on the real volume: the first
// block of a sharded file lies in the file itself, so a write there, or a
// file of one block or less, changes no piece.
#include <algorithm>

#include <gtest/gtest.h>

#include "e2e/scan_fixture.h"
#include "scanner/scanner.h"

namespace tarn {
namespace e2e {
namespace {

using testing_util::read_lines;
using testing_util::write_file;

using WithFilesTest = scan_test;

// The lines, in their order, of the one result file of `application`.
std::vector<std::string> only_result(const std::string& application) {
  const std::string dir = on_mount(".tarn/working/scanner/" + application);
  std::vector<std::string> files = testing_util::list_tree(dir);
  EXPECT_EQ(files.size(), 1u) << application;
  return files.empty() ? std::vector<std::string>() : read_lines(dir + "/" + files[0]);
}

TEST_F(WithFilesTest, FirstBlockWritesAndSmallFilesAreListedOnlyWithTheOption) {
  scanner::scanner s(volume(), out_, mount());
  s.set_list_files(true);
  ASSERT_EQ(s.initiate_scan(session_), success) << log_.text();
  // The full scan: the image right before its pieces, the small files alone.
  const std::vector<std::string> big = pieces_of("app2/big.bin");
  const std::vector<std::string> lines = only_result("app2");
  auto image = std::find(lines.begin(), lines.end(), "app2/big.bin");
  ASSERT_NE(image, lines.end()) << log_.text();
  ASSERT_GT(lines.end() - image, static_cast<long>(big.size()));
  EXPECT_TRUE(std::equal(big.begin(), big.end(), image + 1));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "app2/c.txt"), lines.end());
  EXPECT_EQ(s.get_sessionobj(session_)->last_link_counts().piece_lines, big.size());
  ASSERT_EQ(s.get_sessionobj(session_)->post_scan(), 0);
  clear_results();
  pause(2);

  // 1 MB at 1 MB: inside the first block, which no piece holds.
  overwrite_mb("app2/big.bin", 1);
  write_file(on_mount("app1/small.txt"), "small\n");
  wait_for_changelog();

  s.set_list_files(false);
  const result_map without = {{result_file("app1", 0), {}}, {result_file("app2", 0), {}}};
  EXPECT_EQ(scan_until(s, without), success) << log_.text();
  ASSERT_EQ(results(), without) << log_.text();

  // The same changes again (no post in between), with the entries.
  s.set_list_files(true);
  clear_results();
  ASSERT_EQ(s.initiate_scan(session_), success) << log_.text();
  const result_map with = results();
  ASSERT_EQ(with.count(result_file("app2", 1)), 1u) << log_.text();
  EXPECT_EQ(with.at(result_file("app2", 1)), std::vector<std::string>{"app2/big.bin"});
  std::vector<std::string> app1;
  for (const auto& result : with) {
    for (const std::string& line : result.second) {
      EXPECT_NE(line.compare(0, 7, ".shard/"), 0) << result.first << ": " << line;
    }
    if (result.first.compare(0, 5, "app1/") == 0) app1 = result.second;
  }
  EXPECT_NE(std::find(app1.begin(), app1.end(), "app1/small.txt"), app1.end()) << log_.text();
  const scanner::link_counts& counts = s.get_sessionobj(session_)->last_link_counts();
  EXPECT_EQ(counts.piece_lines, 0u);
  EXPECT_GE(counts.path_lines, 2u);
}

}  // namespace
}  // namespace e2e
}  // namespace tarn
