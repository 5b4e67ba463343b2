// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// tarn-scan's metrics as Prometheus sees them: Debian's node_exporter with
// its textfile collector on 127.0.0.1, scraped after a successful, a failed
// and a needs-attention run, and all along while they write.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "e2e/scan_fixture.h"
#include "scanner/guards/lock_record.h"

namespace tarn {
namespace e2e {
namespace {

using testing_util::read_file;
using testing_util::write_file;

extern "C" char** environ;

constexpr char kExporter[] = "/usr/bin/prometheus-node-exporter";

// A port on 127.0.0.1 that nothing listens on now.
int free_port() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
    close(s);
    return 0;
  }
  close(s);
  return ntohs(a.sin_port);
}

class MetricsTest : public scan_test {
 protected:
  void SetUp() override {
    scan_test::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(access(kExporter, X_OK), 0) << "scripts/install-deps.sh installs it";
    mkdir(dir().c_str(), 0755);
    port_ = free_port();
    ASSERT_NE(port_, 0);
    std::vector<std::string> args = {kExporter,
                                     "--web.listen-address=127.0.0.1:" + std::to_string(port_),
                                     "--collector.disable-defaults", "--collector.textfile",
                                     "--collector.textfile.directory=" + dir()};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = local_.path("exporter.log");
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    ASSERT_EQ(posix_spawn(&exporter_, kExporter, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    for (int tenth = 0; tenth < 100 && scrape().find("node_textfile_scrape_error") == std::string::npos;
         ++tenth) {
      pause(0.1);
    }
    ASSERT_NE(scrape().find("node_textfile_scrape_error 0"), std::string::npos)
        << read_file(log);
  }
  void TearDown() override {
    if (exporter_ > 0) {
      kill(exporter_, SIGTERM);
      waitpid(exporter_, nullptr, 0);
    }
    scan_test::TearDown();
  }

  std::string dir() { return local_.path("textfile"); }
  std::string scrape() {
    std::string out;
    FILE* p = popen(("curl -s --max-time 5 http://127.0.0.1:" + std::to_string(port_) + "/metrics")
                        .c_str(),
                    "r");
    if (p == nullptr) return out;
    char buffer[65536];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    pclose(p);
    return out;
  }
  // The value of the sample of `name` with this session's labels and
  // `label` (k="v"), or -1 when there is none.
  double value(const std::string& scraped, const std::string& name, const std::string& label = "") {
    std::istringstream in(scraped);
    for (std::string line; std::getline(in, line);) {
      if (line.compare(0, name.size() + 1, name + "{") != 0 ||
          line.find("session=\"" + session_ + "\"") == std::string::npos ||
          line.find("volume=\"" + volume() + "\"") == std::string::npos ||
          (!label.empty() && line.find(label) == std::string::npos)) {
        continue;
      }
      return std::strtod(line.substr(line.rfind(' ') + 1).c_str(), nullptr);
    }
    return -1;
  }
  int tarn_scan(const std::string& mount_path, const std::string& args) {
    const std::string cmd = std::string(TARN_SCAN_BINARY) + " --volume " + volume() +
                            " --output-dir " + quote(out_) + " --mount " + quote(mount_path) +
                            " --session " + session_ + " --metrics-dir " + quote(dir()) + " " +
                            args + " --log-file " + quote(local_.path("cli.log")) + " >/dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  int port_ = 0;
  pid_t exporter_ = 0;
};

TEST_F(MetricsTest, SuccessFailureAndAttentionReachPrometheusWhole) {
  // Every scrape while the runs write: the file parses, and holds its first
  // and last families whenever it holds any.
  std::atomic<bool> done{false};
  std::atomic<int> scrapes{0}, bad{0};
  std::thread scraper([&] {
    while (!done) {
      const std::string s = scrape();
      const bool any = s.find("tarn_scan_") != std::string::npos;
      if (s.find("node_textfile_scrape_error 0") == std::string::npos ||
          (any && (s.find("tarn_scan_last_run_start_timestamp_seconds{") == std::string::npos ||
                   s.find("tarn_scan_oldest_manifest_timestamp_seconds{") == std::string::npos))) {
        ++bad;
      }
      ++scrapes;
    }
  });

  const double before = static_cast<double>(std::time(nullptr));
  ASSERT_EQ(tarn_scan(mount(), "--full --post"), 0) << read_file(local_.path("cli.log"));
  std::string s = scrape();
  EXPECT_EQ(value(s, "tarn_scan_last_run_success"), 1) << s;
  EXPECT_EQ(value(s, "tarn_scan_last_run_exit_status"), 0);
  EXPECT_EQ(value(s, "tarn_scan_last_run_failed", "step=\"\""), 0);
  EXPECT_EQ(value(s, "tarn_scan_last_run_list_lines", "kind=\"piece\""), 4);
  EXPECT_EQ(value(s, "tarn_scan_lists_waiting", "application=\"app2\""), 1);
  EXPECT_EQ(value(s, "tarn_scan_manifests_waiting"), 1);
  EXPECT_GT(value(s, "tarn_scan_last_run_step_duration_seconds", "step=\"glusterfind\""), 0);
  const double succeeded = value(s, "tarn_scan_last_success_timestamp_seconds");
  EXPECT_GE(succeeded, before);

  // Locked by a live run: the failure names its step, the lock is shown
  // with its age, and the last success stays.
  write_file(lock_file(), scanner::format_lock_record(scanner::this_process_as_holder(session_)));
  EXPECT_EQ(tarn_scan(mount(), "--incremental"), 16);
  s = scrape();
  EXPECT_EQ(value(s, "tarn_scan_last_run_success"), 0) << s;
  EXPECT_EQ(value(s, "tarn_scan_last_run_exit_status"), 16);
  EXPECT_EQ(value(s, "tarn_scan_last_run_failed", "step=\"lock\""), 1);
  EXPECT_EQ(value(s, "tarn_scan_lock_held"), 1);
  EXPECT_GE(value(s, "tarn_scan_lock_start_timestamp_seconds"), before - 1);
  EXPECT_EQ(value(s, "tarn_scan_last_success_timestamp_seconds"), succeeded);
  std::remove(lock_file().c_str());

  // A mount without aux-gfid cannot name the owner of a piece that an
  // in-place write listed alone (see report_test.cc).
  plain_mount plain(local_.path("plain"), "app2/big.bin");
  ASSERT_TRUE(plain.ready());
  clear_results();
  pause(2);
  overwrite_mb("app2/big.bin", 9);
  wait_for_changelog();
  int status = 0;
  for (int attempt = 0; attempt < 6 && status == 0; ++attempt) {
    if (attempt > 0) pause(2);
    status = tarn_scan(plain.path(), "--incremental");
  }
  EXPECT_EQ(status, 3) << read_file(local_.path("cli.log"));
  s = scrape();
  EXPECT_EQ(value(s, "tarn_scan_last_run_needs_attention"), 1) << s;
  EXPECT_EQ(value(s, "tarn_scan_last_run_success"), 1);
  EXPECT_EQ(value(s, "tarn_scan_last_run_dropped_pieces", "reason=\"no_aux_gfid_mount\""), 1);
  EXPECT_GT(value(s, "tarn_scan_last_success_timestamp_seconds"), succeeded);

  done = true;
  scraper.join();
  EXPECT_GT(scrapes.load(), 0);
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace e2e
}  // namespace tarn
