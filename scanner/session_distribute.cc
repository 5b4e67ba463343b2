// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Sorted entries to one list file per application.
#include "scanner/scanner.h"

namespace tarn {
namespace scanner {

std::error_code session::distribute_basedon_application(std::vector<std::string>& /*entries*/,
                                                        std::vector<std::string>& /*app_files*/,
                                                        std::vector<std::string>& /*shard_files*/) {
  return success;
}

}  // namespace scanner
}  // namespace tarn
