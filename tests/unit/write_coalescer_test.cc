// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Write coalescing in front of a backend file, against a recording target.
#include "core/write_coalescer.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/gluster_connection.h"
#include "unit/test_util.h"

namespace tarn {
namespace core {
namespace {

// A file in memory that records every call it gets and fails on request.
struct recording_target : backend_file {
  struct call {
    int64_t offset;
    std::string data;
  };
  std::vector<call>* calls;
  std::string* content;
  int* fail_writes_with;  // errno for every later write; 0 = none
  bool* closed;

  std::error_code pwrite(const void* data, std::size_t n, int64_t offset) override {
    calls->push_back({offset, std::string(static_cast<const char*>(data), n)});
    if (*fail_writes_with != 0) return std::error_code(*fail_writes_with, std::generic_category());
    if (content->size() < static_cast<std::size_t>(offset) + n) content->resize(offset + n);
    content->replace(offset, n, static_cast<const char*>(data), n);
    return std::error_code();
  }
  std::error_code size(int64_t* out) override {
    *out = static_cast<int64_t>(content->size());
    return std::error_code();
  }
  std::error_code close() override {
    *closed = true;
    return std::error_code();
  }
};

class CoalescingFileTest : public ::testing::Test {
 protected:
  std::unique_ptr<coalescing_file> make(std::size_t capacity) {
    auto* target = new recording_target;
    target->calls = &calls_;
    target->content = &content_;
    target->fail_writes_with = &fail_;
    target->closed = &closed_;
    return std::unique_ptr<coalescing_file>(
        new coalescing_file(std::unique_ptr<backend_file>(target), capacity));
  }
  // The count written, or the negative errno, as tarn_api::write reports it.
  static int64_t put(coalescing_file& f, const std::string& text, int64_t offset) {
    std::error_code ec = f.pwrite(text.data(), text.size(), offset);
    return ec ? -ec.value() : static_cast<int64_t>(text.size());
  }

  std::vector<recording_target::call> calls_;
  std::string content_;
  int fail_ = 0;
  bool closed_ = false;
};

TEST_F(CoalescingFileTest, ConsecutiveWritesBecomeOneUntilTheBatchIsFull) {
  auto f = make(10);
  EXPECT_EQ(put(*f, "abc", 0), 3);
  EXPECT_EQ(put(*f, "def", 3), 3);
  EXPECT_EQ(put(*f, "ghi", 6), 3);
  EXPECT_TRUE(calls_.empty());
  EXPECT_EQ(put(*f, "jk", 9), 2);  // would exceed 10 bytes: the batch goes first
  ASSERT_EQ(calls_.size(), 1u);
  EXPECT_EQ(calls_[0].offset, 0);
  EXPECT_EQ(calls_[0].data, "abcdefghi");
  EXPECT_NO_ERROR(f->close());
  ASSERT_EQ(calls_.size(), 2u);
  EXPECT_EQ(calls_[1].offset, 9);
  EXPECT_EQ(content_, "abcdefghijk");
  EXPECT_TRUE(closed_);
}

TEST_F(CoalescingFileTest, OtherOffsetsAndSizeQueriesWriteOutFirst) {
  auto f = make(1 << 20);
  put(*f, "0123", 0);
  put(*f, "XY", 1);  // overwrites what is kept back: must land after it
  int64_t size = 0;
  ASSERT_NO_ERROR(f->size(&size));
  EXPECT_EQ(size, 4);
  put(*f, "end", 10);  // past the end: a hole
  put(*f, "!", 13);
  EXPECT_NO_ERROR(f->close());
  ASSERT_EQ(calls_.size(), 3u);
  EXPECT_EQ(calls_[0].data, "0123");
  EXPECT_EQ(calls_[1].data, "XY");
  EXPECT_EQ(calls_[2].offset, 10);
  EXPECT_EQ(calls_[2].data, "end!");
  EXPECT_EQ(content_, std::string("0XY3") + std::string(6, '\0') + "end!");
}

TEST_F(CoalescingFileTest, LargeWritesGoStraightThrough) {
  auto f = make(4);
  put(*f, "ab", 0);
  EXPECT_EQ(put(*f, "cdefgh", 2), 6);
  ASSERT_EQ(calls_.size(), 2u);
  EXPECT_EQ(calls_[0].data, "ab");
  EXPECT_EQ(calls_[1].data, "cdefgh");
  EXPECT_EQ(put(*f, "", 8), 0);
  EXPECT_NO_ERROR(f->close());
  EXPECT_EQ(calls_.size(), 2u);
}

TEST_F(CoalescingFileTest, AnErrorOfKeptBackDataReachesTheCallerAndSticks) {
  auto f = make(100);
  EXPECT_EQ(put(*f, "one\n", 0), 4);
  fail_ = ENOSPC;
  // The error of the kept-back line shows at the next write that needs the
  // batch written, and again at every later call and at close.
  EXPECT_EQ(put(*f, "two\n", 10), -ENOSPC);
  fail_ = 0;
  EXPECT_EQ(put(*f, "three\n", 20), -ENOSPC);
  int64_t size = 0;
  EXPECT_EQ(f->size(&size).value(), ENOSPC);
  EXPECT_EQ(f->close().value(), ENOSPC);
  EXPECT_TRUE(closed_);
  EXPECT_EQ(calls_.size(), 1u);  // nothing was written after the failure
}

TEST_F(CoalescingFileTest, AnErrorMetOnlyAtCloseIsReported) {
  auto f = make(100);
  put(*f, "line\n", 0);
  fail_ = EIO;
  EXPECT_EQ(f->close().value(), EIO);
  EXPECT_TRUE(closed_);
  EXPECT_EQ(f->close().value(), EBADF);
  EXPECT_EQ(put(*f, "x", 0), -EBADF);
}

TEST(GlusterServerTest, ParsesHostAndPort) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    int port;
  } cases[] = {{"127.0.0.1", true, "127.0.0.1", 24007}, {"node1:24008", true, "node1", 24008},
               {"", false, "", 0},        {":24007", false, "", 0},
               {"h:", false, "", 0},      {"h:0", false, "", 0},
               {"h:65536", false, "", 0}, {"h:12x", false, "", 0},
               {"h:1:2", false, "", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    gluster_server server;
    std::error_code ec = parse_gluster_server(c.text, &server);
    ASSERT_EQ(!ec, c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(server.host, c.host);
    EXPECT_EQ(server.port, c.port);
  }
}

TEST(GlusterServerTest, ConfigurationBeforeEnvironmentBeforeLoopback) {
  iopx_tree_cfg cfg;
  gluster_server server;
  {
    testing_util::scoped_env unset("TARN_GLUSTER_SERVER");
    ASSERT_NO_ERROR(gluster_server_for(cfg, &server));
    EXPECT_EQ(server.host, "127.0.0.1");
    EXPECT_EQ(server.port, 24007);
  }
  testing_util::scoped_env env("TARN_GLUSTER_SERVER", "127.0.0.2:24010");
  ASSERT_NO_ERROR(gluster_server_for(cfg, &server));
  EXPECT_EQ(server.host, "127.0.0.2");
  EXPECT_EQ(server.port, 24010);
  cfg.server = "127.0.0.3";
  ASSERT_NO_ERROR(gluster_server_for(cfg, &server));
  EXPECT_EQ(server.host, "127.0.0.3");
  EXPECT_EQ(server.port, 24007);
}

}  // namespace
}  // namespace core
}  // namespace tarn
