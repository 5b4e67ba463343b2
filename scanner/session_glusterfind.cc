// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The five glusterfind command lines, run through the shell.
#include "scanner/os.h"
#include "scanner/scanner.h"
#include "scanner/shell_quote.h"

namespace tarn {
namespace scanner {
namespace {

// Output of the tool is never read; only its exit status is.
const char kQuiet[] = " > /dev/null 2>&1";

int run(const std::string& command) {
  int status = os::run_shell(command);
  return status == 0 ? 0 : status;
}

}  // namespace

int session::create_session() {
  return run("glusterfind create " + shell_quote(session_name) + " " +
             shell_quote(volume_name) + kQuiet);
}

int session::session_exists() {
  return run("glusterfind list --session " + shell_quote(session_name) + " --volume " +
             shell_quote(volume_name) + kQuiet);
}

int session::incremental_scan(std::string output_file) {
  return run("glusterfind pre " + shell_quote(session_name) + " " + shell_quote(volume_name) +
             " " + shell_quote(output_file) + " --regenerate-outfile --no-encode" + kQuiet);
}

int session::full_scan(std::string output_file) {
  return run("glusterfind pre " + shell_quote(session_name) + " " + shell_quote(volume_name) +
             " " + shell_quote(output_file) + " --full --regenerate-outfile --no-encode" +
             kQuiet);
}

int session::post_scan() {
  return run("glusterfind post " + shell_quote(session_name) + " " + shell_quote(volume_name) +
             kQuiet);
}

}  // namespace scanner
}  // namespace tarn
