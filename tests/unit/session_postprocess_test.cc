// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The collect file through distribution, linking and chunking: what is left
// in the output directory, and what each failure keeps.
#include <sys/stat.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::exists;
using testing_util::list_dir;
using testing_util::log_capture;
using testing_util::numbered_lines;
using testing_util::read_file;
using testing_util::temp_dir;
using testing_util::write_file;

using Lines = std::vector<std::string>;

const char kGfid[] = "12345678-9abc-4def-8000-000000000001";
const char kGfid2[] = "12345678-9abc-4def-8000-000000000002";
const char kFn[] = "[sessoin::process_filtered_files] ";

class PostProcessTest : public ::testing::Test {
 protected:
  PostProcessTest()
      : out_(dir_.path("out")),
        mnt_(dir_.path("mnt")),
        collect_(dir_.path("s1-processed.0")),
        session_("s1", "vol1", out_, mnt_) {
    mkdir(out_.c_str(), 0755);
    mkdir(mnt_.c_str(), 0755);
  }

  std::error_code process() { return session_.process_filtered_files(collect_); }
  std::string out(const std::string& name) const { return out_ + "/" + name; }

  temp_dir dir_;
  std::string out_;
  std::string mnt_;
  std::string collect_;
  session session_;
  testing_util::attribute_side attrs_;
  log_capture log_;
};

TEST_F(PostProcessTest, UnsortedCollectFileEndsInOneListPerApplication) {
  mkdir((mnt_ + "/a").c_str(), 0755);
  write_file(mnt_ + "/a/big.img", "");
  if (!testing_util::set_gfid(mnt_ + "/a/big.img", kGfid)) GTEST_SKIP() << "no trusted.gfid";
  std::string piece = std::string(".shard/") + kGfid + ".";
  write_file(collect_, "b/x\na/big.img\n" + numbered_lines(piece, 16001) + "b/x\nb/y");
  ASSERT_NO_ERROR(process());
  EXPECT_FALSE(exists(collect_));
  EXPECT_EQ(list_dir(out_), (Lines{"a-s1-1.16000", "a-s1-2.1", "b-s1.0"}));
  // Byte order of the piece names: the last one is piece 9999.
  EXPECT_EQ(read_file(out("a-s1-2.1")), piece + "9999\n");
}

TEST_F(PostProcessTest, ApplicationsThatExtendAnotherNameKeepTheirOwnLists) {
  mkdir((mnt_ + "/app").c_str(), 0755);
  write_file(mnt_ + "/app/y", "");
  if (!testing_util::set_gfid(mnt_ + "/app", kGfid) ||
      !testing_util::set_gfid(mnt_ + "/app/y", kGfid2)) {
    GTEST_SKIP() << "no trusted.gfid";
  }
  // In byte order "app 3/x" and "app-old/x" lie between "app" and "app/y".
  std::string pieces = std::string(".shard/") + kGfid + ".1\n.shard/" + kGfid2 + ".1\n";
  write_file(collect_, "app\napp/y\napp 3/x\napp-old/x\n" + pieces);
  ASSERT_NO_ERROR(process());
  EXPECT_EQ(list_dir(out_), (Lines{"app 3-s1.0", "app-old-s1.0", "app-s1.2"}));
  EXPECT_EQ(read_file(out("app-s1.2")), pieces);
}

TEST_F(PostProcessTest, EmptyCollectFileSucceedsWithoutFiles) {
  write_file(collect_, "");
  ASSERT_NO_ERROR(process());
  EXPECT_FALSE(exists(collect_));
  EXPECT_TRUE(list_dir(out_).empty());
}

TEST_F(PostProcessTest, CollectFileThatCannotBeOpenedRunsNoStep) {
  collect_.clear();
  EXPECT_EQ(process(), std::error_code(ENOENT, std::generic_category()));
  EXPECT_TRUE(log_.contains(std::string(kFn) + "Failed to open file \n"));
  EXPECT_FALSE(log_.contains("Populating"));
}

TEST_F(PostProcessTest, CollectFileStaysAfterAFailedDistributionOnly) {
  write_file(collect_, "vm/a\n");
  rmdir(out_.c_str());
  EXPECT_EQ(process(), std::error_code(ENOENT, std::generic_category()));
  EXPECT_TRUE(exists(collect_));
  EXPECT_TRUE(log_.contains(std::string(kFn) + "Failed to link shard files with app\n"));

  mkdir(out_.c_str(), 0755);
  attrs_.gfid = [](const std::string&, const char*, unsigned char*) {
    return std::error_code(EIO, std::generic_category());
  };
  EXPECT_EQ(process(), std::error_code(EIO, std::generic_category()));
  EXPECT_FALSE(exists(collect_));
  EXPECT_EQ(list_dir(out_), Lines{"vm-s1.1"});
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
