// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Changed shard pieces to the applications that own them.
#include "scanner/scanner.h"

namespace tarn {
namespace scanner {

std::error_code session::link_shard_to_app(std::vector<std::string>& /*app_files*/,
                                           std::vector<std::string>& /*shard_files*/,
                                           std::vector<std::string>& /*linked_files*/) {
  return success;
}

}  // namespace scanner
}  // namespace tarn
