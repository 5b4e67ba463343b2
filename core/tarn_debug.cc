// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Formats log lines and appends them, whole, to their destination.
#include "core/tarn_debug.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

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

void write_all(int fd, const std::string& line) {
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // a logger has nowhere to report its own failure
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
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
  const char* path = getenv("TARN_LOG_FILE");
  if (path != nullptr && *path != '\0') {
    int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
      write_all(fd, line);
      ::close(fd);
      errno = saved_errno;
      return;
    }
  }
  write_all(STDERR_FILENO, line);
  errno = saved_errno;
}

}  // namespace tarn_debug
}  // namespace tarn
