// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Connections to GlusterFS volumes, one per volume and server per process,
// shared by every tarn_api that opens the volume.
#ifndef TARN_CORE_GLUSTER_CONNECTION_H_
#define TARN_CORE_GLUSTER_CONNECTION_H_

#include <cstddef>
#include <memory>
#include <string>
#include <system_error>

#include "core/tarn_api.h"

struct glfs;

namespace tarn {
namespace core {

// Where a volume's description (volfile) is fetched: glusterd's address.
struct gluster_server {
  std::string host;
  int port = 24007;
};

// Parses "HOST" or "HOST:PORT". EINVAL for an empty host or a port that is not
// a number in 1..65535; *out is set on success only.
std::error_code parse_gluster_server(const std::string& text, gluster_server* out);

// The server for `cfg`: its `server` field when set, else the environment
// variable TARN_GLUSTER_SERVER when set, else 127.0.0.1:24007.
std::error_code gluster_server_for(const iopx_tree_cfg& cfg, gluster_server* out);

// An initialised libgfapi connection to one volume. Thread-safe: libgfapi
// serves concurrent calls on one connection.
class gluster_connection {
 public:
  gluster_connection(std::string volume, glfs* fs) : volume_(std::move(volume)), fs_(fs) {}
  // Leaves the connection up: finalising one takes 8-10 s, which no host
  // should pay, and the operating system reclaims it at exit.
  ~gluster_connection() = default;
  gluster_connection(const gluster_connection&) = delete;
  gluster_connection& operator=(const gluster_connection&) = delete;

  glfs* fs() const { return fs_; }
  const std::string& volume() const { return volume_; }

 private:
  std::string volume_;
  glfs* fs_;
};

// The process's connection to `volume` through `server`. The first call for a
// volume and server connects (about 10-80 ms); later calls return the same
// connection at no cost. A connection stays for the life of the process and
// reconnects by itself when the volume comes back after a stop. A failed
// connect is not remembered: the next call tries again. *out is set on
// success only. Thread-safe.
std::error_code acquire_gluster_connection(const std::string& volume,
                                           const gluster_server& server,
                                           std::shared_ptr<gluster_connection>* out);

// How many connections this process has made so far (for tests).
std::size_t gluster_connections_made();

}  // namespace core
}  // namespace tarn

#endif  // TARN_CORE_GLUSTER_CONNECTION_H_
