// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The tarn-scan program, run as a user would, on a local-directory volume
// with the fake glusterfind: options, exit statuses and the summary.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "core/platform.h"
#include "scanner/guards/lock_record.h"
#include "unit/test_util.h"

namespace tarn {
namespace {

using testing_util::fake_glusterfind;
using testing_util::scoped_env;
using testing_util::temp_dir;
using testing_util::write_file;

struct run_result {
  int status = -1;
  std::string out;  // stdout and stderr, in that order
  std::string err;
};

class TarnScanCliTest : public ::testing::Test {
 protected:
  TarnScanCliTest() : volume_root_("TARN_LOCAL_VOLUME_ROOT", root_.path()) {
    mkdir(root_.path("vol1").c_str(), 0755);
  }

  run_result run(const std::string& args) {
    std::string cmd = std::string(TARN_SCAN_BINARY) + " " + args + " >" + root_.path("stdout") +
                      " 2>" + root_.path("stderr");
    int status = system(cmd.c_str());
    run_result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = testing_util::read_file(root_.path("stdout"));
    r.err = testing_util::read_file(root_.path("stderr"));
    return r;
  }

  std::string base_args() {
    return "--volume vol1 --output-dir " + root_.path("out") + " --mount " + root_.path("vol1") +
           " --session nightly --log-file " + root_.path("log");
  }

  temp_dir root_;
  scoped_env volume_root_;
  fake_glusterfind tool_;
};

TEST_F(TarnScanCliTest, BadCommandLinesGiveUsageAndStatus2) {
  const char* cases[] = {
      "",                                                       // nothing
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x",       // no session
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session s --bogus",
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session s --incremental --full",
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session s stray",
      "--volume '' --output-dir /tmp/x --mount /mnt/x --session s",
      "--vol vol1 --output-dir /tmp/x --mount /mnt/x --session s",     // no prefix guessing
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --inc --session s",
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session a/b",  // glusterfind's set
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session 'night ly'",
      "--volume .. --output-dir /tmp/x --mount /mnt/x --session s",
      "unlock --volume vol1 --session ../s",
      "consume --volume vol1 --mount /mnt/x --session s",            // no mirror
      "consume --volume vol1 --mount /mnt/x --session s --mirror /m --block-size 0",
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session s --memory",
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session s --memory ''",
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session s --memory 0",
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session s --memory 1023K",
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session s --memory 1.5G",
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session s --memory 256MB",
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session s --memory -1",
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session s --memory 12T",
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session s --memory 99999999999G",
      "--volume vol1 --output-dir /tmp/x --mount /mnt/x --session s --memory 99999999999999999999",
  };
  for (const char* args : cases) {
    SCOPED_TRACE(args);
    run_result r = run(args);
    EXPECT_EQ(r.status, 2);
    // One line that says what is wrong, never the whole help.
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("; see 'tarn-scan --help'\n"), std::string::npos) << r.err;
  }
  EXPECT_TRUE(tool_.calls().empty());
  run_result json = run("--volume vol1 --output-dir /tmp/x --mount /mnt/x --session a/b --json");
  EXPECT_EQ(json.status, 2);
  write_file(root_.path("usage.json"), json.out);
  const std::string check = "python3 -c 'import json,sys; d=json.load(open(sys.argv[1]));"
                            " assert d[\"exit_status\"]==2 and \"a/b\" in d[\"message\"], d' " +
                            root_.path("usage.json");
  EXPECT_EQ(system(check.c_str()), 0) << json.out;
}

TEST_F(TarnScanCliTest, HelpAndVersion) {
  run_result help = run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--incremental"), std::string::npos);
  EXPECT_NE(help.out.find("[--memory SIZE]"), std::string::npos);
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
  run_result version = run("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("tarn-scan ", 0), 0u);
}

TEST_F(TarnScanCliTest, LockedSessionIsExplained) {
  write_file(root_.path("vol1/vol1.lock.nightly"), "");
  run_result r = run(base_args());
  EXPECT_EQ(r.status, 16);
  EXPECT_NE(r.err.find("session 'nightly' is locked on volume 'vol1': another scan is running, "
                       "or a crashed one left vol1.lock.nightly in the volume root"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(r.out.empty());
}

TEST_F(TarnScanCliTest, FailedStepGives14AndPointsAtTheLog) {
  tool_.add_session("nightly", "vol1");
  tool_.set_status("pre", 1);
  run_result r = run(base_args() + " --incremental");
  EXPECT_EQ(r.status, 14);
  // The command that failed and its status, with the log for the rest.
  EXPECT_NE(r.err.find("failed at step 'glusterfind': 'glusterfind pre nightly vol1 " +
                       root_.path("out") + "/full-nightly --regenerate-outfile --no-encode "
                       "--disable-partial' ended with exit status 1; the library's log in "),
            std::string::npos)
      << r.err;
  EXPECT_NE(testing_util::read_file(root_.path("log")).find("Failed to perform incr scan"),
            std::string::npos);

  // A node whose part failed is named, from glusterfind's own log.
  testing_util::scoped_env logs("TARN_GLUSTERFIND_LOG_DIR", root_.path("gflog"));
  write_file(tool_.dir() + "/log.pre",
             "[2026-12-09 10:00:01,1] WARNING [main - 272:run_cmd_nodes] - Command pre failed "
             "in 10.77.0.3:/b/3\n");
  r = run(base_args() + " --incremental --json");
  EXPECT_EQ(r.status, 14);
  EXPECT_NE(r.err.find("it could not do its part on 10.77.0.3:/b/3 ('glusterfind pre "),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("ended with exit status 1; the library's log in " + root_.path("log") +
                       " says why). No change is lost"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("\"failed_bricks\": [\n    \"10.77.0.3:/b/3\"\n  ]"), std::string::npos)
      << r.out;
}

TEST_F(TarnScanCliTest, SuccessPrintsASummaryAndPostsWhenAsked) {
  run_result r = run(base_args() + " --post");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Scan of session 'nightly' on volume 'vol1' done in"), std::string::npos)
      << r.out;
  std::vector<std::string> calls = tool_.calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), "glusterfind post nightly vol1");

  run_result json = run(base_args() + " --json");
  EXPECT_EQ(json.status, 0) << json.err;
  write_file(root_.path("summary.json"), json.out);
  std::string check = "python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); "
                      "assert d[\"session\"]==\"nightly\" and \"applications\" in d' " +
                      root_.path("summary.json");
  EXPECT_EQ(system(check.c_str()), 0) << json.out;
}

// An incremental scan of a session that glusterfind does not know lists
// everything once; a session whose brick times another node left here is
// known.
TEST_F(TarnScanCliTest, IncrementalRunOfANewSessionIsFull) {
  auto last_pre = [this] {
    std::string pre;
    for (const std::string& call : tool_.calls())
      if (call.rfind("glusterfind pre ", 0) == 0) pre = call;
    return pre;
  };
  run_result r = run(base_args() + " --incremental --json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(last_pre().find(" --full"), std::string::npos) << last_pre();
  EXPECT_NE(r.err.find("session 'nightly' of volume 'vol1' does not exist yet: its first run is "
                       "a full scan"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("\"scan_type_asked\": \"incremental\",\n  \"first_run_of_session\": true"),
            std::string::npos)
      << r.out;
  r = run(base_args() + " --incremental");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(last_pre().find(" --full"), std::string::npos) << last_pre();
  EXPECT_EQ(r.out.find("First run"), std::string::npos) << r.out;

  scoped_env state("TARN_GLUSTERFIND_DIR", root_.path("gf"));
  ASSERT_EQ(system(("mkdir -p " + root_.path("gf/weekly/vol1")).c_str()), 0);
  r = run("--volume vol1 --output-dir " + root_.path("out2") + " --mount " + root_.path("vol1") +
          " --session weekly --incremental");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(last_pre().find(" --full"), std::string::npos) << last_pre();
  EXPECT_EQ(run(base_args() + " --full").out.find("First run"), std::string::npos);
}

// The metrics file of every outcome: valid exposition text (promtool reads
// it), names of any bytes escaped, the last success kept across a failure.
TEST_F(TarnScanCliTest, MetricsOfEachRunAndTheLastSuccessAcrossFailures) {
  const std::string dir = root_.path("metrics");
  mkdir(dir.c_str(), 0755);
  const std::string file = dir + "/tarn-scan.vol1.nightly.prom";
  const std::string odd = "we\"ird\\app\xff";
  write_file(root_.path("vol1/" + odd + "/f"), "x");
  tool_.set_changelist("NEW " + odd + "/f\n");
  ASSERT_EQ(run(base_args() + " --with-files --metrics-dir " + dir).status, 0);
  std::string text = testing_util::read_file(file);
  EXPECT_NE(text.find("tarn_scan_lists_waiting{volume=\"vol1\",session=\"nightly\","
                      "application=\"we\\\"ird\\\\app\xef\xbf\xbd\"} 1\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("tarn_scan_last_run_list_lines{volume=\"vol1\",session=\"nightly\","
                      "kind=\"path\"} 1\n"),
            std::string::npos);
  if (system("command -v promtool >/dev/null") == 0) {
    EXPECT_EQ(system(("promtool check metrics < " + file + " >/dev/null 2>&1").c_str()), 0) << text;
  }
  const auto success_line = [](const std::string& t) {
    const std::size_t at = t.find("\ntarn_scan_last_success_timestamp_seconds{");
    return t.substr(at, t.find('\n', at + 1) - at);
  };
  const std::string succeeded = success_line(text);

  tool_.add_session("nightly", "vol1");
  tool_.set_status("pre", 1);
  ASSERT_EQ(run(base_args() + " --incremental --metrics-dir " + dir).status, 14);
  text = testing_util::read_file(file);
  EXPECT_NE(text.find("tarn_scan_last_run_failed{volume=\"vol1\",session=\"nightly\","
                      "step=\"glusterfind\"} 1\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("tarn_scan_last_run_exit_status{volume=\"vol1\",session=\"nightly\"} 14\n"),
            std::string::npos);
  EXPECT_EQ(success_line(text), succeeded);
  EXPECT_FALSE(testing_util::exists(file + ".tmp"));

  // A directory that does not exist costs the run nothing but a line.
  tool_.clear_status("pre");
  run_result r = run(base_args() + " --metrics-dir " + root_.path("none"));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("the metrics could not be written to " + root_.path("none")),
            std::string::npos)
      << r.err;
}

TEST_F(TarnScanCliTest, WithFilesListsAFileThatHasNoPieces) {
  tool_.set_changelist("NEW app1/small.txt\n");
  run_result plain = run(base_args());
  ASSERT_EQ(plain.status, 0) << plain.err;
  const std::string app = root_.path("vol1/.tarn/working/scanner/app1/");
  EXPECT_EQ(testing_util::read_file(app + "app1-nightly.0"), "");
  run_result with = run(base_args() + " --with-files");
  ASSERT_EQ(with.status, 0) << with.err;
  EXPECT_EQ(testing_util::read_file(app + "app1-nightly.1"), "app1/small.txt\n");
  EXPECT_NE(run("--help").out.find("--with-files"), std::string::npos);
}

// A list beyond --memory is sorted in files in the output directory, which
// are gone after the run, and gives the lists of a run with the default.
TEST_F(TarnScanCliTest, MemoryBelowTheListGivesTheSameLists) {
  std::string changes;
  for (int i = 29999; i >= 0; --i) {
    changes += "NEW app" + std::to_string(i % 3) + "/a-longer-file-name-" + std::to_string(i) + "\n";
  }
  tool_.set_changelist(changes);
  tool_.add_session("other", "vol1");
  run_result plain = run(base_args() + " --with-files");
  ASSERT_EQ(plain.status, 0) << plain.err;
  const std::string out2 = root_.path("out2");
  run_result small = run("--volume vol1 --output-dir " + out2 + " --mount " + root_.path("vol1") +
                         " --session other --log-file " + root_.path("log2") +
                         " --with-files --memory 1M");
  ASSERT_EQ(small.status, 0) << small.err;
  EXPECT_NE(testing_util::read_file(root_.path("log2")).find("exceed the memory budget of 1048576"),
            std::string::npos);
  EXPECT_FALSE(testing_util::exists(out2));  // removed after success: no run file left
  const std::string lists = root_.path("vol1/.tarn/working/scanner/app1/");
  const std::string first = testing_util::read_file(lists + "app1-nightly.10000");
  EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 10000);
  EXPECT_EQ(testing_util::read_file(lists + "app1-other.10000"), first);
}

TEST_F(TarnScanCliTest, SummaryCountsTheLinesEachRunAdded) {
  // Results of an earlier run, and this run's additions, as the copy step
  // leaves them: the summary reads back only what grew.
  std::string app = root_.path("vol1/.tarn/working/scanner/app1");
  std::string cmd = "mkdir -p " + app;
  ASSERT_EQ(system(cmd.c_str()), 0);
  write_file(app + "/app1-old.2", ".shard/x.1\n.shard/x.2\n");
  run_result r = run(base_args() + " --json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"total_entries\": 0"), std::string::npos) << r.out;
}

// One JSON object for every outcome, read back by Python's json module; names
// are UTF-8 as they are, and bytes that are not keep their hex beside them.
TEST_F(TarnScanCliTest, JsonForSuccessFailureAndNamesThatAreNotAscii) {
  ASSERT_EQ(system(("mkdir -p '" + root_.path("vol1/caf\xc3\xa9") + "' '" +
                    root_.path("vol1/x\xe9") + "'").c_str()),
            0);
  tool_.set_changelist("NEW caf\xc3\xa9/a\nNEW x\xe9/b\n");
  write_file(root_.path("vol1/caf\xc3\xa9/a"), "a");
  write_file(root_.path("vol1/x\xe9/b"), "b");
  run_result ok = run(base_args() + " --json");
  ASSERT_EQ(ok.status, 0) << ok.err;
  write_file(root_.path("ok.json"), ok.out);
  const std::string check_ok =
      "python3 -c 'import json,sys; d=json.load(open(sys.argv[1]));"
      " apps=[a[\"application\"] for a in d[\"applications\"]];"
      " assert d[\"schema\"]==1 and d[\"exit_status\"]==0 and d[\"result\"][\"code\"]==0, d;"
      " assert \"caf\\u00e9\" in apps and \"x\\ufffd\" in apps, apps;"
      " hexes=[l.get(\"application_hex\") for l in d[\"lists\"]];"
      " assert \"78e9\" in hexes, hexes' " +
      root_.path("ok.json");
  EXPECT_EQ(system(check_ok.c_str()), 0) << ok.out;

  tool_.set_status("pre", 1);
  run_result failed = run(base_args() + " --json");
  EXPECT_EQ(failed.status, 14);
  write_file(root_.path("failed.json"), failed.out);
  const std::string check_failed =
      "python3 -c 'import json,sys; d=json.load(open(sys.argv[1]));"
      " assert d[\"exit_status\"]==14 and d[\"result\"][\"code\"]==14, d;"
      " assert d[\"result\"][\"failed_step\"]==\"glusterfind\" and d[\"lists\"]==[], d;"
      " assert \"failed at step\" in d[\"message\"], d;"
      " assert d[\"result\"][\"failed_command\"].startswith(\"glusterfind pre \"), d;"
      " assert d[\"result\"][\"cause\"]==\"exit status 1\" and d[\"result\"][\"failed_path\"]==\"\", d' " +
      root_.path("failed.json");
  EXPECT_EQ(system(check_failed.c_str()), 0) << failed.out;
}

// The rest of the exit table (2, 3, 14, 16, 124 and 128+N have tests of
// their own): 4 for a mount or a volume that cannot be used, 1 for a failed
// post; never an errno.
TEST_F(TarnScanCliTest, AVolumeThatCannotBeUsedGives4AndAFailedPost1) {
  run_result r = run("--volume nope --output-dir " + root_.path("out") + " --mount " +
                     root_.path("vol1") + " --session nightly --log-file " + root_.path("log"));
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_NE(r.err.find("volume 'nope' cannot be used: its lock file nope.lock.nightly could not "
                       "be created"),
            std::string::npos)
      << r.err;

  tool_.set_status("post", 1);
  r = run(base_args() + " --post");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("'glusterfind post nightly vol1' failed"), std::string::npos) << r.err;
}

// Each run's summary comes from its own report: lists that another session
// writes at the same time are not its own.
TEST_F(TarnScanCliTest, TwoSessionsAtOnceEachReportOnlyTheirOwnLists) {
  tool_.set_changelist("NEW app/a\nNEW app/b\n");
  ASSERT_EQ(system(("mkdir -p " + root_.path("vol1/app")).c_str()), 0);
  write_file(root_.path("vol1/app/a"), "a");
  write_file(root_.path("vol1/app/b"), "b");
  std::string both;
  for (const char* s : {"one", "two"}) {
    both += std::string(TARN_SCAN_BINARY) + " --volume vol1 --output-dir " + root_.path(s) +
            " --mount " + root_.path("vol1") + " --session " + s + " --json --log-file " +
            root_.path(std::string(s) + ".log") + " >" + root_.path(std::string(s) + ".json") +
            " & ";
  }
  ASSERT_EQ(system((both + "wait").c_str()), 0);
  for (const std::string s : {"one", "two"}) {
    SCOPED_TRACE(s);
    const std::string check =
        "python3 -c 'import json,sys; d=json.load(open(sys.argv[1]));"
        " names=[f[\"name\"] for a in d[\"applications\"] for f in a[\"files\"]];"
        " assert names==[\"app-" + s + ".0\"], names' " + root_.path(s + ".json");
    EXPECT_EQ(system(check.c_str()), 0) << testing_util::read_file(root_.path(s + ".json"));
  }
}

TEST_F(TarnScanCliTest, AWrongMountGives4BeforeAnyGlusterfindCall) {
  run_result r = run("--volume vol1 --output-dir " + root_.path("out") + " --mount " +
                     root_.path("not-there") + " --session nightly --log-file " +
                     root_.path("log"));
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("'" + root_.path("not-there") + "' is not a mount of volume 'vol1'"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(tool_.calls().empty());
  EXPECT_TRUE(r.out.empty());
}

// An in-place write lists only the piece; without an aux-gfid mount its owner
// cannot be named. The run completes, and says so with 3.
TEST_F(TarnScanCliTest, PiecesThatCannotBeAttributedGive3) {
  tool_.set_changelist("MODIFY .shard/0b0e7c2f-3cf4-4b8e-9a4e-0123456789ab.3\n");
  run_result r = run(base_args() + " --json");
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("tarn-scan: completed, but 1 changed pieces could not be attributed"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("\"no_aux_gfid_mount\": 1"), std::string::npos) << r.out;
}

// A stop request during a run (systemctl stop, timeout(1), Ctrl-C) ends the
// glusterfind pass in progress and lets the run end and release the
// session's lock: a lock left behind would fail every later run with 16.
// The signal goes to the process group, as systemd and timeout(1) send it,
// or to tarn-scan alone; the pass runs in a group of its own either way.
class TarnScanStopTest : public TarnScanCliTest {
 protected:
  // Starts tarn-scan in a process group of its own.
  pid_t start(const std::string& args) {
    std::string cmd = "exec " + std::string(TARN_SCAN_BINARY) + " " + args + " >" +
                      root_.path("stdout") + " 2>" + root_.path("stderr");
    pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    setpgid(pid, pid);
    return pid;
  }

  // Waits until the fake glusterfind pre pass runs; the lock is held then.
  void wait_for_pass() {
    struct stat st;
    for (int i = 0; i < 1000 && stat((tool_.dir() + "/started.pre").c_str(), &st) != 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(locked()) << "not locked";
  }

  run_result finish(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    run_result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = testing_util::read_file(root_.path("stdout"));
    r.err = testing_util::read_file(root_.path("stderr"));
    return r;
  }

  // Starts tarn-scan on a pass that hangs for 30 s, signals it and returns
  // how it ended and how long that took.
  run_result run_and_stop(const std::string& args, bool whole_group, int signo,
                          std::chrono::duration<double>* took) {
    write_file(tool_.dir() + "/delay.pre", "30");
    std::remove((tool_.dir() + "/started.pre").c_str());
    pid_t pid = start(args);
    wait_for_pass();
    auto signalled = std::chrono::steady_clock::now();
    kill(whole_group ? -pid : pid, signo);
    run_result r = finish(pid);
    *took = std::chrono::steady_clock::now() - signalled;
    return r;
  }

  bool locked() {
    struct stat st;
    return stat(root_.path("vol1/vol1.lock.nightly").c_str(), &st) == 0;
  }

  void expect_no_post() {
    for (const std::string& call : tool_.calls()) EXPECT_EQ(call.find("post"), std::string::npos);
  }
};

TEST_F(TarnScanStopTest, StopEndsTheHungPassWithin5sAndReleasesTheLock) {
  struct stop_case {
    bool whole_group;
    int signo;
  };
  for (stop_case c : {stop_case{true, SIGTERM}, stop_case{false, SIGTERM},
                      stop_case{false, SIGINT}}) {
    SCOPED_TRACE(std::string(c.whole_group ? "group " : "tarn-scan ") + strsignal(c.signo));
    std::chrono::duration<double> took;
    run_result r = run_and_stop(base_args() + " --incremental --post", c.whole_group, c.signo, &took);
    EXPECT_LT(took.count(), 5.0);
    EXPECT_EQ(r.status, 128 + c.signo) << r.err;
    EXPECT_NE(r.err.find("stopped by signal " + std::to_string(c.signo)), std::string::npos)
        << r.err;
    EXPECT_FALSE(locked());
    expect_no_post();
  }
  // The next run is not refused.
  std::remove((tool_.dir() + "/delay.pre").c_str());
  EXPECT_EQ(run(base_args() + " --incremental").status, 0);
}

TEST_F(TarnScanStopTest, TimeoutStopsTheRunWith124) {
  write_file(tool_.dir() + "/delay.pre", "30");
  auto begin = std::chrono::steady_clock::now();
  run_result r = run(base_args() + " --timeout 1 --post");
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(6));
  EXPECT_EQ(r.status, 124) << r.err;
  EXPECT_NE(r.err.find("stopped after --timeout 1 s; the lock of session 'nightly' is released"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(locked());
  expect_no_post();
  EXPECT_EQ(run(base_args() + " --timeout 0").status, 2);

  // A run within its time is not disturbed.
  std::remove((tool_.dir() + "/delay.pre").c_str());
  EXPECT_EQ(run(base_args() + " --timeout 60").status, 0);
}

// A lock record as a run writes it, of process `pid` on `host`.
void write_lock(const std::string& path, const std::string& host, pid_t pid) {
  scanner::lock_holder h = scanner::this_process_as_holder("nightly");
  h.host = host;
  h.pid = pid;
  os::process_start_time(pid, &h.start);
  write_file(path, scanner::format_lock_record(h));
}

TEST_F(TarnScanCliTest, UnlockRemovesOnlyALockWhoseHolderIsGone) {
  const std::string lock = root_.path("vol1/vol1.lock.nightly");
  const std::string args = "unlock --volume vol1 --session nightly";
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  write_lock(lock, os::host_name(), gone);
  run_result r = run(args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("removed lock file vol1.lock.nightly on volume vol1: its holder, process " +
                       std::to_string(gone)),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(testing_util::exists(lock));

  write_lock(lock, os::host_name(), getpid());  // alive: this test
  r = run(args);
  EXPECT_EQ(r.status, 16);
  EXPECT_NE(r.err.find("not removing lock file vol1.lock.nightly on volume vol1: it is held by "
                       "process " + std::to_string(getpid())),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("'tarn-scan unlock --force' removes it anyway"), std::string::npos);
  EXPECT_TRUE(testing_util::exists(lock));
  write_file(lock, "");
  EXPECT_EQ(run(args).status, 16);
  EXPECT_EQ(run(args + " --force").status, 0);
  EXPECT_FALSE(testing_util::exists(lock));

  r = run(args);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("session 'nightly' is not locked"), std::string::npos) << r.out;
  EXPECT_EQ(run("unlock --volume vol1").status, 2);
  EXPECT_EQ(run("unlock --volume vol1 --session s --output-dir x").status, 2);
  EXPECT_TRUE(tool_.calls().empty());
}

// check and status read, and never lock or write: a check leaves the output
// directory unmade, and neither calls glusterfind but to list the session.
class TarnScanInspectTest : public TarnScanCliTest {
 protected:
  TarnScanInspectTest() : state_("TARN_GLUSTERFIND_DIR", root_.path("gf")) {
    EXPECT_EQ(system(("mkdir -p " + root_.path("gf/.keys")).c_str()), 0);
    write_file(tool_.dir() + "/volume-options",
               "storage.build-pgfid on\nchangelog.changelog on\nchangelog.rollover-time 3\n");
    tool_.add_session("nightly", "vol1");
  }

  std::string check_args(const std::string& session = "nightly") {
    return "check --volume vol1 --mount " + root_.path("vol1") + " --output-dir " +
           root_.path("out") + " --session " + session;
  }

  static bool has(const run_result& r, const std::string& line) {
    return r.out.find(line) != std::string::npos;
  }

  scoped_env state_;
};

TEST_F(TarnScanInspectTest, CheckIsAllOkWhenAScanCouldRun) {
  run_result r = run(check_args());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  for (const char* line :
       {"ok   glusterfind: ", "(glusterfs 10.3 (fake))\n", "ok   python3-pyxattr: ",
        "ok   key directory: ", "ok   volume: ", "ok   mount: ", "ok   storage.build-pgfid: on\n",
        "ok   changelog.changelog: on\n", "ok   changelog.rollover-time: 3 s",
        "ok   output directory: ", "ok   session: 'nightly' exists on volume vol1\n",
        "ok   lock: session 'nightly' is not locked\n"}) {
    EXPECT_TRUE(has(r, line)) << line << "\n" << r.out;
  }
  EXPECT_FALSE(testing_util::exists(root_.path("out")));
  EXPECT_EQ(tool_.calls(),
            std::vector<std::string>{"glusterfind list --session nightly --volume vol1"});
}

TEST_F(TarnScanInspectTest, CheckWarnsOfWhatAScanWouldTripOverAndFailsWhatStopsIt) {
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  write_lock(root_.path("vol1/vol1.lock.nightly"), os::host_name(), gone);
  write_file(tool_.dir() + "/volume-options",
             "storage.build-pgfid off\nchangelog.changelog on\nchangelog.rollover-time 1\n");
  run_result r = run(check_args("weekly"));
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_TRUE(has(r, "warn storage.build-pgfid: off: ")) << r.out;
  EXPECT_TRUE(has(r, "warn changelog.rollover-time: 1 s")) << r.out;
  EXPECT_TRUE(has(r, "warn session: 'weekly' does not exist")) << r.out;
  EXPECT_TRUE(has(r, "ok   lock: session 'weekly' is not locked")) << r.out;
  r = run(check_args());
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_TRUE(has(r, "warn lock: vol1.lock.nightly is stale (host=")) << r.out;
  write_lock(root_.path("vol1/vol1.lock.nightly"), os::host_name(), getpid());
  EXPECT_TRUE(has(run(check_args()), "warn lock: vol1.lock.nightly is held by a running scan"));

  // Files no run made in the output directory, no key directory, no mount.
  ASSERT_EQ(mkdir(root_.path("out").c_str(), 0755), 0);
  write_file(root_.path("out/mine.txt"), "x");
  ASSERT_EQ(rmdir(root_.path("gf/.keys").c_str()), 0);
  r = run("check --volume vol1 --mount " + root_.path("nowhere") + " --output-dir " +
          root_.path("out"));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_TRUE(has(r, "fail output directory: output directory " + root_.path("out") +
                         " holds 1 entries that no run made"))
      << r.out;
  EXPECT_TRUE(has(r, "fail key directory: ")) << r.out;
  EXPECT_TRUE(has(r, "fail mount: ")) << r.out;
  EXPECT_EQ(run("check --volume vol1").status, 2);
  EXPECT_NE(run("--help").out.find("tarn-scan check --volume V --mount M"), std::string::npos);
}

// glusterfind's interpreter is the one asked for the module: python3-xattr's
// module of the same name fails glusterfind as surely as none.
TEST_F(TarnScanInspectTest, CheckAsksGlusterfindsOwnPythonForPyxattr) {
  temp_dir bin;
  write_file(bin.path("glusterfind"), "#!/usr/bin/env " + bin.path("python3") + "\n");
  scoped_env path("PATH", bin.path() + ":" + getenv("PATH"));
  const std::string python = bin.path("python3");
  const std::pair<const char*, std::string> cases[] = {
      {"exit 4", "fail python3-pyxattr: the module xattr of " + python + " is python3-xattr's"},
      {"exit 3", "fail python3-pyxattr: " + python + " has no module xattr"},
  };
  ASSERT_EQ(chmod(bin.path("glusterfind").c_str(), 0755), 0);
  for (const auto& c : cases) {
    write_file(python, std::string("#!/bin/sh\n") + c.first + "\n");
    ASSERT_EQ(chmod(python.c_str(), 0755), 0);
    run_result r = run(check_args());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(has(r, c.second)) << r.out;
  }
}

TEST_F(TarnScanInspectTest, StatusShowsLockManifestListsAndLeftoversPerSession) {
  tool_.set_changelist("NEW app1/a\nNEW app2/b\n");
  write_file(root_.path("vol1/app1/a"), "a");
  write_file(root_.path("vol1/app2/b"), "b");
  ASSERT_EQ(run(base_args() + " --with-files").status, 0);
  ASSERT_EQ(run(base_args() + " --with-files").status, 0);
  // The second run appended to the lists of the first, under their names.
  // A copy in progress is no list; a lock of another session; a leftover set.
  write_file(root_.path("vol1/.tarn/working/scanner/app1/.app1-nightly.4.partial"), "x\n");
  write_file(root_.path("vol1/.tarn/working/scanner/app1/app1-nightly-3.2"), "x\ny\n");
  write_lock(root_.path("vol1/vol1.lock.weekly"), os::host_name(), getpid());
  ASSERT_EQ(
      system(("mkdir -p " + root_.path("out/.tarn_leftovers/nightly/20261208T0130Z-a")).c_str()),
      0);
  const std::string args =
      "status --volume vol1 --mount " + root_.path("vol1") + " --output-dir " + root_.path("out");
  run_result r = run(args);
  EXPECT_EQ(r.status, 0) << r.err;
  for (const std::string& line : std::vector<std::string>{
           "Session 'nightly' on volume 'vol1':\n  lock: none\n  last manifest: "
           ".tarn/working/runs/nightly/",
           "(full, started ", "2 entries); 2 manifests waiting\n",
           "  lists waiting for app1: 2 files, 4 entries\n",
           "  lists waiting for app2: 1 file, 2 entries\n",
           "  leftovers:\n    " + root_.path("out/.tarn_leftovers/nightly/20261208T0130Z-a") +
               "\n",
           "  last success: ", " ago; full on " + os::host_name() + ")\n",
           "Session 'weekly' on volume 'vol1':\n  lock: host=", "  last manifest: none\n",
           "  last success: none recorded\n"}) {
    EXPECT_TRUE(has(r, line)) << line << "\n" << r.out;
  }
  r = run(args + " --session nightly --json");
  EXPECT_EQ(r.status, 0) << r.err;
  write_file(root_.path("status.json"), r.out);
  const std::string check_json =
      "python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); s=d[\"sessions\"];"
      " assert d[\"volume\"]==\"vol1\" and [x[\"session\"] for x in s]==[\"nightly\"], d;"
      " s=s[0]; assert s[\"lock\"] is None and s[\"manifests\"]==2, s;"
      " assert s[\"last_manifest\"][\"result_code\"]==0, s;"
      " assert {\"application\": \"app2\", \"files\": 1, \"entries\": 2} in s[\"applications\"], s;"
      " assert len(s[\"leftovers\"])==1, s;"
      " assert s[\"last_success\"][\"scan_type\"]==\"full\" and"
      " 0 <= s[\"last_success\"][\"age_seconds\"] < 600, s' " +
      root_.path("status.json");
  EXPECT_EQ(system(check_json.c_str()), 0) << r.out;
}

}  // namespace
}  // namespace tarn
