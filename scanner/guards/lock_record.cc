// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The lock file's record of its holder.
#include "scanner/guards/lock_record.h"


#include <cerrno>
#include <chrono>
#include <ctime>
#include <sstream>

#include "core/platform.h"
#include "scanner/run/run_env.h"

#ifndef TARN_LIBRARY_VERSION
#define TARN_LIBRARY_VERSION "unknown"
#endif

namespace tarn {
namespace scanner {
namespace {

// The value after `key=` in `line` up to the next blank; false when missing.
bool field(const std::string& line, const std::string& key, std::string* value) {
  std::string::size_type at = line.compare(0, key.size() + 1, key + "=") == 0
                                  ? 0
                                  : line.find(" " + key + "=");
  if (at == std::string::npos) return false;
  at += at == 0 ? key.size() + 1 : key.size() + 2;
  *value = line.substr(at, line.find(' ', at) - at);
  return true;
}

bool number(const std::string& text, std::uint64_t* value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  *value = std::strtoull(text.c_str(), nullptr, 10);
  return errno == 0;
}

std::string who(const lock_holder& h) {
  return "process " + std::to_string(h.pid) + " on host " + h.host + " (session " + h.session +
         ", lock taken " + h.started + ", version " + h.version + ")";
}

}  // namespace

std::string format_lock_record(const lock_holder& h) {
  return "host=" + h.host + " pid=" + std::to_string(h.pid) + " start=" + std::to_string(h.start) +
         " started=" + h.started + " version=" + h.version + " session=" + h.session + "\n";
}

bool parse_lock_record(const std::string& text, lock_holder* h) {
  const std::string line = text.substr(0, text.find('\n'));
  std::string pid, start;
  std::uint64_t value = 0;
  if (!field(line, "host", &h->host) || h->host.empty() || !field(line, "pid", &pid) ||
      !number(pid, &value) || value == 0 || !field(line, "start", &start) ||
      !number(start, &h->start)) {
    return false;
  }
  h->pid = static_cast<pid_t>(value);
  field(line, "started", &h->started);
  field(line, "version", &h->version);
  std::string::size_type at = line.find(" session=");
  h->session = at == std::string::npos ? "" : line.substr(at + 9);
  return true;
}

lock_holder this_process_as_holder(const std::string& session) {
  lock_holder h;
  h.host = os::host_name();
  h.pid = os::process_id();
  os::process_start_time(h.pid, &h.start);
  std::time_t now = std::chrono::system_clock::to_time_t(env_in_force().now());
  struct tm utc;
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  h.started = text;
  h.version = TARN_LIBRARY_VERSION;
  h.session = session;
  for (char& c : h.session) {
    if (c == '\n') c = ' ';
  }
  return h;
}

bool holder_is_gone(const lock_holder& h, std::string* state) {
  if (h.host != os::host_name()) {
    *state = "it is held by " + who(h) + ", which only that host can check";
    return false;
  }
  std::uint64_t start = 0;
  std::error_code ec = os::process_start_time(h.pid, &start);
  if (ec.value() == ESRCH) {
    *state = "its holder, " + who(h) + ", is no longer running";
    return true;
  }
  if (ec) {
    *state = "whether its holder, " + who(h) + ", runs cannot be told: " + ec.message();
    return false;
  }
  if (start != h.start) {
    *state = "its holder, " + who(h) + ", is no longer running (its pid is another process's now)";
    return true;
  }
  *state = "it is held by " + who(h) + ", which is running";
  return false;
}

}  // namespace scanner
}  // namespace tarn
