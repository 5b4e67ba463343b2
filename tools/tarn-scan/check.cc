// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The checks of tarn-scan check. Every command run here only reads.
#include "tools/tarn-scan/check.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "core/platform.h"
#include "core/settings.h"
#include "scanner/glusterfind/shell_quote.h"
#include "scanner/guards/lock_record.h"
#include "scanner/guards/mount_check.h"
#include "scanner/guards/output_dir.h"

namespace fs = std::filesystem;

namespace tarn_scan {
namespace {

using tarn::scanner::shell_quote;

bool local_volume() { return !tarn::settings::local_volume_root().empty(); }

// Runs `command` (its standard error dropped); its exit status, -1 when it
// did not exit.
int run(const std::string& command, std::string* output) {
  output->clear();
  int status = tarn::os::run_shell_output(command + " 2>/dev/null", output);
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string first_line(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

check_line line(verdict level, const std::string& what, const std::string& text) {
  return check_line{level, what, text};
}

check_line check_glusterfind(std::string* path) {
  std::string out;
  if (run("command -v glusterfind", &out) != 0 || first_line(out).empty()) {
    return line(verdict::fail, "glusterfind",
                "not found on PATH: install glusterfs-server (it holds glusterfind)");
  }
  *path = first_line(out);
  // glusterfind has no version option of its own: it comes with GlusterFS.
  std::string version;
  if (run("gluster --version", &version) != 0 || first_line(version).empty()) {
    return line(verdict::warn, "glusterfind", *path + ", but 'gluster --version' gives no version");
  }
  return line(verdict::ok, "glusterfind", *path + " (" + first_line(version) + ")");
}

// The interpreter glusterfind runs with, from its first line when it is a
// Python script ("#!/usr/bin/python3", "#!/usr/bin/env python3"); else
// Debian's.
std::string python_of(const std::string& glusterfind) {
  std::string text;
  if (!glusterfind.empty() && !tarn::os::read_whole_file(glusterfind, &text)) {
    const std::string first = first_line(text);
    if (first.rfind("#!", 0) == 0 && first.find("python") != std::string::npos) {
      std::istringstream words(first.substr(2));
      std::string interpreter;
      words >> interpreter;
      if (interpreter.size() >= 4 && interpreter.compare(interpreter.size() - 4, 4, "/env") == 0) {
        words >> interpreter;
      }
      if (!interpreter.empty()) return interpreter;
    }
  }
  return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

check_line check_pyxattr(const std::string& glusterfind) {
  const std::string python = python_of(glusterfind);
  // python3-xattr has a module of the same name without list(): the wrong one.
  std::string out;
  int status = run(shell_quote(python) +
                       " -c 'import sys\ntry:\n import xattr\nexcept ImportError:\n sys.exit(3)\n"
                       "sys.exit(0 if hasattr(xattr, \"list\") else 4)'",
                   &out);
  if (status == 0) return line(verdict::ok, "python3-pyxattr", "the module xattr of " + python);
  if (status == 3) {
    return line(verdict::fail, "python3-pyxattr",
                python +
                    " has no module xattr: install python3-pyxattr, or an incremental "
                    "glusterfind pre fails");
  }
  if (status == 4) {
    return line(verdict::fail, "python3-pyxattr",
                "the module xattr of " + python +
                    " is python3-xattr's, whose API glusterfind cannot use: install "
                    "python3-pyxattr instead");
  }
  return line(verdict::fail, "python3-pyxattr", python + " cannot be run");
}

check_line check_key_directory() {
  const std::string keys = glusterfind_state_dir() + "/.keys";
  bool directory = false;
  if (tarn::os::stat_path(keys, &directory) || !directory) {
    return line(verdict::fail, "key directory",
                keys + " is missing: 'glusterfind create' fails without it (mkdir -p it)");
  }
  return line(verdict::ok, "key directory", keys);
}

check_line check_volume(const options& o) {
  if (local_volume()) {
    bool directory = false;
    const std::string top = volume_top(o);
    if (tarn::os::stat_path(top, &directory) || !directory) {
      return line(verdict::fail, "volume", "local-directory volume " + top + " is missing");
    }
    return line(verdict::ok, "volume", "local-directory volume " + top);
  }
  std::string info;
  if (run("gluster --mode=script volume info " + shell_quote(o.volume), &info) != 0) {
    return line(verdict::fail, "volume",
                "'gluster volume info " + o.volume +
                    "' fails: no such volume, or glusterd "
                    "does not answer");
  }
  std::istringstream in(info);
  for (std::string l; std::getline(in, l);) {
    if (l.rfind("Status:", 0) == 0) {
      std::string status = l.substr(7);
      status.erase(0, status.find_first_not_of(' '));
      if (status != "Started") {
        return line(verdict::fail, "volume", "volume " + o.volume + " is " + status);
      }
    }
  }
  return line(verdict::ok, "volume", "volume " + o.volume + " answers and is started");
}

void check_mount(const options& o, std::vector<check_line>* lines) {
  std::string found;
  std::error_code ec = tarn::scanner::check_mount(o.mount, o.volume, &found);
  if (ec) {
    lines->push_back(line(verdict::fail, "mount",
                          ec.value() == EINVAL
                              ? o.mount + " is no mount of volume " + o.volume + ": " + found
                              : "the mount table cannot be read: " + ec.message()));
    return;
  }
  if (local_volume()) {
    lines->push_back(line(verdict::ok, "mount", o.mount + " is a directory"));
    return;
  }
  lines->push_back(line(verdict::ok, "mount", o.mount + " is the FUSE mount of " + o.volume));
  bool directory = false;
  if (tarn::os::stat_path(o.mount + "/.gfid", &directory) || !directory) {
    lines->push_back(line(verdict::warn, ".gfid",
                          o.mount + " is mounted without -o aux-gfid-mount: changed pieces of "
                                    "files that did not change size cannot be attributed"));
  } else {
    lines->push_back(line(verdict::ok, ".gfid", o.mount + "/.gfid answers"));
  }
}

void check_volume_options(const options& o, std::vector<check_line>* lines) {
  struct wanted {
    const char* option;
    const char* why;  // what goes wrong when it is off
  };
  const wanted switches[] = {
      {"storage.build-pgfid", "glusterfind cannot name the paths of changed files"},
      {"changelog.changelog", "an incremental pass has no change log to read"},
  };
  for (const wanted& w : switches) {
    std::string out;
    std::string value;
    if (run("gluster --mode=script volume get " + shell_quote(o.volume) + " " + w.option, &out) ==
        0) {
      value = volume_option_value(out, w.option);
    }
    if (value.empty()) {
      // A local-directory volume has no options; a GlusterFS one must answer.
      lines->push_back(local_volume() ? line(verdict::ok, w.option, "local-directory volume")
                                      : line(verdict::fail, w.option, "cannot be read"));
    } else if (value == "on") {
      lines->push_back(line(verdict::ok, w.option, "on"));
    } else {
      lines->push_back(
          line(verdict::warn, w.option,
               value + ": " + w.why + " until 'glusterfind create' of a session turns it on"));
    }
  }
  std::string out;
  std::string value;
  if (run("gluster --mode=script volume get " + shell_quote(o.volume) + " changelog.rollover-time",
          &out) == 0) {
    value = volume_option_value(out, "changelog.rollover-time");
  }
  if (value.empty()) {
    lines->push_back(local_volume()
                         ? line(verdict::ok, "changelog.rollover-time", "local-directory volume")
                         : line(verdict::fail, "changelog.rollover-time", "cannot be read"));
    return;
  }
  const long seconds = std::strtol(value.c_str(), nullptr, 10);
  if (seconds < 2) {
    lines->push_back(line(verdict::warn, "changelog.rollover-time",
                          value + " s: below 2 s glusterfind's history fails"));
  } else {
    lines->push_back(line(verdict::ok, "changelog.rollover-time",
                          value + " s: an incremental pass sees changes older than that"));
  }
}

// The nearest existing directory at or above `path`.
std::string existing_ancestor(std::string path) {
  while (!path.empty()) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) return path;
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
  return ".";
}

check_line check_output_dir(const options& o) {
  tarn::scanner::output_dir_state state = tarn::scanner::output_dir_state::missing;
  std::string why;
  if (std::error_code ec = tarn::scanner::inspect_output_dir(o.output_dir, o.mount, &state, &why)) {
    return line(verdict::fail, "output directory", why);
  }
  const std::string where = state == tarn::scanner::output_dir_state::missing
                                ? existing_ancestor(o.output_dir)
                                : o.output_dir;
  if (access(where.c_str(), W_OK | X_OK) != 0) {
    return line(verdict::fail, "output directory",
                o.output_dir + ": " + where + " is not writable (" + strerror(errno) + ")");
  }
  switch (state) {
    case tarn::scanner::output_dir_state::missing:
      return line(verdict::ok, "output directory", o.output_dir + " will be made");
    case tarn::scanner::output_dir_state::empty:
      return line(verdict::ok, "output directory", o.output_dir + " is empty");
    case tarn::scanner::output_dir_state::claimed:
      break;
  }
  return line(verdict::ok, "output directory", o.output_dir + " is a run's own");
}

check_line check_session(const options& o) {
  std::string out;
  if (run("glusterfind list --session " + shell_quote(o.session) + " --volume " +
              shell_quote(o.volume),
          &out) != 0) {
    return line(verdict::warn, "session",
                "'" + o.session + "' does not exist on volume " + o.volume +
                    " (or glusterfind list fails): the first run creates it");
  }
  return line(verdict::ok, "session", "'" + o.session + "' exists on volume " + o.volume);
}

check_line check_lock(const options& o) {
  const std::string name = o.volume + ".lock." + o.session;
  std::string text;
  std::error_code ec = tarn::os::read_whole_file(volume_top(o) + "/" + name, &text);
  if (ec.value() == ENOENT)
    return line(verdict::ok, "lock", "session '" + o.session + "' is not locked");
  if (ec) return line(verdict::fail, "lock", name + " cannot be read: " + ec.message());
  tarn::scanner::lock_holder holder;
  if (!tarn::scanner::parse_lock_record(text, &holder)) {
    return line(verdict::warn, "lock",
                name +
                    " exists and names no holder: if no run of the session is alive, "
                    "'tarn-scan unlock --force' removes it");
  }
  const std::string who = "host=" + holder.host + " pid=" + std::to_string(holder.pid) +
                          " started=" + holder.started + " version=" + holder.version;
  std::string state;
  if (tarn::scanner::holder_is_gone(holder, &state)) {
    return line(verdict::warn, "lock",
                name + " is stale (" + who + "; " + state + "): 'tarn-scan unlock' removes it");
  }
  if (holder.host != tarn::os::host_name()) {
    return line(
        verdict::warn, "lock",
        name + " is held from another host (" + who + "; " + state + "): a scan now is refused");
  }
  return line(verdict::warn, "lock",
              name + " is held by a running scan (" + who + "): a scan now is refused");
}

const char* label(verdict v) {
  switch (v) {
    case verdict::ok:
      return "ok  ";
    case verdict::warn:
      return "warn";
    case verdict::fail:
      break;
  }
  return "fail";
}

}  // namespace

std::string glusterfind_state_dir() {
  return tarn::settings::glusterfind_dir();
}

std::string volume_top(const options& o) {
  if (local_volume()) return tarn::settings::local_volume_root() + "/" + o.volume;
  return o.mount;
}

std::string volume_option_value(const std::string& output, const std::string& option) {
  std::istringstream in(output);
  for (std::string l; std::getline(in, l);) {
    std::istringstream words(l);
    std::string name;
    std::string value;
    if (words >> name >> value && name == option) return value;
  }
  return std::string();
}

std::vector<check_line> run_checks(const options& o) {
  std::vector<check_line> lines;
  std::string glusterfind;
  lines.push_back(check_glusterfind(&glusterfind));
  lines.push_back(check_pyxattr(glusterfind));
  lines.push_back(check_key_directory());
  lines.push_back(check_volume(o));
  check_mount(o, &lines);
  check_volume_options(o, &lines);
  if (!o.output_dir.empty()) lines.push_back(check_output_dir(o));
  if (!o.session.empty()) {
    lines.push_back(check_session(o));
    lines.push_back(check_lock(o));
  }
  return lines;
}

std::string format_checks(const std::vector<check_line>& lines) {
  std::string out;
  for (const check_line& l : lines)
    out += std::string(label(l.level)) + " " + l.what + ": " + l.text + "\n";
  return out;
}

int checks_exit_status(const std::vector<check_line>& lines) {
  int status = 0;
  for (const check_line& l : lines) {
    if (l.level == verdict::fail) return 1;
    if (l.level == verdict::warn) status = 3;
  }
  return status;
}

int check(const options& o) {
  std::vector<check_line> lines = run_checks(o);
  fputs(format_checks(lines).c_str(), stdout);
  return checks_exit_status(lines);
}

}  // namespace tarn_scan
