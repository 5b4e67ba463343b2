// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Page-aligned buffers from the C library.
#include "core/tarn_mem.h"

#include <unistd.h>

#include <cstdlib>
#include <new>
#include <utility>

#include "core/volume_backend.h"

namespace tarn {
namespace tarn_mem {

buff::buff(void* base, std::size_t size) : base_(base), size_(size) {}

buff::~buff() { std::free(base_); }

boost::shared_ptr<buff> malloc_intfx::posix_memalign(std::size_t alignment,
                                                     std::size_t size) {
  void* base = nullptr;
  // A zero size still yields a valid, freeable block.
  if (::posix_memalign(&base, alignment, size == 0 ? 1 : size) != 0) {
    return boost::shared_ptr<buff>();
  }
  buff* b = new (std::nothrow) buff(base, size);
  if (b == nullptr) {
    std::free(base);
    return boost::shared_ptr<buff>();
  }
  return boost::shared_ptr<buff>(b);
}

namespace {
boost::shared_ptr<malloc_intfx>* current_intfx() {
  static boost::shared_ptr<malloc_intfx>* intfx =
      new boost::shared_ptr<malloc_intfx>(new malloc_intfx);
  return intfx;
}
}  // namespace

boost::shared_ptr<malloc_intfx> get_malloc_intfx() { return boost::atomic_load(current_intfx()); }

std::size_t get_page_size() {
  long n = sysconf(_SC_PAGESIZE);
  return n > 0 ? static_cast<std::size_t>(n) : 4096;
}

}  // namespace tarn_mem

namespace core {
boost::shared_ptr<tarn_mem::malloc_intfx> set_malloc_intfx(
    boost::shared_ptr<tarn_mem::malloc_intfx> intfx) {
  return boost::atomic_exchange(tarn_mem::current_intfx(), std::move(intfx));
}
}  // namespace core

}  // namespace tarn
