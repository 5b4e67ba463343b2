// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Changed pieces whose file is not in the change list, on the real volume:
// an overwrite inside a sharded file lists only the piece.
#include <map>
#include <string>

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

// The lists of a full scan, byte for byte, by path below the results with
// the session's name taken out.
std::map<std::string, std::string> raw_results(const std::string& session) {
  std::map<std::string, std::string> out;
  const std::string root = on_mount(".tarn/working/scanner");
  for (std::string rel : testing_util::list_tree(root)) {
    std::string text = testing_util::read_file(root + "/" + rel);
    for (std::size_t at = rel.find(session); at != std::string::npos; at = rel.find(session)) {
      rel.replace(at, session.size(), "S");
    }
    out[rel] = text;
  }
  return out;
}

// Listed files matched with owners by the owners' paths, as the mount names
// them, give the very lists of reading every listed file's gfid: hard links
// across applications and within one, a renamed file and names with blanks.
TEST_F(OwnerTest, OwnerPathsGiveTheListsOfReadingEveryGfid) {
  const auto q = [](const std::string& rel) { return quote(on_mount(rel)); };
  ASSERT_EQ(sh("mkdir -p " + q("app4") + " " + q("app 5")), 0);
  ASSERT_EQ(sh("dd if=/dev/urandom of=" + q("app 3/vm disk.img") + " bs=1M count=9 status=none"),
            0);
  ASSERT_EQ(sh("ln " + q("app 3/vm disk.img") + " " + q("app4/link to disk")), 0);
  ASSERT_EQ(sh("ln " + q("app2/big.bin") + " " + q("app2/big link.bin")), 0);
  ASSERT_EQ(sh("dd if=/dev/urandom of=" + q("app2/old.bin") + " bs=1M count=5 status=none"), 0);
  ASSERT_EQ(sh("mv " + q("app2/old.bin") + " " + q("app 5/renamed.bin")), 0);

  std::map<std::string, std::string> by_gfids;
  for (bool resolve : {false, true}) {
    SCOPED_TRACE(resolve ? "by owner paths" : "by gfids");
    clear_results();
    const std::string session = unique_session(resolve ? "bypaths" : "bygfids");
    scanner::scanner s(volume(), out_ + (resolve ? "-p" : "-g"), mount());
    s.set_list_files(true);
    scanner::session* sess = s.get_sessionobj(session);
    ASSERT_NE(sess, nullptr) << log_.text();
    sess->set_resolve_owners(resolve);
    ASSERT_EQ(s.initiate_scan(session), success) << log_.text();
    EXPECT_EQ(sess->last_link_counts().linked_by_paths, resolve) << log_.text();
    std::map<std::string, std::string> lists = raw_results(session);
    if (!resolve) {
      by_gfids = lists;
      // Both names of the image carry its pieces.
      const std::string piece = pieces_of("app 3/vm disk.img").at(1);
      for (const char* application : {"app 3/", "app4/"}) {
        auto list = lists.lower_bound(application);
        ASSERT_TRUE(list != lists.end() && list->first.rfind(application, 0) == 0) << application;
        EXPECT_NE(list->second.find(piece), std::string::npos) << list->second;
      }
      continue;
    }
    EXPECT_EQ(lists, by_gfids);
  }
}

}  // namespace
}  // namespace e2e
}  // namespace tarn
