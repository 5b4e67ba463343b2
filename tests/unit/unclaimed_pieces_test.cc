// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Pieces that no listed file claimed, through a stand-in for an aux-gfid
// mount: to the owner's application, dropped, or a failed run.
#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include <gtest/gtest.h>

#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::exists;
using testing_util::fake_glusterfind;
using testing_util::list_dir;
using testing_util::log_capture;
using testing_util::numbered_lines;
using testing_util::read_file;
using testing_util::scoped_env;
using testing_util::temp_dir;
using testing_util::write_file;

using Lines = std::vector<std::string>;

const char kGfidA[] = "0a1b2c3d-0000-4000-8000-00000000000a";
const char kGfidB[] = "0a1b2c3d-0000-4000-8000-00000000000b";
const char kGfidC[] = "0a1b2c3d-0000-4000-8000-00000000000c";
const char kGfidD[] = "0a1b2c3d-0000-4000-8000-00000000000d";

std::error_code os_error(int e) { return std::error_code(e, std::generic_category()); }

std::string piece(const char* gfid, int n) {
  return std::string(".shard/") + gfid + "." + std::to_string(n);
}

std::size_t count_of(const std::string& text, const std::string& needle) {
  std::size_t n = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// A GlusterFS volume behind the two seams: the gfids of listed files, and
// what "<mount>/.gfid/<gfid>" answers for "glusterfs.ancestry.path".
struct fake_volume {
  std::string mount;
  std::map<std::string, std::string> gfids;   // path below the mount -> gfid
  std::map<std::string, std::string> owners;  // gfid -> attribute value
  std::map<std::string, int> failures;        // gfid -> errno
  std::map<std::string, int> gfid_failures;   // path below the mount -> errno
  std::map<std::string, unsigned long> links; // gfid -> link count, when known
  std::mutex mutex;
  Lines lookups;                              // every owner path asked for
  int gfid_reads = 0;
};
fake_volume* volume = nullptr;

std::error_code read_gfid(const std::string& path, const char* name, unsigned char* value) {
  ++volume->gfid_reads;
  if (std::strcmp(name, "trusted.gfid") == 0) return os_error(ENODATA);
  const std::string rel = path.substr(volume->mount.size() + 1);
  if (volume->gfid_failures.count(rel) != 0) return os_error(volume->gfid_failures[rel]);
  auto found = volume->gfids.find(rel);
  if (found == volume->gfids.end()) return os_error(ENOENT);
  uuid_parse(found->second.c_str(), value);
  return std::error_code();
}

std::error_code read_owner(const std::string& path, const char* name, std::string* value) {
  EXPECT_STREQ(name, "glusterfs.ancestry.path");
  std::lock_guard<std::mutex> hold(volume->mutex);  // the linking looks up several at once
  volume->lookups.push_back(path);
  const std::string gfid = path.substr(volume->mount.size() + std::strlen("/.gfid/"));
  if (volume->failures.count(gfid) != 0) return os_error(volume->failures[gfid]);
  auto found = volume->owners.find(gfid);
  if (found == volume->owners.end()) return os_error(ENOENT);
  *value = found->second;
  return std::error_code();
}

std::error_code link_count(const std::string& path, unsigned long* links) {
  auto found = volume->links.find(path.substr(path.rfind('/') + 1));
  if (found == volume->links.end()) return os_error(ENOENT);
  *links = found->second;
  return std::error_code();
}

// The value as the mount gives it: the path and the NUL that ends it.
std::string ancestry(const std::string& path) { return path + std::string(1, '\0'); }

class OwnerTest : public ::testing::Test {
 protected:
  OwnerTest() : out_(dir_.path("out")), mnt_(dir_.path("mnt")), session_("s1", "vol1", out_, mnt_) {
    mkdir(out_.c_str(), 0755);
    mkdir(mnt_.c_str(), 0755);
    mkdir(gfid_dir().c_str(), 0755);
    volume_.mount = mnt_;
    volume = &volume_;
    attrs_.gfid = read_gfid;
    attrs_.owner = read_owner;
    attrs_.links = link_count;
  }
  ~OwnerTest() override { volume = nullptr; }

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
  std::string gfid_dir() const { return mnt_ + "/.gfid"; }
  std::string lookup(const char* gfid) const { return gfid_dir() + "/" + gfid; }

  temp_dir dir_;
  std::string out_;
  std::string mnt_;
  session session_;
  testing_util::attribute_side attrs_;
  fake_volume volume_;
  Lines app_files_;
  Lines shard_files_;
  Lines linked_files_;
  log_capture log_;
};

TEST_F(OwnerTest, PiecesOfAnUnlistedOwnerJoinTheListOfItsApplication) {
  volume_.gfids["vm/a.img"] = kGfidA;
  volume_.owners[kGfidB] = ancestry("/vm/big.img");
  app_files_ = {list("a-s1.1", {"a/x"}), list("vm-s1.1", {"vm/a.img"})};
  shard_files_ = {list(".shard-s1.3", {piece(kGfidB, 2), piece(kGfidA, 1), piece(kGfidB, 10)})};
  ASSERT_NO_ERROR(link());
  // The linked list first had the name of its application list, vm-s1.1.
  EXPECT_EQ(linked_files_, (Lines{out("a-s1.0"), out("vm-s1.3")}));
  EXPECT_EQ(read_file(out("vm-s1.3")),
            piece(kGfidA, 1) + "\n" + piece(kGfidB, 10) + "\n" + piece(kGfidB, 2) + "\n");
  EXPECT_EQ(list_dir(out_), (Lines{"a-s1.0", "vm-s1.3"}));
  // Each owner is looked up once: the listed one too, before the lists are
  // linked (its link count is unknown here, so the gfids are read after all).
  EXPECT_EQ(volume_.lookups, (Lines{lookup(kGfidA), lookup(kGfidB)}));
  EXPECT_FALSE(log_.contains("Dropped"));
}

// Where the mount names every owner with all its paths, the listed entries
// are matched by path and no gfid is read; the lists are those of reading
// every gfid, hard links, blanks and in-place changes included.
TEST_F(OwnerTest, MatchingByOwnerPathsGivesTheListsOfReadingEveryGfid) {
  volume_.gfids["vm/a b.img"] = kGfidA;
  volume_.gfids["vm/c.img"] = kGfidB;
  volume_.gfids["app 2/link to c"] = kGfidB;
  volume_.gfids["vm/plain.txt"] = kGfidD;  // owns no piece
  volume_.owners[kGfidA] = ancestry("/vm/a b.img");
  volume_.owners[kGfidB] = ancestry("/vm/c.img:/app 2/link to c");
  volume_.owners[kGfidC] = ancestry("/vm/in place.img");  // not listed
  volume_.links = {{kGfidA, 1}, {kGfidB, 2}, {kGfidC, 1}};
  const Lines shard = {piece(kGfidA, 1), piece(kGfidA, 10), piece(kGfidA, 2), piece(kGfidB, 1),
                       piece(kGfidC, 7)};
  for (bool entries : {false, true}) {
    SCOPED_TRACE(entries ? "entries listed" : "pieces only");
    std::map<std::string, std::string> by_gfids;
    for (bool resolve : {false, true}) {
      for (const std::string& name : list_dir(out_)) unlink(out(name).c_str());
      session_.set_list_files(entries);
      session_.set_resolve_owners(resolve);
      app_files_ = {list("app 2-s1.1", {"app 2/link to c"}),
                    list("vm-s1.3", {"vm/a b.img", "vm/c.img", "vm/plain.txt"})};
      shard_files_ = {list(".shard-s1.5", shard)};
      linked_files_.clear();
      volume_.gfid_reads = 0;
      ASSERT_NO_ERROR(link());
      EXPECT_EQ(session_.last_link_counts().linked_by_paths, resolve);
      std::map<std::string, std::string> lists;
      for (const std::string& name : list_dir(out_)) lists[name] = read_file(out(name));
      if (!resolve) {
        EXPECT_GT(volume_.gfid_reads, 0);
        by_gfids = lists;
        continue;
      }
      EXPECT_EQ(volume_.gfid_reads, 0);
      EXPECT_EQ(lists, by_gfids);
    }
  }
  EXPECT_EQ(read_file(out("vm-s1.8")), "vm/a b.img\n" + piece(kGfidA, 1) + "\n" +
                                           piece(kGfidA, 10) + "\n" + piece(kGfidA, 2) +
                                           "\nvm/c.img\n" + piece(kGfidB, 1) +
                                           "\nvm/plain.txt\n" + piece(kGfidC, 7) + "\n");
}

// Many owners are looked up several at once, each once; every listed one
// gets its own pieces.
TEST_F(OwnerTest, ManyOwnersAreLookedUpAtOnceAndEachListedOneGetsItsPieces) {
  Lines listed;
  Lines shard;
  Lines expected;
  for (int i = 0; i < 60; ++i) {
    char gfid[37];
    std::snprintf(gfid, sizeof gfid, "0a1b2c3d-0000-4000-8000-%012d", i);
    const std::string path = "vm/f" + std::to_string(100 + i);
    listed.push_back(path);
    volume_.owners[gfid] = ancestry("/" + path);
    volume_.links[gfid] = 1;
    shard.push_back(piece(gfid, 1));
    expected.push_back(piece(gfid, 1));
  }
  app_files_ = {list("vm-s1.60", listed)};
  shard_files_ = {list(".shard-s1.60", shard)};
  ASSERT_NO_ERROR(link());
  EXPECT_TRUE(session_.last_link_counts().linked_by_paths);
  EXPECT_EQ(session_.last_link_counts().owners_looked_up, 60u);
  EXPECT_EQ(volume_.lookups.size(), 60u);
  EXPECT_EQ(testing_util::read_lines(out("vm-s1.60")), expected);
}

// A file made before the bricks kept parent links may show fewer paths than
// it has links: then the paths cannot tell every owner, and the gfids are
// read after all, with a message; so when an owner cannot be looked up.
TEST_F(OwnerTest, OwnersNotNamedWithAllTheirPathsMakeTheLinkingReadEveryGfid) {
  volume_.gfids["vm/a.img"] = kGfidA;
  volume_.gfids["app2/old link"] = kGfidA;
  volume_.owners[kGfidA] = ancestry("/vm/a.img");
  volume_.owners[kGfidB] = ancestry("/vm/b.img");
  for (const char* why : {"fewer paths", "lookup failed"}) {
    SCOPED_TRACE(why);
    for (const std::string& name : list_dir(out_)) unlink(out(name).c_str());
    const bool fewer = std::strcmp(why, "fewer paths") == 0;
    volume_.links = {{kGfidA, fewer ? 2ul : 1ul}, {kGfidB, 1}};
    volume_.failures.clear();
    if (!fewer) volume_.failures[kGfidB] = EIO;
    app_files_ = {list("app2-s1.1", {"app2/old link"}), list("vm-s1.1", {"vm/a.img"})};
    shard_files_ = {list(".shard-s1.2", {piece(kGfidA, 1), piece(kGfidB, 1)})};
    linked_files_.clear();
    volume_.gfid_reads = 0;
    std::error_code ec = link();
    EXPECT_FALSE(session_.last_link_counts().linked_by_paths);
    EXPECT_GT(volume_.gfid_reads, 0);
    EXPECT_TRUE(log_.contains("Reading the gfid of every listed file")) << log_.text();
    EXPECT_EQ(read_file(out("app2-s1.1")), piece(kGfidA, 1) + "\n");
    if (fewer) {
      ASSERT_NO_ERROR(ec);
      EXPECT_EQ(read_file(out("vm-s1.2")), piece(kGfidA, 1) + "\n" + piece(kGfidB, 1) + "\n");
    } else {
      // The owner that cannot be looked up fails the run where it matters.
      EXPECT_EQ(ec, os_error(EIO));
    }
  }
}

// With entries listed, pieces that reach a list through their owner come
// after the listed entries and bring no entry line of their own, in an
// existing list as in a new one.
TEST_F(OwnerTest, UnlistedOwnersGetNoEntryLineWhenEntriesAreListed) {
  session_.set_list_files(true);
  volume_.gfids["vm/a.img"] = kGfidA;
  volume_.owners[kGfidB] = ancestry("/vm/big.img");
  volume_.owners[kGfidC] = ancestry("/app2/big.bin");
  app_files_ = {list("vm-s1.2", {"vm/a.img", "vm/c.txt"})};
  shard_files_ = {list(".shard-s1.3", {piece(kGfidB, 2), piece(kGfidA, 1), piece(kGfidC, 1)})};
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(linked_files_, (Lines{out("vm-s1.4"), out("app2-s1.1")}));
  EXPECT_EQ(read_file(out("vm-s1.4")),
            "vm/a.img\n" + piece(kGfidA, 1) + "\nvm/c.txt\n" + piece(kGfidB, 2) + "\n");
  EXPECT_EQ(read_file(out("app2-s1.1")), piece(kGfidC, 1) + "\n");
  EXPECT_EQ(session_.last_link_counts().path_lines, 2u);
  EXPECT_EQ(session_.last_link_counts().piece_lines, 3u);
}

TEST_F(OwnerTest, ApplicationsWithoutAListGetNewOnesNamedLikeTheOthers) {
  volume_.owners[kGfidB] = ancestry("/app 2/dir/big.bin");
  volume_.owners[kGfidC] = ancestry("/f");  // a file in the top directory
  app_files_ = {list("a-s1.1", {"a/x"})};
  shard_files_ = {list(".shard-s1.3", {piece(kGfidC, 3), piece(kGfidB, 2), piece(kGfidC, 1)})};
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(linked_files_, (Lines{out("a-s1.0"), out("app 2-s1.1"), out("f-s1.2")}));
  EXPECT_EQ(read_file(out("app 2-s1.1")), piece(kGfidB, 2) + "\n");
  EXPECT_EQ(read_file(out("f-s1.2")), piece(kGfidC, 1) + "\n" + piece(kGfidC, 3) + "\n");
  EXPECT_EQ(list_dir(out_), (Lines{"a-s1.0", "app 2-s1.1", "f-s1.2"}));
}

TEST_F(OwnerTest, AnOwnerWithHardLinksGivesItsPiecesToEachOfTheirApplications) {
  volume_.owners[kGfidB] = ancestry("/vm/a.img:/app2/link:/vm/b.img:/.tarn/x");
  // A directory name that ends in ":" is no separator.
  mkdir((mnt_ + "/app:").c_str(), 0755);
  write_file(mnt_ + "/app:/x", "");
  volume_.owners[kGfidC] = ancestry("/app:/x");
  shard_files_ = {list(".shard-s1.2", {piece(kGfidB, 1), piece(kGfidC, 1)})};
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(linked_files_, (Lines{out("app2-s1.1"), out("app:-s1.1"), out("vm-s1.1")}));
  EXPECT_EQ(read_file(out("vm-s1.1")), piece(kGfidB, 1) + "\n");
  EXPECT_EQ(read_file(out("app:-s1.1")), piece(kGfidC, 1) + "\n");
}

TEST_F(OwnerTest, OnlyPiecePathsAreLookedUpAndEachOwnerOnce) {
  volume_.owners[kGfidB] = ancestry("/vm/big.img");
  const std::string odd = std::string(".shard/") + kGfidB;
  shard_files_ = {
      list(".shard-s1.9", {".shard/.remove_me", ".shard/.remove_me/" + std::string(kGfidC),
                           odd, odd + ".", odd + ".x", odd + ".1.2", "x" + piece(kGfidC, 1),
                           ".shard/../../../../etc/passwd/0000000000000000.1",
                           ".shard/0a1b2c3d+0000-4000-8000-00000000000d.1",
                           ".shard/0a1b2c3d-0000-4000-8000-00000000000g.1"}),
      list(".shard-old-s1.3", {piece(kGfidB, 1), piece(kGfidB, 2), piece(kGfidB, 1)}),
      list(".shard-x-s1.1", {piece(kGfidB, 3)})};
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(volume_.lookups, Lines{lookup(kGfidB)});
  EXPECT_EQ(linked_files_, Lines{out("vm-s1.3")});
  EXPECT_EQ(read_file(out("vm-s1.3")),
            piece(kGfidB, 1) + "\n" + piece(kGfidB, 2) + "\n" + piece(kGfidB, 3) + "\n");
}

TEST_F(OwnerTest, WhenEveryOwnerIsListedNothingIsLookedUp) {
  rmdir(gfid_dir().c_str());  // not even a mount without ".gfid" is noticed
  volume_.gfids["vm/a.img"] = kGfidA;
  volume_.gfids["vm/b.img"] = kGfidB;
  app_files_ = {list("vm-s1.2", {"vm/a.img", "vm/b.img"})};
  shard_files_ = {list(".shard-s1.4", {piece(kGfidA, 1), piece(kGfidB, 1), ".shard/.remove_me",
                                       ".shard/.remove_me/" + std::string(kGfidC)})};
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(linked_files_, Lines{out("vm-s1.2")});
  EXPECT_EQ(list_dir(out_), Lines{"vm-s1.2"});
  EXPECT_TRUE(volume_.lookups.empty());
  EXPECT_EQ(count_of(log_.text(), "\n"), 1u) << log_.text();
}

TEST_F(OwnerTest, PiecesOfOwnersThatAreGoneAreDroppedWithOneMessage) {
  volume_.owners[kGfidD] = ancestry("/vm/d.img");
  shard_files_ = {list(".shard-s1.4",
                       {piece(kGfidB, 1), piece(kGfidB, 2), piece(kGfidC, 1), piece(kGfidD, 1)})};
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(linked_files_, Lines{out("vm-s1.1")});
  EXPECT_EQ(volume_.lookups.size(), 3u);
  EXPECT_EQ(count_of(log_.text(), "Dropped"), 1u);
  EXPECT_TRUE(log_.contains(
      "[session::link_shard_to_app] Dropped 3 changed shard pieces of 2 files that no longer "
      "exist"));
  EXPECT_EQ(session_.last_link_counts().dropped_owner_gone, 3u);
  EXPECT_EQ(session_.last_link_counts().dropped_no_aux_gfid, 0u);
}

TEST_F(OwnerTest, WithoutGfidDirectoryUnclaimedPiecesAreDroppedWithOneMessage) {
  rmdir(gfid_dir().c_str());
  volume_.gfids["vm/a.img"] = kGfidA;
  app_files_ = {list("vm-s1.1", {"vm/a.img"})};
  shard_files_ = {list(".shard-s1.4",
                       {piece(kGfidA, 1), piece(kGfidB, 1), piece(kGfidB, 2), piece(kGfidC, 1)})};
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(linked_files_, Lines{out("vm-s1.1")});
  EXPECT_EQ(list_dir(out_), Lines{"vm-s1.1"});
  EXPECT_TRUE(volume_.lookups.empty());
  EXPECT_EQ(count_of(log_.text(), "Dropped"), 1u);
  EXPECT_TRUE(log_.contains("Dropped 3 changed shard pieces of 2 files in no application list: " +
                            mnt_ +
                            " has no .gfid directory; in-place changes need a mount made with -o "
                            "aux-gfid-mount"));
  EXPECT_EQ(session_.last_link_counts().dropped_no_aux_gfid, 3u);
  EXPECT_EQ(session_.last_link_counts().dropped_owner_gone, 0u);
  // Counted per call: the next one starts from nothing.
  shard_files_.clear();
  app_files_.clear();
  linked_files_.clear();
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(session_.last_link_counts().dropped_no_aux_gfid, 0u);
}

TEST_F(OwnerTest, OwnersThatFilteringExcludesAreDroppedSilently) {
  volume_.owners[kGfidB] = ancestry("/.tarn/working/scanner/vm/vm-s1.90000");
  volume_.owners[kGfidC] = ancestry("/vm/.snaps/old.img");
  volume_.owners[kGfidD] = ancestry("/.shard/odd");
  shard_files_ = {list(".shard-s1.3", {piece(kGfidB, 1), piece(kGfidC, 1), piece(kGfidD, 1)})};
  ASSERT_NO_ERROR(link());
  EXPECT_TRUE(linked_files_.empty());
  EXPECT_TRUE(list_dir(out_).empty());
  EXPECT_FALSE(log_.contains("Dropped"));
  EXPECT_EQ(session_.last_link_counts().dropped_owner_excluded, 3u);
}

// An entry or an owner that refuses to be read (the mount answers EPERM for
// a replica volume's hidden directory) fails no run: a listed entry's pieces
// are found by their owner instead, and an owner that cannot be named is
// counted with an example.
TEST_F(OwnerTest, EntriesAndOwnersThatCannotBeReadAreCountedNotFatal) {
  volume_.gfid_failures[".glusterfs-anonymous-inode-1"] = EPERM;
  volume_.gfid_failures["vm/a.img"] = EACCES;  // owns kGfidA
  volume_.gfids["vm/b.img"] = kGfidB;
  volume_.owners[kGfidA] = ancestry("/vm/a.img");
  volume_.owners[kGfidB] = ancestry("/vm/b.img");
  volume_.failures[kGfidC] = EPERM;
  volume_.failures[kGfidD] = ENAMETOOLONG;
  app_files_ = {list(".glusterfs-anonymous-inode-1-s1.1", {".glusterfs-anonymous-inode-1"}),
                list("vm-s1.2", {"vm/a.img", "vm/b.img"})};
  shard_files_ = {list(".shard-s1.5", {piece(kGfidA, 1), piece(kGfidB, 1), piece(kGfidC, 1),
                                       piece(kGfidC, 2), piece(kGfidD, 1)})};
  ASSERT_NO_ERROR(link());
  EXPECT_EQ(read_file(out("vm-s1.2")), piece(kGfidB, 1) + "\n" + piece(kGfidA, 1) + "\n");
  const link_counts& counts = session_.last_link_counts();
  EXPECT_EQ(counts.unreadable_entries, 2u);
  EXPECT_EQ(counts.dropped_owner_unreadable, 3u);
  EXPECT_EQ(counts.owner_unreadable_example, lookup(kGfidC) + ": " + os_error(EPERM).message());
  EXPECT_TRUE(log_.contains("Dropped 3 changed shard pieces of 2 files whose paths could not be "
                            "read (the first: " + lookup(kGfidC)))
      << log_.text();
}

TEST_F(OwnerTest, AnyOtherFailureToFindAnOwnerIsAnErrorThatKeepsTheInputs) {
  struct row {
    const char* name;
    int failure;        // of the lookup of kGfidC, when not 0
    const char* value;  // else its answer
    bool gfid_loop;     // ".gfid" a symbolic link to itself
    int expected;
    std::string message;
  };
  const row rows[] = {
      {"lost mount", ENOTCONN, "", false, ENOTCONN, "Failed to find the owner of "},
      {"no parent links", ENODATA, "", false, ENODATA, "(storage.build-pgfid off?)"},
      {"relative path", 0, "vm/c.img", false, EINVAL, "Unexpected owner path \"vm/c.img\" of "},
      {"unreadable .gfid", 0, "", true, ELOOP, "Failed to look up " + mnt_ + "/.gfid"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    rmdir(gfid_dir().c_str());
    unlink(gfid_dir().c_str());
    if (r.gfid_loop) {
      ASSERT_EQ(symlink(".gfid", gfid_dir().c_str()), 0);
    } else {
      mkdir(gfid_dir().c_str(), 0755);
    }
    volume_.failures.clear();
    if (r.failure != 0) volume_.failures[kGfidC] = r.failure;
    volume_.owners[kGfidB] = ancestry("/vm/b.img");
    volume_.owners[kGfidC] = ancestry(r.value);
    for (const std::string& name : list_dir(out_)) unlink(out(name).c_str());
    app_files_ = {list("a-s1.1", {"a/x"})};
    shard_files_ = {list(".shard-s1.2", {piece(kGfidB, 1), piece(kGfidC, 1)})};
    linked_files_.clear();

    EXPECT_EQ(link(), os_error(r.expected));
    EXPECT_TRUE(log_.contains(r.message)) << log_.text();
    // The list of a listed application is final; the inputs stay.
    EXPECT_EQ(linked_files_, Lines{out("a-s1.0")});
    EXPECT_EQ(list_dir(out_), (Lines{".shard-s1.2", "a-s1.0", "a-s1.1"}));
  }
}

TEST_F(OwnerTest, LongNewListsAreChunkedLikeTheOthers) {
  volume_.owners[kGfidB] = ancestry("/b/big.img");
  std::string collect = dir_.path("s1-processed.16002");
  write_file(collect, "a/x\n" + numbered_lines(std::string(".shard/") + kGfidB + ".", 16001));
  ASSERT_NO_ERROR(session_.process_filtered_files(collect));
  EXPECT_EQ(list_dir(out_), (Lines{"a-s1.0", "b-s1-1.16000", "b-s1-2.1"}));
}

// A whole run on a local-directory volume whose mount plays an aux-gfid one.
class OwnerScanTest : public ::testing::Test {
 protected:
  OwnerScanTest()
      : volume_root_("TARN_LOCAL_VOLUME_ROOT", root_.path()),
        volume_dir_(root_.path("vol1")),
        output_dir_(root_.path("out")) {
    mkdir(volume_dir_.c_str(), 0755);
    volume_.mount = volume_dir_;
    volume = &volume_;
    tool_.add_session("s1", "vol1");
    tool_.set_changelist("MODIFY " + piece(kGfidB, 2) + "\nMODIFY app1/a.txt\n");
    mkdir((volume_dir_ + "/app1").c_str(), 0755);
    write_file(volume_dir_ + "/app1/a.txt", "");
  }
  ~OwnerScanTest() override { volume = nullptr; }

  std::error_code run(scanner& s) {
    session* sess = s.get_sessionobj("s1");
    if (sess == nullptr) return os_error(EFAULT);
    attrs_.owner = read_owner;
    s.set_scan_type(scanner::scan_incremental);
    return s.initiate_scan("s1");
  }
  std::string result(const std::string& name) const {
    return volume_dir_ + "/.tarn/working/scanner/" + name;
  }

  temp_dir root_;
  testing_util::attribute_side attrs_;
  scoped_env volume_root_;
  std::string volume_dir_;
  std::string output_dir_;
  fake_glusterfind tool_;
  log_capture log_;
  fake_volume volume_;
};

TEST_F(OwnerScanTest, InPlaceWriteReachesTheOwnersApplicationDirectory) {
  mkdir((volume_dir_ + "/.gfid").c_str(), 0755);
  volume_.owners[kGfidB] = ancestry("/app2/big.bin");
  scanner s("vol1", output_dir_, volume_dir_);
  ASSERT_EQ(run(s), success);
  EXPECT_EQ(read_file(result("app2/app2-s1.1")), piece(kGfidB, 2) + "\n");
  EXPECT_TRUE(exists(result("app1/app1-s1.0")));
  EXPECT_FALSE(exists(output_dir_));
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
