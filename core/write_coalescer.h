// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Gathers consecutive small writes to one file into few large ones: on
// GlusterFS every call is a network round trip, on a local directory a
// system call.
#ifndef TARN_CORE_WRITE_COALESCER_H_
#define TARN_CORE_WRITE_COALESCER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <system_error>
#include <vector>

#include "core/volume_backend.h"

namespace tarn {
namespace core {

// Wraps a backend file. A write that continues the range kept back so far is
// added to it; any other write, a size query and close first write that range
// out, so data reaches the file in the order and at the offsets given. A range
// is written out once it reaches `capacity` bytes; a write of `capacity` bytes
// or more goes straight through.
//
// The first error of the target is sticky: the write that met it returns it,
// every later write and size() returns it too, and close() reports it even
// when nobody called anything in between. Not thread-safe (one user per file).
class coalescing_file : public backend_file {
 public:
  static constexpr std::size_t kDefaultCapacity = 1 << 20;

  explicit coalescing_file(std::unique_ptr<backend_file> target,
                           std::size_t capacity = kDefaultCapacity);
  ~coalescing_file() override;

  std::error_code pwrite(const void* data, std::size_t n, int64_t offset) override;
  std::error_code size(int64_t* out) override;
  std::error_code close() override;

 private:
  std::error_code flush();
  // Writes to the target; records a failure as the sticky error.
  std::error_code write_through(const void* data, std::size_t n, int64_t offset);

  std::unique_ptr<backend_file> target_;
  std::size_t capacity_;
  std::vector<char> pending_;  // bytes kept back, to be written at pending_offset_
  int64_t pending_offset_ = 0;
  std::error_code error_;      // first error of the target; sticky
};

}  // namespace core
}  // namespace tarn

#endif  // TARN_CORE_WRITE_COALESCER_H_
