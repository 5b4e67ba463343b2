// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Copying the run's result files into the volume.
#include "scanner/os.h"
#include "scanner/scanner.h"

namespace tarn {
namespace scanner {

std::error_code scanner::read_directory(std::string directory, std::list<std::string>& entries) {
  return os::list_directory(directory, &entries);
}

std::error_code scanner::copy_files_to_gluster() { return success; }

std::error_code scanner::create_directory(std::string /*path*/) { return success; }

std::error_code scanner::create_recursive_directory(std::string /*path*/) { return success; }

std::error_code scanner::file_copy(std::string /*source*/, std::string /*destination*/) {
  return success;
}

}  // namespace scanner
}  // namespace tarn
