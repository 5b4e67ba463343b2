// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The default backend for a volume, and the path rules every backend shares.
#include "core/volume_backend.h"

#include <cerrno>
#include <cstdlib>

#include "core/gluster_backend.h"
#include "core/local_backend.h"
#include "core/settings.h"

namespace tarn {
namespace core {

std::error_code open_default_backend(const iopx_tree_cfg& cfg,
                                     std::shared_ptr<volume_backend>* out) {
  std::string volume;
  if (cfg.volume.empty()) return std::error_code(EINVAL, std::generic_category());
  if (std::error_code ec = normalize_volume_path(cfg.volume, &volume)) return ec;
  if (volume.empty() || volume.find('/') != std::string::npos) {
    return std::error_code(EINVAL, std::generic_category());
  }
  const std::string root = settings::local_volume_root();
  if (!root.empty()) return open_local_backend(root + "/" + volume, out);
  return open_gluster_backend(cfg, out);
}

std::error_code normalize_volume_path(const std::string& path, std::string* out) {
  if (path.find('\0') != std::string::npos) {
    return std::error_code(EINVAL, std::generic_category());
  }
  std::string result;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(pos, end - pos);
    if (part == "..") return std::error_code(EINVAL, std::generic_category());
    if (!part.empty() && part != ".") {
      if (!result.empty()) result += '/';
      result += part;
    }
    pos = end + 1;
  }
  *out = result;
  return std::error_code();
}

}  // namespace core
}  // namespace tarn
