// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The session object, the names of its working files and its exclude list.
#include "scanner/scanner.h"

#include <algorithm>
#include <cerrno>

#include "core/platform.h"
#include "scanner/run/local_files.h"

namespace tarn {
namespace scanner {
namespace {

// The record lies beside the output directory, which holds a run's own
// files only and is set aside or removed as such.
std::string record_path(const std::string& output_dir, const std::string& session_name) {
  std::string dir = output_dir;
  while (!dir.empty() && dir.back() == '/') dir.pop_back();
  std::string last = dir.substr(dir.rfind('/') + 1);
  // "/" has no outside, and after "." or ".." the name would land inside.
  if (last.empty() || last == "." || last == "..") return std::string();
  return dir + "." + session_name + ".collect";
}

}  // namespace

tarn_debug session::logger;

session::session(std::string session_name, std::string volume_name, std::string output_dir,
                 std::string mount_path)
    : session_name(std::move(session_name)),
      volume_name(std::move(volume_name)),
      output_dir(std::move(output_dir)),
      mount_path(std::move(mount_path)) {
  exclude_dirnames.insert(".snaps");
  exclude_dirnames.insert(".tarn");
}

session::~session() = default;

void session::set_memory_budget(std::size_t bytes) {
  budget = bytes == 0 ? default_memory_budget : std::max(bytes, min_memory_budget);
}

void session::get_outputfilepath(std::string& prefix, std::string suffix, std::string& out) {
  out = output_dir + "/";
  out += prefix;
  out += "-" + session_name;
  if (!suffix.empty()) out += suffix;
}

void session::get_collectfilename(std::string& prefix, unsigned long count, std::string& out) {
  out = output_dir + "/";
  out += session_name + "-";
  out += prefix + ".";
  out += std::to_string(count);
}

std::error_code session::savefilename(std::string& name) {
  static const char* const kFn = "session::savefilename";
  // Replaced whole, so the record is always the old one or the new one.
  const std::string record = record_path(output_dir, session_name);
  std::error_code ec =
      record.empty() ? os::error_from(EINVAL) : os::replace_file(record, name + "\n");
  if (ec) {
    logger.error(kFn, "Failed to insert the file %s to collect file", name.c_str());
    return ec;
  }
  logger.error(kFn, "Successfully inserted the file %s to collect file", name.c_str());
  return success;
}

void session::insert_to_excludelist(std::string excluded_path) {
  excludelist.insert(std::move(excluded_path));
}

}  // namespace scanner
}  // namespace tarn
