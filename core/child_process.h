// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Helper programs of the core library and the channel, one end of a Unix
// socket pair, over which a helper and its parent talk.
#ifndef TARN_CORE_CHILD_PROCESS_H_
#define TARN_CORE_CHILD_PROCESS_H_

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <system_error>
#include <vector>

#include "core/tarn_export.h"
#include "core/unique_handle.h"

namespace tarn {
namespace core {

using steady_time = std::chrono::steady_clock::time_point;

// One end of a channel. Owns its descriptor; move-only.
class channel {
 public:
  channel() = default;
  explicit channel(int fd) : fd_(fd) {}
  channel(channel&& other) noexcept = default;
  channel& operator=(channel&& other) noexcept;
  channel(const channel&) = delete;
  channel& operator=(const channel&) = delete;

  // Sends all of `data`. EPIPE when the other end is closed; never raises
  // SIGPIPE.
  std::error_code send(const std::string& data);
  // Reads one line, without its "\n", waiting at most until `deadline` (for
  // ever when null). *line is empty at end of input (the other end closed,
  // or the input ended without a line end). ETIMEDOUT when no whole line came
  // in time; what came of it stays for the next call.
  std::error_code receive_line(const steady_time* deadline, std::string* line);
  // Closes this end: the other end reads end of input.
  void close();
  bool is_open() const { return static_cast<bool>(fd_); }

 private:
  os::unique_fd fd_;
  std::string pending_;  // received bytes not yet returned as a line
};

// A helper program started by this process. Move-only; destroying the object
// closes the channel but neither waits for nor reaps the child: whoever owns
// it calls wait_for_exit() or reap_if_exited(), or hands the pid on.
class child_process {
 public:
  child_process() = default;
  child_process(child_process&&) = default;
  child_process& operator=(child_process&&) = default;

  // Starts the program `argv[0]` with the arguments `argv` and this process's
  // environment. Its standard input is its end of a new channel; standard
  // output and error are /dev/null; it inherits no other descriptor and
  // starts with no signal blocked. ENOENT, EACCES and the like when the
  // program cannot be run. *out is set on success only.
  static std::error_code start(const std::vector<std::string>& argv, child_process* out);

  pid_t pid() const { return pid_; }
  channel& link() { return channel_; }

 private:
  pid_t pid_ = -1;
  channel channel_;
};

// True when `path` names a file this process may execute.
bool is_executable(const std::string& path);
// The directory of the program or shared library that holds the code at
// `address`; empty when it cannot be told.
std::string directory_of_code(const void* address);

// Runs `command` with /bin/sh -c in a process group of its own, with no
// signal blocked and the stop signals at their defaults, and waits for it.
// With `output`, the command's standard output is read into it. Returns the
// raw wait status, as system(3) does, or -1 with errno set when it could not
// be started (ECANCELED: runs are stopped, see stop_runs()) or waited for.
TARN_EXPORT int run_shell(const std::string& command, std::string* output);

// Ends every shell that run_shell is running, in this process: SIGTERM to
// each one's process group, SIGKILL to those still there after `grace`.
// Returns when that is done; run_shell calls from then on fail at once (-1),
// until resume_runs(). Callable from any thread, not from a signal handler.
TARN_EXPORT void stop_runs(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));
// Lets run_shell run commands again after stop_runs().
TARN_EXPORT void resume_runs();

// Reaps child `pid` when it has ended, without waiting. True when it is gone:
// reaped now, or not (any longer) a child of this process.
bool reap_if_exited(pid_t pid);
// Waits for child `pid` to end and reaps it.
void wait_for_exit(pid_t pid);

}  // namespace core
}  // namespace tarn

#endif  // TARN_CORE_CHILD_PROCESS_H_
