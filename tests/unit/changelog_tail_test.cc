// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The journals a brick restart leaves out of the change-log index: found on
// the bricks of this node, read into change-list lines, or a full pass.
#include "scanner/glusterfind/changelog_tail.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::fake_glusterfind;
using testing_util::log_capture;
using testing_util::read_file;
using testing_util::scoped_env;
using testing_util::temp_dir;
using testing_util::write_file;

const char kHeader[] = "GlusterFS Changelog | version: v1.2 | encoding : 2\n";
const std::string kDir = "4e945351-7dc5-4739-8245-c0bcc9cf0100";   // fmt
const std::string kFile = "d30b2818-9962-4a2e-afe7-25c8ae43c4d1";  // fmt/f1, then "fmt/f 2"
const std::string kPiece = "e135c374-fa45-4ab6-b44a-510f194fb207";
const std::string kShard = "be318638-e8a0-4c6d-977d-7a937aa84806";

std::string fields(std::initializer_list<std::string> parts) {
  std::string text;
  for (const std::string& p : parts) text += p + '\0';
  return text;
}

// Records as a brick wrote them for: echo > fmt/f1; mkdir fmt/d1; append;
// ln fmt/f1 fmt/hl; ln -s; mv fmt/f1 "fmt/f 2"; rm fmt/hl; rmdir; mknod;
// chmod; and a piece of a sharded file written.
std::string journal_of_many_operations() {
  return kHeader +
         fields({"E" + kFile, "23", "33188", "0", "0", kDir + "/f1", "D" + kFile, "M" + kFile,
                 "34", "E638b3ca8-47a6-40d9-9e43-2000a492de79", "4", "16877", "0", "0",
                 kDir + "/d1", "E" + kFile, "9", kDir + "/hl",
                 "Ea706ebfe-79ba-461e-ac81-a21982924551", "7", kDir + "/sl", "E" + kFile, "8",
                 kDir + "/f1", kDir + "/f 2", "E" + kFile, "5", kDir + "/hl", "fmt/hl",
                 "E638b3ca8-47a6-40d9-9e43-2000a492de79", "6", kDir + "/d1", "fmt/d1",
                 "E755d6f6b-39c0-41b6-8b7a-952db8e85533", "3", "4516", "0", "0", kDir + "/fifo",
                 "E" + kPiece, "3", "33188", "0", "0", kShard + "/piece.1", "D" + kPiece});
}

TEST(JournalTest, ReadsEveryKindOfRecordAndRefusesWhatItDoesNotKnow) {
  std::vector<journal_record> records;
  ASSERT_EQ(parse_journal(journal_of_many_operations(), &records), success);
  std::string kinds;
  for (const journal_record& r : records) kinds += r.type + std::to_string(r.op) + " ";
  EXPECT_EQ(kinds, "E23 D0 M34 E4 E9 E7 E8 E5 E6 E3 E3 D0 ");
  EXPECT_EQ(records[0].entry, kDir + "/f1");
  EXPECT_EQ(records[6].entry, kDir + "/f 2");  // a rename's new name
  EXPECT_EQ(records[10].gfid, kPiece);

  // Without the removed path that unlink may record, the next record follows.
  records.clear();
  EXPECT_EQ(parse_journal(kHeader + fields({"E" + kFile, "5", kDir + "/hl", "D" + kFile}),
                          &records),
            success);
  EXPECT_EQ(records.size(), 2u);

  records.clear();
  EXPECT_EQ(parse_journal(kHeader, &records), success);
  EXPECT_TRUE(records.empty());

  const std::string bad[] = {
      "GlusterFS Changelog | version: v1.2 | encoding : 1\n" + fields({"D" + kFile}),
      kHeader + fields({"E" + kFile, "99", kDir + "/x"}),      // an operation it does not know
      kHeader + fields({"E" + kFile, "23", "33188", "0"}),     // cut short
      kHeader + std::string("D") + kFile,                     // no final NUL
      kHeader + fields({"X" + kFile}),
      "not a journal",
  };
  for (const std::string& text : bad) {
    records.clear();
    EXPECT_EQ(parse_journal(text, &records), std::errc::bad_message) << text;
  }
}

TEST(BrickListTest, TakesHostAndPathOfEveryBrick) {
  std::vector<brick_address> bricks = parse_brick_list(
      "Volume Name: gv0\nBricks:\nBrick1: vm:/var/lib/b1\nBrick12: node-2:/data/with:colon\n"
      "Brick3: bad\nBrickX: x:/y\nOptions Reconfigured:\nfeatures.shard: on\n");
  ASSERT_EQ(bricks.size(), 2u);
  EXPECT_EQ(bricks[0].host, "vm");
  EXPECT_EQ(bricks[0].path, "/var/lib/b1");
  EXPECT_EQ(bricks[1].host, "node-2");
  EXPECT_EQ(bricks[1].path, "/data/with:colon");
}

TEST(BrickListTest, GroupsBricksIntoReplicaSetsWithoutTheirNotes) {
  const std::string bricks = "Bricks:\nBrick1: n1:/b1\nBrick2: n2:/b2\nBrick3: n3:/b 3 (arbiter)\n"
                             "Brick4: n1:/c1\nBrick5: n2:/c2\nBrick6: n3:/c3\n";
  auto shape = [&](const std::string& count) {
    std::string text;
    for (const auto& set : parse_replica_sets("Number of Bricks: " + count + "\n" + bricks)) {
      text += "[";
      for (const brick_address& b : set) text += b.host + ":" + b.path + ";";
      text += "]";
    }
    return text;
  };
  EXPECT_EQ(shape("2 x (2 + 1) = 6"), "[n1:/b1;n2:/b2;n3:/b 3;][n1:/c1;n2:/c2;n3:/c3;]");
  EXPECT_EQ(shape("3 x 2 = 6"), "[n1:/b1;n2:/b2;][n3:/b 3;n1:/c1;][n2:/c2;n3:/c3;]");
  EXPECT_EQ(shape("6"), "[n1:/b1;][n2:/b2;][n3:/b 3;][n1:/c1;][n2:/c2;][n3:/c3;]");
}

// A brick's change-log directory with an index.
class BrickTest : public ::testing::Test {
 protected:
  BrickTest() : changelogs_(brick_.path(".glusterfs/changelogs")) {
    for (const char* d : {".glusterfs", ".glusterfs/changelogs", ".glusterfs/changelogs/htime",
                          ".glusterfs/changelogs/2026", ".glusterfs/changelogs/2026/12",
                          ".glusterfs/changelogs/2026/12/08"}) {
      mkdir(brick_.path(d).c_str(), 0755);
    }
  }
  std::string dated(const std::string& name) const { return changelogs_ + "/2026/12/08/" + name; }
  void index(std::initializer_list<std::string> names) {
    std::string text;
    for (const std::string& n : names) text += dated(n) + '\0';
    write_file(changelogs_ + "/htime/HTIME.1796755082", text);
  }

  temp_dir brick_;
  std::string changelogs_;
};

TEST_F(BrickTest, FindsJournalsWithRecordsThatNoIndexListsSinceTheLastPass) {
  const std::string records = kHeader + fields({"D" + kFile});
  write_file(dated("CHANGELOG.1796755091"), records);  // indexed
  write_file(dated("CHANGELOG.1796755117"), records);  // hidden by a restart
  write_file(dated("CHANGELOG.1796755093"), kHeader);  // hidden, but holds nothing
  write_file(dated("CHANGELOG.1796700000"), records);  // older than the last pass
  write_file(dated("changelog.1796755120"), records);
  write_file(changelogs_ + "/CHANGELOG.1796755200", records);  // left in the top directory
  write_file(changelogs_ + "/CHANGELOG", records);             // the live journal
  index({"changelog.1796755088", "CHANGELOG.1796755091", "CHANGELOG.17967551170"});

  std::vector<std::string> found;
  ASSERT_EQ(find_unread_journals(brick_.path(), 1796755000, -1, &found), success);
  EXPECT_EQ(found, (std::vector<std::string>{dated("CHANGELOG.1796755117"),
                                             changelogs_ + "/CHANGELOG.1796755200"}));

  // The one a pass after a full pass skips, indexed or not.
  found.clear();
  ASSERT_EQ(find_unread_journals(brick_.path(), 1796755000, 1796755091, &found),
            success);
  EXPECT_EQ(found, (std::vector<std::string>{dated("CHANGELOG.1796755091"),
                                             dated("CHANGELOG.1796755117"),
                                             changelogs_ + "/CHANGELOG.1796755200"}));

  found.clear();
  ASSERT_EQ(find_unread_journals(brick_.path(), 1796755300, -1, &found), success);
  EXPECT_TRUE(found.empty());
}

TEST_F(BrickTest, ReadsAsMuchOfALongIndexAsTheWindowNeeds) {
  // 6,000 entries (about 600 KB), every one inside the window: the journal
  // listed first is indexed all the same.
  const std::string records = kHeader + fields({"D" + kFile});
  write_file(dated("CHANGELOG.1796750001"), records);
  write_file(dated("CHANGELOG.1796759999"), records);
  std::string text;
  for (long epoch = 1796750001; epoch < 1796750001 + 6000; ++epoch) {
    text += dated("changelog." + std::to_string(epoch)) + '\0';
    if (epoch == 1796750001) text = dated("CHANGELOG.1796750001") + '\0';
  }
  write_file(changelogs_ + "/htime/HTIME.1796750000", text);
  std::vector<std::string> found;
  ASSERT_EQ(find_unread_journals(brick_.path(), 1796750000, -1, &found), success);
  EXPECT_EQ(found, std::vector<std::string>{dated("CHANGELOG.1796759999")});
}

TEST(LastPassTest, BrickStatusFirstThenTheVolumes) {
  temp_dir state;
  mkdir(state.path("s1").c_str(), 0755);
  mkdir(state.path("s1/gv0").c_str(), 0755);
  long t = 0;
  EXPECT_FALSE(last_pass_time(state.path(), "s1", "gv0", "/b 1/x", &t));
  write_file(state.path("s1/gv0/status"), "1796755100\n");
  EXPECT_TRUE(last_pass_time(state.path(), "s1", "gv0", "/b 1/x", &t));
  EXPECT_EQ(t, 1796755100);
  write_file(state.path("s1/gv0/%2Fb+1%2Fx.status"), "1796755099");
  EXPECT_TRUE(last_pass_time(state.path(), "s1", "gv0", "/b 1/x", &t));
  EXPECT_EQ(t, 1796755099);
  // An incremental pass leaves the brick at the last journal it read; a full
  // one at the time of its crawl, the rollover time after the volume's.
  EXPECT_FALSE(last_pass_was_full(state.path(), "s1", "gv0", "/b 1/x"));
  write_file(state.path("s1/gv0/%2Fb+1%2Fx.status"), "1796755103");
  EXPECT_TRUE(last_pass_was_full(state.path(), "s1", "gv0", "/b 1/x"));
}

// The change log switched on again after the session's last pass of a brick
// begins an index that the pass's history cannot reach back from.
TEST_F(BrickTest, ABrickIsBlindWhenItsNewestIndexBeginsAfterTheLastPass) {
  temp_dir state;
  mkdir(state.path("s1").c_str(), 0755);
  mkdir(state.path("s1/gv0").c_str(), 0755);
  write_file(state.path("s1/gv0/status"), "1796755100");
  index({});
  const std::vector<std::string> bricks = {brick_.path()};
  EXPECT_TRUE(bricks_without_history(state.path(), "s1", "gv0", bricks).empty());
  write_file(changelogs_ + "/htime/HTIME.1796755150", "");
  EXPECT_EQ(bricks_without_history(state.path(), "s1", "gv0", bricks), bricks);
  // What glusterfind records after such a pass.
  write_file(state.path("s1/gv0/status"), "0");
  EXPECT_EQ(bricks_without_history(state.path(), "s1", "gv0", bricks), bricks);
  write_file(state.path("s1/gv0/status"), "1796755160");
  EXPECT_TRUE(bricks_without_history(state.path(), "s1", "gv0", bricks).empty());
}

// The whole probe: a fake `gluster volume info` naming this node's brick and
// another node's, glusterfind's session state, and the brick's own names of
// its identifiers.
class LostTailTest : public BrickTest {
 protected:
  LostTailTest() {
    tool_.set_volume_info("Brick1: localhost:" + brick_.path() +
                          "\nBrick2: 192.0.2.1:/elsewhere\n");
    mkdir(state_.path("s1").c_str(), 0755);
    mkdir(state_.path("s1/gv0").c_str(), 0755);
    write_file(state_.path("s1/gv0/status"), "1796755100");
    probe_.volume = "gv0";
    probe_.session = "s1";
    probe_.state_dir = state_.path();
    directory(kDir, kRoot, "fmt");
    directory(kShard, kRoot, ".shard");
  }

  std::string entry(const std::string& gfid) {
    std::string dir = brick_.path(".glusterfs/" + gfid.substr(0, 2));
    mkdir(dir.c_str(), 0755);
    dir += "/" + gfid.substr(2, 2);
    mkdir(dir.c_str(), 0755);
    return dir + "/" + gfid;
  }
  void directory(const std::string& gfid, const std::string& parent, const std::string& name) {
    std::string target = "../../" + parent.substr(0, 2) + "/" + parent.substr(2, 2) + "/" + parent +
                         "/" + name;
    ASSERT_EQ(symlink(target.c_str(), entry(gfid).c_str()), 0);
  }
  // A file's entry with its names; false where trusted attributes cannot be
  // set (not root).
  bool file(const std::string& gfid, const std::vector<std::string>& names, bool link = false) {
    std::string path = entry(gfid);
    if (link) {
      if (symlink("f1", path.c_str()) != 0) return false;
    } else {
      write_file(path, "");
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
      std::string attribute = "trusted.gfid2path." + std::to_string(i);
      if (lsetxattr(path.c_str(), attribute.c_str(), names[i].data(), names[i].size(), 0) != 0) {
        return false;
      }
    }
    return true;
  }

  // An incremental scanner of gv0, a local directory with session s1 that
  // holds the file fmt/<name> when a name is given.
  std::unique_ptr<scanner> scanner_over_brick(const std::string& name = "") {
    mkdir(root_.path("gv0").c_str(), 0755);
    if (!name.empty()) {
      mkdir(root_.path("gv0/fmt").c_str(), 0755);
      write_file(root_.path("gv0/fmt/" + name), "x");
    }
    tool_.add_session("s1", "gv0");
    auto s = std::make_unique<scanner>("gv0", root_.path("out"), root_.path("gv0"));
    s->set_scan_type(scanner::scan_incremental);
    return s;
  }
  std::string working(const std::string& path) const {
    return root_.path("gv0/.tarn/working/scanner/" + path);
  }

  const std::string kRoot = "00000000-0000-0000-0000-000000000001";
  fake_glusterfind tool_;
  temp_dir state_;
  tail_probe probe_;
  temp_dir root_;
  scoped_env volume_root_{"TARN_LOCAL_VOLUME_ROOT", root_.path()};
  scoped_env state_dir_{"TARN_GLUSTERFIND_DIR", state_.path()};
};

TEST_F(LostTailTest, RecordsBecomeTheLinesGlusterfindWouldHaveListed) {
  EXPECT_TRUE(find_lost_tail(probe_).journals.empty());  // nothing hidden yet

  if (!file(kFile, {kDir + "/f 2", "11111111-2222-3333-4444-555555555555/in a removed directory"}) ||
      !file("a706ebfe-79ba-461e-ac81-a21982924551", {kDir + "/sl"}, true) ||
      !file(kPiece, {kShard + "/piece.1"})) {
    GTEST_SKIP() << "needs trusted attributes (root)";
  }
  write_file(dated("CHANGELOG.1796755117"), journal_of_many_operations());
  index({"CHANGELOG.1796755091"});
  lost_tail tail = find_lost_tail(probe_);
  EXPECT_EQ(tail.journals, std::vector<std::string>{dated("CHANGELOG.1796755117")});
  EXPECT_EQ(tail.failure, "");
  // Under the names of now, once each; the removed link and directory and the
  // gone fifo not at all.
  EXPECT_EQ(tail.lines,
            (std::vector<std::string>{"NEW fmt/f 2", "NEW fmt/sl", "NEW .shard/piece.1"}));
}

TEST_F(LostTailTest, AFileTheBrickCannotNameFailsTheProbe) {
  write_file(entry(kFile), "");  // no trusted.gfid2path: the brick cannot say
  write_file(dated("CHANGELOG.1796755117"), kHeader + fields({"D" + kFile}));
  index({});
  lost_tail tail = find_lost_tail(probe_);
  EXPECT_EQ(tail.failure, "cannot read " + dated("CHANGELOG.1796755117") + ": " +
                              std::make_error_code(std::errc::operation_not_supported).message());

  // A session whose state cannot be read, and a volume gluster does not know,
  // give nothing to look at.
  probe_.session = "other";
  EXPECT_TRUE(find_lost_tail(probe_).journals.empty());
  tool_.set_volume_info("");
  probe_.session = "s1";
  EXPECT_TRUE(find_lost_tail(probe_).journals.empty());
}

TEST(ChangeListTest, AddsOnlyPathsTheListDoesNotHold) {
  temp_dir dir;
  const std::string list = dir.path("full-s1");
  write_file(list, "MODIFY app 1/a b.txt\nNEW app2\nDELETE gone\n");
  EXPECT_EQ(add_to_change_list(list, {"NEW app 1/a b.txt", "MODIFY gone", "NEW app2/new"}),
            success);
  EXPECT_EQ(read_file(list),
            "MODIFY app 1/a b.txt\nNEW app2\nDELETE gone\nMODIFY gone\nNEW app2/new\n");
  EXPECT_EQ(add_to_change_list(dir.path("missing"), {"NEW x"}),
            std::errc::no_such_file_or_directory);
}

// The run: the changes of a hidden journal join the incremental pass's list;
// one the run cannot read makes the pass a full one. Both are logged.
TEST_F(LostTailTest, TheRunAddsTheHiddenChangesOrRunsAFullPass) {
  log_capture log;
  tool_.set_changelist("NEW app1\n");
  std::unique_ptr<scanner> scan = scanner_over_brick();
  scanner& s = *scan;
  ASSERT_EQ(s.initiate_scan("s1"), success) << log.text();
  EXPECT_TRUE(testing_util::exists(working("app1/app1-s1.0")));
  EXPECT_FALSE(log.contains("brick restart"));

  const std::string journal = dated("CHANGELOG.1796755117");
  write_file(journal, kHeader + fields({"E" + kDir, "4", "16877", "0", "0", kRoot + "/fmt"}));
  index({});
  ASSERT_EQ(s.initiate_scan("s1"), success) << log.text();
  EXPECT_TRUE(testing_util::exists(working("fmt/fmt-s1.0")));
  EXPECT_TRUE(log.contains("Found change-log journals that the incremental pass does not read (" +
                           journal + "); adding the 1 changes they hold to it"))
      << log.text();

  write_file(entry(kFile), "");
  write_file(journal, kHeader + fields({"D" + kFile}));
  ASSERT_EQ(s.initiate_scan("s1"), success) << log.text();
  EXPECT_TRUE(log.contains("Found change-log journals that the incremental pass does not read (" +
                           journal + "); running a full pass instead, since cannot read " +
                           journal))
      << log.text();

  std::vector<std::string> calls = tool_.calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[2].find(" --full "), std::string::npos);
  EXPECT_NE(calls[3].find(" --full "), std::string::npos);
}

// A change that spans a hidden journal and the next one is in both: under
// its true name from the first, split at its comma in glusterfind's list of
// the second. It is listed once, under its true name.
TEST_F(LostTailTest, AChangeInAHiddenJournalAndInThePassIsListedOnce) {
  const std::string name = "vm,1.img";
  if (!file(kFile, {kDir + "/" + name})) GTEST_SKIP() << "needs trusted attributes (root)";
  write_file(dated("CHANGELOG.1796755117"), kHeader + fields({"D" + kFile}));
  index({});
  tool_.set_changelist("MODIFY fmt/vm\nMODIFY 1.img\n");
  log_capture log;
  std::unique_ptr<scanner> scan = scanner_over_brick(name);
  scanner& s = *scan;
  s.set_list_files(true);
  ASSERT_EQ(s.initiate_scan("s1"), success) << log.text();
  EXPECT_EQ(s.last_report().recovered_changes, 1u);
  EXPECT_EQ(s.last_report().names_joined, 1u);
  EXPECT_EQ(read_file(working("fmt/fmt-s1.1")), "fmt/" + name + "\n");
}

// A journal whose changes a pass added is read again by the passes after
// it until glusterfind post confirms one of them; after that, never: its
// changes would be listed twice. The sets without a brick here are said.
TEST_F(LostTailTest, AJournalReadByAPassThatPostConfirmedIsNotReadAgain) {
  log_capture log;
  tool_.set_changelist("");
  const std::string journal = dated("CHANGELOG.1796755117");
  write_file(journal, kHeader + fields({"E" + kDir, "4", "16877", "0", "0", kRoot + "/fmt"}));
  index({});
  std::unique_ptr<scanner> scan = scanner_over_brick();
  scanner& s = *scan;
  for (int run = 0; run < 2; ++run) {  // no post in between
    ASSERT_EQ(s.initiate_scan("s1"), success) << log.text();
    EXPECT_EQ(s.last_report().recovered_journals, std::vector<std::string>{journal});
  }
  ASSERT_EQ(s.get_sessionobj("s1")->post_scan(), 0);
  EXPECT_EQ(read_file(state_.path("s1/gv0/tarn-recovered")), journal + "\n");
  ASSERT_EQ(s.initiate_scan("s1"), success) << log.text();
  EXPECT_TRUE(s.last_report().recovered_journals.empty());

  const scan_report& report = s.last_report();
  ASSERT_EQ(report.replica_sets.size(), 2u);
  EXPECT_TRUE(report.replica_sets[0].on_this_node);
  EXPECT_EQ(report.replica_sets[1].bricks, std::vector<std::string>{"192.0.2.1:/elsewhere"});
  EXPECT_FALSE(report.replica_sets[1].on_this_node);
  EXPECT_TRUE(report.needs_attention());
  EXPECT_TRUE(log.contains("No brick of the replica set 192.0.2.1:/elsewhere is on this node"));
}

// Names that glusterfind garbled beyond repair: the changes of the pass are
// read from this node's bricks under their names of now, and nothing is
// missing, where the node holds a brick of every replica set.
TEST_F(LostTailTest, NamesBeyondRepairAreReadFromTheBricks) {
  const std::string name = "p1,p2,p3,p4,p5,p6,p7,p8,p9";
  if (!file(kFile, {kDir + "/" + name})) GTEST_SKIP() << "needs trusted attributes (root)";
  write_file(dated("CHANGELOG.1796755117"), kHeader + fields({"D" + kFile}));
  index({"CHANGELOG.1796755091", "CHANGELOG.1796755117"});
  std::vector<std::string> lines;
  ASSERT_EQ(changed_on_bricks(probe_, {brick_.path()}, &lines), success);
  EXPECT_EQ(lines, std::vector<std::string>{"MODIFY fmt/" + name});

  tool_.set_volume_info("Number of Bricks: 1\nBrick1: localhost:" + brick_.path() + "\n");
  std::string garbled = "MODIFY fmt/p1\n";
  for (int part = 2; part <= 9; ++part) garbled += "MODIFY p" + std::to_string(part) + "\n";
  tool_.set_changelist(garbled);
  log_capture log;
  std::unique_ptr<scanner> scan = scanner_over_brick(name);
  scanner& s = *scan;
  s.set_list_files(true);
  ASSERT_EQ(s.initiate_scan("s1"), success) << log.text();
  const scan_report& report = s.last_report();
  EXPECT_EQ(report.names_unrepaired, 9u);
  EXPECT_TRUE(report.names_read_from_bricks);
  EXPECT_EQ(report.names_from_bricks, 1u);
  EXPECT_FALSE(report.needs_attention());
  EXPECT_EQ(read_file(working("fmt/fmt-s1.1")), "fmt/" + name + "\n");
  EXPECT_FALSE(testing_util::exists(working("p2")));
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
