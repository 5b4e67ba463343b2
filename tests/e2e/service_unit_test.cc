// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The packaged systemd unit's own command lines, expanded from the unit and
// a configuration file as systemd expands them, run against the real volume:
// the nightly run a timer starts, a lock left by a killed run, and a run that
// outlives TIMEOUT.
#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include <gtest/gtest.h>

#include "e2e/scan_fixture.h"
#include "e2e/unit_commands.h"
#include "scanner/guards/lock_record.h"

namespace tarn {
namespace e2e {
namespace {

using testing_util::exists;
using testing_util::read_file;
using testing_util::write_file;

class ServiceUnitTest : public scan_test {
 protected:
  // Loads the unit as instance session_ with a configuration file of the
  // rig's volume and `extra` lines.
  void load(const std::string& extra = "") {
    const std::string etc = local_.path("etc");
    mkdir(etc.c_str(), 0755);
    write_file(etc + "/" + session_ + ".conf",
               "# as an operator writes it\nVOLUME=" + volume() + "\nMOUNT=" + mount() +
                   "\nOUTPUT_DIR=" + out_ + "\nLOG_FILE=" + local_.path("library.log") +
                   "\nMETRICS_DIR=" + metrics_dir() + "\n" + extra);
    mkdir(metrics_dir().c_str(), 0755);
    unit_ = service_unit();
    std::string error;
    ASSERT_TRUE(load_service_unit(TARN_UNIT_FILE, session_, etc, &unit_, &error)) << error;
  }
  int run() { return run_service(unit_, local_.path("journal")); }
  std::string journal() { return read_file(local_.path("journal")); }
  std::string metrics_dir() { return local_.path("metrics"); }
  std::string metrics() {
    return read_file(metrics_dir() + "/tarn-scan." + volume() + "." + session_ + ".prom");
  }
  std::string series(const std::string& name, const std::string& extra = "") {
    return name + "{volume=\"" + volume() + "\",session=\"" + session_ + "\"" + extra + "} ";
  }

  service_unit unit_;
};

TEST_F(ServiceUnitTest, ANewSessionsFirstTimerRunIsFullAndTheNextIncremental) {
  ASSERT_NO_FATAL_FAILURE(load());
  EXPECT_EQ(unit_.environment["SCAN_TYPE"], "incremental");
  EXPECT_EQ(unit_.start.argv[1], "--kill-after=1m");
  ASSERT_EQ(run(), 0) << journal();
  EXPECT_NE(journal().find("session '" + session_ + "' of volume '" + volume() +
                           "' does not exist yet: its first run is a full scan"),
            std::string::npos)
      << journal();
  EXPECT_EQ(results(), expected_full());
  EXPECT_NE(metrics().find(series("tarn_scan_last_run_full") + "1\n"), std::string::npos)
      << metrics();
  EXPECT_NE(metrics().find(series("tarn_scan_last_run_success") + "1\n"), std::string::npos);

  // The next night lists the change alone (the change log may take a run
  // longer to hand it over; with --post nothing is listed twice).
  clear_results();
  const std::string changed = pieces_of("app2/big.bin")[1];
  overwrite_mb("app2/big.bin", 9);
  wait_for_changelog();
  std::vector<std::string> listed;
  for (int attempt = 0; attempt < 4 && listed.empty(); ++attempt) {
    if (attempt > 0) pause(2);
    ASSERT_EQ(run(), 0) << journal();
    for (const auto& list : results()) listed.insert(listed.end(), list.second.begin(), list.second.end());
  }
  EXPECT_EQ(listed, std::vector<std::string>{changed});
  EXPECT_NE(metrics().find(series("tarn_scan_last_run_full") + "0\n"), std::string::npos);
}

TEST_F(ServiceUnitTest, ALockOfAKilledRunIsRemovedAndAHungRunEndsAtTheTimeout) {
  // The lock record of a run of this host whose process is gone.
  scanner::lock_holder dead = scanner::this_process_as_holder(session_);
  dead.start += 1;  // this pid, started at another time: not this process
  write_file(lock_file(), scanner::format_lock_record(dead));
  ASSERT_NO_FATAL_FAILURE(load());
  ASSERT_EQ(run(), 0) << journal();
  EXPECT_EQ(results(), expected_full());
  EXPECT_TRUE(lock_gone());

  // glusterfind hangs; the unit's TIMEOUT ends the run, which releases the
  // lock and exits as timeout(1) says.
  const std::string bin = local_.path("bin");
  mkdir(bin.c_str(), 0755);
  write_file(bin + "/glusterfind",
             "#!/bin/sh\n[ \"$1\" = pre ] && sleep 120\nPATH=${PATH#*:} exec glusterfind \"$@\"\n");
  chmod((bin + "/glusterfind").c_str(), 0755);
  ASSERT_NO_FATAL_FAILURE(
      load("TIMEOUT=2s\nPATH=" + bin + ":/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin\n"));
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(run(), 124) << journal();
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), 20);
  EXPECT_TRUE(lock_gone());
  EXPECT_NE(journal().find("stopped by signal 15"), std::string::npos) << journal();
  EXPECT_NE(metrics().find(series("tarn_scan_last_run_failed", ",step=\"glusterfind\"") + "1\n"),
            std::string::npos)
      << metrics();
  EXPECT_NE(metrics().find(series("tarn_scan_last_run_exit_status") + "143\n"), std::string::npos);
}

}  // namespace
}  // namespace e2e
}  // namespace tarn
