// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The commands of a systemd service unit, read and expanded as systemd does
// (systemd.service(5), systemd.exec(5)), so that a test can run the very
// command lines a timer would start where systemd cannot run.
#ifndef TARN_TESTS_E2E_UNIT_COMMANDS_H_
#define TARN_TESTS_E2E_UNIT_COMMANDS_H_

#include <map>
#include <string>
#include <vector>

namespace tarn {
namespace e2e {

struct unit_command {
  bool ignore_failure = false;  // the "-" prefix
  std::vector<std::string> argv;
};

struct service_unit {
  std::map<std::string, std::string> environment;
  std::vector<unit_command> start_pre;
  unit_command start;
};

// Reads the unit at `path` as instance `instance`: continuation lines
// joined, the specifiers %i and %% expanded, Environment= assignments, then
// those of each EnvironmentFile= (which override them; a path below
// /etc/tarn-scan is read from `etc_dir` instead), and ExecStartPre= and
// ExecStart= split into words with $NAME (split at blanks) and ${NAME} (one
// word, also inside one) replaced. False with *error on what it cannot read.
bool load_service_unit(const std::string& path, const std::string& instance,
                       const std::string& etc_dir, service_unit* out, std::string* error);

// Runs the command with the unit's environment only (systemd's, with PATH
// when the unit sets none), its standard output and error appended to
// `log`. The exit status, or 128 + N after signal N.
int run_unit_command(const unit_command& command, const service_unit& unit,
                     const std::string& log);

// Runs ExecStartPre= lines, then ExecStart= when they succeeded (or may
// fail): the status of the last command run.
int run_service(const service_unit& unit, const std::string& log);

}  // namespace e2e
}  // namespace tarn

#endif  // TARN_TESTS_E2E_UNIT_COMMANDS_H_
