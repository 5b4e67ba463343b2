// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Write coalescing in front of a backend file.
#include "core/write_coalescer.h"

#include <cerrno>
#include <cstring>

namespace tarn {
namespace core {

coalescing_file::coalescing_file(std::unique_ptr<backend_file> target, std::size_t capacity)
    : target_(std::move(target)), capacity_(capacity > 0 ? capacity : 1) {}

// A file dropped without close() still gets its kept-back bytes written;
// nobody is left to hear how that went.
coalescing_file::~coalescing_file() {
  if (target_) close();
}

std::error_code coalescing_file::pwrite(const void* data, std::size_t n, int64_t offset) {
  if (!target_) return std::error_code(EBADF, std::generic_category());
  if (offset < 0) return std::error_code(EINVAL, std::generic_category());
  if (error_) return error_;
  bool continues = !pending_.empty() &&
                   offset == pending_offset_ + static_cast<int64_t>(pending_.size());
  if (!continues || pending_.size() + n > capacity_) {
    if (std::error_code ec = flush()) return ec;
  }
  if (n >= capacity_) return write_through(data, n, offset);
  if (pending_.empty()) {
    pending_.reserve(capacity_);
    pending_offset_ = offset;
  }
  const char* bytes = static_cast<const char*>(data);
  pending_.insert(pending_.end(), bytes, bytes + n);
  return std::error_code();
}

std::error_code coalescing_file::size(int64_t* out) {
  if (!target_) return std::error_code(EBADF, std::generic_category());
  if (std::error_code ec = flush()) return ec;
  return target_->size(out);
}

std::error_code coalescing_file::close() {
  if (!target_) return std::error_code(EBADF, std::generic_category());
  std::error_code result = flush();
  std::error_code closed = target_->close();
  target_.reset();
  pending_.clear();
  pending_.shrink_to_fit();
  return result ? result : closed;
}

std::error_code coalescing_file::flush() {
  if (error_) return error_;
  if (pending_.empty()) return std::error_code();
  std::error_code ec = write_through(pending_.data(), pending_.size(), pending_offset_);
  // Kept-back bytes are dropped after a failure as well: the error stands for
  // them, and no later write may land behind the hole they leave.
  pending_.clear();
  return ec;
}

std::error_code coalescing_file::write_through(const void* data, std::size_t n, int64_t offset) {
  error_ = target_->pwrite(data, n, offset);
  return error_;
}

}  // namespace core
}  // namespace tarn
