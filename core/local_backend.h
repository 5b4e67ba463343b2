// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// A local directory as a volume, for tests and demonstrations.
#ifndef TARN_CORE_LOCAL_BACKEND_H_
#define TARN_CORE_LOCAL_BACKEND_H_

#include <memory>
#include <string>
#include <system_error>

#include "core/volume_backend.h"

namespace tarn {
namespace core {

// Opens the directory `root` as a volume. ENOTDIR/ENOENT when it is not an
// existing directory.
std::error_code open_local_backend(const std::string& root,
                                   std::shared_ptr<volume_backend>* out);

}  // namespace core
}  // namespace tarn

#endif  // TARN_CORE_LOCAL_BACKEND_H_
