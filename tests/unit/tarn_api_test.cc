// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The core I/O layer on a local-directory volume, and its logger.
#include "core/tarn_api.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/volume_backend.h"
#include "unit/test_util.h"

namespace tarn {
namespace {

using testing_util::exists;
using testing_util::read_file;
using testing_util::scoped_env;
using testing_util::temp_dir;
using testing_util::write_file;

class TarnApiTest : public ::testing::Test {
 protected:
  TarnApiTest() : env_("TARN_LOCAL_VOLUME_ROOT", root_.path()) {
    mkdir(root_.path("vol").c_str(), 0755);
    iopx_tree_cfg cfg;
    cfg.fs_type = "glusterfs";
    cfg.volume = "vol";
    iopx_ = api_.init(cfg);
  }

  std::string in_volume(const std::string& rel) const { return root_.path("vol/" + rel); }

  boost::shared_ptr<tarn_mem::buff> buffer(const std::string& text) {
    boost::shared_ptr<tarn_mem::buff> b = api_.alloc_io_buffer(text.size());
    memcpy(b->get_base(), text.data(), text.size());
    return b;
  }

  temp_dir root_;
  scoped_env env_;
  tarn_api api_;
  boost::shared_ptr<tarn_iopx::tarn_iopx> iopx_;
};

TEST_F(TarnApiTest, InitNeedsAnExistingVolumeDirectory) {
  ASSERT_TRUE(iopx_);
  iopx_tree_cfg cfg;
  cfg.volume = "missing";
  EXPECT_FALSE(api_.init(cfg));
  EXPECT_EQ(api_.last_error().value(), ENOENT);
  cfg.volume = "../vol";
  EXPECT_FALSE(api_.init(cfg));

  // Given an opener, init opens through it alone.
  std::vector<std::string> asked;
  tarn_api through([&asked](const iopx_tree_cfg& c, std::shared_ptr<core::volume_backend>*) {
    asked.push_back(c.volume);
    return std::error_code(EHOSTDOWN, std::generic_category());
  });
  cfg.volume = "vol";
  EXPECT_FALSE(through.init(cfg));
  EXPECT_EQ(through.last_error().value(), EHOSTDOWN);
  EXPECT_EQ(asked, std::vector<std::string>{"vol"});
}

TEST_F(TarnApiTest, ExclusiveCreateFailsWhenTheFileExists) {
  boost::shared_ptr<tarn_file::tarn_file> first = api_.open(iopx_, "vol.lock.s", O_CREAT | O_EXCL);
  ASSERT_TRUE(first);
  EXPECT_FALSE(api_.open(iopx_, "/vol.lock.s", O_CREAT | O_EXCL));
  EXPECT_EQ(api_.last_error().value(), EEXIST);
  EXPECT_EQ(first->get_file_size(), 0);
  EXPECT_FALSE(api_.close(first));
  EXPECT_EQ(api_.close(first).value(), EBADF);  // never closed twice
  EXPECT_FALSE(api_.unlink(iopx_, "/vol.lock.s"));
  EXPECT_FALSE(exists(in_volume("vol.lock.s")));
}

TEST_F(TarnApiTest, WritesLandAtTheirOffsetsWithoutTruncation) {
  write_file(in_volume("f"), "0123456789");
  boost::shared_ptr<tarn_file::tarn_file> f = api_.open(iopx_, "f", O_CREAT | O_WRONLY);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->get_file_size(), 10);
  EXPECT_EQ(api_.write(f, buffer("ab\n"), 3, 10, 0), 3);
  EXPECT_EQ(api_.write(f, buffer("cd\n"), 3, 13, 0), 3);
  EXPECT_EQ(f->get_file_size(), 16);
  EXPECT_FALSE(api_.close(f));
  EXPECT_EQ(read_file(in_volume("f")), "0123456789ab\ncd\n");
  EXPECT_LT(api_.write(f, buffer("x"), 1, 0, 0), 0);
}

TEST_F(TarnApiTest, BadBuffersAreRefused) {
  boost::shared_ptr<tarn_file::tarn_file> f = api_.open(iopx_, "g", O_CREAT | O_WRONLY);
  ASSERT_TRUE(f);
  EXPECT_EQ(api_.write(f, boost::shared_ptr<tarn_mem::buff>(), 1, 0, 0), -EINVAL);
  EXPECT_EQ(api_.write(f, buffer("ab"), 3, 0, 0), -EINVAL);  // larger than the buffer
  EXPECT_FALSE(api_.close(f));
}

// However a call reports its failure, last_error() holds the cause, until
// the next failure: a success in between leaves it.
TEST_F(TarnApiTest, EveryFailedCallLeavesItsCauseInOnePlace) {
  boost::shared_ptr<tarn_file::tarn_file> f = api_.open(iopx_, "h", O_CREAT | O_WRONLY);
  ASSERT_TRUE(f);
  EXPECT_EQ(api_.write(f, buffer("ab"), 3, 0, 0), -EINVAL);
  EXPECT_EQ(api_.last_error().value(), EINVAL);
  EXPECT_EQ(api_.write(f, buffer("ab"), 2, 0, 0), 2);
  EXPECT_EQ(api_.last_error().value(), EINVAL);
  EXPECT_FALSE(api_.close(f));
  EXPECT_EQ(api_.write(f, buffer("ab"), 2, 0, 0), -EBADF);
  EXPECT_EQ(api_.last_error().value(), EBADF);
  EXPECT_EQ(api_.unlink(iopx_, "missing").value(), ENOENT);
  EXPECT_EQ(api_.last_error().value(), ENOENT);
  EXPECT_EQ(api_.mkdir(iopx_, "h", 0777).value(), EEXIST);
  EXPECT_EQ(api_.last_error().value(), EEXIST);
  EXPECT_EQ(api_.create_empty(boost::shared_ptr<tarn_iopx::tarn_iopx>(), "x").value(), ENXIO);
  EXPECT_EQ(api_.last_error().value(), ENXIO);
}

TEST_F(TarnApiTest, MkdirReportsExistingDirectoriesAs17) {
  EXPECT_FALSE(api_.mkdir(iopx_, "/.tarn", 0777));
  EXPECT_EQ(api_.mkdir(iopx_, ".tarn", 0777).value(), 17);
  EXPECT_EQ(api_.mkdir(iopx_, "a/b", 0777).value(), ENOENT);
  EXPECT_FALSE(api_.mkdir(iopx_, "//.tarn//working/", 0777));
  EXPECT_TRUE(exists(in_volume(".tarn/working")));
}

TEST_F(TarnApiTest, CreateEmptyMakesAFileOnceAndLeavesOneThere) {
  EXPECT_FALSE(api_.create_empty(iopx_, "/empty"));
  EXPECT_EQ(read_file(in_volume("empty")), "");
  write_file(in_volume("full"), "kept\n");
  EXPECT_EQ(api_.create_empty(iopx_, "full").value(), EEXIST);
  EXPECT_EQ(read_file(in_volume("full")), "kept\n");
  EXPECT_EQ(api_.create_empty(iopx_, "a/b").value(), ENOENT);
  EXPECT_EQ(api_.create_empty(iopx_, "../outside").value(), EINVAL);
  EXPECT_TRUE(api_.create_empty(boost::shared_ptr<tarn_iopx::tarn_iopx>(), "f"));
}

TEST_F(TarnApiTest, NothingReachesOutsideTheVolume) {
  write_file(root_.path("outside"), "x");
  EXPECT_FALSE(api_.open(iopx_, "../outside", O_CREAT | O_WRONLY));
  EXPECT_EQ(api_.last_error().value(), EINVAL);
  EXPECT_EQ(api_.unlink(iopx_, "a/../../outside").value(), EINVAL);
  EXPECT_EQ(api_.mkdir(iopx_, "/../escape", 0777).value(), EINVAL);
  EXPECT_TRUE(exists(root_.path("outside")));
  EXPECT_FALSE(exists(root_.path("escape")));
}

TEST_F(TarnApiTest, RenameReplacesAndReadFileIsBounded) {
  write_file(in_volume("new"), "complete\n");
  write_file(in_volume("old"), "stale\n");
  EXPECT_FALSE(api_.rename(iopx_, "new", "/old"));
  EXPECT_FALSE(exists(in_volume("new")));
  std::string text;
  EXPECT_FALSE(api_.read_file(iopx_, "old", 64, &text));
  EXPECT_EQ(text, "complete\n");
  EXPECT_EQ(api_.read_file(iopx_, "old", 4, &text).value(), EFBIG);
  EXPECT_EQ(api_.read_file(iopx_, "missing", 4, &text).value(), ENOENT);
  EXPECT_EQ(api_.rename(iopx_, "missing", "x").value(), ENOENT);
  EXPECT_EQ(api_.rename(iopx_, "old", "../outside").value(), EINVAL);
  EXPECT_TRUE(exists(in_volume("old")));
}

TEST_F(TarnApiTest, CallsOnAnEmptyVolumeHandleFail) {
  boost::shared_ptr<tarn_iopx::tarn_iopx> none;
  EXPECT_FALSE(api_.open(none, "f", O_CREAT | O_EXCL));
  EXPECT_TRUE(api_.mkdir(none, "d", 0777));
  EXPECT_TRUE(api_.unlink(none, "f"));
  EXPECT_TRUE(api_.rename(none, "f", "g"));
  std::string text;
  EXPECT_TRUE(api_.read_file(none, "f", 1, &text));
}

TEST(TarnMemTest, BuffersArePageAlignedAndExactlySized) {
  tarn_api api;
  boost::shared_ptr<tarn_mem::buff> b = api.alloc_io_buffer(59);
  ASSERT_TRUE(b);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b->get_base()) % tarn_mem::get_page_size(), 0u);
  EXPECT_EQ(b->get_size(), 59u);
}

TEST(VolumePathTest, NormalisesSlashesAndRefusesParents) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"a", "a"},           {"/a", "a"},   {"//a//b/", "a/b"},
               {"./a/./b", "a/b"},   {"", ""},      {"/", ""},
               {".tarn/working/scanner", ".tarn/working/scanner"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    std::string out;
    ASSERT_FALSE(core::normalize_volume_path(c.in, &out));
    EXPECT_EQ(out, c.out);
  }
  std::string out;
  EXPECT_TRUE(core::normalize_volume_path("a/..", &out));
  EXPECT_TRUE(core::normalize_volume_path("..", &out));
  EXPECT_FALSE(core::normalize_volume_path("a/..b", &out));
}

TEST(TarnDebugTest, LinesCarryFunctionAndNeverInterleave) {
  temp_dir dir;
  scoped_env env("TARN_LOG_FILE", dir.path("log"));
  tarn_debug::tarn_debug logger;
  logger.error("t::once", "value %d\n", 42);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&logger, t] {
      for (int i = 0; i < 200; ++i) logger.error("t::many", "thread %d line %d %s", t, i,
                                                 std::string(300, 'x').c_str());
    });
  }
  for (std::thread& t : threads) t.join();
  std::vector<std::string> lines = testing_util::read_lines(dir.path("log"));
  ASSERT_EQ(lines.size(), 801u);
  EXPECT_NE(lines[0].find("[t::once] value 42"), std::string::npos);
  EXPECT_EQ(lines[0].back(), '2');  // no second line end
  for (size_t i = 1; i < lines.size(); ++i) {
    ASSERT_NE(lines[i].find("[t::many] thread "), std::string::npos) << lines[i];
    ASSERT_EQ(lines[i].substr(lines[i].size() - 300), std::string(300, 'x'));
  }
}

}  // namespace
}  // namespace tarn
