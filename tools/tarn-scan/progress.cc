// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "tools/tarn-scan/progress.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "core/unique_handle.h"

namespace tarn_scan {

std::string progress_line(const std::string& session, double seconds, const char* step,
                          uint64_t entries) {
  char text[512];
  std::snprintf(text, sizeof text, "scanning session '%s': %.0f s, %s", session.c_str(), seconds,
                step);
  std::string line = text;
  if (entries != 0) line += ", " + std::to_string(entries) + " entries";
  return line;
}

progress::progress(std::string session, const std::string& log_file)
    : session_(std::move(session)) {
  if (!isatty(STDOUT_FILENO)) return;
  if (log_file.empty() && isatty(STDERR_FILENO)) {
    char path[] = "/tmp/tarn-scan-log-XXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0) {
      close(fd);
      log_path_ = path;
      setenv("TARN_LOG_FILE", path, 1);
    }
  }
  thread_ = std::thread(&progress::loop, this);
}

progress::~progress() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
  if (shown_) fputs("\r\033[K", stdout);
  fflush(stdout);
  pass_log_lines();
  if (!log_path_.empty()) {
    unsetenv("TARN_LOG_FILE");  // later messages go to standard error again
    std::remove(log_path_.c_str());
  }
}

void progress::pass_log_lines() {
  if (log_path_.empty()) return;
  const tarn::os::unique_stdio owned(std::fopen(log_path_.c_str(), "re"));
  if (!owned) return;
  std::FILE* in = owned.get();
  std::fseek(in, log_offset_, SEEK_SET);
  char buffer[4096];
  std::string pending;
  while (std::fgets(buffer, sizeof buffer, in) != nullptr) {
    pending += buffer;
    if (pending.back() != '\n') continue;  // the rest of the line follows
    fputs(pending.c_str(), stderr);
    log_offset_ += static_cast<long>(pending.size());
    pending.clear();
  }
  fflush(stderr);
}

void progress::loop() {
  auto start = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(mu_);
  if (cv_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; })) return;
  while (!stop_) {
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Log lines first, on lines of their own, then the progress line again.
    if (shown_) fputs("\r\033[K", stdout);
    fflush(stdout);
    pass_log_lines();
    fputs(progress_line(session_, secs, step_.load(), entries_.load()).c_str(), stdout);
    fflush(stdout);
    shown_ = true;
    cv_.wait_for(lock, std::chrono::milliseconds(500), [this] { return stop_; });
  }
}

}  // namespace tarn_scan
