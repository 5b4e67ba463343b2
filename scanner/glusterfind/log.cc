// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "scanner/glusterfind/log.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "core/platform.h"
#include "core/settings.h"

namespace tarn {
namespace scanner {
namespace {

constexpr std::size_t kMostRead = std::size_t{1} << 20;

bool starts_record(const std::string& line) { return !line.empty() && line[0] == '['; }

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
  std::size_t begin = text.find_first_not_of(' ');
  return begin == std::string::npos ? std::string() : text.substr(begin);
}

// A line of a node's output as glusterfind logs it, Python's bytes
// b'ssh: ...\r\n' with its escapes: the text up to its first line end.
std::string unquoted(std::string line) {
  if (line.size() >= 3 && line.compare(0, 2, "b'") == 0 && line.back() == '\'') {
    line = line.substr(2, line.size() - 3);
    line = line.substr(0, std::min(line.find("\\r"), line.find("\\n")));
  }
  return trimmed(line);
}

// The first line a node printed for a failed command, from the record
// "<host> - <command> failed; stdout (including remote stderr):" on: ssh's
// complaint where there is one.
std::string node_reason(const std::vector<std::string>& lines, std::size_t at) {
  std::string first;
  for (std::size_t i = at + 1; i < lines.size() && !starts_record(lines[i]); ++i) {
    const std::string line = unquoted(lines[i]);
    if (line.empty() || line == "stderr:") continue;
    if (line.compare(0, 4, "ssh:") == 0) return line;
    if (first.empty()) first = line;
  }
  return first;
}

}  // namespace

std::string glusterfind_log_path(const std::string& session, const std::string& volume) {
  return settings::glusterfind_log_dir() + "/" + session + "/" + volume + "/cli.log";
}

std::vector<failed_brick> parse_failed_bricks(const std::string& log_text,
                                              const std::string& command) {
  std::vector<std::string> lines;
  std::istringstream in(log_text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const std::string failed_in = " - Command " + command + " failed in ";
  const std::string node_failed = " - " + command + " failed; ";
  std::vector<failed_brick> bricks;
  for (const std::string& line : lines) {
    std::size_t at = line.find(failed_in);
    if (at == std::string::npos) continue;
    failed_brick b;
    b.brick = trimmed(line.substr(at + failed_in.size()));
    bool seen = false;
    for (const failed_brick& other : bricks) seen = seen || other.brick == b.brick;
    if (b.brick.empty() || seen) continue;
    // The node's own record names the host alone: "<host> - pre failed; ...".
    const std::string host = b.brick.substr(0, b.brick.find(':'));
    for (std::size_t i = 0; i < lines.size() && b.reason.empty(); ++i) {
      std::size_t own = lines[i].find("] - " + host + node_failed);
      if (own != std::string::npos) b.reason = node_reason(lines, i);
    }
    bricks.push_back(std::move(b));
  }
  return bricks;
}

std::uint64_t log_end(const std::string& path) {
  std::uint64_t size = 0;
  return os::file_size(path, &size) ? 0 : size;
}

std::vector<failed_brick> failed_bricks_since(const std::string& path, std::uint64_t from,
                                              const std::string& command) {
  const std::uint64_t end = log_end(path);
  // A log that shrank was started anew: all of it is new.
  const std::uint64_t added = end >= from ? end - from : end;
  std::string text;
  bool whole = false;
  if (added == 0 ||
      os::read_file_tail(path, static_cast<std::size_t>(std::min<std::uint64_t>(added, kMostRead)),
                         &text, &whole)) {
    return {};
  }
  return parse_failed_bricks(text, command);
}

}  // namespace scanner
}  // namespace tarn
