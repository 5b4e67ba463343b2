// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Sorted entries to one list file per application, named with its count.
#include <boost/lexical_cast.hpp>

#include "scanner/os.h"
#include "scanner/scanner.h"

namespace tarn {
namespace scanner {
namespace {

const char* const kFn = "session::distribute_basedon_application";

}  // namespace

std::error_code session::distribute_basedon_application(std::vector<std::string>& entries,
                                                        std::vector<std::string>& app_files,
                                                        std::vector<std::string>& shard_files) {
  const std::string shard_prefix = output_dir + "/.shard";
  std::string application;
  std::string temporary;
  os::file_writer group;
  unsigned long count = 0;

  // Gives the open group file its final name and files it as a shard list
  // (by its leading characters only) or as an application list.
  auto end_group = [&]() -> std::error_code {
    if (std::error_code ec = group.close()) {
      logger.error(kFn, "Failed to write file %s: %s", temporary.c_str(), ec.message().c_str());
      return group.abandon(ec);
    }
    std::string final_path;
    get_outputfilepath(application, "." + boost::lexical_cast<std::string>(count), final_path);
    if (std::error_code ec = os::rename_file(temporary, final_path)) {
      logger.error(kFn, "Failed to rename the generated file from %s to %s", temporary.c_str(),
                   final_path.c_str());
      return ec;
    }
    bool is_shard_list = final_path.compare(0, shard_prefix.size(), shard_prefix) == 0;
    (is_shard_list ? shard_files : app_files).push_back(final_path);
    return success;
  };

  bool begun = false;
  for (const std::string& entry : entries) {
    std::string entry_application = entry.substr(0, entry.find('/'));
    if (!begun || entry_application != application) {
      if (begun) {
        if (std::error_code ec = end_group()) return ec;
      }
      begun = true;
      application = entry_application;
      count = 0;
      get_outputfilepath(application, ".0", temporary);
      insert_to_excludelist(temporary);
      logger.error(kFn, "Populating entries in %s ", temporary.c_str());
      if (std::error_code ec = group.create(temporary)) {
        logger.error(kFn, "Failed to open file %s ", temporary.c_str());
        return ec;
      }
    }
    if (std::error_code ec = group.write_line(entry)) {
      logger.error(kFn, "Failed to write file %s: %s", temporary.c_str(), ec.message().c_str());
      return group.abandon(ec);
    }
    ++count;
  }
  if (begun) return end_group();
  return success;
}

}  // namespace scanner
}  // namespace tarn
