// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The core I/O layer on the real volume over libgfapi: exclusive create,
// directories, writes at offsets (kept back and written out in order), sizes,
// and one shared connection per volume.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "core/child_process.h"
#include "core/exclusive_create.h"
#include "core/gluster_connection.h"
#include "core/tarn_api.h"
#include "e2e/e2e_util.h"
#include "scanner/scanner.h"

namespace tarn {
namespace {

using testing_util::exists;
using testing_util::read_file;
using testing_util::write_file;
using file_handle = boost::shared_ptr<tarn_file::tarn_file>;
using volume_handle = boost::shared_ptr<tarn_iopx::tarn_iopx>;

iopx_tree_cfg config(const std::string& volume) {
  iopx_tree_cfg cfg;
  cfg.fs_type = "glusterfs";
  cfg.volume = volume;
  return cfg;
}

class GlusterBackendTest : public e2e::volume_test {
 protected:
  void SetUp() override {
    e2e::volume_test::SetUp();
    dir_ = std::string("core-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
           "-" + std::to_string(getpid());
    iopx_ = api_.init(config(e2e::volume()));
    ASSERT_TRUE(iopx_) << api_.last_error().message();
    ASSERT_NO_ERROR(api_.mkdir(iopx_, dir_, 0777));
  }
  void TearDown() override { e2e::sh("rm -rf " + e2e::quote(e2e::on_mount(dir_))); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  int64_t write(tarn_api& api, const file_handle& f, const std::string& text, int64_t offset) {
    boost::shared_ptr<tarn_mem::buff> b = api.alloc_io_buffer(text.size());
    memcpy(b->get_base(), text.data(), text.size());
    return api.write(f, b, text.size(), offset, 0);
  }

  std::string dir_;
  tarn_api api_;
  volume_handle iopx_;
};

TEST_F(GlusterBackendTest, ApisAndScannersShareOneConnection) {
  size_t made = core::gluster_connections_made();
  ASSERT_GE(made, 1u);
  tarn_api other;
  ASSERT_TRUE(other.init(config(e2e::volume())));
  for (int i = 0; i < 20; ++i) {
    scanner::scanner s(e2e::volume(), local_.path("out"), e2e::mount());
  }
  EXPECT_EQ(core::gluster_connections_made(), made);

  // A volume that does not exist, or a server that does not answer, fails
  // with the reason in the log and is not remembered.
  EXPECT_FALSE(other.init(config("tarn-no-such-volume")));
  EXPECT_TRUE(other.last_error());
  iopx_tree_cfg refused = config(e2e::volume());
  refused.server = "127.0.0.1:1";
  EXPECT_FALSE(other.init(refused));
  EXPECT_TRUE(log_.contains("Cannot open volume tarn-no-such-volume"));
  EXPECT_EQ(core::gluster_connections_made(), made);
}

TEST_F(GlusterBackendTest, ExclusiveCreateHoldsAcrossApis) {
  tarn_api other;
  volume_handle other_iopx = other.init(config(e2e::volume()));
  ASSERT_TRUE(other_iopx);
  file_handle held = api_.open(iopx_, path("vol.lock.s"), O_CREAT | O_EXCL);
  ASSERT_TRUE(held) << api_.last_error().message();
  EXPECT_FALSE(other.open(other_iopx, "/" + path("vol.lock.s"), O_CREAT | O_EXCL));
  EXPECT_EQ(other.last_error().value(), EEXIST);
  EXPECT_FALSE(log_.contains("vol.lock.s"));  // a held lock is not a fault to log
  EXPECT_TRUE(exists(e2e::on_mount(path("vol.lock.s"))));

  EXPECT_NO_ERROR(api_.close(held));
  EXPECT_NO_ERROR(api_.unlink(iopx_, path("vol.lock.s")));
  file_handle next = other.open(other_iopx, path("vol.lock.s"), O_CREAT | O_EXCL);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->get_file_size(), 0);
  EXPECT_NO_ERROR(other.close(next));
}

TEST_F(GlusterBackendTest, ExactlyOneOfManyRacingCreatesWins) {
  constexpr int kRacers = 8;
  for (int round = 0; round < 5; ++round) {
    std::atomic<int> winners{0}, others{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> racers;
    for (int i = 0; i < kRacers; ++i) {
      racers.emplace_back([&] {
        tarn_api api;
        volume_handle iopx = api.init(config(e2e::volume()));
        while (!go) std::this_thread::yield();
        file_handle f = api.open(iopx, path("race.lock"), O_CREAT | O_EXCL);
        if (f) {
          ++winners;
          api.close(f);
        } else if (api.last_error().value() == EEXIST) {
          ++others;
        }
      });
    }
    go = true;
    for (std::thread& t : racers) t.join();
    EXPECT_EQ(winners.load(), 1) << "round " << round;
    EXPECT_EQ(others.load(), kRacers - 1) << "round " << round;
    ASSERT_NO_ERROR(api_.unlink(iopx_, path("race.lock")));
  }
}

// The helper program on the volume, talked to directly: a file it created
// stays when told "keep" and goes when the library closes the channel.
TEST_F(GlusterBackendTest, TheCreateHelperKeepsOrRemovesWhatItCreated) {
  std::string program;
  ASSERT_NO_ERROR(core::find_create_helper(&program));
  for (bool keep : {true, false}) {
    core::create_helper_args args;
    args.volume = e2e::volume();
    args.host = "127.0.0.1";
    args.port = 24007;
    const std::string name = keep ? "kept.lock" : "dropped.lock";
    args.path = "/" + path(name);
    args.flags = O_CREAT | O_EXCL;
    args.mode = 0644;
    core::child_process helper;
    ASSERT_NO_ERROR(core::child_process::start(args.to_argv(program), &helper));
    std::string line;
    ASSERT_NO_ERROR(helper.link().receive_line(nullptr, &line));
    EXPECT_EQ(line, core::kConnectedLine);
    ASSERT_NO_ERROR(helper.link().receive_line(nullptr, &line));
    EXPECT_EQ(line, "result 0");
    if (keep) ASSERT_NO_ERROR(helper.link().send("keep\n"));
    helper.link().close();
    core::wait_for_exit(helper.pid());
    file_handle f = api_.open(iopx_, path(name), O_RDONLY);
    EXPECT_EQ(static_cast<bool>(f), keep) << api_.last_error().message();
    if (f) api_.close(f);
  }

  // An attempt given up before the helper has connected creates nothing.
  core::create_helper_args args;
  args.volume = e2e::volume();
  args.host = "127.0.0.1";
  args.port = 24007;
  args.path = "/" + path("early.lock");
  args.flags = O_CREAT | O_EXCL;
  args.mode = 0644;
  core::create_stage stage;
  EXPECT_EQ(core::create_exclusively(args, std::chrono::milliseconds(1), &stage).value(),
            ETIMEDOUT);
  for (int i = 0; i < 200 && core::reap_create_helpers() != 0; ++i) e2e::pause(0.05);
  EXPECT_EQ(core::reap_create_helpers(), 0u);
  EXPECT_FALSE(api_.open(iopx_, path("early.lock"), O_RDONLY));
  EXPECT_EQ(api_.last_error().value(), ENOENT);
}

TEST_F(GlusterBackendTest, MkdirReportsAnExistingDirectoryAs17) {
  EXPECT_NO_ERROR(api_.mkdir(iopx_, path("d"), 0777));
  EXPECT_EQ(api_.mkdir(iopx_, path("d"), 0777).value(), 17);
  EXPECT_EQ(api_.mkdir(iopx_, "/" + path("d"), 0777).value(), 17);
  EXPECT_EQ(api_.mkdir(iopx_, path("missing/d"), 0777).value(), ENOENT);
  EXPECT_NO_ERROR(api_.mkdir(iopx_, "//" + path("d") + "//e/", 0777));
  EXPECT_TRUE(exists(e2e::on_mount(path("d/e"))));
}

TEST_F(GlusterBackendTest, CreateWhenMissingNeverTruncates) {
  write_file(e2e::on_mount(path("f")), "0123456789");
  file_handle f = api_.open(iopx_, path("f"), O_CREAT | O_WRONLY);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->get_file_size(), 10);
  EXPECT_EQ(write(api_, f, "ab\n", 10), 3);
  EXPECT_NO_ERROR(api_.close(f));
  EXPECT_EQ(read_file(e2e::on_mount(path("f"))), "0123456789ab\n");

  file_handle fresh = api_.open(iopx_, path("with blank"), O_CREAT | O_WRONLY);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->get_file_size(), 0);
  EXPECT_NO_ERROR(api_.close(fresh));
  EXPECT_TRUE(exists(e2e::on_mount(path("with blank"))));
  EXPECT_FALSE(api_.open(iopx_, path("missing/f"), O_CREAT | O_WRONLY));
  EXPECT_EQ(api_.last_error().value(), ENOENT);

  // The one-call empty file: made once, a file there is left as it is.
  EXPECT_NO_ERROR(api_.create_empty(iopx_, path("empty list")));
  EXPECT_EQ(read_file(e2e::on_mount(path("empty list"))), "");
  EXPECT_EQ(api_.create_empty(iopx_, path("f")).value(), EEXIST);
  EXPECT_EQ(read_file(e2e::on_mount(path("f"))), "0123456789ab\n");
  EXPECT_EQ(api_.create_empty(iopx_, path("missing/f")).value(), ENOENT);
}

TEST_F(GlusterBackendTest, WritesReachTheVolumeInOrderAtTheirOffsets) {
  file_handle f = api_.open(iopx_, path("lines"), O_CREAT | O_WRONLY);
  ASSERT_TRUE(f);
  std::string expected;
  // Many small consecutive writes, as the copy step makes them (kept back
  // and written out together), beyond one 1 MiB batch.
  for (int i = 0; expected.size() < (3u << 20) / 2; ++i) {
    std::string line = "line " + std::to_string(i) + " of the result list\n";
    ASSERT_EQ(write(api_, f, line, expected.size()), static_cast<int64_t>(line.size()));
    expected += line;
  }
  EXPECT_EQ(f->get_file_size(), static_cast<int64_t>(expected.size()));
  // A write past the end leaves a hole; one at the start overwrites.
  ASSERT_EQ(write(api_, f, "tail\n", expected.size() + 100), 5);
  expected += std::string(100, '\0') + "tail\n";
  ASSERT_EQ(write(api_, f, "LINE", 0), 4);
  expected.replace(0, 4, "LINE");
  // A write larger than a batch goes straight through.
  std::string big(2u << 20, 'x');
  ASSERT_EQ(write(api_, f, big, expected.size()), static_cast<int64_t>(big.size()));
  expected += big;
  EXPECT_EQ(f->get_file_size(), static_cast<int64_t>(expected.size()));
  EXPECT_NO_ERROR(api_.close(f));
  EXPECT_EQ(read_file(e2e::on_mount(path("lines"))), expected);
}

TEST_F(GlusterBackendTest, RenameReplacesAndReadFileIsBounded) {
  write_file(e2e::on_mount(path("new")), "complete\n");
  write_file(e2e::on_mount(path("old")), "stale\n");
  EXPECT_NO_ERROR(api_.rename(iopx_, path("new"), path("old")));
  // Asked through the connection that renamed: the FUSE mount may show the
  // old name for up to a second.
  std::string text;
  EXPECT_EQ(api_.read_file(iopx_, path("new"), 64, &text).value(), ENOENT);
  EXPECT_NO_ERROR(api_.read_file(iopx_, path("old"), 64, &text));
  EXPECT_EQ(text, "complete\n");
  EXPECT_EQ(api_.read_file(iopx_, path("old"), 4, &text).value(), EFBIG);
  EXPECT_EQ(api_.read_file(iopx_, path("missing"), 4, &text).value(), ENOENT);
  EXPECT_EQ(api_.rename(iopx_, path("missing"), path("x")).value(), ENOENT);
}

TEST_F(GlusterBackendTest, KeptBackWritesAreWrittenWhenTheHandleIsDropped) {
  {
    file_handle f = api_.open(iopx_, path("dropped"), O_CREAT | O_WRONLY);
    ASSERT_TRUE(f);
    EXPECT_EQ(write(api_, f, "one\n", 0), 4);
    EXPECT_EQ(write(api_, f, "two\n", 4), 4);
  }
  EXPECT_EQ(read_file(e2e::on_mount(path("dropped"))), "one\ntwo\n");
}

TEST_F(GlusterBackendTest, RemovalsThroughAnotherClientAreSeenAtOnce) {
  ASSERT_NO_ERROR(api_.mkdir(iopx_, path("d"), 0777));
  file_handle f = api_.open(iopx_, path("d/f"), O_CREAT | O_EXCL);
  ASSERT_TRUE(f);
  EXPECT_NO_ERROR(api_.close(f));
  ASSERT_EQ(e2e::sh("rm -rf " + e2e::quote(e2e::on_mount(path("d")))), 0);
  // No stale "exists" from the connection's cache: the lock can be taken and
  // the directory made again right away.
  EXPECT_NO_ERROR(api_.mkdir(iopx_, path("d"), 0777));
  f = api_.open(iopx_, path("d/f"), O_CREAT | O_EXCL);
  ASSERT_TRUE(f) << api_.last_error().message();
  EXPECT_NO_ERROR(api_.close(f));
  ASSERT_EQ(e2e::sh("rm -rf " + e2e::quote(e2e::on_mount(path("d")))), 0);
  f = api_.open(iopx_, path("d/f"), O_CREAT | O_WRONLY);
  EXPECT_FALSE(f);
  EXPECT_EQ(api_.last_error().value(), ENOENT);
}

TEST_F(GlusterBackendTest, UnlinkRemovesAndReportsAMissingFile) {
  file_handle f = api_.open(iopx_, path("gone"), O_CREAT | O_WRONLY);
  ASSERT_TRUE(f);
  EXPECT_NO_ERROR(api_.close(f));
  EXPECT_NO_ERROR(api_.unlink(iopx_, "/" + path("gone")));
  EXPECT_FALSE(exists(e2e::on_mount(path("gone"))));
  EXPECT_EQ(api_.unlink(iopx_, path("gone")).value(), ENOENT);
}

}  // namespace
}  // namespace tarn
