// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "core/settings.h"

#include <cstdlib>

namespace tarn {
namespace settings {
namespace {

std::string variable(const char* name, const char* otherwise = "") {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : otherwise;
}

}  // namespace

std::string local_volume_root() { return variable("TARN_LOCAL_VOLUME_ROOT"); }
std::string gluster_server() { return variable("TARN_GLUSTER_SERVER"); }
std::string glusterfind_dir() {
  return variable("TARN_GLUSTERFIND_DIR", "/var/lib/glusterd/glusterfind");
}
std::string glusterfind_log_dir() {
  return variable("TARN_GLUSTERFIND_LOG_DIR", "/var/log/glusterfs/glusterfind");
}
std::string log_file() { return variable("TARN_LOG_FILE"); }
std::string create_helper() { return variable("TARN_CREATE_HELPER"); }

}  // namespace settings
}  // namespace tarn
