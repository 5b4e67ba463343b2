// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Sorted entries to per-application list files: names, counts, order,
// classification and what a failure leaves.
#include <sys/stat.h>

#include <gtest/gtest.h>

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

class DistributeTest : public ::testing::Test {
 protected:
  DistributeTest() : out_(dir_.path("out")), session_("s1", "vol1", out_, dir_.path("mnt")) {
    mkdir(out_.c_str(), 0755);
  }

  std::error_code distribute(Lines entries) {
    return session_.distribute_basedon_application(entries, app_files_, shard_files_);
  }
  std::string out(const std::string& name) const { return out_ + "/" + name; }

  temp_dir dir_;
  std::string out_;
  session session_;
  Lines app_files_;
  Lines shard_files_;
  log_capture log_;
};

TEST_F(DistributeTest, GroupsByApplicationAndNamesEachFileWithItsCount) {
  ASSERT_NO_ERROR(distribute({".shard/G.1", ".shard/G.3", "vm1/disk.img", "vm2/a", "vm2/b"}));
  EXPECT_EQ(shard_files_, Lines{out(".shard-s1.2")});
  EXPECT_EQ(app_files_, (Lines{out("vm1-s1.1"), out("vm2-s1.2")}));
  EXPECT_EQ(list_dir(out_), (Lines{".shard-s1.2", "vm1-s1.1", "vm2-s1.2"}));
  EXPECT_EQ(read_file(out(".shard-s1.2")), ".shard/G.1\n.shard/G.3\n");
  EXPECT_EQ(read_file(out("vm2-s1.2")), "vm2/a\nvm2/b\n");
  for (const char* name : {".shard-s1.0", "vm1-s1.0", "vm2-s1.0"}) {
    EXPECT_TRUE(log_.contains("[session::distribute_basedon_application] Populating entries in " +
                              out(name) + " \n"))
        << name;
    EXPECT_EQ(session_.get_excludelist().count(out(name)), 1u) << name;
  }
}

TEST_F(DistributeTest, RootFilesDuplicatesAndOddNamesAreTheirOwnGroups) {
  ASSERT_NO_ERROR(distribute({"/abs", ".shard-old/x", "README", "vm/a", "vm/a"}));
  EXPECT_EQ(read_file(out("-s1.1")), "/abs\n");
  EXPECT_EQ(read_file(out("README-s1.1")), "README\n");
  EXPECT_EQ(read_file(out("vm-s1.2")), "vm/a\nvm/a\n");
  // Only ".shard" itself is the shard list; ".shard-old" is an application.
  EXPECT_TRUE(shard_files_.empty());
  EXPECT_EQ(app_files_,
            (Lines{out("-s1.1"), out(".shard-old-s1.1"), out("README-s1.1"), out("vm-s1.2")}));
}

TEST_F(DistributeTest, OnlyTheApplicationShardIsTheShardList) {
  ASSERT_NO_ERROR(distribute({".shard", ".shard/g.1", ".shard-old/x", ".shardX/y", ".shards"}));
  EXPECT_EQ(shard_files_, Lines{out(".shard-s1.2")});
  EXPECT_EQ(app_files_, (Lines{out(".shard-old-s1.1"), out(".shardX-s1.1"), out(".shards-s1.1")}));
}

TEST_F(DistributeTest, GroupFileThatCannotBeOpenedEndsTheStep) {
  rmdir(out_.c_str());
  EXPECT_EQ(distribute({"vm/a"}), std::error_code(ENOENT, std::generic_category()));
  EXPECT_TRUE(log_.contains("Failed to open file " + out("vm-s1.0") + " \n"));
}

TEST_F(DistributeTest, FailedRenameKeepsTheTemporaryNameAndEarlierGroups) {
  mkdir(out("vm-s1.1").c_str(), 0755);
  write_file(out("vm-s1.1") + "/occupied", "");
  EXPECT_TRUE(distribute({"app/a", "vm/b", "zz/c"}));
  EXPECT_EQ(app_files_, Lines{out("app-s1.1")});
  EXPECT_EQ(read_file(out("vm-s1.0")), "vm/b\n");
  EXPECT_FALSE(exists(out("zz-s1.0")));
  EXPECT_TRUE(log_.contains("Failed to rename the generated file from " + out("vm-s1.0") +
                            " to " + out("vm-s1.1")));
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
