// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// A line on the terminal that shows a long run is alive: the step the
// library says it is in, the entries done, the time.
#ifndef TARN_TOOLS_TARN_SCAN_PROGRESS_H_
#define TARN_TOOLS_TARN_SCAN_PROGRESS_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "scanner/scanner.h"

namespace tarn_scan {

// "scanning session 'S': 12 s, glusterfind, 5067 entries"
std::string progress_line(const std::string& session, double seconds, const char* step,
                          uint64_t entries);

// While alive, and only when standard output is a terminal, rewrites one line
// from the second second on. Log lines that the library writes meanwhile
// never break it: without a log file of the user's, the library logs into a
// file of the progress line's own, whose new lines go to standard error
// above the line, whole.
class progress : public tarn::scanner::progress_observer {
 public:
  // `log_file`: the user's (--log-file), empty for standard error.
  progress(std::string session, const std::string& log_file);
  ~progress() override;  // stops, clears the line and passes on the last log lines
  progress(const progress&) = delete;
  progress& operator=(const progress&) = delete;

  bool active() const { return thread_.joinable(); }

  void step_entered(const char* step) override { step_.store(step); }
  void entries_done(const char*, uint64_t entries) override {
    if (entries != 0) entries_.store(entries);
  }

 private:
  void loop();
  // New whole lines of the library's log to standard error.
  void pass_log_lines();

  std::string session_;
  std::string log_path_;  // the progress line's own log file, if any
  long log_offset_ = 0;
  std::atomic<const char*> step_{"checks"};
  std::atomic<uint64_t> entries_{0};
  std::mutex mu_;
  std::condition_variable cv_;
  bool stop_ = false;  // guarded by mu_
  bool shown_ = false;
  std::thread thread_;
};

}  // namespace tarn_scan

#endif  // TARN_TOOLS_TARN_SCAN_PROGRESS_H_
