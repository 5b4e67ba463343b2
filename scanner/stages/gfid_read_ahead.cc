// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The files named in application lists, with their gfids, read ahead.
#include "scanner/stages/gfid_read_ahead.h"

#include <algorithm>
#include <cerrno>
#include <thread>
#include <utility>

#include "core/platform.h"
#include "scanner/scanner.h"

namespace tarn {
namespace scanner {
namespace {

// Lines per batch, and batches read ahead of the linking: enough to keep
// both threads busy, little enough that a long list is never held whole.
constexpr std::size_t kBatchLines = 1024;
constexpr std::size_t kBatchesAhead = 16;

bool is_last(const listed_batch& batch) { return batch.failed != listed_batch::failure::none; }

// A batch that memory ran out for becomes a read failure (ENOMEM) of its list.
void lose(listed_batch* batch) {
  batch->lines.clear();
  batch->gfids.clear();
  batch->failed = listed_batch::failure::read;
  batch->error = std::error_code(ENOMEM, std::generic_category());
  batch->failed_path.clear();
  batch->ends_list = true;
}

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
  return os::no_error();
}

}  // namespace

bool is_entry_failure(const std::error_code& ec) {
  if (ec.category() != std::generic_category()) return false;
  const int e = ec.value();
  return e == EPERM || e == EACCES || e == ELOOP || e == ENAMETOOLONG;
}

// A GlusterFS mount answers "trusted.gfid" with ENODATA and gives the same
// 16 bytes as "glusterfs.gfid"; a brick or a local file system is the other
// way round. A failure other than a missing file or attribute (a mount that
// went away, say) must not pass for "nothing changed".
std::error_code read_gfid(local_files& files, const std::string& path, gfid_value* gfid,
                          std::atomic<bool>* mount_seen) {
  // Once one file has shown a mount, its own attribute is asked first: each
  // "trusted.gfid" through the mount costs a round trip that only fails.
  const bool mount_first = mount_seen != nullptr && mount_seen->load(std::memory_order_relaxed);
  const char* first = mount_first ? "glusterfs.gfid" : "trusted.gfid";
  const char* second = mount_first ? "trusted.gfid" : "glusterfs.gfid";
  gfid->fill(0);
  std::error_code ec = read_attribute(files, path, first, gfid);
  if (ec && is_missing_attribute(ec)) {
    gfid->fill(0);
    ec = read_attribute(files, path, second, gfid);
    if (!ec && !mount_first && mount_seen != nullptr) {
      mount_seen->store(true, std::memory_order_relaxed);
    }
  }
  if (!ec) return success;
  gfid->fill(0);
  if (ec.value() == ENOENT || ec.value() == ENOTDIR || is_missing_attribute(ec)) return success;
  return ec;
}

listed_gfids::listed_gfids(const std::vector<std::string>& lists, std::string mount_path,
                           local_files& files)
    : lists_(lists),
      mount_path_(std::move(mount_path)),
      files_(files),
      read_ahead_(read_ahead_steps<listed_batch>{
                      [this](listed_batch* batch) { return read_lines(batch); },
                      [this](listed_batch* batch) { read_gfids(batch); }, is_last, lose},
                  std::min(std::max(std::thread::hardware_concurrency(), 2u), 4u),
                  kBatchesAhead) {}

bool listed_gfids::read_lines(listed_batch* batch) {
  *batch = listed_batch();
  if (index_ == lists_.size()) return false;
  batch->list = index_;
  if (!list_open_) {
    if (std::error_code ec = files_.read_lines(lists_[index_], &in_)) {
      batch->failed = listed_batch::failure::open;
      batch->error = ec;
      batch->ends_list = true;
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
    if (std::error_code ec = read_gfid(files_, path, &batch->gfids[i], &mount_seen_)) {
      if (is_entry_failure(ec)) {
        batch->gfids[i].fill(0);
        if (batch->unreadable++ == 0) {
          batch->unreadable_path = path;
          batch->unreadable_error = ec;
        }
        continue;
      }
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
