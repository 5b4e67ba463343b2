// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The fake glusterfind and gluster of tests/fakes, answered in process: the
// same state directory, the same records, the same answers, without a shell.
#ifndef TARN_TESTS_UNIT_FAKE_TOOL_H_
#define TARN_TESTS_UNIT_FAKE_TOOL_H_

#include <string>
#include <vector>

#include "scanner/run/run_env.h"

namespace tarn {
namespace testing_util {

// The words of a command line as the shell would split it, up to its first
// redirection: blanks separate them, '...' and a backslash quote.
std::vector<std::string> shell_words(const std::string& line);

// Answers the command lines of glusterfind and gluster as the scripts in
// tests/fakes do, from and into the state directory `dir`; a line it does
// not know, and a glusterfind subcommand the test gave a delay (which only a
// real process can have), go to the shell.
class fake_tool_env : public scanner::run_env_wrapper {
 public:
  // The rest goes to the environment in force when it is made.
  explicit fake_tool_env(std::string dir)
      : run_env_wrapper(scanner::env_in_force()), dir_(std::move(dir)) {}
  int run(const std::string& line, std::string* output) override;

 private:
  int glusterfind(const std::vector<std::string>& args);
  int gluster(std::vector<std::string> args, std::string* output);
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  const std::string dir_;
};

}  // namespace testing_util
}  // namespace tarn

#endif  // TARN_TESTS_UNIT_FAKE_TOOL_H_
