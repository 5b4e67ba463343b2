// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The lock file says who holds it; a lock whose holder on this host is gone
// can be removed, one whose holder runs, or cannot be checked, cannot.
#include "scanner/guards/lock_record.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <regex>

#include <gtest/gtest.h>

#include "core/platform.h"
#include "unit/fault_backend.h"
#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::exists;
using testing_util::log_capture;
using testing_util::read_file;
using testing_util::scoped_env;
using testing_util::temp_dir;
using testing_util::write_file;

std::error_code err(int e) { return std::error_code(e, std::generic_category()); }

// A pid that no process has: a child that has ended and been reaped.
pid_t gone_pid() {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

class LockRecordTest : public ::testing::Test {
 protected:
  LockRecordTest() : volume_root_("TARN_LOCAL_VOLUME_ROOT", root_.path()) {
    mkdir(root_.path("vol1").c_str(), 0755);
  }
  std::string lock_file() const { return root_.path("vol1/vol1.lock.s1"); }

  // Writes a record of `pid` on `host` (with the start time it has now, or
  // `start`) and asks for its removal.
  std::error_code remove_with(const std::string& host, pid_t pid, bool force, std::string* why,
                              std::uint64_t start = 0) {
    lock_holder h = this_process_as_holder("s1");
    h.host = host;
    h.pid = pid;
    h.start = start;
    if (start == 0) os::process_start_time(pid, &h.start);
    write_file(lock_file(), format_lock_record(h));
    scanner s("vol1", "", "");
    return s.remove_stale_lock("s1", force, why);
  }

  temp_dir root_;
  scoped_env volume_root_;
};

TEST_F(LockRecordTest, TheLockSaysWhoHoldsIt) {
  scanner s("vol1", root_.path("out"), root_.path("vol1"));
  boost::shared_ptr<tarn_file> lock = s.acquire_lock("s one");
  ASSERT_TRUE(lock);
  const std::string text = read_file(root_.path("vol1/vol1.lock.s one"));
  std::uint64_t start = 0;
  ASSERT_NO_ERROR(os::process_start_time(getpid(), &start));
  const std::regex expected("host=" + os::host_name() + " pid=" + std::to_string(getpid()) +
                            " start=" + std::to_string(start) +
                            " started=20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6]"
                            "[0-9]Z version=[0-9]+\\.[0-9]+\\.[0-9]+ session=s one\n");
  EXPECT_TRUE(std::regex_match(text, expected)) << text;
  lock_holder h;
  ASSERT_TRUE(parse_lock_record(text, &h));
  EXPECT_EQ(h.session, "s one");
  EXPECT_EQ(h.pid, getpid());
  // Held by this very process: not removed, even by another scanner.
  std::string why;
  scanner other("vol1", "", "");
  EXPECT_EQ(other.remove_stale_lock("s one", false, &why), err(EBUSY));
  EXPECT_NE(why.find("which is running"), std::string::npos) << why;
  s.release_lock(lock);
  EXPECT_FALSE(exists(root_.path("vol1/vol1.lock.s one")));
}

TEST_F(LockRecordTest, ARecordThatCannotBeWrittenKeepsTheLock) {
  testing_util::fault_injection faults;
  faults.plan().fail(testing_util::volume_call::write, 1, ENOSPC, ".lock.");
  log_capture log;
  scanner s("vol1", root_.path("out"), root_.path("vol1"));
  boost::shared_ptr<tarn_file> lock = s.acquire_lock("s1");
  ASSERT_TRUE(lock);
  EXPECT_TRUE(log.contains("Could not write the holder's record into lock file vol1.lock.s1"))
      << log.text();
  EXPECT_TRUE(exists(lock_file()));
  scanner other("vol1", root_.path("out2"), root_.path("vol1"));
  EXPECT_FALSE(other.acquire_lock("s1"));
  s.release_lock(lock);
}

TEST_F(LockRecordTest, RemovesOnlyTheLockOfAGoneLocalHolder) {
  std::string why;
  // Gone: the pid is free, or taken by a process that started at another time.
  log_capture log;
  EXPECT_EQ(remove_with(os::host_name(), gone_pid(), false, &why), success) << why;
  EXPECT_NE(why.find("is no longer running"), std::string::npos) << why;
  EXPECT_FALSE(exists(lock_file()));
  EXPECT_TRUE(log.contains("Removed lock file vol1.lock.s1 on volume vol1: its holder, process "))
      << log.text();
  EXPECT_EQ(remove_with(os::host_name(), getpid(), false, &why, 1), success) << why;
  EXPECT_NE(why.find("another process's now"), std::string::npos) << why;

  // Alive, on another host, or not named: refused, unless forced.
  EXPECT_EQ(remove_with(os::host_name(), getpid(), false, &why), err(EBUSY));
  EXPECT_NE(why.find("which is running"), std::string::npos) << why;
  EXPECT_EQ(remove_with("elsewhere.example", gone_pid(), false, &why), err(EBUSY));
  EXPECT_NE(why.find("on host elsewhere.example (session s1"), std::string::npos) << why;
  EXPECT_NE(why.find("only that host can check"), std::string::npos) << why;
  EXPECT_TRUE(exists(lock_file()));
  write_file(lock_file(), "");
  scanner s("vol1", "", "");
  EXPECT_EQ(s.remove_stale_lock("s1", false, &why), err(EBUSY));
  EXPECT_NE(why.find("names no holder"), std::string::npos) << why;
  EXPECT_TRUE(exists(lock_file()));
  EXPECT_EQ(s.remove_stale_lock("s1", true, &why), success);
  EXPECT_EQ(why.find("removed, as forced, lock file vol1.lock.s1"), 0u) << why;
  EXPECT_FALSE(exists(lock_file()));
  EXPECT_EQ(remove_with(os::host_name(), getpid(), true, &why), success);
  EXPECT_FALSE(exists(lock_file()));

  EXPECT_EQ(s.remove_stale_lock("s1", false, &why), err(ENOENT));
  EXPECT_EQ(why, "there is no lock file vol1.lock.s1 on volume vol1");
}

TEST(LockRecordParseTest, OnlyWholeRecordsCount) {
  lock_holder h;
  EXPECT_FALSE(parse_lock_record("", &h));
  EXPECT_FALSE(parse_lock_record("host=a pid=x start=1 session=s\n", &h));
  EXPECT_FALSE(parse_lock_record("host=a pid=0 start=1\n", &h));
  EXPECT_FALSE(parse_lock_record("pid=4 start=1\n", &h));
  ASSERT_TRUE(parse_lock_record("host=a pid=4 start=17 started=T version=1 session=x y=z\nmore", &h));
  EXPECT_EQ(h.host, "a");
  EXPECT_EQ(h.pid, 4);
  EXPECT_EQ(h.start, 17u);
  EXPECT_EQ(h.session, "x y=z");
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
