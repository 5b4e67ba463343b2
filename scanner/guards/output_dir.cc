// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Claiming the output directory and setting aside what earlier runs left.
#include "scanner/guards/output_dir.h"


#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <list>

#include "core/platform.h"
#include "scanner/run/run_env.h"
#include "scanner/stages/sorted_runs.h"

namespace tarn {
namespace scanner {

const char kOutputDirMarker[] = ".tarn_output_dir";
const char kLeftoversDirectory[] = ".tarn_leftovers";

namespace {

const char kMarkerText[] =
    "This directory is the output directory of tarn-scanner runs. Every file in it was\n"
    "made by a run; files left by a failed run are kept below .tarn_leftovers.\n";

bool is_dot(const std::string& name) { return name == "." || name == ".."; }

// `path` is `dir` or lies below it; both absolute and resolved.
bool is_within(const std::string& path, const std::string& dir) {
  if (dir == "/") return true;
  return path == dir || path.compare(0, dir.size() + 1, dir + "/") == 0;
}

std::error_code names_in(const std::string& dir, std::list<std::string>* names) {
  std::error_code ec = os::list_directory(dir, names);
  names->remove_if(is_dot);
  return ec;
}

// Makes `dir` and its missing parents (mode 0755). An existing one is fine.
std::error_code make_directories(const std::string& dir) {
  bool directory = false;
  if (!os::stat_path(dir, &directory)) return os::error_from(directory ? 0 : ENOTDIR);
  std::string::size_type slash = dir.find_last_not_of('/');
  slash = slash == std::string::npos ? std::string::npos : dir.rfind('/', slash);
  if (slash != std::string::npos && slash > 0) {
    if (std::error_code ec = make_directories(dir.substr(0, slash))) return ec;
  }
  std::error_code ec = os::make_directory(dir, 0755);
  return ec.value() == EEXIST ? os::no_error() : ec;
}

std::error_code write_marker(const std::string& dir) {
  os::file marker;
  if (std::error_code ec = os::file::create_for_write(dir + "/" + kOutputDirMarker, &marker)) {
    return ec;
  }
  if (std::error_code ec = marker.write_all(kMarkerText, sizeof kMarkerText - 1)) return ec;
  return marker.close();
}

// The session name as one harmless path component: letters, digits, "_",
// "-" and inner "." stay, every other byte becomes "%XX".
std::string component_for(const std::string& session) {
  std::string out;
  for (std::size_t i = 0; i < session.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(session[i]);
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '_' || c == '-' || (c == '.' && i > 0);
    if (plain) {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out.empty() ? "%" : out;
}

// "20261208T231500.123456Z": UTC, microseconds, sorting by age.
std::string utc_stamp() {
  using std::chrono::system_clock;
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                          env_in_force().now().time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[80];
  std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d.%06ldZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<long>(micros % 1000000));
  return text;
}

std::error_code make_directory_once(const std::string& dir) {
  std::error_code ec = os::make_directory(dir, 0700);
  return ec.value() == EEXIST ? os::no_error() : ec;
}

// A rename, or where the entry lies on another file system (a mount on
// the way), a copy and the removal of the original.
std::error_code move_entry(const std::string& from, const std::string& to) {
  std::error_code ec = os::rename_file(from, to);
  if (ec.value() != EXDEV) return ec;
  if ((ec = os::copy_file(from, to))) return ec;
  return os::remove_file(from);
}

}  // namespace

bool is_output_dir_bookkeeping(const std::string& name) {
  return name == kOutputDirMarker || name == kLeftoversDirectory;
}

std::error_code inspect_output_dir(const std::string& output_dir, const std::string& mount_path,
                                   output_dir_state* state, std::string* why) {
  std::string out;
  if (std::error_code ec = os::resolve_path(output_dir, &out)) {
    *why = "output directory " + output_dir + " cannot be resolved: " + ec.message();
    return ec;
  }
  std::string mount;
  if (!mount_path.empty() && !os::resolve_path(mount_path, &mount)) {
    if (is_within(out, mount)) {
      *why = "output directory " + output_dir + " is the volume's mount " + mount_path +
             " or lies inside it: a run would take the volume's files for its own";
      return os::error_from(EINVAL);
    }
    if (is_within(mount, out)) {
      *why = "output directory " + output_dir + " holds the volume's mount " + mount_path +
             ": a run would take the volume's files for its own";
      return os::error_from(EINVAL);
    }
  }
  bool directory = false;
  std::error_code ec = os::stat_path(output_dir, &directory);
  if (ec.value() == ENOENT) {
    *state = output_dir_state::missing;
    return os::no_error();
  }
  if (!ec && !directory) {
    *why = "output directory " + output_dir + " exists and is no directory";
    return os::error_from(EINVAL);
  }
  std::list<std::string> names;
  if (ec || (ec = names_in(output_dir, &names))) {
    *why = "output directory " + output_dir + " cannot be read: " + ec.message();
    return ec;
  }
  if (std::find(names.begin(), names.end(), kOutputDirMarker) != names.end()) {
    *state = output_dir_state::claimed;
    return os::no_error();
  }
  if (!names.empty()) {
    *why = "output directory " + output_dir + " holds " + std::to_string(names.size()) +
           " entries that no run made (it has no " + kOutputDirMarker +
           "); it is left as it is: name an empty or a new directory";
    return os::error_from(ENOTEMPTY);
  }
  *state = output_dir_state::empty;
  return os::no_error();
}

std::error_code claim_output_dir(const std::string& output_dir, const std::string& mount_path,
                                 std::string* why) {
  output_dir_state state = output_dir_state::missing;
  if (std::error_code ec = inspect_output_dir(output_dir, mount_path, &state, why)) return ec;
  std::error_code ec;
  switch (state) {
    case output_dir_state::claimed:
      return os::no_error();
    case output_dir_state::missing:
      if ((ec = make_directories(output_dir)) || (ec = write_marker(output_dir))) {
        *why = "output directory " + output_dir + " cannot be made: " + ec.message();
        return ec;
      }
      return os::no_error();
    case output_dir_state::empty:
      break;
  }
  if ((ec = write_marker(output_dir))) {
    *why = "output directory " + output_dir + " cannot be marked: " + ec.message();
    return ec;
  }
  return os::no_error();
}

std::error_code set_aside_leftovers(const std::string& output_dir, const std::string& session,
                                    leftovers_moved* result) {
  *result = leftovers_moved();
  std::list<std::string> names;
  if (std::error_code ec = names_in(output_dir, &names)) return ec;
  names.remove_if(is_output_dir_bookkeeping);
  names.remove_if([&](const std::string& name) {
    if (!is_sort_run_name(name, session) || os::remove_file(output_dir + "/" + name)) return false;
    ++result->sort_runs_removed;
    return true;
  });
  if (names.empty()) return os::no_error();
  result->names.assign(names.begin(), names.end());

  const std::string all = output_dir + "/" + kLeftoversDirectory;
  const std::string mine = all + "/" + component_for(session);
  std::error_code ec;
  if ((ec = make_directory_once(all)) || (ec = make_directory_once(mine)) ||
      (ec = os::make_unique_directory(mine + "/" + utc_stamp() + "-", &result->to))) {
    return ec;
  }
  for (const std::string& name : names) {
    if ((ec = move_entry(output_dir + "/" + name, result->to + "/" + name))) return ec;
    ++result->files;
  }

  std::list<std::string> sets;
  if ((ec = names_in(mine, &sets))) return ec;
  sets.sort();
  while (sets.size() > kKeptLeftoverSets) {
    const std::string old = mine + "/" + sets.front();
    sets.pop_front();
    if ((ec = os::remove_tree(old))) return ec;
    result->pruned.push_back(old);
  }
  return os::no_error();
}

void release_output_dir(const std::string& output_dir) {
  std::list<std::string> names;
  if (names_in(output_dir, &names)) return;
  if (names.size() != 1 || names.front() != kOutputDirMarker) return;
  os::remove_file(output_dir + "/" + kOutputDirMarker);
  os::remove_directory(output_dir);
}

}  // namespace scanner
}  // namespace tarn
