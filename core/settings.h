// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The environment variables that change where the library and tarn-scan
// look, read here and nowhere else, with one rule for all: a variable that
// is set to an empty value is unset. Each is read when asked for, so that a
// test may set it for a while.
#ifndef TARN_CORE_SETTINGS_H_
#define TARN_CORE_SETTINGS_H_

#include <string>

#include "core/tarn_export.h"

namespace tarn {
namespace settings {

// TARN_LOCAL_VOLUME_ROOT: a volume V is the local directory <root>/V and its
// mount any existing directory (tests and demonstrations); empty: GlusterFS.
TARN_EXPORT std::string local_volume_root();
// TARN_GLUSTER_SERVER: "host[:port]" of the glusterd that describes the
// volume; empty: the server the mount took the volume from.
TARN_EXPORT std::string gluster_server();
// TARN_GLUSTERFIND_DIR: glusterfind's state ("/var/lib/glusterd/glusterfind").
TARN_EXPORT std::string glusterfind_dir();
// TARN_GLUSTERFIND_LOG_DIR: glusterfind's logs ("/var/log/glusterfs/glusterfind").
TARN_EXPORT std::string glusterfind_log_dir();
// TARN_LOG_FILE: the file the library logs to; empty: standard error.
TARN_EXPORT std::string log_file();
// TARN_CREATE_HELPER: the exclusive-create helper; empty: the one installed
// beside the library.
TARN_EXPORT std::string create_helper();

}  // namespace settings
}  // namespace tarn

#endif  // TARN_CORE_SETTINGS_H_
