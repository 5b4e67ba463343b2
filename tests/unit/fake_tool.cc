// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "unit/fake_tool.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tarn {
namespace testing_util {
namespace {

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool read(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  *text = all.str();
  return true;
}

bool write(const std::string& path, const std::string& text, bool append = false) {
  std::ofstream out(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
  out << text;
  out.close();
  return static_cast<bool>(out);
}

void make_directories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0755);
    if (slash == std::string::npos) return;
  }
}

// The status system(3) gives for a shell that exits with `code`.
int exited(int code) { return code << 8; }

// An exit status written in the state directory, as `exit "$(cat file)"`.
bool status_in(const std::string& file, int* status) {
  std::string text;
  if (!read(file, &text)) return false;
  *status = exited(std::atoi(text.c_str()));
  return true;
}

}  // namespace

std::vector<std::string> shell_words(const std::string& line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  const std::size_t n = line.size();
  while (true) {
    while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == n) return words;
    // A redirection ("> f", "2>&1", "2>/dev/null") ends what is passed on.
    std::size_t digits = i;
    while (digits < n && std::isdigit(static_cast<unsigned char>(line[digits]))) ++digits;
    if (digits < n && (line[digits] == '>' || line[digits] == '<')) return words;
    std::string word;
    while (i < n && line[i] != ' ' && line[i] != '\t') {
      if (line[i] == '\'') {
        const std::size_t end = line.find('\'', i + 1);
        word.append(line, i + 1, (end == std::string::npos ? n : end) - i - 1);
        i = end == std::string::npos ? n : end + 1;
      } else if (line[i] == '\\' && i + 1 < n) {
        word += line[i + 1];
        i += 2;
      } else {
        word += line[i++];
      }
    }
    words.push_back(word);
  }
}

int fake_tool_env::run(const std::string& line, std::string* output) {
  const std::vector<std::string> words = shell_words(line);
  if (words.size() >= 2 && words[0] == "glusterfind" && !exists(path("delay." + words[1]))) {
    return glusterfind(std::vector<std::string>(words.begin() + 1, words.end()));
  }
  if (!words.empty() && words[0] == "gluster") {
    return gluster(std::vector<std::string>(words.begin() + 1, words.end()), output);
  }
  return scanner::machine_env().run(line, output);
}

int fake_tool_env::glusterfind(const std::vector<std::string>& args) {
  std::string joined, packed;
  for (const std::string& a : args) {
    joined += (joined.empty() ? "" : " ") + a;
    packed += a + '\x1f';
  }
  write(path("calls"), "glusterfind " + joined + "\n", true);
  write(path("argv"), packed + '\x1e', true);
  ::mkdir(path("sessions").c_str(), 0755);
  const std::string& sub = args[0];
  auto arg = [&](std::size_t i) { return i < args.size() ? args[i] : std::string(); };
  std::string log;
  const char* log_dir = std::getenv("TARN_GLUSTERFIND_LOG_DIR");
  if (read(path("log." + sub), &log) && log_dir != nullptr) {
    const std::string file = std::string(log_dir) + "/" + arg(1) + "/" + arg(2) + "/cli.log";
    make_directories(file.substr(0, file.rfind('/')));
    write(file, log, true);
  }
  int status = 0;
  if (status_in(path("status." + sub), &status) || status_in(path("status"), &status)) {
    return status;
  }
  const std::string key = path("sessions/" + arg(1) + "@" + arg(2));
  if (sub == "create") {
    if (exists(key)) return exited(1);
    write(key, "");
  } else if (sub == "list") {
    if (!exists(path("sessions/" + arg(2) + "@" + arg(4)))) return exited(1);
  } else if (sub == "pre") {
    if (!exists(key)) return exited(1);
    const std::string out = arg(3);
    if (out.find('/') != std::string::npos) make_directories(out.substr(0, out.rfind('/')));
    std::string changes;
    // A full disk must fail the pass, as it fails the real tool.
    if (!write(out, read(path("changelist"), &changes) ? changes : "")) return exited(1);
  } else if (sub == "post") {
    if (!exists(key)) return exited(1);
  }
  return 0;
}

int fake_tool_env::gluster(std::vector<std::string> args, std::string* output) {
  std::string ignored;
  std::string& out = output != nullptr ? *output : ignored;
  out.clear();
  if (!args.empty() && args[0] == "--mode=script") args.erase(args.begin());
  if (!args.empty() && args[0] == "--version") {
    out = "glusterfs 10.3 (fake)\n";
    return 0;
  }
  if (args.size() >= 2 && args[0] == "volume" && args[1] == "info" &&
      read(path("volume-info"), &out)) {
    return 0;
  }
  std::string options;
  if (args.size() >= 4 && args[0] == "volume" && args[1] == "get" &&
      read(path("volume-options"), &options)) {
    std::istringstream lines(options);
    std::string name, value;
    while (lines >> name >> value) {
      if (name != args[3]) continue;
      char row[256];
      std::snprintf(row, sizeof row, "%-40s %-40s\n%-40s %-40s\n%-40s %-40s\n", "Option", "Value",
                    "------", "-----", name.c_str(), value.c_str());
      out = row;
      return 0;
    }
  }
  out.clear();
  return exited(1);
}

}  // namespace testing_util
}  // namespace tarn
