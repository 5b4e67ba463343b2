// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// What tarn-scan status reads: lock files, manifests, lists and leftovers.
#include "tools/tarn-scan/status.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "core/platform.h"
#include "scanner/guards/lock_record.h"
#include "scanner/guards/output_dir.h"
#include "tools/tarn-scan/check.h"
#include "tools/tarn-scan/utc_time.h"

namespace fs = std::filesystem;

namespace tarn_scan {
namespace {

constexpr char kRuns[] = ".tarn/working/runs";
constexpr char kLists[] = ".tarn/working/scanner";
constexpr char kSessions[] = ".tarn/working/sessions";

// The names in `dir` that do not begin with "." (those are copies in
// progress and temporary files), sorted; none when it cannot be read.
std::vector<std::string> visible_names(const std::string& dir, bool directories) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code type_ec;
    if (name.empty() || name[0] == '.' || it->is_directory(type_ec) != directories) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool all_digits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A list of `session` for `application`: "<application>-<session>.<N>", or
// "...-<session>-<chunk>.<N>" for a list of a chunk.
bool is_list_of(const std::string& name, const std::string& application,
                const std::string& session) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || !all_digits(name.substr(dot + 1))) return false;
  const std::string base = name.substr(0, dot);
  const std::string whole = application + "-" + session;
  return base == whole || (base.compare(0, whole.size() + 1, whole + "-") == 0 &&
                           all_digits(base.substr(whole.size() + 1)));
}

// The entries of a list: its lines. The N of its name counts only those of
// the run that made it; later runs append to it under the same name.
std::uint64_t count_lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::uint64_t lines = 0;
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    lines += static_cast<std::uint64_t>(std::count(buffer, buffer + in.gcount(), '\n'));
  }
  return lines;
}

void read_lock(const options& o, session_status* s) {
  s->lock_started = 0;
  std::string text;
  if (tarn::os::read_whole_file(volume_top(o) + "/" + o.volume + ".lock." + s->session, &text)) {
    return;
  }
  s->locked = true;
  tarn::scanner::lock_holder holder;
  s->holder_named = tarn::scanner::parse_lock_record(text, &holder);
  if (!s->holder_named) {
    s->holder_state = "the lock file names no holder";
    return;
  }
  s->holder = "host=" + holder.host + " pid=" + std::to_string(holder.pid) +
              " started=" + holder.started + " version=" + holder.version;
  s->holder_gone = tarn::scanner::holder_is_gone(holder, &s->holder_state);
  parse_utc(holder.started, &s->lock_started);
}

void read_manifests(const std::string& top, session_status* s) {
  const std::string dir = top + "/" + kRuns + "/" + s->session;
  std::vector<std::string> names = visible_names(dir, false);
  names.erase(std::remove_if(names.begin(), names.end(),
                             [](const std::string& n) {
                               return n.size() < 5 || n.compare(n.size() - 5, 5, ".json") != 0;
                             }),
              names.end());
  s->manifests = names.size();
  if (names.empty()) return;
  // "<UTC start, YYYYMMDDTHHMMSS.mmmZ>.json"
  parse_utc(names.front().substr(0, names.front().size() - 5), &s->oldest_manifest);
  s->last_manifest = std::string(kRuns) + "/" + s->session + "/" + names.back();
  std::ifstream in(dir + "/" + names.back());
  nlohmann::json m = nlohmann::json::parse(in, nullptr, false);
  if (m.is_discarded() || !m.is_object()) {
    s->last_result = -1;
    return;
  }
  s->last_started = m.value("started", "");
  s->last_finished = m.value("finished", "");
  s->last_scan_type = m.value("scan_type", "");
  s->last_entries = m.value("total_entries", std::uint64_t{0});
  if (m.contains("result") && m["result"].is_object())
    s->last_result = m["result"].value("code", 0);
}

void read_lists(const std::string& top, bool count_entries, session_status* s) {
  const std::string dir = top + "/" + kLists;
  for (const std::string& application : visible_names(dir, true)) {
    waiting_lists w;
    w.application = application;
    for (const std::string& name : visible_names(dir + "/" + application, false)) {
      if (!is_list_of(name, application, s->session)) continue;
      ++w.files;
      const std::string path = dir + "/" + application + "/" + name;
      std::uint64_t size = 0;
      if (!tarn::os::file_size(path, &size)) w.bytes += size;
      if (count_entries) w.entries += count_lines(path);
    }
    if (w.files != 0) s->lists.push_back(w);
  }
}

// The names of the sessions that left a trace: manifests, lock files, leftovers.
std::set<std::string> find_sessions(const options& o) {
  std::set<std::string> found;
  const std::string top = volume_top(o);
  for (const std::string& name : visible_names(top + "/" + kRuns, true)) found.insert(name);
  for (const std::string& name : visible_names(top + "/" + kSessions, false)) {
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0)
      found.insert(name.substr(0, name.size() - 5));
  }
  const std::string prefix = o.volume + ".lock.";
  for (const std::string& name : visible_names(top, false)) {
    if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0) {
      found.insert(name.substr(prefix.size()));
    }
  }
  if (!o.output_dir.empty()) {
    const std::string leftovers = o.output_dir + "/" + tarn::scanner::kLeftoversDirectory;
    for (const std::string& name : visible_names(leftovers, true)) found.insert(name);
  }
  return found;
}

std::string plural(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

double now_seconds() { return unix_seconds(std::chrono::system_clock::now()); }

// "2026-12-09T01:30:04.561Z (5 h 2 min ago; incremental on node1)".
std::string last_success_text(const session_status& s) {
  if (!s.succeeded_once) return "none recorded";
  const last_success& r = s.last_ok;
  double finished = 0;
  std::string age = parse_utc(r.finished, &finished) ? format_age(now_seconds() - finished) + " ago; "
                                                     : "";
  return r.finished + " (" + age + r.scan_type + " on " + r.host +
         (r.exit_status == 0 ? "" : ", exit status " + std::to_string(r.exit_status)) + ")";
}

}  // namespace

std::vector<session_status> collect_status(const options& o, bool count_entries) {
  std::set<std::string> names;
  if (o.session.empty()) {
    names = find_sessions(o);
  } else {
    names.insert(o.session);
  }
  std::vector<session_status> sessions;
  const std::string top = volume_top(o);
  for (const std::string& name : names) {
    session_status s;
    s.session = name;
    read_lock(o, &s);
    read_manifests(top, &s);
    read_lists(top, count_entries, &s);
    s.succeeded_once = read_last_success(top, name, &s.last_ok);
    // A glusterfind session name is one plain path component as it is.
    if (!o.output_dir.empty()) {
      const std::string dir = o.output_dir + "/" + tarn::scanner::kLeftoversDirectory + "/" + name;
      for (const std::string& set : visible_names(dir, true))
        s.leftovers.push_back(dir + "/" + set);
    }
    sessions.push_back(s);
  }
  return sessions;
}

std::string format_status_text(const std::vector<session_status>& sessions, const options& o) {
  if (sessions.empty()) {
    return "No session of volume '" + o.volume + "' has left a lock, manifest or list in " +
           volume_top(o) + "\n";
  }
  std::string out;
  for (const session_status& s : sessions) {
    out += "Session '" + s.session + "' on volume '" + o.volume + "':\n";
    if (!s.locked) {
      out += "  lock: none\n";
    } else if (!s.holder_named) {
      out += "  lock: held; " + s.holder_state + "\n";
    } else {
      out += "  lock: " + s.holder + " (" + s.holder_state +
             (s.holder_gone ? "; stale: 'tarn-scan unlock' removes it" : "") + ")\n";
    }
    if (s.last_manifest.empty()) {
      out += "  last manifest: none\n";
    } else if (s.last_result == -1) {
      out += "  last manifest: " + s.last_manifest + " (cannot be read as JSON)\n";
    } else {
      out += "  last manifest: " + s.last_manifest + " (" + s.last_scan_type + ", started " +
             s.last_started + ", finished " + s.last_finished + ", " +
             plural(s.last_entries, "entry", "entries") + "); " +
             plural(s.manifests, "manifest", "manifests") + " waiting\n";
    }
    out += "  last success: " + last_success_text(s) + "\n";
    if (s.lists.empty()) out += "  lists waiting: none\n";
    for (const waiting_lists& w : s.lists) {
      out += "  lists waiting for " + w.application + ": " + plural(w.files, "file", "files") +
             ", " + plural(w.entries, "entry", "entries") + "\n";
    }
    if (!o.output_dir.empty()) {
      out += s.leftovers.empty() ? "  leftovers: none\n" : "  leftovers:\n";
      for (const std::string& dir : s.leftovers) out += "    " + dir + "\n";
    }
  }
  return out;
}

std::string format_status_json(const std::vector<session_status>& sessions, const options& o) {
  nlohmann::json all = nlohmann::json::array();
  for (const session_status& s : sessions) {
    nlohmann::json j;
    j["session"] = s.session;
    if (s.locked) {
      j["lock"] = {{"holder", s.holder_named ? nlohmann::json(s.holder) : nlohmann::json()},
                   {"state", s.holder_state},
                   {"stale", s.holder_gone}};
    } else {
      j["lock"] = nullptr;
    }
    if (s.succeeded_once) {
      double finished = 0;
      const bool known = parse_utc(s.last_ok.finished, &finished);
      j["last_success"] = {{"started", s.last_ok.started},
                           {"finished", s.last_ok.finished},
                           {"age_seconds", known ? nlohmann::json(static_cast<std::int64_t>(
                                                       now_seconds() - finished))
                                                 : nlohmann::json()},
                           {"scan_type", s.last_ok.scan_type},
                           {"host", s.last_ok.host},
                           {"exit_status", s.last_ok.exit_status}};
    } else {
      j["last_success"] = nullptr;
    }
    j["manifests"] = s.manifests;
    if (s.last_manifest.empty()) {
      j["last_manifest"] = nullptr;
    } else {
      j["last_manifest"] = {{"path", s.last_manifest},      {"scan_type", s.last_scan_type},
                            {"started", s.last_started},    {"finished", s.last_finished},
                            {"result_code", s.last_result}, {"total_entries", s.last_entries}};
    }
    j["applications"] = nlohmann::json::array();
    for (const waiting_lists& w : s.lists) {
      j["applications"].push_back(
          {{"application", w.application}, {"files", w.files}, {"entries", w.entries}});
    }
    j["leftovers"] = s.leftovers;
    all.push_back(j);
  }
  nlohmann::json out = {{"volume", o.volume}, {"sessions", all}};
  return out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

int status(const options& o) {
  std::vector<session_status> sessions = collect_status(o);
  fputs((o.json ? format_status_json(sessions, o) : format_status_text(sessions, o)).c_str(),
        stdout);
  return 0;
}

}  // namespace tarn_scan
