// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Paths, trees and whole-file copies, and what this machine says about its
// processes: the POSIX calls behind that part of core/platform.h.
#include "core/platform.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace tarn {
namespace os {

std::error_code resolve_path(const std::string& path, std::string* absolute) {
  std::string head = path.empty() ? "." : path;
  std::string tail;  // missing components, with a leading "/" each
  for (;;) {
    char* real = ::realpath(head.c_str(), nullptr);
    if (real != nullptr) {
      *absolute = std::string(real) + tail;
      std::free(real);
      if (absolute->size() > 1 && absolute->compare(0, 2, "//") == 0) absolute->erase(0, 1);
      return no_error();
    }
    if (errno != ENOENT) return last_error();
    while (head.size() > 1 && head.back() == '/') head.pop_back();
    std::string::size_type slash = head.rfind('/');
    std::string last = slash == std::string::npos ? head : head.substr(slash + 1);
    if (last == "." || last == "..") return error_from(EINVAL);
    tail = "/" + last + tail;
    if (slash == std::string::npos) {
      head = ".";
    } else {
      head = slash == 0 ? "/" : head.substr(0, slash);
    }
  }
}

std::error_code remove_tree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  return as_result(ec);
}

std::error_code copy_file(const std::string& from, const std::string& to) {
  unique_fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) return last_error();
  struct stat status;
  if (::fstat(in.get(), &status) != 0) return last_error();
  if (!S_ISREG(status.st_mode)) return error_from(EISDIR);
  unique_fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!out) return last_error();
  std::error_code ec = no_error();
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(in.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ec = last_error();
      break;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out.get(), buffer + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) {
        ec = last_error();
        break;
      }
      done += w;
    }
    if (ec) break;
  }
  if (!ec && ::fsync(out.get()) != 0) ec = last_error();
  std::error_code closed = out.close();
  if (!ec) ec = closed;
  if (ec) ::unlink(to.c_str());
  return ec;
}

std::string host_name() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

std::error_code process_start_time(pid_t pid, std::uint64_t* ticks) {
  std::string stat;
  std::error_code ec = read_whole_file("/proc/" + std::to_string(pid) + "/stat", &stat);
  if (ec.value() == ENOENT) return error_from(ESRCH);
  if (ec) return ec;
  // The command name, field 2, is in parentheses and may hold blanks and
  // parentheses itself; the fields after it are numbers and words.
  std::string::size_type end = stat.rfind(')');
  if (end == std::string::npos) return error_from(EIO);
  std::istringstream fields(stat.substr(end + 1));
  std::string field;
  for (int i = 3; i <= 22; ++i) {
    if (!(fields >> field)) return error_from(EIO);
  }
  char* rest = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(field.c_str(), &rest, 10);
  if (errno != 0 || rest == field.c_str() || *rest != '\0') return error_from(EIO);
  *ticks = value;
  return no_error();
}

}  // namespace os
}  // namespace tarn
