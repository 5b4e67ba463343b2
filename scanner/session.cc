// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The session object, the names of its working files and its exclude list.
#include "scanner/scanner.h"

namespace tarn {
namespace scanner {

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

std::error_code session::savefilename(std::string& /*name*/) { return success; }

void session::insert_to_excludelist(std::string excluded_path) {
  excludelist.insert(std::move(excluded_path));
}

}  // namespace scanner
}  // namespace tarn
