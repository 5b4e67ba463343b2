// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The post-processing driver: the collect file becomes per-application lists
// of changed shard pieces, cut into chunks.

#include "scanner/entry_order.h"
#include "scanner/os.h"
#include "scanner/scanner.h"

namespace tarn {
namespace scanner {

std::error_code session::process_filtered_files(std::string& collect_file) {
  static const char* const kFn = "sessoin::process_filtered_files";

  std::vector<std::string> entries;
  {
    os::line_reader in;
    if (std::error_code ec = in.open(collect_file)) {
      logger.error(kFn, "Failed to open file %s", collect_file.c_str());
      return ec;
    }
    std::string line;
    while (in.next(&line)) entries.push_back(line);
    if (std::error_code ec = in.error()) {
      logger.error(kFn, "Failed to read file %s", collect_file.c_str());
      return ec;
    }
  }
  sort_entries(entries);

  std::vector<std::string> app_files;
  std::vector<std::string> shard_files;
  std::vector<std::string> linked_files;
  std::error_code ec = distribute_basedon_application(entries, app_files, shard_files);
  if (ec != success) {
    logger.error(kFn, "Failed to link shard files with app\n");
    return ec;
  }
  // Every entry is in a list file now; the outcome of the removal is not
  // looked at, as the file is only in the way from here on.
  os::remove_file(collect_file);

  ec = link_shard_to_app(app_files, shard_files, linked_files);
  if (ec != success) {
    logger.error(kFn, "Failed to link shard files with app\n");
    return ec;
  }
  ec = multithreaded_chunking(std::move(linked_files));
  if (ec != success) {
    logger.error(kFn, "Failed to link shard files with app\n");
    return ec;
  }
  return success;
}

}  // namespace scanner
}  // namespace tarn
