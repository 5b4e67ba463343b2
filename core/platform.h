// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The platform layer: every local POSIX call of the scanner and of the core
// library goes through here. Each wrapper reads errno right after the failing
// call and returns it as a generic error code (last_error()); nothing else
// in scanner/ includes <unistd.h>, <dirent.h>, <fcntl.h> or <sys/xattr.h>.
// Exported from libtarncore for libtarnscanner; not part of the public API.
#ifndef TARN_CORE_PLATFORM_H_
#define TARN_CORE_PLATFORM_H_

#include <stdio.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <system_error>
#include <vector>

#include "core/tarn_export.h"
#include "core/unique_handle.h"

namespace tarn {
namespace os {

// `e` as a generic error code.
inline std::error_code error_from(int e) {
  return std::error_code(e, std::generic_category());
}

// The success value of every call: 0 in the generic category, so that it
// compares equal to tarn::success (a default std::error_code is in the
// system category and does not).
inline std::error_code no_error() { return std::error_code(0, std::generic_category()); }

// `ec` when it is a failure, else no_error().
inline std::error_code as_result(const std::error_code& ec) { return ec ? ec : no_error(); }

// The errno a call just left, as a generic error code. A call that failed
// but left errno at 0 still reads as a failure: EIO.
TARN_EXPORT std::error_code last_error();

// open(2) flags for the volume calls of tarn_api, which take Linux's bits.
TARN_EXPORT extern const int kOpenCreateExclusive;  // O_CREAT | O_EXCL
TARN_EXPORT extern const int kOpenCreateForWrite;   // O_CREAT | O_WRONLY
TARN_EXPORT extern const int kOpenForWrite;         // O_WRONLY: an existing file only
TARN_EXPORT extern const int kOpenCreateOrTruncate;  // O_CREAT | O_WRONLY | O_TRUNC

TARN_EXPORT std::error_code rename_file(const std::string& from, const std::string& to);
TARN_EXPORT std::error_code remove_file(const std::string& path);
TARN_EXPORT std::error_code remove_directory(const std::string& path);
TARN_EXPORT std::error_code make_directory(const std::string& path, unsigned mode);
// Makes a new directory named `prefix` followed by six random characters
// (mode 0700) and puts its path in `*path`.
TARN_EXPORT std::error_code make_unique_directory(const std::string& prefix, std::string* path);

// Appends every name of the directory, "." and ".." included, in the order
// the directory stream gives them. On error `names` may hold a part.
TARN_EXPORT std::error_code list_directory(const std::string& path, std::list<std::string>* names);

// Reads the extended attribute `name` of `path` (following symbolic links)
// into `value`, at most `size` bytes; `*length` receives the attribute's size.
TARN_EXPORT std::error_code get_xattr(const std::string& path, const char* name, void* value,
                          std::size_t size, ssize_t* length);

// Reads the whole value of the extended attribute `name` of `path`
// (following symbolic links) into `value`, however long it is.
TARN_EXPORT std::error_code get_xattr_value(const std::string& path, const char* name, std::string* value);

// Reads the whole value of the extended attribute `name` of `path` itself,
// not following a symbolic link.
TARN_EXPORT std::error_code get_link_xattr_value(const std::string& path, const char* name,
                                                 std::string* value);

// The target of the symbolic link `path`; EINVAL when `path` is no link.
TARN_EXPORT std::error_code read_link(const std::string& path, std::string* target);

// The names of the extended attributes of `path` itself (not following a
// symbolic link).
TARN_EXPORT std::error_code list_xattr_names(const std::string& path,
                                             std::vector<std::string>* names);

// Whether `path` exists (following symbolic links): success, with
// `*directory` telling a directory, or the errno of a failed stat(2).
TARN_EXPORT std::error_code stat_path(const std::string& path, bool* directory);
// Whether `path` itself exists (not following a last symbolic link): success,
// or the errno of a failed lstat(2).
TARN_EXPORT std::error_code lstat_path(const std::string& path);
// Whether `path` itself (not following a last symbolic link) is a regular
// file: success with `*regular`, or the errno of a failed lstat(2).
TARN_EXPORT std::error_code lstat_regular(const std::string& path, bool* regular);
// Flushes the directory `path`'s entries to its device (fsync of the
// directory): the names made or removed in it last.
TARN_EXPORT std::error_code sync_directory(const std::string& path);
// The number of hard links of `path` (following symbolic links), or the
// errno of a failed stat(2).
TARN_EXPORT std::error_code link_count(const std::string& path, unsigned long* links);
// The absolute path of `path` with every symbolic link resolved (realpath(3)).
TARN_EXPORT std::error_code real_path(const std::string& path, std::string* out);

// The absolute path that `path` names, symbolic links resolved: realpath(3)
// of its longest existing head, the missing tail appended as it is. EINVAL
// when a missing component is "." or "..", which could not be resolved.
TARN_EXPORT std::error_code resolve_path(const std::string& path, std::string* absolute);
// Removes `path` and, when it is a directory, everything below it. A missing
// path is no error.
TARN_EXPORT std::error_code remove_tree(const std::string& path);
// Copies the regular file `from` to the new file `to` (mode 0600) and flushes
// it to disk; a copy that fails part-way is removed again. EEXIST when `to`
// exists, EISDIR when `from` is not a regular file.
TARN_EXPORT std::error_code copy_file(const std::string& from, const std::string& to);

// This machine's host name (gethostname(2)); "localhost" when it has none.
TARN_EXPORT std::string host_name();
// The start time of process `pid` in clock ticks after boot (field 22 of
// /proc/<pid>/stat): with the pid it names a process uniquely. ESRCH when no
// such process exists.
TARN_EXPORT std::error_code process_start_time(pid_t pid, std::uint64_t* ticks);
// This process's id (getpid(2)).
TARN_EXPORT pid_t process_id();

// Runs `command` with /bin/sh in a process group of its own and returns its
// raw wait status, as system(3) does, or -1 when it could not be run (also
// after core::stop_runs(), core/child_process.h).
TARN_EXPORT int run_shell(const std::string& command);
// The same, with the command's standard output read into `*output`.
TARN_EXPORT int run_shell_output(const std::string& command, std::string* output);
// A raw wait status in words: "exit status 1", "killed by signal 9".
TARN_EXPORT std::string wait_status_text(int status);

// The size of the local file, in bytes (stat(2), following links).
TARN_EXPORT std::error_code file_size(const std::string& path, std::uint64_t* size);
// Writes `text` as the local file `path`, whole or not at all: into
// "<path>.tmp", renamed over `path` once closed (the temporary file is
// removed again when that fails).
TARN_EXPORT std::error_code replace_file(const std::string& path, const std::string& text);
// Reads the whole local file into `*text`.
TARN_EXPORT std::error_code read_whole_file(const std::string& path, std::string* text);
// Reads the last `max_bytes` bytes of the local file (all of it when it is
// shorter, and then sets `*whole`) into `*text`.
TARN_EXPORT std::error_code read_file_tail(const std::string& path, std::size_t max_bytes,
                                           std::string* text, bool* whole);

// True when `host` names this machine: its host name, or a name or address
// that resolves to a loopback address or to an address of one of its
// network interfaces.
TARN_EXPORT bool is_local_host(const std::string& host);

// Writes all of `text` to standard error, going on after short writes and
// EINTR; what cannot be written is lost (there is nowhere to tell).
TARN_EXPORT void write_standard_error(const std::string& text);

// Hands the memory freed so far back to the allocator's free lists as whole
// blocks, and what lies free at their end back to the system
// (malloc_trim(3)): after many small blocks have been freed, later ones are
// then carved in order from whole memory instead of scattered over the old
// ones. Costs a pass over the free lists; never fails.
TARN_EXPORT void consolidate_free_memory();

// An open file descriptor, closed when the object goes. Move-only. Files are
// opened with O_CLOEXEC, so the shells the library runs inherit none.
class TARN_EXPORT file {
 public:
  file() = default;

  // Opens for writing, created (mode 0666 less the umask) or truncated.
  static std::error_code create_for_write(const std::string& path, file* out);
  // Opens an existing file for writing at its end.
  static std::error_code open_for_append(const std::string& path, file* out);
  // Opens a log for writing at its end, created (mode 0644 less the umask)
  // when missing.
  static std::error_code open_log(const std::string& path, file* out);
  // open(2) with `flags` (O_CLOEXEC added) and `mode` for a new file.
  static std::error_code open(const std::string& path, int flags, unsigned mode, file* out);

  // Writes `size` bytes at `offset`; `*written` receives the count (short
  // only at the end of the device). Goes on after EINTR.
  std::error_code pwrite(const void* data, std::size_t size, std::int64_t offset,
                         std::size_t* written);
  // Reads up to `size` bytes at `offset`; `*got` receives the count (0 at
  // the end of the file). Goes on after EINTR.
  std::error_code pread(void* data, std::size_t size, std::int64_t offset, std::size_t* got);
  // The file's size in bytes (fstat).
  std::error_code size(std::int64_t* out) const;
  // Sets the file's size (ftruncate).
  std::error_code truncate(std::int64_t size);
  // Flushes the file's data and metadata to its device (fsync).
  std::error_code sync();

  // Writes all of `data`, going on after short writes.
  std::error_code write_all(const char* data, std::size_t size);
  // Closes the descriptor; a written file may report a delayed write error
  // here. The object is closed afterwards whatever the result.
  std::error_code close();

 private:
  explicit file(int fd) : fd_(fd) {}
  static std::error_code open_with(const std::string& path, int flags, file* out);

  unique_fd fd_;
};

// A text file read line by line. Closed when the object goes.
class TARN_EXPORT line_reader {
 public:
  line_reader() = default;
  ~line_reader();
  line_reader(const line_reader&) = delete;
  line_reader& operator=(const line_reader&) = delete;

  std::error_code open(const std::string& path);
  // Moves to byte `offset` of the open file (the start of a line, for the
  // next line to be the one that begins there).
  std::error_code seek(std::int64_t offset);
  // Closes the file, if one is open, and forgets its error; open() may
  // follow.
  void close();
  // Reads the next line into `line`, without its "\n"; a last line without
  // "\n" counts too. False at the end of the file and on a read error;
  // error() tells the two apart.
  bool next(std::string* line);
  std::error_code error() const { return error_; }

 private:
  unique_stdio file_;
  char* buffer_ = nullptr;
  std::size_t capacity_ = 0;
  std::error_code error_;
};

// A file written through a buffer, created or truncated by create(). A
// failed write may show only at a later write or at close(), which flushes
// and closes and must succeed before the file may be given its final name.
// The destructor closes without reporting.
class TARN_EXPORT file_writer {
 public:
  file_writer() = default;
  file_writer(const file_writer&) = delete;
  file_writer& operator=(const file_writer&) = delete;

  std::error_code create(const std::string& path);
  bool is_open() const { return static_cast<bool>(file_); }
  // Writes `line` and "\n".
  std::error_code write_line(const std::string& line);
  std::error_code close();
  // Gives up the file last created: closes it, if still open, without
  // reporting, and removes it, so that nothing incomplete stays behind to be
  // taken for a result. Returns `ec`, the reason.
  std::error_code abandon(std::error_code ec);

 private:
  unique_stdio file_;
  std::string path_;  // of the file last created
};

}  // namespace os
}  // namespace tarn

#endif  // TARN_CORE_PLATFORM_H_
