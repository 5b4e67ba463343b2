// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Exclusive create in a helper process, with a stand-in helper on a local
// directory: kept files, files that exist, attempts given up while the helper
// connects or creates, helpers that end without an answer, and races.
#include "core/exclusive_create.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "unit/test_util.h"

namespace tarn {
namespace core {
namespace {

using std::chrono::milliseconds;
using testing_util::exists;
using testing_util::read_file;
using testing_util::scoped_env;
using testing_util::temp_dir;
using testing_util::write_file;

class ExclusiveCreateTest : public ::testing::Test {
 protected:
  ExclusiveCreateTest()
      : helper_("TARN_CREATE_HELPER", TARN_FAKE_CREATE_HELPER),
        trace_("FAKE_CREATE_TRACE", root_.path("trace")) {
    mkdir(root_.path("vol").c_str(), 0755);
  }
  ~ExclusiveCreateTest() override { wait_for_helpers(); }

  create_helper_args request() const {
    create_helper_args r;
    r.volume = root_.path("vol");
    r.host = "127.0.0.1";
    r.port = 24007;
    r.path = "/vol.lock.s";
    r.flags = O_CREAT | O_EXCL;
    r.mode = 0644;
    return r;
  }
  std::string lock() const { return root_.path("vol/vol.lock.s"); }
  std::string trace() const { return read_file(root_.path("trace")); }

  // Helpers left behind end on their own; true once all have (bounded).
  static bool wait_for_helpers() {
    for (int i = 0; i < 300; ++i) {
      if (reap_create_helpers() == 0) return true;
      std::this_thread::sleep_for(milliseconds(50));
    }
    return false;
  }

  temp_dir root_;
  scoped_env helper_;
  scoped_env trace_;
  create_stage stage_ = create_stage::starting;
};

TEST_F(ExclusiveCreateTest, TheCreatedFileIsKeptAndTheHelperReaped) {
  EXPECT_NO_ERROR(create_exclusively(request(), milliseconds(10000), &stage_));
  EXPECT_EQ(stage_, create_stage::creating);
  EXPECT_TRUE(exists(lock()));
  EXPECT_EQ(reap_create_helpers(), 0u);  // waited for, not left behind
  EXPECT_EQ(trace(), "connected\ncreated\nexit 0\n");
}

TEST_F(ExclusiveCreateTest, AnExistingFileIsReportedAndLeftAlone) {
  write_file(lock(), "another run's");
  EXPECT_EQ(create_exclusively(request(), milliseconds(10000), &stage_).value(), EEXIST);
  EXPECT_EQ(read_file(lock()), "another run's");
  EXPECT_EQ(reap_create_helpers(), 0u);
}

TEST_F(ExclusiveCreateTest, AGivenUpCreateRemovesTheFileItMakesLater) {
  scoped_env slow("FAKE_CREATE_DELAY_MS", "1500");
  EXPECT_EQ(create_exclusively(request(), milliseconds(200), &stage_).value(), ETIMEDOUT);
  EXPECT_EQ(stage_, create_stage::creating);
  // The call did not wait for the create: the helper is still at it.
  EXPECT_EQ(trace(), "connected\n");
  EXPECT_EQ(reap_create_helpers(), 1u);
  ASSERT_TRUE(wait_for_helpers());
  EXPECT_EQ(trace(), "connected\ncreated\nremoved\nexit 1\n");
  EXPECT_FALSE(exists(lock()));
}

TEST_F(ExclusiveCreateTest, AGivenUpCreateThatFindsTheFileLeavesIt) {
  write_file(lock(), "");
  scoped_env slow("FAKE_CREATE_DELAY_MS", "800");
  EXPECT_EQ(create_exclusively(request(), milliseconds(200), &stage_).value(), ETIMEDOUT);
  ASSERT_TRUE(wait_for_helpers());
  EXPECT_EQ(trace(), "connected\nfailed 17\nexit 1\n");
  EXPECT_TRUE(exists(lock()));  // never removes a file it did not create
}

TEST_F(ExclusiveCreateTest, AnAttemptGivenUpWhileConnectingCreatesNothing) {
  scoped_env slow("FAKE_CREATE_CONNECT_DELAY_MS", "800");
  EXPECT_EQ(create_exclusively(request(), milliseconds(200), &stage_).value(), ETIMEDOUT);
  EXPECT_EQ(stage_, create_stage::connecting);
  ASSERT_TRUE(wait_for_helpers());
  EXPECT_EQ(trace(), "connected\nexit 1\n");
  EXPECT_FALSE(exists(lock()));
}

TEST_F(ExclusiveCreateTest, FailuresOfTheHelperComeBackAsErrors) {
  {
    scoped_env refused("FAKE_CREATE_CONNECT_ERROR", std::to_string(ENOTCONN));
    EXPECT_EQ(create_exclusively(request(), milliseconds(10000), &stage_).value(), ENOTCONN);
    EXPECT_EQ(stage_, create_stage::connecting);
  }
  {
    scoped_env crash("FAKE_CREATE_CRASH", "1");
    EXPECT_EQ(create_exclusively(request(), milliseconds(10000), &stage_).value(), EIO);
  }
  {
    scoped_env missing("TARN_CREATE_HELPER", root_.path("no-such-helper"));
    EXPECT_EQ(create_exclusively(request(), milliseconds(10000), &stage_).value(), ENOENT);
    EXPECT_EQ(stage_, create_stage::starting);
  }
  EXPECT_FALSE(exists(lock()));
  EXPECT_EQ(reap_create_helpers(), 0u);
}

TEST_F(ExclusiveCreateTest, OfRacingCallsExactlyOneCreates) {
  constexpr int kRacers = 6;
  std::atomic<int> created{0}, existed{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> racers;
  for (int i = 0; i < kRacers; ++i) {
    racers.emplace_back([&] {
      while (!go) std::this_thread::yield();
      create_stage stage;
      std::error_code ec = create_exclusively(request(), milliseconds(20000), &stage);
      if (!ec) ++created;
      if (ec.value() == EEXIST) ++existed;
    });
  }
  go = true;
  for (std::thread& t : racers) t.join();
  EXPECT_EQ(created.load(), 1);
  EXPECT_EQ(existed.load(), kRacers - 1);
  EXPECT_TRUE(wait_for_helpers());
}

TEST(CreateHelperArgsTest, CommandLineRoundTripsAndBadOnesAreRefused) {
  create_helper_args in;
  in.volume = "vol";
  in.host = "gluster-1";
  in.port = 24007;
  in.path = "/vol.lock.a b";
  in.flags = O_CREAT | O_EXCL;
  in.mode = 0644;
  std::vector<std::string> argv = in.to_argv("helper");
  std::vector<const char*> args;
  for (const std::string& a : argv) args.push_back(a.c_str());
  create_helper_args out;
  ASSERT_NO_ERROR(create_helper_args::parse(static_cast<int>(args.size()), args.data(), &out));
  EXPECT_EQ(out.to_argv("helper"), argv);

  args[3] = "70000";  // port
  EXPECT_TRUE(create_helper_args::parse(static_cast<int>(args.size()), args.data(), &out));
  args[3] = "24007";
  args[5] = "-1";  // flags
  EXPECT_TRUE(create_helper_args::parse(static_cast<int>(args.size()), args.data(), &out));
  EXPECT_TRUE(create_helper_args::parse(3, args.data(), &out));

  int error = -1;
  EXPECT_TRUE(parse_result_line("result 17", &error));
  EXPECT_EQ(error, 17);
  EXPECT_FALSE(parse_result_line("result", &error));
  EXPECT_FALSE(parse_result_line("connected", &error));
}

}  // namespace
}  // namespace core
}  // namespace tarn
