// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// GlusterFS volumes: not available in this build yet.
#include "core/gfapi_backend.h"

#include <cerrno>

namespace tarn {
namespace core {

std::error_code open_gluster_backend(const iopx_tree_cfg& /*cfg*/,
                                     std::shared_ptr<volume_backend>* /*out*/) {
  return std::error_code(ENOTSUP, std::generic_category());
}

}  // namespace core
}  // namespace tarn
