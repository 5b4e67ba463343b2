// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// tarn-scan check: whether a scan of the volume could run here, one line per
// prerequisite. It takes no lock and writes nothing.
#ifndef TARN_TOOLS_TARN_SCAN_CHECK_H_
#define TARN_TOOLS_TARN_SCAN_CHECK_H_

#include <string>
#include <vector>

#include "tools/tarn-scan/options.h"

namespace tarn_scan {

enum class verdict { ok, warn, fail };

struct check_line {
  verdict level = verdict::ok;
  std::string what;  // "glusterfind", "mount", ...
  std::string text;  // what was found, and what to do when it is not ok
};

// Where the volume's top directory (its lock files, .tarn) can be read: the
// mount, or the directory of a local-directory volume.
std::string volume_top(const options& o);

// Where glusterfind keeps its sessions (TARN_GLUSTERFIND_DIR, default
// /var/lib/glusterd/glusterfind).
std::string glusterfind_state_dir();

// The options of a volume as `gluster volume get V OPTION` prints them
// ("Option  Value" table): the value of `option`, empty when it is not there.
std::string volume_option_value(const std::string& output, const std::string& option);

// Runs every check of `o` (volume, mount, and output directory and session
// when given) in order.
std::vector<check_line> run_checks(const options& o);

// "ok   what: text" per line.
std::string format_checks(const std::vector<check_line>& lines);

// 0 when every line is ok, 3 when the worst is a warning, 1 for a failure.
int checks_exit_status(const std::vector<check_line>& lines);

// tarn-scan check: prints the lines and returns the exit status.
int check(const options& o);

}  // namespace tarn_scan

#endif  // TARN_TOOLS_TARN_SCAN_CHECK_H_
