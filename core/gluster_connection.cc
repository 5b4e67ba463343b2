// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The per-process registry of GlusterFS connections.
#include "core/gluster_connection.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>

#include "core/gfapi_calls.h"
#include "core/settings.h"

namespace tarn {
namespace core {
namespace {

constexpr char kDefaultServer[] = "127.0.0.1";

std::error_code invalid() { return std::error_code(EINVAL, std::generic_category()); }

struct registry {
  std::mutex mutex;
  pid_t pid = 0;  // the process the connections belong to
  std::map<std::string, std::shared_ptr<gluster_connection>> connections;
  std::size_t made = 0;
};

// Never destroyed: connections outlive every static object that may use them.
registry& the_registry() {
  static registry* r = new registry;
  return *r;
}

}  // namespace

std::error_code parse_gluster_server(const std::string& text, gluster_server* out) {
  gluster_server server;
  std::string::size_type colon = text.find(':');
  server.host = text.substr(0, colon);
  if (colon != std::string::npos) {
    std::string port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != port.npos) {
      return invalid();
    }
    server.port = std::atoi(port.c_str());
    if (server.port < 1 || server.port > 65535) return invalid();
  }
  if (server.host.empty()) return invalid();
  *out = server;
  return std::error_code();
}

std::error_code gluster_server_for(const iopx_tree_cfg& cfg, gluster_server* out) {
  if (!cfg.server.empty()) return parse_gluster_server(cfg.server, out);
  const std::string named = settings::gluster_server();
  return parse_gluster_server(named.empty() ? kDefaultServer : named, out);
}

std::error_code acquire_gluster_connection(const std::string& volume,
                                           const gluster_server& server,
                                           std::shared_ptr<gluster_connection>* out) {
  registry& r = the_registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  // A forked child inherits the entries but not the threads that serve them:
  // it connects anew. Dropping an entry finalises nothing.
  if (r.pid != ::getpid()) {
    r.connections.clear();
    r.pid = ::getpid();
  }
  std::string key = server.host + ":" + std::to_string(server.port) + "/" + volume;
  auto found = r.connections.find(key);
  if (found != r.connections.end()) {
    *out = found->second;
    return std::error_code();
  }
  glfs* fs = nullptr;
  if (std::error_code ec = gfapi::connect(volume, server.host, server.port, &fs)) return ec;
  auto connection = std::make_shared<gluster_connection>(volume, fs);
  r.connections.emplace(key, connection);
  ++r.made;
  *out = connection;
  return std::error_code();
}

std::size_t gluster_connections_made() {
  registry& r = the_registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.made;
}

}  // namespace core
}  // namespace tarn
