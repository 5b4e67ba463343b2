// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// tarn-scan: runs one scan of a GlusterFS volume and summarises its results.
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scanner/scanner.h"
#include "tools/tarn-scan/options.h"
#include "tools/tarn-scan/progress.h"
#include "tools/tarn-scan/summary.h"

#ifndef TARN_VERSION
#define TARN_VERSION "unknown"
#endif

namespace {

// A request to stop (SIGTERM from systemd or timeout(1), SIGINT, SIGHUP)
// must not end the process in the middle of a run: the run holds the
// session's lock file in the volume, and a lock left behind fails every
// later run of the session with 16. The handler only records the signal;
// the run goes on to its end, which releases the lock. Whoever sent the
// signal to the whole process group (systemd, timeout(1), a terminal) has
// also ended a glusterfind pass in progress, so that run fails quickly.
// A handler, not SIG_IGN: children must not inherit an ignored SIGTERM.
volatile std::sig_atomic_t stop_signal = 0;

void record_stop_signal(int signo) { stop_signal = signo; }

void catch_stop_signals() {
  struct sigaction sa = {};
  sa.sa_handler = record_stop_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int signo : {SIGTERM, SIGINT, SIGHUP}) sigaction(signo, &sa, nullptr);
}

// After a stop request: the lock is released; say so and exit as the
// signal would have, 128 + its number.
int stopped(const tarn_scan::options& o, bool results_filed) {
  fprintf(stderr,
          "tarn-scan: stopped by signal %d (%s); the lock of session '%s' is released%s\n",
          static_cast<int>(stop_signal), strsignal(stop_signal), o.session.c_str(),
          results_filed ? (o.post ? ". 'glusterfind post' was not run: the next incremental "
                                    "scan will report these changes again"
                                  : "")
                        : "");
  return 128 + stop_signal;
}

// One line that says what failed, in the user's terms.
std::string explain(const std::error_code& ec, const tarn_scan::options& o) {
  const std::string who = "session '" + o.session + "' on volume '" + o.volume + "'";
  switch (ec.value()) {
    case EBUSY:
      return "session '" + o.session + "' is locked on volume '" + o.volume +
             "': another scan is running, or a crashed one left " + o.volume + ".lock." +
             o.session + " in the volume root (or it could not be created; the library's log" +
             (o.log_file.empty() ? " above" : " in " + o.log_file) + " says which)";
    case EINVAL:
      return "'" + o.mount + "' is not a mount of volume '" + o.volume +
             "' (the library's log" + (o.log_file.empty() ? " above" : " in " + o.log_file) +
             " says what it is); nothing was run";
    case EFAULT:
      return "scan of " + who + " failed; the library's log" +
             (o.log_file.empty() ? " above" : " in " + o.log_file) +
             " says at which step. Working files of the run, if any, stay in " + o.output_dir;
    default:
      return "scan of " + who + " failed: " + ec.message();
  }
}

void print(const std::string& text) {
  fputs(text.c_str(), stdout);
  fflush(stdout);
}

int exit_status(const std::error_code& ec) {
  int v = ec.value();
  if (v <= 0) return 1;
  return v > 255 ? 255 : v;
}

}  // namespace

int main(int argc, char** argv) {
  tarn_scan::options o;
  std::string error;
  switch (tarn_scan::parse_options(argc, argv, &o, &error)) {
    case tarn_scan::parse_result::help:
      fputs(tarn_scan::help_text().c_str(), stdout);
      return 0;
    case tarn_scan::parse_result::version:
      printf("tarn-scan %s\n", TARN_VERSION);
      return 0;
    case tarn_scan::parse_result::usage_error:
      fprintf(stderr, "tarn-scan: %s\n\n%s", error.c_str(), tarn_scan::help_text().c_str());
      return 2;
    case tarn_scan::parse_result::run:
      break;
  }
  if (!o.log_file.empty()) setenv("TARN_LOG_FILE", o.log_file.c_str(), 1);
  catch_stop_signals();

  auto start = std::chrono::steady_clock::now();
  std::error_code ec;
  tarn::scanner::scanner scanner(o.volume, o.output_dir, o.mount);
  scanner.set_scan_type(o.incremental ? tarn::scanner::scanner::scan_incremental
                                      : tarn::scanner::scanner::scan_full);
  scanner.set_list_files(o.with_files);
  {
    tarn_scan::progress alive(o.output_dir, o.session);
    ec = scanner.initiate_scan(o.session);
  }
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const tarn::scanner::scan_report& report = scanner.last_report();
  tarn_scan::outcome done;
  done.seconds = seconds;
  done.post_asked = o.post;
  if (ec != tarn::success) {
    done.message = explain(ec, o);
    done.exit_status = stop_signal ? 128 + stop_signal : exit_status(ec);
    fprintf(stderr, "tarn-scan: %s\n", done.message.c_str());
    if (o.json) print(tarn_scan::format_json(report, o.volume, done));
    return stop_signal ? stopped(o, false) : done.exit_status;
  }

  // Told to stop: no new glusterfind command. Without post the next
  // incremental scan reports these changes again, so nothing is lost.
  if (!stop_signal && o.post) {
    tarn::scanner::session* sess = scanner.get_sessionobj(o.session);
    done.post_ran = true;
    done.post_status = sess == nullptr ? -1 : sess->post_scan();
    if (done.post_status != 0) {
      done.exit_status = 1;
      done.message = "the results are in the volume, but 'glusterfind post " + o.session + " " +
                     o.volume + "' failed (status " + std::to_string(done.post_status) +
                     "); the next incremental scan will report these changes again";
    }
  }
  if (done.exit_status == 0 && report.needs_attention()) {
    done.exit_status = 3;
    if (report.dropped_no_aux_gfid != 0) {
      done.message = "completed, but " + std::to_string(report.dropped_no_aux_gfid) +
                     " changed pieces could not be attributed";
    }
    if (report.lock_left_behind) {
      done.message += std::string(done.message.empty() ? "completed, but" : "; and") +
                      " the lock file " + o.volume + ".lock." + o.session +
                      " could not be removed";
    }
  }
  print(o.json ? tarn_scan::format_json(report, o.volume, done)
               : tarn_scan::format_text(tarn_scan::summarize(report, seconds), o.volume,
                                        o.session));
  if (!done.message.empty()) fprintf(stderr, "tarn-scan: %s\n", done.message.c_str());
  if (stop_signal) return stopped(o, true);
  return done.exit_status;
}
