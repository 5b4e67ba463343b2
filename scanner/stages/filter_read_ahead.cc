// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The kept paths of a change list, read ahead of the filter's writes.
#include "scanner/stages/filter_read_ahead.h"

#include <cerrno>
#include <exception>
#include <utility>

namespace tarn {
namespace scanner {
namespace {

// Kept paths per batch, and batches read ahead of the writes.
constexpr std::size_t kBatchPaths = 4096;
constexpr std::size_t kBatchesAhead = 8;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool changed_path(std::string_view line, std::string_view* path) {
  std::size_t begin = 0;
  while (begin < line.size() && is_blank(line[begin])) ++begin;
  std::size_t end = begin;
  while (end < line.size() && !is_blank(line[end])) ++end;
  std::string_view type = line.substr(begin, end - begin);
  if (type != "NEW" && type != "MODIFY") return false;
  if (end + 1 >= line.size()) return false;  // a type word without a path
  *path = line.substr(end + 1);
  return true;
}

kept_paths::kept_paths(os::line_reader* in, std::function<bool(const std::string&)> excluded)
    : in_(in), excluded_(std::move(excluded)) {
  try {
    thread_ = std::thread(&kept_paths::read_ahead, this);
  } catch (const std::exception&) {
    // No thread: next() reads each batch itself.
  }
}

kept_paths::~kept_paths() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool kept_paths::next(kept_batch* batch) {
  if (!thread_.joinable()) return read_batch(batch);
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !ready_.empty() || finished_; });
  if (ready_.empty()) return false;
  *batch = std::move(ready_.front());
  ready_.pop_front();
  lock.unlock();
  changed_.notify_all();
  return true;
}

std::error_code kept_paths::error() {
  if (!thread_.joinable()) return read_error_;
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

// Memory running out here ends the reading as a read failure (ENOMEM):
// escaping the thread, it would end the process.
void kept_paths::read_ahead() {
  std::error_code ended;
  for (;;) {
    kept_batch batch;
    bool more = false;
    try {
      more = read_batch(&batch);
    } catch (const std::exception&) {
      ended = std::error_code(ENOMEM, std::generic_category());
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return ready_.size() < kBatchesAhead || stop_; });
    if (stop_) return;
    if (more) {
      try {
        ready_.push_back(std::move(batch));
      } catch (const std::exception&) {
        ended = std::error_code(ENOMEM, std::generic_category());
        more = false;
      }
    }
    if (!more) {
      finished_ = true;
      error_ = ended ? ended : read_error_;
    }
    lock.unlock();
    changed_.notify_all();
    if (!more) return;
  }
}

bool kept_paths::read_batch(kept_batch* batch) {
  batch->text.clear();
  batch->ends.clear();
  if (ended_) return false;
  std::string line;
  std::string kept;
  while (batch->ends.size() < kBatchPaths && !stopping_.load(std::memory_order_relaxed) &&
         in_->next(&line)) {
    std::string_view path;
    if (!changed_path(line, &path)) continue;
    kept.assign(path);
    if (excluded_(kept)) continue;
    batch->text.append(kept).push_back('\n');
    batch->ends.push_back(batch->text.size());
  }
  if (batch->ends.size() < kBatchPaths) {
    ended_ = true;
    read_error_ = in_->error();
  }
  return true;
}

}  // namespace scanner
}  // namespace tarn
