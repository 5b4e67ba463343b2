// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Changed pieces to applications through real and injected gfid attributes:
// order, counts, names, the name collision and the failures of a lost mount.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "scanner/stages/list_file.h"
#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::exists;
using testing_util::list_dir;
using testing_util::log_capture;
using testing_util::read_file;
using testing_util::temp_dir;
using testing_util::write_file;

using Lines = std::vector<std::string>;

const char kGfidA[] = "0a1b2c3d-0000-4000-8000-00000000000a";
const char kGfidB[] = "0a1b2c3d-0000-4000-8000-00000000000b";
const char kGfidOther[] = "ffffffff-0000-4000-8000-000000000000";

std::error_code os_error(int e) { return std::error_code(e, std::generic_category()); }

std::string piece(const char* gfid, int n) {
  return std::string(".shard/") + gfid + "." + std::to_string(n);
}

class LinkTest : public ::testing::Test {
 protected:
  LinkTest()
      : out_(dir_.path("out")),
        mnt_(dir_.path("mnt")),
        session_("s1", "vol1", out_, mnt_) {
    mkdir(out_.c_str(), 0755);
    mkdir(mnt_.c_str(), 0755);
    mkdir((mnt_ + "/vm").c_str(), 0755);
  }

  // A file of the volume with the given gfid; false where trusted attributes
  // cannot be set.
  bool volume_file(const std::string& rel, const char* gfid) {
    write_file(mnt_ + "/" + rel, "data");
    return testing_util::set_gfid(mnt_ + "/" + rel, gfid);
  }
  std::string list(const std::string& name, const Lines& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    write_file(out(name), text);
    return out(name);
  }
  std::error_code link() {
    return session_.link_shard_to_app(app_files_, shard_files_, linked_files_);
  }
  std::string out(const std::string& name) const { return out_ + "/" + name; }

  temp_dir dir_;
  std::string out_;
  std::string mnt_;
  session session_;
  testing_util::attribute_side attrs_;
  Lines app_files_;
  Lines shard_files_;
  Lines linked_files_;
  log_capture log_;
};

TEST_F(LinkTest, PiecesOfListedFilesInByteOrderFromRealAttributes) {
  if (!volume_file("vm/a.img", kGfidA) || !volume_file("vm/b.img", kGfidB)) {
    GTEST_SKIP() << "trusted.gfid cannot be set here";
  }
  app_files_ = {list("vm-s1.2", {"vm/a.img", "vm/b.img"})};
  shard_files_ = {list(".shard-s1.4", {piece(kGfidA, 1), piece(kGfidA, 10), piece(kGfidA, 2),
                                       piece(kGfidOther, 1)})};
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(linked_files_, Lines{out("vm-s1.3")});
  EXPECT_EQ(read_file(out("vm-s1.3")),
            piece(kGfidA, 1) + "\n" + piece(kGfidA, 10) + "\n" + piece(kGfidA, 2) + "\n");
  EXPECT_EQ(list_dir(out_), Lines{"vm-s1.3"});
  EXPECT_TRUE(log_.contains("[session::link_shard_to_app] Linking shards to apps\n"));
}

TEST_F(LinkTest, ListThatGetsTheNameOfItsApplicationListIsKept) {
  if (!volume_file("vm/a.img", kGfidA)) GTEST_SKIP() << "trusted.gfid cannot be set here";
  app_files_ = {list("vm-s1.1", {"vm/a.img"})};
  shard_files_ = {list(".shard-s1.1", {piece(kGfidA, 7)})};
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(linked_files_, Lines{out("vm-s1.1")});
  EXPECT_EQ(read_file(out("vm-s1.1")), piece(kGfidA, 7) + "\n");
  EXPECT_EQ(list_dir(out_), Lines{"vm-s1.1"});
}

TEST_F(LinkTest, DuplicatesCountPerListedLineAndOncePerPiece) {
  if (!volume_file("vm/a.img", kGfidA)) GTEST_SKIP() << "trusted.gfid cannot be set here";
  app_files_ = {list("vm-s1.2", {"vm/a.img", "vm/a.img"})};
  shard_files_ = {list(".shard-s1.2", {piece(kGfidA, 1), piece(kGfidA, 1)}),
                  list(".shard-old-s1.2", {piece(kGfidA, 1), "x" + piece(kGfidA, 2)})};
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(read_file(out("vm-s1.2")), piece(kGfidA, 1) + "\n" + piece(kGfidA, 1) + "\n");
}

TEST_F(LinkTest, OwnersAmongVanishedFilesAreFoundEachTimeWhateverTheShardListOrder) {
  if (!volume_file("vm/a.img", kGfidA) || !volume_file("vm/b.img", kGfidB)) {
    GTEST_SKIP() << "trusted.gfid cannot be set here";
  }
  app_files_ = {list("vm-s1.6", {"vm/gone1", "vm/a.img", "vm/gone2", "vm/gone3", "vm/b.img",
                                 "vm/a.img"})};
  shard_files_ = {list(".shard-s1.3", {piece(kGfidB, 1), piece(kGfidA, 2), piece(kGfidA, 1)})};
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(linked_files_, Lines{out("vm-s1.5")});
  const std::string a = piece(kGfidA, 1) + "\n" + piece(kGfidA, 2) + "\n";
  EXPECT_EQ(read_file(out("vm-s1.5")), a + piece(kGfidB, 1) + "\n" + a);
}

// Directories, blanks, a duplicate, a file that is gone and a list whose
// linked list gets its very name, with entries listed and without.
TEST_F(LinkTest, ListedEntriesPrecedeTheirOwnPiecesOnlyWhenAskedFor) {
  const char kGfidDir[] = "0a1b2c3d-0000-4000-8000-0000000000d1";
  if (!volume_file("vm/a.img", kGfidA) || !volume_file("vm/name with blanks.img", kGfidB)) {
    GTEST_SKIP() << "trusted.gfid cannot be set here";
  }
  mkdir((mnt_ + "/vm/dir").c_str(), 0755);
  ASSERT_TRUE(testing_util::set_gfid(mnt_ + "/vm/dir", kGfidDir));
  const Lines entries = {"vm", "vm/a.img", "vm/a.img", "vm/dir", "vm/gone",
                         "vm/name with blanks.img"};
  const Lines pieces = {piece(kGfidA, 1), piece(kGfidA, 2), piece(kGfidB, 1),
                        piece(kGfidOther, 1)};
  const std::string a = piece(kGfidA, 1) + "\n" + piece(kGfidA, 2) + "\n";

  app_files_ = {list("a-s1.1", {"a/x"}), list("vm-s1.6", entries)};
  shard_files_ = {list(".shard-s1.4", pieces)};
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(linked_files_, (Lines{out("a-s1.0"), out("vm-s1.5")}));
  EXPECT_EQ(read_file(out("vm-s1.5")), a + a + piece(kGfidB, 1) + "\n");
  EXPECT_EQ(session_.last_link_counts().piece_lines, 5u);
  EXPECT_EQ(session_.last_link_counts().path_lines, 0u);

  session_.set_list_files(true);
  for (const std::string& name : list_dir(out_)) remove(out(name).c_str());
  app_files_ = {list("a-s1.1", {"a/x"}), list("vm-s1.6", entries)};
  shard_files_ = {list(".shard-s1.4", pieces)};
  linked_files_.clear();
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(linked_files_, (Lines{out("a-s1.1"), out("vm-s1.11")}));
  EXPECT_EQ(list_dir(out_), (Lines{"a-s1.1", "vm-s1.11"}));
  EXPECT_EQ(read_file(out("a-s1.1")), "a/x\n");
  EXPECT_EQ(read_file(out("vm-s1.11")),
            "vm\nvm/a.img\n" + a + "vm/a.img\n" + a + "vm/dir\nvm/gone\n"
            "vm/name with blanks.img\n" + piece(kGfidB, 1) + "\n");
  EXPECT_EQ(session_.last_link_counts().piece_lines, 5u);
  EXPECT_EQ(session_.last_link_counts().path_lines, 7u);
}

// Chunks cut by lines: an entry that ends one chunk has its pieces at the
// head of the next.
TEST_F(LinkTest, ChunkBoundaryMaySeparateAnEntryFromItsPieces) {
  if (!volume_file("vm/a.img", kGfidA)) GTEST_SKIP() << "trusted.gfid cannot be set here";
  Lines entries;
  for (int i = 0; i < kChunkSize - 1; ++i) entries.push_back("vm/gone" + std::to_string(i));
  entries.push_back("vm/a.img");
  session_.set_list_files(true);
  app_files_ = {list("vm-s1.16000", entries)};
  shard_files_ = {list(".shard-s1.2", {piece(kGfidA, 1), piece(kGfidA, 2)})};
  ASSERT_NO_ERROR(link());
  ASSERT_EQ(linked_files_, Lines{out("vm-s1.16002")});
  ASSERT_NO_ERROR(session_.multithreaded_chunking(linked_files_));
  EXPECT_EQ(list_dir(out_), (Lines{"vm-s1-1.16000", "vm-s1-2.2"}));
  const Lines first = testing_util::read_lines(out("vm-s1-1.16000"));
  EXPECT_EQ(first, entries);
  EXPECT_EQ(read_file(out("vm-s1-2.2")), piece(kGfidA, 1) + "\n" + piece(kGfidA, 2) + "\n");
}

TEST_F(LinkTest, WithoutPiecesEveryApplicationGetsAnEmptyList) {
  app_files_ = {list("a-s1.1", {"a/x"}), list("vm-s1.2", {"vm/a.img", "vm/b.img"})};
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(linked_files_, (Lines{out("a-s1.0"), out("vm-s1.0")}));
  EXPECT_EQ(list_dir(out_), (Lines{"a-s1.0", "vm-s1.0"}));
  EXPECT_EQ(read_file(out("vm-s1.0")), "");
}

TEST_F(LinkTest, VanishedFilesAndFilesWithoutAttributesOwnNoPiece) {
  write_file(mnt_ + "/vm/plain", "no attributes");
  app_files_ = {list("vm-s1.3", {"vm/gone", "vm/plain/below", "vm/plain"})};
  shard_files_ = {list(".shard-s1.1", {piece(kGfidA, 1)})};
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(linked_files_, Lines{out("vm-s1.0")});
}

TEST_F(LinkTest, WithoutApplicationsTheShardListsGo) {
  shard_files_ = {list(".shard-s1.1", {piece(kGfidA, 1)})};
  ASSERT_NO_ERROR(link());
  EXPECT_TRUE(linked_files_.empty());
  EXPECT_TRUE(list_dir(out_).empty());
}

// A GlusterFS mount: "trusted.gfid" is absent, "glusterfs.gfid" answers.
std::error_code glusterfs_mount(const std::string& path, const char* name, unsigned char* value) {
  if (std::strcmp(name, "trusted.gfid") == 0) return os_error(ENODATA);
  if (path.find("/vm/") == std::string::npos) return os_error(ENOENT);
  std::memcpy(value, "\x0a\x1b\x2c\x3d\x00\x00\x40\x00\x80\x00\x00\x00\x00\x00\x00\x0a", 16);
  return std::error_code();
}

TEST_F(LinkTest, GlusterfsGfidIsReadWhenTrustedGfidIsAbsent) {
  attrs_.gfid = glusterfs_mount;
  app_files_ = {list("vm-s1.1", {"vm/a.img"}), list("zz-s1.1", {"zz/gone"})};
  shard_files_ = {list(".shard-s1.2", {piece(kGfidA, 1), piece(kGfidA, 2)})};
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(linked_files_, (Lines{out("vm-s1.2"), out("zz-s1.0")}));
  EXPECT_EQ(read_file(out("vm-s1.2")), piece(kGfidA, 1) + "\n" + piece(kGfidA, 2) + "\n");
}

// A mount that went away half-way through.
std::error_code lost_mount(const std::string& path, const char*, unsigned char*) {
  return os_error(path.find("b.img") != std::string::npos ? ENOTCONN : ENODATA);
}

TEST_F(LinkTest, AnyOtherFailureToReadTheGfidIsAnErrorNamingThePath) {
  attrs_.gfid = lost_mount;
  app_files_ = {list("a-s1.1", {"a/x"}), list("vm-s1.2", {"vm/a.img", "vm/b.img"})};
  shard_files_ = {list(".shard-s1.1", {piece(kGfidA, 1)})};
  EXPECT_EQ(link(), os_error(ENOTCONN));
  EXPECT_TRUE(log_.contains("Failed to read the gfid of " + mnt_ + "/vm/b.img"));
  // The finished list stays, the half-written one goes, the inputs stay.
  EXPECT_EQ(linked_files_, Lines{out("a-s1.0")});
  EXPECT_EQ(list_dir(out_), (Lines{".shard-s1.1", "a-s1.0", "a-s1.1", "vm-s1.2"}));
}

// One entry that cannot be read (here ELOOP, a symbolic link to itself) must
// not fail every run: it owns no piece, and says so once.
TEST_F(LinkTest, AnEntryThatCannotBeReadOwnsNoPieceAndIsCounted) {
  ASSERT_EQ(symlink("loop", (mnt_ + "/vm/loop").c_str()), 0);
  app_files_ = {list("vm-s1.2", {"vm/loop", "vm/gone"})};
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(linked_files_, Lines{out("vm-s1.0")});
  EXPECT_EQ(session_.last_link_counts().unreadable_entries, 1u);
  EXPECT_TRUE(log_.contains("Could not read the gfid of 1 listed entries (the first: " + mnt_ +
                            "/vm/loop: " + os_error(ELOOP).message() + ")"))
      << log_.text();
}

TEST_F(LinkTest, MissingListsAreErrors) {
  shard_files_ = {out(".shard-s1.3")};
  EXPECT_EQ(link(), os_error(ENOENT));
  EXPECT_TRUE(log_.contains("Failed to open file " + out(".shard-s1.3")));
  shard_files_.clear();
  app_files_ = {out("vm-s1.3")};
  EXPECT_EQ(link(), os_error(ENOENT));
  EXPECT_TRUE(log_.contains("Failed to open file " + out("vm-s1.3")));
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
