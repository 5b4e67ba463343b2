// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The files named in application lists, with their gfids, read ahead.
#include "scanner/gfid_read_ahead.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <utility>

#include "scanner/scanner.h"

namespace tarn {
namespace scanner {
namespace {

// Lines per batch, and batches read ahead of the linking: enough to keep
// both threads busy, little enough that a long list is never held whole.
constexpr std::size_t kBatchLines = 1024;
constexpr std::size_t kBatchesAhead = 16;

bool is_missing_attribute(const std::error_code& ec) {
  return ec.value() == ENODATA || ec.value() == ENOTSUP || ec.value() == EOPNOTSUPP;
}

// The value of a 16-byte attribute; a shorter one fills the first bytes.
std::error_code read_attribute(local_files& files, const std::string& path, const char* name,
                               gfid_value* gfid) {
  std::string value;
  if (std::error_code ec = files.read_xattr(path, name, &value)) return ec;
  if (value.size() > gfid->size()) return std::error_code(ERANGE, std::generic_category());
  std::copy(value.begin(), value.end(), gfid->begin());
  return std::error_code();
}

}  // namespace

// A GlusterFS mount answers "trusted.gfid" with ENODATA and gives the same
// 16 bytes as "glusterfs.gfid"; a brick or a local file system is the other
// way round. A failure other than a missing file or attribute (a mount that
// went away, say) must not pass for "nothing changed".
std::error_code read_gfid(local_files& files, const std::string& path, gfid_value* gfid) {
  gfid->fill(0);
  std::error_code ec = read_attribute(files, path, "trusted.gfid", gfid);
  if (ec && is_missing_attribute(ec)) {
    gfid->fill(0);
    ec = read_attribute(files, path, "glusterfs.gfid", gfid);
  }
  if (!ec) return success;
  gfid->fill(0);
  if (ec.value() == ENOENT || ec.value() == ENOTDIR || is_missing_attribute(ec)) return success;
  return ec;
}

listed_gfids::listed_gfids(const std::vector<std::string>& lists, std::string mount_path,
                           local_files& files)
    : lists_(lists), mount_path_(std::move(mount_path)), files_(files) {
  const unsigned threads = std::min(std::max(std::thread::hardware_concurrency(), 2u), 4u);
  try {
    threads_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back(&listed_gfids::read_ahead, this);
  } catch (const std::exception&) {
    // Fewer threads, or none: then next() reads each batch itself.
  }
}

listed_gfids::~listed_gfids() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& t : threads_) t.join();
}

bool listed_gfids::next(listed_batch* batch) {
  if (threads_.empty()) {
    if (!read_lines(batch)) return false;
    read_gfids(batch);
    if (batch->failed != listed_batch::failure::none) done_ = true;
    return true;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] {
    return handed_ >= end_ || handed_ == lost_number_ || ready_.count(handed_) != 0;
  });
  if (handed_ == lost_number_) {
    *batch = listed_batch();
    batch->list = lost_list_;
    batch->failed = listed_batch::failure::read;
    batch->error = std::error_code(ENOMEM, std::generic_category());
    batch->ends_list = true;
    ++handed_;
    return true;
  }
  if (handed_ >= end_) return false;
  auto it = ready_.find(handed_);
  *batch = std::move(it->second);
  ready_.erase(it);
  ++handed_;
  lock.unlock();
  changed_.notify_all();
  return true;
}

// Each thread takes the lines of the next batch in turn and reads their
// gfids alongside the others; the batches are numbered as their lines are
// read, and next() hands them out by number. Memory running out in a thread
// becomes a read failure of its batch: escaping, it would end the process.
void listed_gfids::read_ahead() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || done_ || numbered_ < handed_ + kBatchesAhead; });
    if (stop_ || done_) return;
    listed_batch batch;
    const std::size_t number = numbered_;
    bool more = false;
    try {
      more = read_lines(&batch);
    } catch (const std::exception&) {
      return lose(number, index_);
    }
    if (!more) {
      end_ = std::min(end_, numbered_);
      changed_.notify_all();
      return;
    }
    ++numbered_;
    if (batch.failed != listed_batch::failure::none) end_ = std::min(end_, number + 1);
    lock.unlock();
    try {
      read_gfids(&batch);
    } catch (const std::exception&) {
      lock.lock();
      return lose(number, batch.list);
    }
    lock.lock();
    if (batch.failed == listed_batch::failure::gfid) {
      done_ = true;
      end_ = std::min(end_, number + 1);
    }
    try {
      ready_.emplace(number, std::move(batch));
    } catch (const std::exception&) {
      return lose(number, batch.list);
    }
    changed_.notify_all();
  }
}

void listed_gfids::lose(std::size_t number, std::size_t list) {
  done_ = true;
  if (number < lost_number_) {
    lost_number_ = number;
    lost_list_ = list;
  }
  end_ = std::min(end_, number + 1);
  changed_.notify_all();
}

bool listed_gfids::read_lines(listed_batch* batch) {
  *batch = listed_batch();
  if (done_ || index_ == lists_.size()) {
    done_ = true;
    return false;
  }
  batch->list = index_;
  if (!list_open_) {
    if (std::error_code ec = files_.read_lines(lists_[index_], &in_)) {
      batch->failed = listed_batch::failure::open;
      batch->error = ec;
      batch->ends_list = true;
      done_ = true;
      return true;
    }
    list_open_ = true;
  }
  std::string line;
  while (batch->lines.size() < kBatchLines && in_->next(&line)) batch->lines.push_back(line);
  if (batch->lines.size() == kBatchLines) return true;
  // The list has ended, at its end or at a read error.
  if (std::error_code ec = in_->error()) {
    batch->failed = listed_batch::failure::read;
    batch->error = ec;
    done_ = true;
  }
  in_.reset();
  list_open_ = false;
  ++index_;
  batch->ends_list = true;
  return true;
}

void listed_gfids::read_gfids(listed_batch* batch) const {
  batch->gfids.resize(batch->lines.size());
  std::string path;
  for (std::size_t i = 0; i < batch->lines.size(); ++i) {
    path.assign(mount_path_).append("/").append(batch->lines[i]);
    if (std::error_code ec = read_gfid(files_, path, &batch->gfids[i])) {
      // The linking stops at this file: what follows it is not wanted.
      batch->lines.resize(i);
      batch->gfids.resize(i);
      batch->failed = listed_batch::failure::gfid;
      batch->error = ec;
      batch->failed_path = path;
      batch->ends_list = true;
      return;
    }
  }
}

}  // namespace scanner
}  // namespace tarn
