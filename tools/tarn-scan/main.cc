// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// tarn-scan: runs one scan of a GlusterFS volume and summarises its results.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/platform.h"
#include "scanner/scanner.h"
#include "tools/tarn-scan/after_run.h"
#include "tools/tarn-scan/check.h"
#include "tools/tarn-scan/consume.h"
#include "tools/tarn-scan/exit_codes.h"
#include "tools/tarn-scan/options.h"
#include "tools/tarn-scan/progress.h"
#include "tools/tarn-scan/status.h"
#include "tools/tarn-scan/step_timer.h"
#include "tools/tarn-scan/stop_watch.h"
#include "tools/tarn-scan/summary.h"

#ifndef TARN_VERSION
#define TARN_VERSION "unknown"
#endif

namespace {

// After a stop request or the time limit: the run has ended and released
// its lock; say so and exit as the signal would have (124 for the limit).
int stopped(const tarn_scan::stop_watch& watch, const tarn_scan::options& o, bool results_filed) {
  const std::string why = watch.timed_out()
                              ? "stopped after --timeout " + std::to_string(o.timeout) + " s"
                              : "stopped by signal " + std::to_string(watch.signal()) + " (" +
                                    strsignal(watch.signal()) + ")";
  fprintf(stderr, "tarn-scan: %s; the lock of session '%s' is released%s\n", why.c_str(),
          o.session.c_str(),
          results_filed ? (o.post ? ". 'glusterfind post' was not run: the next incremental "
                                    "scan will report these changes again"
                                  : "")
                        : "");
  return watch.exit_status();
}

// tarn-scan unlock: removes a lock file whose holder is gone.
int unlock(const tarn_scan::options& o) {
  tarn::scanner::scanner scanner(o.volume, "", o.mount);
  std::string why;
  std::error_code ec = scanner.remove_stale_lock(o.session, o.force, &why);
  if (ec == tarn::success) {
    printf("tarn-scan: %s\n", why.c_str());
    return 0;
  }
  if (ec.value() == ENOENT) {
    printf("tarn-scan: %s; session '%s' is not locked\n", why.c_str(), o.session.c_str());
    return 0;
  }
  if (ec.value() == EBUSY) {
    fprintf(stderr,
            "tarn-scan: %s. 'tarn-scan unlock --force' removes it anyway, once you are sure "
            "that no run of session '%s' is alive\n",
            why.c_str(), o.session.c_str());
    return tarn_scan::kLocked;
  }
  fprintf(stderr, "tarn-scan: %s\n", why.c_str());
  return tarn_scan::kStepFailed;
}

// What the failed step could not do, as the report tells it: "<path>: <errno
// text>" or "'<command>' ended with <status>"; empty when it does not know.
std::string cause_of(const tarn::scanner::scan_report& r) {
  if (r.failure_cause.empty()) return "";
  if (!r.failed_command.empty()) return "'" + r.failed_command + "' ended with " + r.failure_cause;
  if (!r.failed_path.empty()) return r.failed_path + ": " + r.failure_cause;
  return r.failure_cause;
}

// One line that says what failed, in the user's terms.
std::string explain(const std::error_code& ec, const tarn_scan::options& o,
                    const tarn::scanner::scan_report& r) {
  const std::string who = "session '" + o.session + "' on volume '" + o.volume + "'";
  const std::string log =
      "the library's log" + (o.log_file.empty() ? std::string(" above") : " in " + o.log_file);
  if (r.failure == "mount") {
    return "'" + o.mount + "' is not a mount of volume '" + o.volume + "' (" + log +
           " says what it is); nothing was run";
  }
  if (r.failure == "lock" && ec.value() == EBUSY) {
    if (tarn_scan::failed_run_status(ec, r) == tarn_scan::kNotUsable) {
      return "volume '" + o.volume + "' cannot be used: its lock file " + o.volume + ".lock." +
             o.session + " could not be created (" + r.lock_error.message() + "; " + log +
             " says more)";
    }
    return "session '" + o.session + "' is locked on volume '" + o.volume +
           "': another scan is running, or a crashed one left " + o.volume + ".lock." +
           o.session + " in the volume root (or its create did not finish; " + log +
           " says which). 'tarn-scan unlock' removes a lock whose run is gone";
  }
  const std::string cause = cause_of(r);
  if (r.failure == "output directory") {
    return "scan of " + who + " refused: the output directory " + o.output_dir +
           " cannot be the run's own (" + (cause.empty() ? ec.message() : cause) + "); " + log +
           " says more";
  }
  if (r.failure == "glusterfind" && !r.failed_bricks.empty()) {
    std::string bricks;
    for (const std::string& b : r.failed_bricks) bricks += (bricks.empty() ? "" : ", ") + b;
    return "scan of " + who + " failed at step 'glusterfind': it could not do its part on " +
           bricks + " (" + (cause.empty() ? "" : cause + "; ") + log +
           " says why). No change is lost: the next scan that reaches " +
           (r.failed_bricks.size() == 1 ? "it" : "them") + " lists the changes made meanwhile";
  }
  if (ec.value() == EFAULT) {
    return "scan of " + who + " failed at step '" + r.failure + "'" +
           (cause.empty() ? "" : ": " + cause) + "; " + log +
           (cause.empty() ? " says why" : " says more") +
           ". Working files of the run, if any, stay in " + o.output_dir;
  }
  return "scan of " + who + " failed at step '" + r.failure + "': " + ec.message() +
         (cause.empty() ? "" : " (" + cause + ")");
}

void print(const std::string& text) {
  fputs(text.c_str(), stdout);
  fflush(stdout);
}

// Whether glusterfind knows the session on this node: `glusterfind list`
// names it, or a run from another node left the times of this node's bricks
// in glusterfind's directory of the session and volume.
bool session_known(const tarn_scan::options& o) {
  tarn::scanner::session probe(o.session, o.volume, "", "");
  if (probe.session_exists() == 0) return true;
  bool directory = false;
  return !tarn::os::stat_path(tarn_scan::glusterfind_state_dir() + "/" + o.session + "/" + o.volume,
                              &directory) &&
         directory;
}

// The exit status and message of a run that filed its lists but left
// something to look at.
void explain_attention(const tarn_scan::options& o, const tarn::scanner::scan_report& report,
                       tarn_scan::outcome* done) {
  done->exit_status = tarn_scan::kAttention;
  if (report.unattributed() != 0) {
    done->message = "completed, but " + std::to_string(report.unattributed()) +
                    " changed pieces could not be attributed";
  }
  if (report.unnamed() != 0) {
    done->message += std::string(done->message.empty() ? "completed, but" : "; and") + " " +
                     std::to_string(report.unnamed()) +
                     " changed entries could not be named (the log names the first)";
  }
  if (!report.sets_on_this_node()) {
    done->message += std::string(done->message.empty() ? "completed, but" : "; and") +
                     " a replica set has no brick on this node: changes that a restart of "
                     "its bricks hid cannot be recovered from here";
  }
  if (report.lock_left_behind) {
    done->message += std::string(done->message.empty() ? "completed, but" : "; and") +
                     " the lock file " + o.volume + ".lock." + o.session +
                     " could not be removed";
  }
}

// tarn-scan consume.
int consume(const tarn_scan::options& o) {
  tarn_scan::consume_request request;
  request.volume = o.volume;
  request.top = tarn_scan::volume_top(o);
  request.session = o.session;
  request.mirror = o.mirror;
  request.block_size = o.block_size != 0 ? o.block_size : tarn_scan::volume_block_size(o.volume);
  if (request.block_size == 0) {
    fprintf(stderr,
            "tarn-scan: the shard block size of volume '%s' cannot be read: give --block-size\n",
            o.volume.c_str());
    return tarn_scan::kUsage;
  }
  tarn_scan::consume_result result;
  std::error_code ec = tarn_scan::consume(request, &result);
  printf("tarn-scan: consumed %zu manifest%s of session '%s': %llu pieces and %llu files, "
         "%llu bytes, into %s; %llu listed entries were gone from the volume\n",
         result.manifests.size(), result.manifests.size() == 1 ? "" : "s", o.session.c_str(),
         static_cast<unsigned long long>(result.pieces),
         static_cast<unsigned long long>(result.files),
         static_cast<unsigned long long>(result.bytes), o.mirror.c_str(),
         static_cast<unsigned long long>(result.owners_gone));
  if (!ec) return 0;
  fprintf(stderr, "tarn-scan: %s\n", result.failed.c_str());
  if (ec.value() == EEXIST || ec.value() == ETIMEDOUT) return tarn_scan::kLocked;
  return tarn_scan::kStepFailed;
}

// One scan, start to end; the exit status.
int scan(const tarn_scan::options& o) {
  // A session's first run lists everything: an incremental pass of a new
  // session would list only what changes after its creation, and the
  // consumer would never get a baseline.
  const bool first_run = o.incremental && !session_known(o);
  if (first_run) {
    fprintf(stderr,
            "tarn-scan: session '%s' of volume '%s' does not exist yet: its first run is a full "
            "scan, and incremental runs list the changes after it\n",
            o.session.c_str(), o.volume.c_str());
  }
  // Before the scanner and the progress line start threads of their own.
  tarn_scan::block_stop_signals();
  tarn_scan::stop_watch watch(o.timeout);

  tarn_scan::finished_run run;
  run.started = std::chrono::system_clock::now();
  auto start = std::chrono::steady_clock::now();
  std::error_code ec;
  tarn::scanner::scanner scanner(o.volume, o.output_dir, o.mount);
  scanner.set_scan_type(o.incremental && !first_run ? tarn::scanner::scanner::scan_incremental
                                                    : tarn::scanner::scanner::scan_full);
  scanner.set_list_files(o.with_files);
  scanner.set_memory_budget(o.memory);  // 0: the library's default
  {
    tarn_scan::progress alive(o.session, o.log_file);
    tarn_scan::step_timer timer(alive.active() ? &alive : nullptr);
    scanner.set_progress_observer(&timer);
    ec = scanner.initiate_scan(o.session);
    scanner.set_progress_observer(nullptr);
    run.steps = timer.finish();
  }
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const tarn::scanner::scan_report& report = scanner.last_report();
  tarn_scan::outcome done;
  done.seconds = seconds;
  done.post_asked = o.post;
  done.first_run = first_run;
  done.incremental_asked = o.incremental;
  run.report = &report;
  run.done = &done;
  if (ec != tarn::success) {
    done.message = explain(ec, o, report);
    done.exit_status =
        watch.stopped() ? watch.exit_status() : tarn_scan::failed_run_status(ec, report);
    fprintf(stderr, "tarn-scan: %s\n", done.message.c_str());
    if (o.json) print(tarn_scan::format_json(report, o.volume, done));
    run.finished = std::chrono::system_clock::now();
    run.stopped = watch.stopped();
    tarn_scan::after_run(o, run);
    return watch.stopped() ? stopped(watch, o, false) : done.exit_status;
  }

  // Told to stop: no new glusterfind command. Without post the next
  // incremental scan reports these changes again, so nothing is lost.
  if (!watch.stopped() && o.post) {
    tarn::scanner::session* sess = scanner.get_sessionobj(o.session);
    done.post_ran = true;
    done.post_status = sess == nullptr ? -1 : sess->post_scan();
    if (done.post_status != 0 && !watch.stopped()) {
      done.exit_status = tarn_scan::kPostFailed;
      done.message = "the results are in the volume, but 'glusterfind post " + o.session + " " +
                     o.volume + "' failed (status " + std::to_string(done.post_status) +
                     "); the next incremental scan will report these changes again";
    }
  }
  if (done.exit_status == 0 && report.needs_attention()) explain_attention(o, report, &done);
  if (watch.stopped()) done.exit_status = watch.exit_status();
  tarn_scan::summary sum = tarn_scan::summarize(report, seconds);
  sum.first_run = first_run;
  print(o.json ? tarn_scan::format_json(report, o.volume, done)
               : tarn_scan::format_text(sum, o.volume, o.session));
  run.finished = std::chrono::system_clock::now();
  run.stopped = watch.stopped();
  tarn_scan::after_run(o, run);
  if (watch.stopped()) return stopped(watch, o, !done.post_ran || done.post_status != 0);
  if (!done.message.empty()) fprintf(stderr, "tarn-scan: %s\n", done.message.c_str());
  return done.exit_status;
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
      fprintf(stderr, "tarn-scan: %s; see 'tarn-scan --help'\n", error.c_str());
      // A script that asked for JSON gets it for this outcome too.
      for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--json") {
          print(tarn_scan::format_usage_json(error, tarn_scan::kUsage));
          break;
        }
      }
      return tarn_scan::kUsage;
    case tarn_scan::parse_result::run:
      break;
  }
  if (!o.log_file.empty()) setenv("TARN_LOG_FILE", o.log_file.c_str(), 1);
  if (o.unlock) return unlock(o);
  if (o.check) return tarn_scan::check(o);
  if (o.status) return tarn_scan::status(o);
  if (o.consume) return consume(o);
  return scan(o);
}
