// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The command line of tarn-scan.
#ifndef TARN_TOOLS_TARN_SCAN_OPTIONS_H_
#define TARN_TOOLS_TARN_SCAN_OPTIONS_H_

#include <cstddef>
#include <string>
#include <vector>

namespace tarn_scan {

struct options {
  std::string volume;
  std::string output_dir;
  std::string mount;
  std::string session;
  bool incremental = false;  // default: full
  bool post = false;
  bool json = false;
  bool with_files = false;  // the applications' changed entries in the lists too
  std::string log_file;
  std::string metrics_dir;  // --metrics-dir; empty: no metrics
  unsigned timeout = 0;  // seconds; 0: none
  std::size_t memory = 0;  // --memory in bytes; 0: the library's default
  bool unlock = false;   // the "unlock" command
  bool force = false;    // unlock --force
  bool check = false;    // the "check" command
  bool status = false;   // the "status" command
  bool consume = false;  // the "consume" command
  std::string mirror;    // consume --mirror
  std::size_t block_size = 0;  // consume --block-size; 0: the volume's
};

enum class parse_result { run, help, version, usage_error };

// Parses argv. On usage_error, `error` says what is wrong.
parse_result parse_options(int argc, const char* const* argv, options* out, std::string* error);

// Reads a size for --memory: a number of bytes, or of KiB, MiB or GiB with
// the suffix K, M or G (either case). False for anything else, and for a
// size that does not fit in size_t.
bool parse_size(const std::string& text, std::size_t* bytes);

// The help text (also the body of the man page).
std::string help_text();

}  // namespace tarn_scan

#endif  // TARN_TOOLS_TARN_SCAN_OPTIONS_H_
