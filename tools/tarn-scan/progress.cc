// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "tools/tarn-scan/progress.h"

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace tarn_scan {

progress::progress(std::string output_dir, std::string session)
    : output_dir_(std::move(output_dir)), session_(std::move(session)) {
  if (isatty(STDOUT_FILENO)) thread_ = std::thread(&progress::loop, this);
}

progress::~progress() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
  if (shown_) {
    fputs("\r\033[K", stdout);
    fflush(stdout);
  }
}

void progress::loop() {
  auto start = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(mu_);
  if (cv_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; })) return;
  while (!stop_) {
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string what = step();
    printf("\r\033[Kscanning session '%s': %.0f s%s%s", session_.c_str(), secs,
           what.empty() ? "" : ", ", what.c_str());
    fflush(stdout);
    shown_ = true;
    cv_.wait_for(lock, std::chrono::milliseconds(500), [this] { return stop_; });
  }
}

std::string progress::step() const {
  DIR* dir = opendir(output_dir_.c_str());
  if (dir == nullptr) return "glusterfind";
  bool change_list = false, filtered = false, collect = false, lists = false;
  while (struct dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "full-" + session_) change_list = true;
    else if (name == "filteredfile-" + session_) filtered = true;
    else if (name.compare(0, session_.size() + 11, session_ + "-processed.") == 0) collect = true;
    else if (name != "." && name != "..") lists = true;
  }
  closedir(dir);
  if (filtered) return "filtering the change list";
  if (change_list) return "glusterfind pass";
  if (collect) return "sorting the collect file";
  if (lists) return "linking, chunking and copying results";
  return "glusterfind";
}

}  // namespace tarn_scan
