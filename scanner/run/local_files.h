// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The run's local side: the working files in the output directory and the
// attributes read through the volume's mount. The steps of a session reach
// them only through this interface, so that tests can fail any call in
// process; posix_local_files() is the real thing, and local_side() the one
// in force on a thread.
#ifndef TARN_SCANNER_RUN_LOCAL_FILES_H_
#define TARN_SCANNER_RUN_LOCAL_FILES_H_

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <system_error>

#include "scanner/run/in_force.h"

namespace tarn {
namespace scanner {

// A file being written, line by line, through a buffer: a failed write may
// show only at a later write or at close(), which must succeed before the
// file may be given its final name. Destroying it closes without reporting.
class line_output {
 public:
  virtual ~line_output() = default;
  // Writes `line` and "\n".
  virtual std::error_code write_line(const std::string& line) = 0;
  // Flushes and closes; called at most once.
  virtual std::error_code close() = 0;
};

// A text file read line by line; closed when destroyed.
class line_input {
 public:
  virtual ~line_input() = default;
  // The next line without its "\n" (a last line without one counts too).
  // False at the end and on a read error; error() tells the two apart.
  virtual bool next(std::string* line) = 0;
  virtual std::error_code error() const = 0;
};

// Every call returns the errno of the failed platform call (generic
// category); outputs are set only on success. Implementations are safe to
// call from several threads at once (the gfid read-ahead does).
class local_files {
 public:
  virtual ~local_files() = default;
  // Creates `path`, or truncates it, for writing.
  virtual std::error_code create(const std::string& path, std::unique_ptr<line_output>* out) = 0;
  virtual std::error_code read_lines(const std::string& path,
                                     std::unique_ptr<line_input>* out) = 0;
  // The lines of `path` from byte `offset` on, which must begin a line.
  virtual std::error_code read_lines_from(const std::string& path, std::uint64_t offset,
                                          std::unique_ptr<line_input>* out) = 0;
  virtual std::error_code rename(const std::string& from, const std::string& to) = 0;
  virtual std::error_code remove(const std::string& path) = 0;
  // Appends the names of `directory`, "." and ".." included.
  virtual std::error_code list(const std::string& directory, std::list<std::string>* names) = 0;
  // The whole value of the extended attribute `name` of `path`, following
  // symbolic links.
  virtual std::error_code read_xattr(const std::string& path, const char* name,
                                     std::string* value) = 0;
  // The number of hard links of `path`, following symbolic links.
  virtual std::error_code link_count(const std::string& path, unsigned long* links) = 0;
  // Told by a step that `path` failed it with `ec` in a way no call above
  // returned: a gfid that could not be read for a reason not of the entry's
  // own, or a file the step reached by other means. The run keeps the first
  // such cause for its report; the local file system itself ignores it.
  virtual void failed(const std::string& path, std::error_code ec) {
    (void)path;
    (void)ec;
  }
};

// The local file system. Lives as long as the process.
local_files& posix_local_files();

// The local side in force on this thread: the one the innermost
// scoped_local_side of the thread put in place, else the local files of the
// run environment in force (run_env.h). A run puts its own in place on its
// thread for its length, and its steps hand what they took from here on to
// the threads they start.
local_files& local_side();

// Puts `files`, which must outlive it, in place as this thread's local side
// until it goes; then the one before is back.
class scoped_local_side : public scoped_in_force<local_files> {
 public:
  explicit scoped_local_side(local_files& files);
};

// Forwards every call to `target`, which must outlive it; tests derive from
// it and override the calls they fail.
class forwarding_local_files : public local_files {
 public:
  explicit forwarding_local_files(local_files& target) : target_(target) {}
  std::error_code create(const std::string& path, std::unique_ptr<line_output>* out) override {
    return target_.create(path, out);
  }
  std::error_code read_lines(const std::string& path, std::unique_ptr<line_input>* out) override {
    return target_.read_lines(path, out);
  }
  std::error_code rename(const std::string& from, const std::string& to) override {
    return target_.rename(from, to);
  }
  std::error_code remove(const std::string& path) override { return target_.remove(path); }
  std::error_code list(const std::string& directory, std::list<std::string>* names) override {
    return target_.list(directory, names);
  }
  std::error_code read_lines_from(const std::string& path, std::uint64_t offset,
                                  std::unique_ptr<line_input>* out) override {
    return target_.read_lines_from(path, offset, out);
  }
  std::error_code read_xattr(const std::string& path, const char* name,
                             std::string* value) override {
    return target_.read_xattr(path, name, value);
  }
  std::error_code link_count(const std::string& path, unsigned long* links) override {
    return target_.link_count(path, links);
  }
  void failed(const std::string& path, std::error_code ec) override { target_.failed(path, ec); }

 private:
  local_files& target_;
};

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_RUN_LOCAL_FILES_H_
