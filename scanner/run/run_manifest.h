// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The manifest of a run: after the copy, one JSON file per run under
// ".tarn/working/runs/<session>/" names every list the run wrote or appended
// to, with the byte range it added. A consumer takes the lists a manifest
// names and removes the manifest when done.
#ifndef TARN_SCANNER_RUN_RUN_MANIFEST_H_
#define TARN_SCANNER_RUN_RUN_MANIFEST_H_

#include <chrono>
#include <string>

#include "scanner/scan_report.h"

namespace tarn {
namespace scanner {

// The manifests' directory of a session, relative to the volume's top.
std::string manifest_directory(const std::string& session);
// "<directory>/<UTC start time, YYYYMMDDTHHMMSS.mmmZ>.json".
std::string manifest_path(const scan_report& report);
// The manifest's text: report_json of the report.
std::string manifest_json(const scan_report& report, const std::string& volume);
// "2026-12-08T23:59:59.123Z".
std::string utc_text(std::chrono::system_clock::time_point t);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_RUN_RUN_MANIFEST_H_
