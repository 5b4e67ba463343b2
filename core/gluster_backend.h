// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// A GlusterFS volume reached over libgfapi.
#ifndef TARN_CORE_GLUSTER_BACKEND_H_
#define TARN_CORE_GLUSTER_BACKEND_H_

#include <memory>
#include <system_error>

#include "core/volume_backend.h"

namespace tarn {
namespace core {

// Opens the GlusterFS volume `cfg.volume` through the volfile server that
// gluster_server_for(cfg) names (127.0.0.1:24007 unless configured). The
// connection is shared with every other backend of the same volume and server
// in this process and is never finalised (see gluster_connection.h).
// `cfg.fs_type` must be "glusterfs" or empty (EINVAL otherwise). Connection
// failures come back as libgfapi's errno, e.g. ENOTCONN when glusterd does not
// answer or ENOENT for an unknown volume.
//
// Exclusive creates (O_CREAT|O_EXCL) run in a helper process and are given
// up after kExclusiveCreateTimeoutSeconds with ETIMEDOUT; see
// exclusive_create.h.
//
// The backend's files keep consecutive writes back (up to 1 MiB) and write
// them out in one call; see coalescing_file for when errors are reported.
// Failures of volume calls other than EEXIST and ENOENT (an unreachable
// volume, say) are logged under "gluster_backend::open" and its kin.
std::error_code open_gluster_backend(const iopx_tree_cfg& cfg,
                                     std::shared_ptr<volume_backend>* out);

}  // namespace core
}  // namespace tarn

#endif  // TARN_CORE_GLUSTER_BACKEND_H_
