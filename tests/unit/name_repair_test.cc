// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Names that glusterfind split at commas or decoded byte by byte, put right
// against a volume that says which entries exist; what cannot be, counted.
#include "scanner/glusterfind/name_repair.h"

#include <gtest/gtest.h>

#include <set>

#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::read_file;
using testing_util::temp_dir;
using testing_util::write_file;
using lines = std::vector<std::string>;

// A volume of the given entries (their directories exist too).
struct fake_volume {
  explicit fake_volume(std::initializer_list<std::string> paths) {
    for (const std::string& path : paths) {
      for (std::size_t at = path.find('/'); at != std::string::npos; at = path.find('/', at + 1)) {
        entries.insert(path.substr(0, at));
      }
      entries.insert(path);
    }
  }
  exists_fn exists() {
    return [this](const std::string& path, bool* found) {
      asked.push_back(path);
      *found = entries.count(path) != 0;
      return success;
    };
  }
  std::set<std::string> entries;
  lines asked;
};

lines repaired(fake_volume& volume, lines list, name_repairs* counts) {
  EXPECT_EQ(repair_names(&list, volume.exists(), counts), success);
  return list;
}

TEST(NameShapeTest, ByteDecodedNamesAndPlainPaths) {
  std::string decoded;
  EXPECT_TRUE(undo_byte_decoding("café/sub/Ã©tÃ©.txt", &decoded));
  EXPECT_EQ(decoded, "café/sub/été.txt");
  // 日本 and an emoji, each byte taken as a character of its own.
  EXPECT_TRUE(undo_byte_decoding("a/\xc3\xa6\xc2\x97\xc2\xa5\xc3\xa6\xc2\x9c\xc2\xac.txt", &decoded));
  EXPECT_EQ(decoded, "a/日本.txt");
  EXPECT_TRUE(undo_byte_decoding("\xc3\xb0\xc2\x9f\xc2\x98\xc2\x80", &decoded));
  EXPECT_EQ(decoded, "😀");
  for (const char* left : {"café/small.txt", "a/日本.txt", "a/plain.txt", "a/é", "Ã/x"}) {
    EXPECT_FALSE(undo_byte_decoding(left, &decoded)) << left;
  }

  for (const char* plain : {"a", "app 3/ x ", "a/b,c/d", ".shard"}) EXPECT_TRUE(is_plain_path(plain));
  for (const char* odd : {"", "/a", "a/", "a//b", "a/./b", "../etc/passwd", "a/..", "."}) {
    EXPECT_FALSE(is_plain_path(odd)) << odd;
  }
}

TEST(NameRepairTest, SplitNamesAreJoinedAtTheirCommas) {
  struct row {
    const char* what;
    std::initializer_list<std::string> volume;
    lines listed, expected;
  };
  const row rows[] = {
      {"in a file name", {"home3/Report, final.docx"},
       {"MODIFY home3/Report", "MODIFY  final.docx"}, {"MODIFY home3/Report, final.docx"}},
      {"in a directory name", {"app/dir,x/f.txt"},
       {"NEW app/dir", "NEW x", "NEW app/dir", "NEW x/f.txt"},
       {"NEW app/dir,x", "NEW app/dir,x/f.txt"}},
      {"at the start", {"app/,start.txt"}, {"NEW app/", "NEW start.txt"}, {"NEW app/,start.txt"}},
      {"at the end, where the split loses it", {"app/end,"}, {"NEW app/end"}, {"NEW app/end,"}},
      {"two in a row", {"app/a,,b.txt"}, {"NEW app/a", "NEW b.txt"}, {"NEW app/a,,b.txt"}},
      {"two of them", {"app1/vm,1,2.img"}, {"NEW app1/vm", "NEW 1", "NEW 2.img"},
       {"NEW app1/vm,1,2.img"}},
      {"many of them", {"docs/Smith, John, Jr., report, v2.doc"},
       {"MODIFY docs/Smith", "MODIFY  John", "MODIFY  Jr.", "MODIFY  report", "MODIFY  v2.doc"},
       {"MODIFY docs/Smith, John, Jr., report, v2.doc"}},
      {"at the top", {"a,b/f"}, {"NEW a", "NEW b", "NEW a", "NEW b/f"}, {"NEW a,b", "NEW a,b/f"}},
      {"and decoded", {"café/Ré, été.txt"}, {"MODIFY café/RÃ©", "MODIFY  Ã©tÃ©.txt"},
       {"MODIFY café/Ré, été.txt"}},
      {"hard links stay split", {"app1/x", "app2/y"}, {"MODIFY app1/x", "MODIFY app2/y"},
       {"MODIFY app1/x", "MODIFY app2/y"}},
      {"blanks that a new name lost at its ends", {"app1/ padded .txt", "app1/x "},
       {"NEW app1/padded .txt", "NEW app1/x"}, {"NEW app1/ padded .txt", "NEW app1/x "}},
      {"never with a piece, whatever a look-up below .shard says", {".shard/g.1,x", "x,y"},
       {"NEW .shard/g.1", "NEW x", "NEW y"}, {"NEW .shard/g.1", "NEW x,y"}},
      {"never across lines of another type", {"a/x,y", "a/y"},
       {"NEW a/x", "MODIFY a/y", "NEW a/x,y"}, {"NEW a/x", "MODIFY a/y", "NEW a/x,y"}},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    fake_volume volume(r.volume);
    name_repairs counts;
    EXPECT_EQ(repaired(volume, r.listed, &counts), r.expected);
    EXPECT_EQ(counts.unrepaired, 0u);
  }
  fake_volume volume({"home3/Report, final.docx"});
  name_repairs counts;
  repaired(volume, {"MODIFY home3/Report", "MODIFY  final.docx", "MODIFY home3/Report", "MODIFY  final.docx"},
           &counts);
  EXPECT_EQ(counts.joined, 2u);
  EXPECT_EQ(counts.joined_example, "home3/Report +  final.docx -> home3/Report, final.docx");
}

TEST(NameRepairTest, ByteDecodedNamesAreDecodedWhereTheyExistOnlySo) {
  fake_volume volume({"café/sub/été.txt", "a/Ã©.txt", "a/é.txt"});
  name_repairs counts;
  EXPECT_EQ(repaired(volume, {"MODIFY café/sub/Ã©tÃ©.txt", "MODIFY a/Ã©.txt", "NEW café/sub/été.txt"},
                     &counts),
            (lines{"MODIFY café/sub/été.txt", "MODIFY a/Ã©.txt", "NEW café/sub/été.txt"}));
  EXPECT_EQ(counts.decoded, 1u);
  EXPECT_EQ(counts.decoded_example, "café/sub/Ã©tÃ©.txt -> café/sub/été.txt");
  EXPECT_EQ(counts.checked, 3u);
}

// An entry removed since the change stays as before, unless only the
// garbling could have made its name; what cannot be named is dropped and
// counted, and nothing outside the volume is ever named.
TEST(NameRepairTest, RemovedEntriesStayAndUnrepairableOnesGo) {
  fake_volume volume({"app/kept.txt"});
  name_repairs counts;
  const std::string piece = ".shard/699ccf46-a526-4fb3-bf6b-55b54d645678.2";
  EXPECT_EQ(repaired(volume,
                     {"NEW app/gone.txt", "DELETE app/gone.txt", "NEW d/f", "RENAME d e",
                      "NEW tmp/removed-after-the-pass", "MODIFY " + piece, "NEW app/x", "NEW  y",
                      "MODIFY a/Ã©Ã©", "NEW app/kept.txt", "NEW app/kept.txt", "NEW ../../etc",
                      "NEW app/", "NEW a//b", "NEW app/new", "line.txt"},
                     &counts),
            (lines{"NEW app/gone.txt", "DELETE app/gone.txt", "NEW d/f", "RENAME d e",
                   "NEW tmp/removed-after-the-pass", "MODIFY " + piece, "NEW app/kept.txt",
                   "NEW app/kept.txt", "line.txt"}));
  EXPECT_EQ(counts.gone, 3u);
  EXPECT_EQ(counts.unrepaired, 6u);
  EXPECT_EQ(counts.line_feed, 1u);  // a name with a line feed cannot be a line of a list
  EXPECT_EQ(counts.line_feed_example, "NEW app/new\\nline.txt");
  EXPECT_EQ(counts.unrepaired_example, "NEW app/x");
  EXPECT_EQ(std::count(volume.asked.begin(), volume.asked.end(), piece), 0);
  for (const std::string& asked : volume.asked) EXPECT_TRUE(is_plain_path(asked)) << asked;
}

TEST(NameRepairTest, AListIsRewrittenOnlyWhenALineChanged) {
  temp_dir dir;
  const std::string list = dir.path("full-s1");
  fake_volume volume({"app1/vm,1.img", "app1/a.txt"});
  write_file(list, "NEW app1/a.txt\nDELETE app1/old\n");
  name_repairs counts;
  ASSERT_EQ(repair_change_list(list, volume.exists(), false, &counts), success);
  EXPECT_FALSE(testing_util::exists(list + ".names"));
  write_file(list, "NEW app1/vm\nNEW 1.img\nNEW app1/a.txt");
  ASSERT_EQ(repair_change_list(list, volume.exists(), false, &counts), success);
  EXPECT_EQ(read_file(list), "NEW app1/vm,1.img\nNEW app1/a.txt\n");
  EXPECT_EQ(counts.joined, 1u);
  EXPECT_EQ(repair_change_list(dir.path("missing"), volume.exists(), false, &counts),
            std::errc::no_such_file_or_directory);

  // A full pass's list is not looked up: only what no list can hold goes.
  write_file(list, "NEW app1\nNEW app1/vm\nNEW 1.img\nNEW app1/new\nline.txt\nNEW app1/a.txt\n");
  volume.asked.clear();
  counts = name_repairs();
  ASSERT_EQ(repair_change_list(list, volume.exists(), true, &counts), success);
  EXPECT_EQ(read_file(list), "NEW app1\nNEW app1/vm\nNEW 1.img\nline.txt\nNEW app1/a.txt\n");
  EXPECT_EQ(counts.line_feed, 1u);
  EXPECT_TRUE(volume.asked.empty());
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
