// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// How tarn-scan is told to stop: SIGTERM (systemd, timeout(1), shutdown),
// SIGINT (Ctrl-C), SIGHUP, or its own --timeout.
#ifndef TARN_TOOLS_TARN_SCAN_STOP_WATCH_H_
#define TARN_TOOLS_TARN_SCAN_STOP_WATCH_H_

#include <atomic>
#include <thread>

namespace tarn_scan {

// Blocks the stop signals in the calling thread; call it before any other
// thread starts, so that every thread inherits the mask and only the watch
// takes them.
void block_stop_signals();

// While alive, a thread waits for a stop signal or for the time limit. The
// first ends the commands the run is running (tarn::scanner::stop_runs), so
// that the run fails through its normal path and releases its lock; a
// second signal ends the process at once with 128 + its number.
class stop_watch {
 public:
  explicit stop_watch(unsigned timeout_seconds);  // 0: no limit
  ~stop_watch();
  stop_watch(const stop_watch&) = delete;
  stop_watch& operator=(const stop_watch&) = delete;

  // The signal that asked to stop, or 0.
  int signal() const { return signal_.load(); }
  bool timed_out() const { return timed_out_.load(); }
  bool stopped() const { return signal() != 0 || timed_out(); }
  // The exit status of a stopped run: 124 after the time limit, else 128
  // plus the signal's number.
  int exit_status() const { return timed_out() ? 124 : 128 + signal(); }

 private:
  void loop(unsigned timeout_seconds);
  void stop();

  std::atomic<int> signal_{0};
  std::atomic<bool> timed_out_{false};
  std::atomic<bool> done_{false};
  std::atomic<bool> stopping_{false};  // stop_runs has not returned yet
  std::thread stopper_;  // runs stop_runs, which may take its grace time
  std::thread thread_;
};

}  // namespace tarn_scan

#endif  // TARN_TOOLS_TARN_SCAN_STOP_WATCH_H_
