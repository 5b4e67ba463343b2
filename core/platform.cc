// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The POSIX calls behind core/platform.h.
#include "core/platform.h"

#include "core/child_process.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <malloc.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tarn {
namespace os {
namespace {

struct dir_traits {
  using type = DIR*;
  static constexpr DIR* invalid() { return nullptr; }
  static std::error_code close(DIR* dir) {
    return ::closedir(dir) == 0 ? no_error() : last_error();
  }
};
using unique_dir = unique_handle<dir_traits>;

}  // namespace

const int kOpenCreateExclusive = O_CREAT | O_EXCL;
const int kOpenCreateForWrite = O_CREAT | O_WRONLY;
const int kOpenForWrite = O_WRONLY;
const int kOpenCreateOrTruncate = O_CREAT | O_WRONLY | O_TRUNC;

pid_t process_id() { return ::getpid(); }

std::error_code last_error() { return error_from(errno != 0 ? errno : EIO); }

std::error_code rename_file(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return last_error();
  return no_error();
}

std::error_code remove_file(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return last_error();
  return no_error();
}

std::error_code remove_directory(const std::string& path) {
  if (::rmdir(path.c_str()) != 0) return last_error();
  return no_error();
}

std::error_code make_directory(const std::string& path, unsigned mode) {
  if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0) return last_error();
  return no_error();
}

std::error_code make_unique_directory(const std::string& prefix, std::string* path) {
  std::string name = prefix + "XXXXXX";
  if (::mkdtemp(&name[0]) == nullptr) return last_error();
  *path = name;
  return no_error();
}

std::error_code list_directory(const std::string& path, std::list<std::string>* names) {
  unique_dir dir(::opendir(path.c_str()));
  if (!dir) return last_error();
  for (;;) {
    errno = 0;
    struct dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) return last_error();
      break;
    }
    names->push_back(entry->d_name);
  }
  return no_error();
}

std::error_code get_xattr(const std::string& path, const char* name, void* value,
                          std::size_t size, ssize_t* length) {
  ssize_t n = ::getxattr(path.c_str(), name, value, size);
  if (n < 0) return last_error();
  *length = n;
  return no_error();
}

namespace {

using xattr_call = ssize_t (*)(const char*, const char*, void*, size_t);

std::error_code whole_xattr(xattr_call call, const std::string& path, const char* name,
                            std::string* value) {
  // Most values fit at once; a longer one is measured and read again, as
  // long as it keeps growing in between.
  std::string buffer(1024, '\0');
  for (;;) {
    ssize_t n = call(path.c_str(), name, &buffer[0], buffer.size());
    if (n >= 0) {
      value->assign(buffer.data(), static_cast<std::size_t>(n));
      return no_error();
    }
    if (errno != ERANGE) return last_error();
    ssize_t needed = call(path.c_str(), name, nullptr, 0);
    if (needed < 0) return last_error();
    buffer.assign(static_cast<std::size_t>(needed) + 1, '\0');
  }
}

}  // namespace

std::error_code get_xattr_value(const std::string& path, const char* name, std::string* value) {
  return whole_xattr(::getxattr, path, name, value);
}

std::error_code get_link_xattr_value(const std::string& path, const char* name,
                                     std::string* value) {
  return whole_xattr(::lgetxattr, path, name, value);
}

std::error_code real_path(const std::string& path, std::string* out) {
  errno = 0;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return last_error();
  out->assign(resolved);
  std::free(resolved);
  return no_error();
}

std::error_code lstat_path(const std::string& path) {
  struct stat status;
  if (::lstat(path.c_str(), &status) != 0) return last_error();
  return no_error();
}

std::error_code stat_path(const std::string& path, bool* directory) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return last_error();
  *directory = S_ISDIR(status.st_mode);
  return no_error();
}

std::error_code link_count(const std::string& path, unsigned long* links) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return last_error();
  *links = static_cast<unsigned long>(status.st_nlink);
  return no_error();
}

int run_shell(const std::string& command) { return core::run_shell(command, nullptr); }

std::error_code read_link(const std::string& path, std::string* target) {
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t n = ::readlink(path.c_str(), &buffer[0], buffer.size());
    if (n < 0) return last_error();
    if (static_cast<std::size_t>(n) < buffer.size()) {
      target->assign(buffer.data(), static_cast<std::size_t>(n));
      return no_error();
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::error_code list_xattr_names(const std::string& path, std::vector<std::string>* names) {
  std::string buffer(1024, '\0');
  for (;;) {
    ssize_t n = ::llistxattr(path.c_str(), &buffer[0], buffer.size());
    if (n >= 0) {
      for (std::size_t at = 0; at < static_cast<std::size_t>(n);) {
        std::size_t end = buffer.find('\0', at);
        if (end == std::string::npos || end > static_cast<std::size_t>(n)) end = n;
        names->push_back(buffer.substr(at, end - at));
        at = end + 1;
      }
      return no_error();
    }
    if (errno != ERANGE) return last_error();
    ssize_t needed = ::llistxattr(path.c_str(), nullptr, 0);
    if (needed < 0) return last_error();
    buffer.assign(static_cast<std::size_t>(needed) + 1, '\0');
  }
}

int run_shell_output(const std::string& command, std::string* output) {
  return core::run_shell(command, output);
}

std::string wait_status_text(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "wait status " + std::to_string(status);
}

std::error_code read_whole_file(const std::string& path, std::string* text) {
  unique_stdio in(std::fopen(path.c_str(), "rbe"));
  if (!in) return last_error();
  char buffer[65536];
  std::size_t n;
  errno = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, in.get())) > 0) text->append(buffer, n);
  if (std::ferror(in.get())) return last_error();
  return no_error();
}

std::error_code file_size(const std::string& path, std::uint64_t* size) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return last_error();
  *size = static_cast<std::uint64_t>(status.st_size);
  return no_error();
}

std::error_code replace_file(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  file out;
  std::error_code ec = file::create_for_write(temporary, &out);
  if (ec) return ec;
  ec = out.write_all(text.data(), text.size());
  std::error_code closed = out.close();
  if (!ec) ec = closed;
  if (!ec) ec = rename_file(temporary, path);
  if (ec) remove_file(temporary);  // only tidies up; the error is the write's
  return ec;
}

std::error_code read_file_tail(const std::string& path, std::size_t max_bytes,
                               std::string* text, bool* whole) {
  errno = 0;
  unique_fd owned(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!owned) return last_error();
  const int fd = owned.get();
  std::error_code ec;
  struct stat status;
  if (::fstat(fd, &status) != 0) {
    ec = last_error();
  } else {
    const std::size_t size = static_cast<std::size_t>(status.st_size);
    const std::size_t start = size > max_bytes ? size - max_bytes : 0;
    text->assign(size - start, '\0');
    std::size_t done = 0;
    while (done < text->size()) {
      ssize_t n = ::pread(fd, &(*text)[done], text->size() - done,
                          static_cast<off_t>(start + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        ec = last_error();
        break;
      }
      if (n == 0) break;  // the file shrank meanwhile
      done += static_cast<std::size_t>(n);
    }
    text->resize(done);
    *whole = start == 0;
  }
  return ec;
}

namespace {

bool same_address(const struct sockaddr* a, const struct sockaddr* b) {
  if (a == nullptr || b == nullptr || a->sa_family != b->sa_family) return false;
  if (a->sa_family == AF_INET) {
    return reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr ==
           reinterpret_cast<const sockaddr_in*>(b)->sin_addr.s_addr;
  }
  if (a->sa_family == AF_INET6) {
    return IN6_ARE_ADDR_EQUAL(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr,
                              &reinterpret_cast<const sockaddr_in6*>(b)->sin6_addr);
  }
  return false;
}

bool is_loopback(const struct sockaddr* a) {
  if (a->sa_family == AF_INET) {
    return (ntohl(reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr) >> 24) == 127;
  }
  if (a->sa_family == AF_INET6) {
    return IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr);
  }
  return false;
}

}  // namespace

bool is_local_host(const std::string& host) {
  if (host.empty()) return false;
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) == 0 && host == name) return true;
  struct addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return false;
  struct ifaddrs* interfaces = nullptr;
  if (::getifaddrs(&interfaces) != 0) interfaces = nullptr;
  bool local = false;
  for (struct addrinfo* a = found; a != nullptr && !local; a = a->ai_next) {
    if (is_loopback(a->ai_addr)) local = true;
    for (struct ifaddrs* i = interfaces; i != nullptr && !local; i = i->ifa_next) {
      local = same_address(a->ai_addr, i->ifa_addr);
    }
  }
  if (interfaces != nullptr) ::freeifaddrs(interfaces);
  ::freeaddrinfo(found);
  return local;
}

std::error_code fd_traits::close(int fd) {
  errno = 0;
  if (::close(fd) != 0) return last_error();
  return no_error();
}

std::error_code stdio_traits::close(std::FILE* stream) {
  errno = 0;
  if (::fclose(stream) != 0) return last_error();
  return no_error();
}

std::error_code file::open_with(const std::string& path, int flags, file* out) {
  return open(path, flags, 0666, out);
}

std::error_code file::create_for_write(const std::string& path, file* out) {
  return open_with(path, O_WRONLY | O_CREAT | O_TRUNC, out);
}

std::error_code file::open(const std::string& path, int flags, unsigned mode, file* out) {
  errno = 0;
  int fd = ::open(path.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0) return last_error();
  *out = file(fd);
  return no_error();
}

std::error_code file::pwrite(const void* data, std::size_t size, std::int64_t offset,
                             std::size_t* written) {
  if (offset < 0) return error_from(EINVAL);
  ssize_t n;
  do {
    errno = 0;
    n = ::pwrite(fd_.get(), data, size, offset);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return last_error();
  *written = static_cast<std::size_t>(n);
  return no_error();
}

std::error_code file::pread(void* data, std::size_t size, std::int64_t offset, std::size_t* got) {
  if (offset < 0) return error_from(EINVAL);
  ssize_t n;
  do {
    errno = 0;
    n = ::pread(fd_.get(), data, size, offset);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return last_error();
  *got = static_cast<std::size_t>(n);
  return no_error();
}

std::error_code file::truncate(std::int64_t size) {
  errno = 0;
  if (::ftruncate(fd_.get(), static_cast<off_t>(size)) != 0) return last_error();
  return no_error();
}

std::error_code file::sync() {
  errno = 0;
  if (::fsync(fd_.get()) != 0) return last_error();
  return no_error();
}

std::error_code lstat_regular(const std::string& path, bool* regular) {
  struct stat status;
  errno = 0;
  if (::lstat(path.c_str(), &status) != 0) return last_error();
  *regular = S_ISREG(status.st_mode);
  return no_error();
}

std::error_code sync_directory(const std::string& path) {
  file dir;
  if (std::error_code ec = file::open(path, O_RDONLY | O_DIRECTORY, 0, &dir)) return ec;
  if (std::error_code ec = dir.sync()) return ec;
  return dir.close();
}

std::error_code file::size(std::int64_t* out) const {
  struct stat status;
  if (::fstat(fd_.get(), &status) != 0) return last_error();
  *out = status.st_size;
  return no_error();
}

std::error_code file::open_for_append(const std::string& path, file* out) {
  return open_with(path, O_WRONLY | O_APPEND, out);
}

std::error_code file::open_log(const std::string& path, file* out) {
  return open(path, O_WRONLY | O_CREAT | O_APPEND, 0644, out);
}

void consolidate_free_memory() { ::malloc_trim(0); }

void write_standard_error(const std::string& text) {
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

std::error_code file::write_all(const char* data, std::size_t size) {
  while (size > 0) {
    errno = 0;
    ssize_t n = ::write(fd_.get(), data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return last_error();
    }
    // A zero-byte write would loop for ever; report it as a device fault.
    if (n == 0) return error_from(EIO);
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return no_error();
}

std::error_code file::close() {
  if (!fd_) return error_from(EBADF);
  return fd_.close();
}

line_reader::~line_reader() { ::free(buffer_); }

std::error_code line_reader::open(const std::string& path) {
  close();
  // "e": O_CLOEXEC, since the library runs shell commands.
  file_.reset(::fopen(path.c_str(), "re"));
  if (!file_) return last_error();
  return no_error();
}

std::error_code line_reader::seek(std::int64_t offset) {
  if (!file_) return error_from(EBADF);
  errno = 0;
  if (::fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return last_error();
  return no_error();
}

void line_reader::close() {
  file_.reset();
  error_ = std::error_code();
}

bool line_reader::next(std::string* line) {
  if (!file_) return false;
  errno = 0;
  ssize_t n = ::getline(&buffer_, &capacity_, file_.get());
  if (n < 0) {
    if (::ferror(file_.get())) error_ = last_error();
    return false;
  }
  if (n > 0 && buffer_[n - 1] == '\n') --n;
  line->assign(buffer_, static_cast<std::size_t>(n));
  return true;
}

std::error_code file_writer::create(const std::string& path) {
  path_.clear();
  file_.reset(::fopen(path.c_str(), "we"));
  if (!file_) return last_error();
  path_ = path;
  return no_error();
}

std::error_code file_writer::write_line(const std::string& line) {
  if (::fwrite(line.data(), 1, line.size(), file_.get()) != line.size() ||
      ::fputc('\n', file_.get()) == EOF) {
    return last_error();
  }
  return no_error();
}

std::error_code file_writer::close() {
  if (!file_) return no_error();
  errno = 0;
  if (::fflush(file_.get()) != 0) {
    std::error_code ec = last_error();
    file_.reset();
    return ec;
  }
  return file_.close();
}

std::error_code file_writer::abandon(std::error_code ec) {
  close();
  if (!path_.empty()) remove_file(path_);
  path_.clear();
  return ec;
}

}  // namespace os
}  // namespace tarn
