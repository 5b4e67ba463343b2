// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// A GlusterFS volume reached over libgfapi.
#ifndef TARN_CORE_GFAPI_BACKEND_H_
#define TARN_CORE_GFAPI_BACKEND_H_

#include <memory>
#include <system_error>

#include "core/volume_backend.h"

namespace tarn {
namespace core {

// Connects to the GlusterFS volume `cfg.volume`.
std::error_code open_gluster_backend(const iopx_tree_cfg& cfg,
                                     std::shared_ptr<volume_backend>* out);

}  // namespace core
}  // namespace tarn

#endif  // TARN_CORE_GFAPI_BACKEND_H_
