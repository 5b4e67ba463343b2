// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The distribution: entries sorted by application become one list file per
// application in the output directory.
#ifndef TARN_SCANNER_STAGES_DISTRIBUTE_H_
#define TARN_SCANNER_STAGES_DISTRIBUTE_H_

#include <string>
#include <system_error>
#include <vector>

#include "scanner/run/local_files.h"
#include "scanner/stages/sorted_runs.h"

namespace tarn {
namespace scanner {

class session;

// Where a session's lists are made: "<output_dir>/<application>-<session>.<count>".
struct list_place {
  const std::string& output_dir;
  const std::string& session_name;
};

// session::distribute_basedon_application for entries read one at a time,
// in application_order, through `files`; the path each list is begun under
// joins the exclude list of `sess`. A failure of `entries` ends it with its
// error.
std::error_code distribute_entries(session& sess, local_files& files, const list_place& place,
                                   entry_source& entries, std::vector<std::string>& app_files,
                                   std::vector<std::string>& shard_files);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_STAGES_DISTRIBUTE_H_
