// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The copy of a run's lists into the volume, and single files written there.
#ifndef TARN_SCANNER_STAGES_COPY_H_
#define TARN_SCANNER_STAGES_COPY_H_

#include <string>
#include <system_error>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "core/tarn_api.h"
#include "scanner/run/local_files.h"
#include "scanner/scan_report.h"
#include "scanner/scanner.h"

namespace tarn {
namespace scanner {

// Copies the lists `names` (file names in `output_dir`, read through
// `local`) into the volume's working directory, each into the directory its
// name begins with. Each list copied joins report->lists, in the order of
// `names`; the first failure in that order is the copy's, its cause noted in
// the report. Once every list is in the volume, they are removed from
// `output_dir`.
std::error_code copy_lists(local_files& local, const boost::shared_ptr<tarn_iopx>& iopx,
                           const std::string& output_dir, const std::string& volume_name,
                           const std::vector<std::string>& names, scan_report* report);

// Writes `text` as the volume file `path`, under a temporary name renamed
// over it when complete.
std::error_code write_volume_file(tarn_api& api,
                                  const boost::shared_ptr<tarn_iopx>& iopx,
                                  const std::string& path, const std::string& text);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_STAGES_COPY_H_
