// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Thin wrappers over the libgfapi calls the core library makes. Each reads
// errno right after the failing call and returns it as a generic error code.
// The only file that includes the libgfapi header is gfapi_calls.cc.
#ifndef TARN_CORE_GFAPI_CALLS_H_
#define TARN_CORE_GFAPI_CALLS_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

#include "core/unique_handle.h"

struct glfs;     // glfs_t: a connection to one volume
struct glfs_fd;  // glfs_fd_t: an open file of it

namespace tarn {
namespace core {
namespace gfapi {

// Connects to `volume` through the volfile server host:port over TCP. On
// success *out is the initialised connection; on failure nothing is left.
std::error_code connect(const std::string& volume, const std::string& host, int port,
                        glfs** out);

// Paths are absolute in the volume ("/a/b"). *out is set on success only.
std::error_code creat(glfs* fs, const std::string& path, int flags, mode_t mode, glfs_fd** out);
std::error_code open(glfs* fs, const std::string& path, int flags, glfs_fd** out);
std::error_code mkdir(glfs* fs, const std::string& path, mode_t mode);
// Makes an empty regular file: one round trip, no handle to close.
std::error_code make_file(glfs* fs, const std::string& path, mode_t mode);
std::error_code unlink(glfs* fs, const std::string& path);
std::error_code rename(glfs* fs, const std::string& from, const std::string& to);
// Reads from `offset` into `data`, at most `n` bytes; *got 0 at the end.
std::error_code pread(glfs_fd* fd, void* data, std::size_t n, int64_t offset, std::size_t* got);

// Writes all `n` bytes at `offset`, continuing after short writes.
std::error_code pwrite_all(glfs_fd* fd, const void* data, std::size_t n, int64_t offset);
std::error_code file_size(glfs_fd* fd, int64_t* out);
// Closes `fd`; it is gone afterwards whatever the result.
std::error_code close(glfs_fd* fd);

struct fd_traits {
  using type = glfs_fd*;
  static constexpr glfs_fd* invalid() { return nullptr; }
  static std::error_code close(glfs_fd* fd) { return gfapi::close(fd); }
};
// An open file of a volume, closed once by its owner.
using unique_fd = os::unique_handle<fd_traits>;

}  // namespace gfapi
}  // namespace core
}  // namespace tarn

#endif  // TARN_CORE_GFAPI_CALLS_H_
