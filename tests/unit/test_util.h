// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Helpers shared by the unit tests: temporary directories, environment
// overrides, the fake glusterfind, log capture and a window on members.
#ifndef TARN_TESTS_UNIT_TEST_UTIL_H_
#define TARN_TESTS_UNIT_TEST_UTIL_H_

#include <map>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "scanner/run/local_files.h"
#include "scanner/run/run_env.h"
#include "scanner/scanner.h"

#define ASSERT_NO_ERROR(expr)                                                   \
  do {                                                                          \
    std::error_code ec_ = (expr);                                               \
    ASSERT_FALSE(ec_) << #expr << ": " << ec_.value() << " " << ec_.message();  \
  } while (0)

#define EXPECT_NO_ERROR(expr)                                                   \
  do {                                                                          \
    std::error_code ec_ = (expr);                                               \
    EXPECT_FALSE(ec_) << #expr << ": " << ec_.value() << " " << ec_.message();  \
  } while (0)

namespace tarn {
namespace testing_util {

// A directory removed with everything in it when the object goes. Never
// changes the process's working directory.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  const std::string& path() const { return path_; }
  std::string path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets (or, with unset(), removes) an environment variable for the object's
// life; restores the old value afterwards.
class scoped_env {
 public:
  scoped_env(const char* name, const std::string& value);
  explicit scoped_env(const char* name);  // unsets
  ~scoped_env();
  scoped_env(const scoped_env&) = delete;
  scoped_env& operator=(const scoped_env&) = delete;

 private:
  std::string name_;
  bool had_;
  std::string old_;
};

// The fake glusterfind and gluster (tests/fakes), with their own state
// directory. The runs of this thread have their command lines answered in
// process (fake_tool_env) unless `through_shell`; other threads, and other
// programs, find the scripts first on PATH. Tests of what the shell makes of
// a line take the scripts.
class fake_glusterfind {
 public:
  enum class mode { in_process, through_shell };
  explicit fake_glusterfind(mode how = mode::in_process);
  ~fake_glusterfind();
  const std::string& dir() const { return state_.path(); }
  void set_changelist(const std::string& text);
  void set_status(int status);                           // every call
  void set_status(const std::string& sub, int status);   // one subcommand
  void clear_status(const std::string& sub);
  void add_session(const std::string& session, const std::string& volume);
  // What the fake `gluster volume info` prints (it fails until this is set).
  void set_volume_info(const std::string& text);
  std::vector<std::string> calls() const;                // one line per call
  std::vector<std::vector<std::string>> argv() const;    // arguments per call

 private:
  temp_dir state_;
  scoped_env path_;
  scoped_env dir_env_;
  std::unique_ptr<scanner::run_env> env_;
  std::unique_ptr<scanner::scoped_run_env> in_force_;
};

// Sends the library's log to a temporary file for the object's life.
class log_capture {
 public:
  log_capture();
  std::string text() const;
  bool contains(const std::string& needle) const {
    return text().find(needle) != std::string::npos;
  }

 private:
  temp_dir dir_;
  scoped_env env_;
};

// A small tmpfs mounted on a temporary directory for the object's life, to
// fill a disk. mounted() is false where mounting is not allowed.
class small_tmpfs {
 public:
  explicit small_tmpfs(const std::string& size);  // "64k"
  ~small_tmpfs();
  small_tmpfs(const small_tmpfs&) = delete;
  small_tmpfs& operator=(const small_tmpfs&) = delete;
  bool mounted() const { return mounted_; }
  const std::string& path() const { return dir_.path(); }
  // Gives the mounted file system a new size; false when that fails.
  bool resize(const std::string& size);

 private:
  temp_dir dir_;
  bool mounted_;
};

// Sets the "trusted.gfid" attribute of `path` to the identifier with the text
// form `uuid_text`. False where that is not allowed (not root, or a file
// system without trusted attributes).
bool set_gfid(const std::string& path, const std::string& uuid_text);

// `count` lines "<prefix><i>\n", i from 0.
std::string numbered_lines(const std::string& prefix, int count);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
bool exists(const std::string& path);
std::vector<std::string> read_lines(const std::string& path);
// Names in a directory, without "." and "..", sorted.
std::vector<std::string> list_dir(const std::string& path);
// Every file below `root`, as sorted paths relative to it.
std::vector<std::string> list_tree(const std::string& root);
// The newest epoch in the change-log index of any of the bricks: the time of
// the last journal one of them rolled over and listed.
long newest_indexed_journal(const std::vector<std::string>& bricks);

// The local file system, with the attribute reads a test plays: `gfid`
// answers "trusted.gfid" and "glusterfs.gfid" (16 bytes, zeroed first),
// `owner` answers "glusterfs.ancestry.path", `links` the link count; a null
// function reads the real one.
class attribute_files : public scanner::forwarding_local_files {
 public:
  using gfid_function = std::error_code (*)(const std::string& path, const char* name,
                                            unsigned char* value);
  using owner_function = std::error_code (*)(const std::string& path, const char* name,
                                             std::string* value);

  using links_function = std::error_code (*)(const std::string& path, unsigned long* links);

  attribute_files() : forwarding_local_files(scanner::posix_local_files()) {}
  std::error_code read_xattr(const std::string& path, const char* name,
                             std::string* value) override;
  std::error_code link_count(const std::string& path, unsigned long* count) override {
    return links != nullptr ? links(path, count) : forwarding_local_files::link_count(path, count);
  }

  gfid_function gfid = nullptr;
  owner_function owner = nullptr;
  links_function links = nullptr;  // the link count of a path
};

// An attribute_files that is this thread's local side while it lives.
class attribute_side : public attribute_files {
 public:
  attribute_side() : in_force_(*this) {}

 private:
  scanner::scoped_local_side in_force_;
};

}  // namespace testing_util
}  // namespace tarn

#endif  // TARN_TESTS_UNIT_TEST_UTIL_H_
