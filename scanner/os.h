// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Thin wrappers over the local platform calls the scanner makes. Each reads
// errno right after the failing call and returns it as a generic error code.
#ifndef TARN_SCANNER_OS_H_
#define TARN_SCANNER_OS_H_

#include <stdio.h>
#include <sys/types.h>

#include <cstddef>
#include <list>
#include <string>
#include <system_error>

namespace tarn {
namespace os {

inline std::error_code error_from(int e) {
  return std::error_code(e, std::generic_category());
}

std::error_code rename_file(const std::string& from, const std::string& to);
std::error_code remove_file(const std::string& path);
std::error_code remove_directory(const std::string& path);

// Appends every name of the directory, "." and ".." included, in the order
// the directory stream gives them. On error `names` may hold a part.
std::error_code list_directory(const std::string& path, std::list<std::string>* names);

// Reads the extended attribute `name` of `path` (following symbolic links)
// into `value`, at most `size` bytes; `*length` receives the attribute's size.
std::error_code get_xattr(const std::string& path, const char* name, void* value,
                          std::size_t size, ssize_t* length);

// Runs `command` with /bin/sh and returns the raw status of system(3).
int run_shell(const std::string& command);

// Reads a local text file one line at a time; memory use follows the longest
// line, not the file. Closes the file when destroyed. Not copyable.
class line_reader {
 public:
  line_reader() = default;
  ~line_reader();
  line_reader(const line_reader&) = delete;
  line_reader& operator=(const line_reader&) = delete;

  // Opens `path` for reading (close-on-exec). The errno of the failed open.
  std::error_code open(const std::string& path);
  // Reads the next line into `line` without its "\n"; a last line without
  // one is returned the same way. At the end of input `*eof` is set and
  // `line` is left alone. The errno of a failed read (EIO if none is set).
  std::error_code read_line(std::string* line, bool* eof);

 private:
  FILE* file_ = nullptr;
  char* buffer_ = nullptr;
  std::size_t capacity_ = 0;
};

// An open file descriptor, closed when the object goes. Move-only. Files are
// opened with O_CLOEXEC, so the shells the library runs inherit none.
class file {
 public:
  file() = default;
  ~file();
  file(file&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  file& operator=(file&& other) noexcept;
  file(const file&) = delete;
  file& operator=(const file&) = delete;

  // Opens an existing file for reading.
  static std::error_code open_for_read(const std::string& path, file* out);
  // Opens for writing, created (mode 0666 less the umask) or truncated.
  static std::error_code create_for_write(const std::string& path, file* out);

  // Reads up to `size` bytes; `*got` is 0 only at the end of the file.
  std::error_code read(char* buffer, std::size_t size, std::size_t* got);
  // Writes all of `data`, going on after short writes.
  std::error_code write_all(const char* data, std::size_t size);
  // Closes the descriptor; a written file may report a delayed write error
  // here. The object is closed afterwards whatever the result.
  std::error_code close();

 private:
  explicit file(int fd) : fd_(fd) {}
  static std::error_code open_with(const std::string& path, int flags, file* out);

  int fd_ = -1;
};

}  // namespace os
}  // namespace tarn

#endif  // TARN_SCANNER_OS_H_
