// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Every call a run makes on the volume failing in turn, through the core
// layer: the run's result, the lock, the local results and what the volume
// holds afterwards.
#include <sys/stat.h>
#include <unistd.h>

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
using testing_util::fault_injection;
using testing_util::fault_plan;
using testing_util::list_dir;
using testing_util::log_capture;
using testing_util::read_file;
using testing_util::read_tree;
using testing_util::scan_scenario;
using testing_util::scoped_env;
using testing_util::temp_dir;
using testing_util::volume_call;

std::error_code err(int e) { return std::error_code(e, std::generic_category()); }

// What a run does after one volume call failed.
enum class outcome {
  busy,          // 16 before anything else; nothing to release
  before_pass,   // 14 before glusterfind's pass; lock released, nothing made
  copy_failed,   // 14 at the copy step; lock released, every result kept locally
  done,          // success: every result in the volume, the lock file gone
  done_locked,   // success, but the lock file stays and blocks the next run
  no_manifest,   // 14 after the copy: every list whole in the volume, no manifest names them
};

struct fault_case {
  const char* step;
  std::function<void(fault_plan&)> arm;
  outcome expected;
  const char* message;  // logged by the step that met the fault
  const char* path;     // the report's failed_path for a failed run
};

const fault_case kCases[] = {
    {"lock create", [](fault_plan& p) { p.fail(volume_call::open, 1, EIO, ".lock."); },
     outcome::busy, "Failed to create lock file vol1.lock.s1on volume vol1", "vol1.lock.s1"},
    {"working directory", [](fault_plan& p) { p.fail(volume_call::mkdir, 1, EACCES, "/.tarn"); },
     outcome::before_pass, "Unable to create directory path /.tarn in volume vol1",
     ".tarn/working/scanner"},
    {"entry directory", [](fault_plan& p) { p.fail(volume_call::mkdir, 1, EDQUOT, "scanner/a1"); },
     outcome::copy_failed, "Failed to create directory a1-s1.6 on gluster",
     ".tarn/working/scanner/a1"},
    {"destination open", [](fault_plan& p) { p.fail(volume_call::open, 1, ENOSPC, "a1-s1"); },
     outcome::copy_failed, "Failed to open destination file .tarn/working/scanner/a1/a1-s1.6",
     ".tarn/working/scanner/a1/.a1-s1.6.partial"},
    {"write fails", [](fault_plan& p) { p.fail(volume_call::write, 3, ENOSPC, "a1-s1"); },
     outcome::copy_failed, "No space left on device", ".tarn/working/scanner/a1/.a1-s1.6.partial"},
    {"short write", [](fault_plan& p) { p.short_write(2, 10, "a1-s1"); }, outcome::copy_failed,
     "Failed to write destination file .tarn/working/scanner/a1/a1-s1.6 on gluster volume",
     ".tarn/working/scanner/a1/.a1-s1.6.partial"},
    {"nothing written", [](fault_plan& p) { p.short_write(1, 1000, "a1-s1"); },
     outcome::copy_failed, "at offset 0", ".tarn/working/scanner/a1/.a1-s1.6.partial"},
    {"destination close", [](fault_plan& p) { p.fail(volume_call::close, 1, EIO, "a1-s1"); },
     outcome::copy_failed, "Failed to close destination file .tarn/working/scanner/a1/a1-s1.6",
     ".tarn/working/scanner/a1/.a1-s1.6.partial"},
    {"rename of a new list", [](fault_plan& p) { p.fail(volume_call::rename, 1, EIO, "a1-s1"); },
     outcome::copy_failed,
     "Failed to rename .tarn/working/scanner/a1/.a1-s1.6.partial to "
     ".tarn/working/scanner/a1/a1-s1.6 on gluster volume",
     ".tarn/working/scanner/a1/.a1-s1.6.partial"},
    {"manifest", [](fault_plan& p) { p.fail(volume_call::rename, 1, ENOSPC, "runs/s1/"); },
     outcome::no_manifest, "Failed to write the manifest .tarn/working/runs/s1/",
     ".tarn/working/runs/s1/"},
    {"lock close at release", [](fault_plan& p) { p.fail(volume_call::close, 1, EIO, ".lock."); },
     outcome::done, nullptr, nullptr},
    {"lock unlink at release", [](fault_plan& p) { p.fail(volume_call::unlink, 1, EIO, ".lock."); },
     outcome::done_locked,
     "[scanner::release_lock] Failed to remove lock file vol1.lock.s1: Input/output error",
     nullptr},
};

void PrintTo(const fault_case& c, std::ostream* os) { *os << c.step; }

class VolumeFaultTest : public ::testing::TestWithParam<fault_case> {
 protected:
  VolumeFaultTest()
      : volume_root_("TARN_LOCAL_VOLUME_ROOT", root_.path()),
        volume_(root_.path("vol1")),
        out_(root_.path("out")),
        scenario_(testing_util::make_scenario("s1", 3, 2, 3)) {
    mkdir(volume_.c_str(), 0755);
    tool_.set_changelist(scenario_.changelist);
  }

  std::string lock_file() const { return volume_ + "/vol1.lock.s1"; }
  std::string working() const { return volume_ + "/.tarn/working/scanner"; }
  // The results by their bare names, as they lie in the output directory.
  std::map<std::string, std::string> local_results() const {
    std::map<std::string, std::string> local;
    for (const auto& r : scenario_.results) local[r.first.substr(r.first.find('/') + 1)] = r.second;
    return local;
  }

  temp_dir root_;
  scoped_env volume_root_;
  std::string volume_;
  std::string out_;
  scan_scenario scenario_;
  fake_glusterfind tool_;
  log_capture log_;
  fault_injection faults_;  // before the scanner, whose volume it wraps
};

TEST_P(VolumeFaultTest, RunEndsAsDocumentedAndLosesNothing) {
  const fault_case& c = GetParam();
  ASSERT_EQ(scenario_.results.count("a1/a1-s1.6"), 1u);
  scanner s("vol1", out_, volume_);
  const auto gfids = testing_util::use_scenario_gfids();
  c.arm(faults_.plan());
  std::error_code result = s.initiate_scan("s1");
  if (c.message != nullptr) {
    EXPECT_TRUE(log_.contains(c.message)) << log_.text();
  }
  // A failed run's report names the volume path that failed it, and why.
  const scan_report& report = s.last_report();
  if (c.path != nullptr) {
    EXPECT_EQ(report.failed_path.rfind(c.path, 0), 0u) << report.failed_path;
    EXPECT_FALSE(report.failure_cause.empty());
  } else {
    EXPECT_TRUE(report.failed_path.empty() && report.failure_cause.empty()) << report.failed_path;
  }

  switch (c.expected) {
    case outcome::busy:
      EXPECT_EQ(result, err(EBUSY));
      EXPECT_TRUE(tool_.calls().empty());  // the lock comes first: no command ran
      EXPECT_FALSE(exists(out_));
      EXPECT_FALSE(exists(lock_file()));
      EXPECT_FALSE(exists(volume_ + "/.tarn"));
      break;
    case outcome::before_pass:
      EXPECT_EQ(result, err(EFAULT));
      EXPECT_FALSE(exists(lock_file()));
      for (const std::string& call : tool_.calls()) EXPECT_EQ(call.find(" pre "), std::string::npos);
      EXPECT_TRUE(read_tree(working()).empty());
      break;
    case outcome::copy_failed: {
      EXPECT_EQ(result, err(EFAULT));
      EXPECT_TRUE(log_.contains("Failed to copy collect files into gluster volume"));
      EXPECT_FALSE(exists(lock_file()));
      EXPECT_EQ(testing_util::run_files(out_), local_results());  // every result whole, nothing else
      // What the volume holds are whole lists of this run, never a part of one.
      for (const auto& copied : read_tree(working())) {
        SCOPED_TRACE(copied.first);
        ASSERT_EQ(scenario_.results.count(copied.first), 1u);
        EXPECT_EQ(copied.second, scenario_.results.at(copied.first));
      }
      EXPECT_EQ(read_tree(working()).count("a1/a1-s1.6"), 0u);
      break;
    }
    case outcome::done:
    case outcome::done_locked:
      EXPECT_EQ(result, success);
      EXPECT_EQ(read_tree(working()), scenario_.results);
      EXPECT_FALSE(exists(out_));
      EXPECT_EQ(exists(lock_file()), c.expected == outcome::done_locked);
      EXPECT_EQ(s.last_report().lock_left_behind, c.expected == outcome::done_locked);
      EXPECT_EQ(read_tree(volume_ + "/.tarn/working/runs/s1").size(), 1u);
      break;
    case outcome::no_manifest:
      EXPECT_EQ(result, err(EFAULT));
      EXPECT_EQ(read_tree(working()), scenario_.results);
      EXPECT_TRUE(read_tree(volume_ + "/.tarn/working/runs/s1").empty());
      EXPECT_FALSE(exists(lock_file()));
      EXPECT_EQ(s.last_report().failure, "manifest");
      break;
  }

  // The next run, the fault gone and the earlier results taken by their
  // consumer: it ends as a correct run does, unless a lock file stayed.
  for (const auto& copied : read_tree(working())) {
    ::unlink((working() + "/" + copied.first).c_str());
  }
  log_capture next_log;
  std::error_code next = s.initiate_scan("s1");
  if (c.expected == outcome::done_locked) {
    EXPECT_EQ(next, err(EBUSY));
    EXPECT_TRUE(next_log.contains("Failed to create lock file vol1.lock.s1on volume vol1"));
    return;
  }
  ASSERT_EQ(next, success) << next_log.text();
  EXPECT_EQ(read_tree(working()), scenario_.results);
  EXPECT_FALSE(exists(lock_file()));
  if (c.expected == outcome::copy_failed) {
    // The failed run's local results were set aside, not filed a second time.
    EXPECT_TRUE(next_log.contains("Moved 3 files left in " + out_ + " by an earlier run to " +
                                  out_ + "/.tarn_leftovers/s1/"));
  }
}

INSTANTIATE_TEST_SUITE_P(EachVolumeCall, VolumeFaultTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<fault_case>& info) {
                           std::string name = info.param.step;
                           for (char& ch : name) {
                             if (ch == ' ') ch = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace scanner
}  // namespace tarn
