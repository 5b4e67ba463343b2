// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "e2e/unit_commands.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cctype>
#include <cerrno>
#include <fstream>
#include <sstream>

namespace tarn {
namespace e2e {
namespace {

constexpr char kDefaultPath[] = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

std::string trim(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::string expand_specifiers(const std::string& s, const std::string& instance) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 1 < s.size() && (s[i + 1] == 'i' || s[i + 1] == '%')) {
      out += s[i + 1] == 'i' ? instance : "%";
      ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

// Words, with double or single quotes and backslash escapes; `quoted`
// tells, per word, whether any of it was quoted.
std::vector<std::string> split_words(const std::string& s, std::vector<bool>* quoted = nullptr) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  bool was_quoted = false;
  char quote = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (quote == 0 && (c == ' ' || c == '\t')) {
      if (in_word) {
        words.push_back(word);
        if (quoted != nullptr) quoted->push_back(was_quoted);
      }
      word.clear();
      in_word = was_quoted = false;
      continue;
    }
    in_word = true;
    if (c == '\\' && i + 1 < s.size()) {
      word += s[++i];
    } else if (quote == 0 && (c == '"' || c == '\'')) {
      quote = c;
      was_quoted = true;
    } else if (c == quote) {
      quote = 0;
    } else {
      word += c;
    }
  }
  if (in_word) {
    words.push_back(word);
    if (quoted != nullptr) quoted->push_back(was_quoted);
  }
  return words;
}

void assign(const std::string& assignment, std::map<std::string, std::string>* env) {
  const std::size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0) return;
  (*env)[trim(assignment.substr(0, eq))] = assignment.substr(eq + 1);
}

bool read_environment_file(const std::string& path, std::map<std::string, std::string>* env) {
  std::ifstream in(path);
  if (!in) return false;
  for (std::string line; std::getline(in, line);) {
    line = trim(line);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string value = trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
      value = value.substr(1, value.size() - 2);
    (*env)[trim(line.substr(0, eq))] = value;
  }
  return true;
}

std::string lookup(const std::map<std::string, std::string>& env, const std::string& name) {
  auto it = env.find(name);
  return it == env.end() ? "" : it->second;
}

// "${NAME}" anywhere in a word, in place.
std::string expand_braced(const std::string& word, const std::map<std::string, std::string>& env) {
  std::string out;
  for (std::size_t i = 0; i < word.size(); ++i) {
    const std::size_t close = word.compare(i, 2, "${") == 0 ? word.find('}', i) : std::string::npos;
    if (close != std::string::npos) {
      out += lookup(env, word.substr(i + 2, close - i - 2));
      i = close;
    } else {
      out += word[i];
    }
  }
  return out;
}

bool parse_exec(const std::string& value, const std::map<std::string, std::string>& env,
                unit_command* out) {
  std::string line = trim(value);
  while (!line.empty() && std::string("-@:+!").find(line[0]) != std::string::npos) {
    if (line[0] == '-') out->ignore_failure = true;
    if (line[0] == '@') return false;  // a different argv[0]: not used by our units
    line.erase(0, 1);
  }
  std::vector<bool> quoted;
  const std::vector<std::string> words = split_words(line, &quoted);
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    bool plain_name = !quoted[i] && w.size() > 1 && w[0] == '$' && w[1] != '{';
    for (std::size_t k = 1; plain_name && k < w.size(); ++k)
      plain_name = std::isalnum(static_cast<unsigned char>(w[k])) || w[k] == '_';
    if (plain_name) {
      for (const std::string& part : split_words(lookup(env, w.substr(1)))) out->argv.push_back(part);
    } else {
      out->argv.push_back(expand_braced(w, env));
    }
  }
  return !out->argv.empty() && out->argv[0][0] == '/';
}

}  // namespace

bool load_service_unit(const std::string& path, const std::string& instance,
                       const std::string& etc_dir, service_unit* out, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  // Logical lines: a final backslash joins the next line.
  std::vector<std::string> lines;
  std::string pending;
  for (std::string line; std::getline(in, line);) {
    if (pending.empty() && (trim(line).empty() || line[0] == '#' || line[0] == ';')) continue;
    if (!line.empty() && line.back() == '\\') {
      pending += line.substr(0, line.size() - 1) + " ";
      continue;
    }
    lines.push_back(pending + line);
    pending.clear();
  }
  std::vector<std::string> files;
  std::vector<std::pair<bool, std::string>> execs;  // (start_pre, value)
  for (const std::string& line : lines) {
    const std::size_t eq = line.find('=');
    if (line[0] == '[' || eq == std::string::npos) continue;
    const std::string key = trim(line.substr(0, eq));
    const std::string value = expand_specifiers(trim(line.substr(eq + 1)), instance);
    if (key == "Environment") {
      for (const std::string& a : split_words(value)) assign(a, &out->environment);
    } else if (key == "EnvironmentFile") {
      files.push_back(value);
    } else if (key == "ExecStartPre" || key == "ExecStart") {
      execs.emplace_back(key == "ExecStartPre", value);
    }
  }
  for (std::string file : files) {
    const bool optional = !file.empty() && file[0] == '-';
    if (optional) file.erase(0, 1);
    const std::string etc = "/etc/tarn-scan/";
    if (file.compare(0, etc.size(), etc) == 0) file = etc_dir + "/" + file.substr(etc.size());
    if (!read_environment_file(file, &out->environment) && !optional) {
      *error = "cannot read the environment file " + file;
      return false;
    }
  }
  for (const auto& exec : execs) {
    unit_command command;
    if (!parse_exec(exec.second, out->environment, &command)) {
      *error = "cannot run: " + exec.second;
      return false;
    }
    if (exec.first) {
      out->start_pre.push_back(command);
    } else {
      out->start = command;
    }
  }
  if (out->start.argv.empty()) *error = "no ExecStart= in " + path;
  return !out->start.argv.empty();
}

int run_unit_command(const unit_command& command, const service_unit& unit,
                     const std::string& log) {
  std::map<std::string, std::string> env = unit.environment;
  if (env.count("PATH") == 0) env["PATH"] = kDefaultPath;
  std::vector<std::string> env_text;
  for (const auto& e : env) env_text.push_back(e.first + "=" + e.second);
  std::vector<char*> envp;
  for (std::string& e : env_text) envp.push_back(&e[0]);
  envp.push_back(nullptr);
  std::vector<std::string> args = command.argv;
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int run_service(const service_unit& unit, const std::string& log) {
  for (const unit_command& pre : unit.start_pre) {
    const int status = run_unit_command(pre, unit, log);
    if (status != 0 && !pre.ignore_failure) return status;
  }
  return run_unit_command(unit.start, unit, log);
}

}  // namespace e2e
}  // namespace tarn
