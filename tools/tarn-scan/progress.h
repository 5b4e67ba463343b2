// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// A line on the terminal that shows a long run is alive.
#ifndef TARN_TOOLS_TARN_SCAN_PROGRESS_H_
#define TARN_TOOLS_TARN_SCAN_PROGRESS_H_

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tarn_scan {

// While alive, and only when standard output is a terminal, rewrites one line
// with the elapsed time and the step the run is in, from the second second
// on. The step is told by the working files in the output directory.
class progress {
 public:
  progress(std::string output_dir, std::string session);
  ~progress();  // stops and clears the line
  progress(const progress&) = delete;
  progress& operator=(const progress&) = delete;

 private:
  void loop();
  std::string step() const;

  std::string output_dir_;
  std::string session_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool stop_ = false;  // guarded by mu_
  bool shown_ = false;
  std::thread thread_;
};

}  // namespace tarn_scan

#endif  // TARN_TOOLS_TARN_SCAN_PROGRESS_H_
