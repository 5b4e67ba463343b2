// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The stop signals, taken by one thread with sigtimedwait.
#include "tools/tarn-scan/stop_watch.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "scanner/scanner.h"

namespace tarn_scan {
namespace {

sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signo : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, signo);
  return set;
}

void say(const std::string& text) {
  const std::string line = "tarn-scan: " + text + "\n";
  ssize_t ignored = ::write(2, line.data(), line.size());
  (void)ignored;
}

}  // namespace

void block_stop_signals() {
  sigset_t set = stop_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

stop_watch::stop_watch(unsigned timeout_seconds)
    : thread_([this, timeout_seconds] { loop(timeout_seconds); }) {}

stop_watch::~stop_watch() {
  done_ = true;
  thread_.join();
}

// The run may end before the commands' process groups have: the watch goes
// on taking signals until they are gone.
void stop_watch::stop() {
  stopping_ = true;
  stopper_ = std::thread([this] {
    tarn::scanner::stop_runs();
    stopping_ = false;
  });
}

void stop_watch::loop(unsigned timeout_seconds) {
  using clock = std::chrono::steady_clock;
  const sigset_t set = stop_signals();
  const clock::time_point deadline =
      timeout_seconds > 0 ? clock::now() + std::chrono::seconds(timeout_seconds)
                          : clock::time_point::max();
  while (!done_ || stopping_) {
    struct timespec wait = {0, 100 * 1000 * 1000};
    int signo = sigtimedwait(&set, nullptr, &wait);
    if (signo > 0) {
      if (stopped()) {
        say("second stop request (signal " + std::to_string(signo) +
            "): ending at once; the session's lock file may be left behind");
        _exit(128 + signo);
      }
      signal_ = signo;
      say("stop requested by signal " + std::to_string(signo) + " (" + strsignal(signo) +
          "): ending the glusterfind command in progress and the run; a second signal ends "
          "tarn-scan at once");
      stop();
    } else if (!stopped() && clock::now() >= deadline) {
      timed_out_ = true;
      say("the run took longer than --timeout " + std::to_string(timeout_seconds) +
          " s: ending the glusterfind command in progress and the run");
      stop();
    }
  }
  if (stopper_.joinable()) stopper_.join();
}

}  // namespace tarn_scan
