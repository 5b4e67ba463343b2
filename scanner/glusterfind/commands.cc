// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The five glusterfind commands, run through the shell.
#include "core/platform.h"
#include "scanner/glusterfind/changelog_tail.h"
#include "scanner/glusterfind/commands.h"
#include "scanner/glusterfind/shell_quote.h"
#include "scanner/run/run_env.h"
#include "scanner/scanner.h"

namespace tarn {
namespace scanner {
namespace {

// The tool's messages are never read; only its exit status is.
const char kQuiet[] = " > /dev/null 2>&1";

// The raw status of system(3): an exit code of 1 comes back as 256.
int run(const std::string& command) {
  // A NUL byte would cut the line short where the shell sees it; such a
  // value can never reach the tool whole, so nothing is run.
  if (command.find('\0') != std::string::npos) {
    session::logger.error("session::run", "Not run: a NUL byte in the command line");
    return -1;
  }
  const int status = env_in_force().run(command, nullptr);
  if (status == -1) {
    // The logger keeps errno as it found it, for the caller who reports it.
    session::logger.error("session::run", "Could not run %s: %s", command.c_str(),
                          os::last_error().message().c_str());
  }
  return status;
}

}  // namespace

std::string create_session_line(const std::string& session, const std::string& volume) {
  return "glusterfind create " + shell_quote(session) + " " + shell_quote(volume) + kQuiet;
}

std::string session_exists_line(const std::string& session, const std::string& volume) {
  return "glusterfind list --session " + shell_quote(session) + " --volume " + shell_quote(volume) +
         kQuiet;
}

std::string pre_line(const std::string& session, const std::string& volume,
                     const std::string& output_file, bool full) {
  return "glusterfind pre " + shell_quote(session) + " " + shell_quote(volume) + " " +
         shell_quote(output_file) + (full ? " --full" : "") + " --regenerate-outfile --no-encode --disable-partial" +
         kQuiet;
}

std::string post_line(const std::string& session, const std::string& volume) {
  return "glusterfind post " + shell_quote(session) + " " + shell_quote(volume) + kQuiet;
}

std::string without_redirection(const std::string& line) {
  const std::size_t n = sizeof(kQuiet) - 1;
  if (line.size() >= n && line.compare(line.size() - n, n, kQuiet) == 0) {
    return line.substr(0, line.size() - n);
  }
  return line;
}

int session::create_session() { return run(create_session_line(session_name, volume_name)); }

int session::session_exists() { return run(session_exists_line(session_name, volume_name)); }

int session::incremental_scan(std::string output_file) {
  return run(pre_line(session_name, volume_name, output_file, false));
}

int session::full_scan(std::string output_file) {
  return run(pre_line(session_name, volume_name, output_file, true));
}

// Once post has moved the session on, the journals its pass read itself
// are done with (scanner/glusterfind/changelog_tail.h).
int session::post_scan() {
  const int status = run(post_line(session_name, volume_name));
  if (status != 0) return status;
  tail_probe probe;
  probe.volume = volume_name;
  probe.session = session_name;
  probe.state_dir = glusterfind_state_dir();
  if (std::error_code ec = confirm_recovered(probe)) {
    logger.error("session::post_scan", "Failed to record the journals the last pass read as "
                 "done: %s; a later pass may list their changes again", ec.message().c_str());
  }
  return status;
}

}  // namespace scanner
}  // namespace tarn
