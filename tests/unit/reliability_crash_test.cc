// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// A run killed with SIGKILL in the middle: its lock keeps later runs out
// until removed, and what it left in the output directory never reaches the
// volume as results.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>

#include <gtest/gtest.h>

#include "unit/fault_backend.h"
#include "unit/scan_scenario.h"
#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::exists;
using testing_util::fake_glusterfind;
using testing_util::list_dir;
using testing_util::log_capture;
using testing_util::read_tree;
using testing_util::scan_scenario;
using testing_util::scoped_env;
using testing_util::temp_dir;
using testing_util::volume_call;

// The killed child tells the parent through this descriptor that it has
// reached the chosen moment, and waits there to be killed.
int ready_fd = -1;

[[noreturn]] void announce_and_wait() {
  char c = 'k';
  while (write(ready_fd, &c, 1) < 0 && errno == EINTR) {
  }
  for (;;) pause();
}

// The first application's linked list, which the linking writes before it
// takes up the second application. Set before the child is forked.
std::string first_linked;

// Linking, at the gfid of the second application's first file: once the
// first application's linked list is done, the run stops there. The gfids are
// read on several threads; one of them stops.
std::error_code gfid_then_wait(const std::string& path, const char* name, unsigned char* value) {
  static std::atomic<bool> fired(false);
  if (path.find("/a1/") != std::string::npos && !fired.exchange(true)) {
    for (int i = 0; i < 1000 && !exists(first_linked); ++i) usleep(10000);
    announce_and_wait();
  }
  return testing_util::scenario_gfid(path, name, value);
}

struct crash_case {
  const char* moment;
  // Runs in the child before the scan: makes the run stop at the moment.
  std::function<void(scanner&, testing_util::fault_injection&, testing_util::attribute_files&)>
      arm;
};

void PrintTo(const crash_case& c, std::ostream* os) { *os << c.moment; }

const crash_case kCases[] = {
    {"post-processing",
     [](scanner&, testing_util::fault_injection&, testing_util::attribute_files& files) {
       files.gfid = gfid_then_wait;
     }},
    {"copy",
     [](scanner&, testing_util::fault_injection& faults, testing_util::attribute_files&) {
       // The eighth line written: the first list (six lines) is in the
       // volume, the second has one line there.
       auto writes = std::make_shared<int>(0);
       faults.plan().before(
           volume_call::write,
           [writes](const std::string&) {
             if (++*writes == 8) announce_and_wait();
           },
           "working/scanner/");
     }},
};

class CrashTest : public ::testing::TestWithParam<crash_case> {
 protected:
  CrashTest()
      : volume_root_("TARN_LOCAL_VOLUME_ROOT", root_.path()),
        volume_(root_.path("vol1")),
        out_(root_.path("out")),
        scenario_(testing_util::make_scenario("s1", 3, 2, 3)) {
    mkdir(volume_.c_str(), 0755);
    tool_.set_changelist(scenario_.changelist);
  }

  // Starts a run in a child process and kills it once it reached the moment.
  void kill_a_run_at(const crash_case& c) {
    for (const auto& result : scenario_.results) {
      if (result.first.rfind("a0/", 0) == 0) first_linked = out_ + "/" + result.first.substr(3);
    }
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(ready[0]);
      ready_fd = ready[1];
      testing_util::fault_injection faults;
      scanner s("vol1", out_, volume_);
      const auto gfids = testing_util::use_scenario_gfids();
      c.arm(s, faults, *gfids);
      _exit(100 + s.initiate_scan("s1").value());  // not reached
    }
    close(ready[1]);
    char c_;
    ssize_t n;
    while ((n = read(ready[0], &c_, 1)) < 0 && errno == EINTR) {
    }
    close(ready[0]);
    EXPECT_EQ(n, 1) << "the run ended before the moment";
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
  }

  std::string lock_file() const { return volume_ + "/vol1.lock.s1"; }
  std::string working() const { return volume_ + "/.tarn/working/scanner"; }

  temp_dir root_;
  scoped_env volume_root_;
  std::string volume_;
  std::string out_;
  scan_scenario scenario_;
  fake_glusterfind tool_;
  log_capture log_;
};

TEST_P(CrashTest, LockKeepsOthersOutAndLeftoversNeverBecomeResults) {
  kill_a_run_at(GetParam());
  const std::map<std::string, std::string> leftovers = testing_util::run_files(out_);
  ASSERT_FALSE(leftovers.empty());
  ASSERT_TRUE(exists(lock_file()));

  // A new host process: the session stays locked, nothing is touched.
  {
    log_capture log;
    scanner s("vol1", out_, volume_);
    EXPECT_EQ(s.initiate_scan("s1"), std::error_code(EBUSY, std::generic_category()));
    EXPECT_TRUE(log.contains("Failed to create lock file vol1.lock.s1on volume vol1"))
        << log.text();
    EXPECT_TRUE(log.contains("Failed to acquire lock for session s1"));
    EXPECT_EQ(testing_util::run_files(out_), leftovers);
  }

  // What the host does (README): remove the lock file, and the volume's
  // copies of the leftovers, which a killed copy may have cut short.
  ASSERT_EQ(::unlink(lock_file().c_str()), 0);
  for (const auto& left : leftovers) {
    const std::string& name = left.first;
    ::unlink((working() + "/" + name.substr(0, name.find('-')) + "/" + name).c_str());
  }
  // The next pass reports the killed run's changes again, and more.
  const scan_scenario later = testing_util::make_scenario("s1", 4, 3, 3);
  tool_.set_changelist(later.changelist);
  log_capture log;
  scanner s("vol1", out_, volume_);
  const auto gfids = testing_util::use_scenario_gfids();
  ASSERT_EQ(s.initiate_scan("s1"), success) << log.text();
  EXPECT_EQ(read_tree(working()), later.results);
  EXPECT_FALSE(exists(lock_file()));

  // The leftovers are kept, as they were, in the output directory, which
  // stays for them.
  EXPECT_EQ(list_dir(out_), (std::vector<std::string>{".tarn_leftovers", ".tarn_output_dir"}));
  const std::string kept = out_ + "/.tarn_leftovers/s1";
  ASSERT_EQ(list_dir(kept).size(), 1u);
  EXPECT_EQ(read_tree(kept + "/" + list_dir(kept)[0]), leftovers);
  EXPECT_TRUE(log.contains("Moved " + std::to_string(leftovers.size()) + " files left in " + out_ +
                           " by an earlier run to " + kept + "/" + list_dir(kept)[0]));
}

INSTANTIATE_TEST_SUITE_P(KilledDuring, CrashTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<crash_case>& info) {
                           std::string name = info.param.moment;
                           return name == "copy" ? name : std::string("post_processing");
                         });

}  // namespace
}  // namespace scanner
}  // namespace tarn
