// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// I/O buffers of the core library and the process's memory interface.
#ifndef TARN_CORE_TARN_MEM_H_
#define TARN_CORE_TARN_MEM_H_

#include <cstddef>

#include <boost/shared_ptr.hpp>

#include "core/tarn_export.h"

namespace tarn {
namespace tarn_mem {

// A block of memory owned by its handle; freed when the last handle goes.
class TARN_EXPORT buff {
 public:
  buff(void* base, std::size_t size);
  ~buff();
  buff(const buff&) = delete;
  buff& operator=(const buff&) = delete;

  void* get_base() const { return base_; }
  std::size_t get_size() const { return size_; }

 private:
  void* base_;
  std::size_t size_;
};

// The process's allocator for I/O buffers.
class TARN_EXPORT malloc_intfx {
 public:
  // An aligned block of exactly `size` bytes (not rounded up); an empty handle
  // when the allocation fails or `alignment` is not a power of two.
  boost::shared_ptr<buff> posix_memalign(std::size_t alignment,
                                         std::size_t size);
};

// The memory interface of this process; empty only if it cannot be made.
TARN_EXPORT boost::shared_ptr<malloc_intfx> get_malloc_intfx();

// The system page size, sysconf(_SC_PAGESIZE); 4096 if that fails.
TARN_EXPORT std::size_t get_page_size();

}  // namespace tarn_mem
}  // namespace tarn

#endif  // TARN_CORE_TARN_MEM_H_
