// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The shell command lines that drive glusterfind. Each value is passed
// through shell_quote(), so plain names give the tool's documented lines and
// any other value reaches the tool as one argument. The tool's output is
// sent to /dev/null by the line itself.
#ifndef TARN_SCANNER_GLUSTERFIND_COMMANDS_H_
#define TARN_SCANNER_GLUSTERFIND_COMMANDS_H_

#include <string>

namespace tarn {
namespace scanner {

// glusterfind create S V > /dev/null 2>&1
std::string create_session_line(const std::string& session, const std::string& volume);
// glusterfind list --session S --volume V > /dev/null 2>&1
std::string session_exists_line(const std::string& session, const std::string& volume);
// glusterfind pre S V O [--full] --regenerate-outfile --no-encode --disable-partial > /dev/null 2>&1
// (--disable-partial: a node whose part of the pass fails makes pre fail,
// rather than succeed with a short list)
std::string pre_line(const std::string& session, const std::string& volume,
                     const std::string& output_file, bool full);
// glusterfind post S V > /dev/null 2>&1
std::string post_line(const std::string& session, const std::string& volume);

// The line without the redirection that discards the tool's messages: the
// command as one would run it by hand to read them.
std::string without_redirection(const std::string& line);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_GLUSTERFIND_COMMANDS_H_
