// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// One owner for every kind of handle the platform hands out: file
// descriptors, stdio and directory streams, gfapi file descriptors. A handle
// is closed exactly once: by close(), which says whether that worked (a
// written file may report a delayed write error only there), or without a
// word when its owner goes or takes another.
#ifndef TARN_CORE_UNIQUE_HANDLE_H_
#define TARN_CORE_UNIQUE_HANDLE_H_

#include <cstdio>
#include <system_error>

#include "core/tarn_export.h"

namespace tarn {
namespace os {

// Traits: `type`, the value `invalid()` that holds nothing, and
// `close(type)`, which returns the error of the close (generic category).
template <typename Traits>
class unique_handle {
 public:
  using handle_type = typename Traits::type;

  unique_handle() noexcept = default;
  explicit unique_handle(handle_type h) noexcept : h_(h) {}
  unique_handle(unique_handle&& other) noexcept : h_(other.release()) {}
  unique_handle& operator=(unique_handle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  unique_handle(const unique_handle&) = delete;
  unique_handle& operator=(const unique_handle&) = delete;
  ~unique_handle() { reset(); }

  handle_type get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != Traits::invalid(); }
  // Gives the handle up without closing it.
  handle_type release() noexcept {
    handle_type h = h_;
    h_ = Traits::invalid();
    return h;
  }
  // Closes the handle held, if any, without reporting, and holds `h`.
  void reset(handle_type h = Traits::invalid()) noexcept {
    if (*this) Traits::close(h_);
    h_ = h;
  }
  // Closes the handle held (success when none); it is gone either way.
  std::error_code close() {
    if (!*this) return std::error_code(0, std::generic_category());
    return Traits::close(release());
  }

 private:
  handle_type h_ = Traits::invalid();
};

struct TARN_EXPORT fd_traits {
  using type = int;
  static constexpr int invalid() { return -1; }
  // Linux releases the descriptor even when close fails: never retried.
  static std::error_code close(int fd);
};

struct TARN_EXPORT stdio_traits {
  using type = std::FILE*;
  static constexpr std::FILE* invalid() { return nullptr; }
  static std::error_code close(std::FILE* stream);
};

using unique_fd = unique_handle<fd_traits>;
using unique_stdio = unique_handle<stdio_traits>;

}  // namespace os
}  // namespace tarn

#endif  // TARN_CORE_UNIQUE_HANDLE_H_
