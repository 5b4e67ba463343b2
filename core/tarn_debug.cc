// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Formats log lines and appends them, whole, to their destination.
#include "core/tarn_debug.h"

#include <sys/time.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "core/platform.h"
#include "core/settings.h"

namespace tarn {
namespace tarn_debug {
namespace {

std::mutex& log_mutex() {
  static std::mutex* m = new std::mutex;  // never destroyed: loggers are static
  return *m;
}

std::string timestamp() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm tm;
  localtime_r(&tv.tv_sec, &tm);
  char buf[64];
  size_t n = strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  snprintf(buf + n, sizeof buf - n, ".%06ld", static_cast<long>(tv.tv_usec));
  return buf;
}

}  // namespace

tarn_debug::tarn_debug() = default;
tarn_debug::~tarn_debug() = default;

void tarn_debug::error(const char* function, const char* format, ...) {
  int saved_errno = errno;  // logging must not disturb the caller's errno
  std::string line = timestamp() + " [" + (function ? function : "") + "] ";
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n > 0) {
    std::string message(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&message[0], message.size(), format, args);
    message.resize(static_cast<size_t>(n));
    line += message;
  }
  va_end(args);
  if (line.empty() || line.back() != '\n') line += '\n';

  std::lock_guard<std::mutex> lock(log_mutex());
  const std::string path = settings::log_file();
  os::file log;
  if (!path.empty() && !os::file::open_log(path, &log)) {
    log.write_all(line.data(), line.size());  // a logger has nowhere to report its own failure
    log.close();
  } else {
    os::write_standard_error(line);
  }
  errno = saved_errno;
}

}  // namespace tarn_debug
}  // namespace tarn
