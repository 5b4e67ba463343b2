// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Loading a generated case and preparing the process for a scan of it.
#include "bench/bench_env.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tarn {
namespace bench {
namespace fs = std::filesystem;

namespace {

bool failures = false;

std::error_code set_env(const char* name, const std::string& value) {
  if (setenv(name, value.c_str(), 1) != 0) return std::error_code(errno, std::generic_category());
  return std::error_code();
}

uint64_t manifest_number(const bench_case& c, const char* key) {
  auto found = c.manifest.find(key);
  return found == c.manifest.end() ? 0 : std::strtoull(found->second.c_str(), nullptr, 10);
}

}  // namespace

void fail(benchmark::State& state, const std::string& why) {
  failures = true;
  state.SkipWithError(why.c_str());
}

bool any_failure() { return failures; }

std::error_code load_case(const std::string& data_dir, const std::string& name, bench_case* out) {
  bench_case c;
  c.name = name;
  c.dir = fs::absolute(fs::path(data_dir) / name).lexically_normal().string();
  std::ifstream in(c.dir + "/manifest");
  if (!in) return std::error_code(ENOENT, std::generic_category());
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) c.manifest[line.substr(0, eq)] = line.substr(eq + 1);
  }
  c.volume = c.manifest["volume"];
  c.volume_root = c.dir + "/volumes";
  c.mount_path = c.volume_root + "/" + c.volume;
  c.output_dir = c.dir + "/out";
  c.runs = static_cast<int>(manifest_number(c, "runs"));
  if (c.runs < 1) c.runs = 1;
  c.lines = manifest_number(c, "lines");
  c.kept = manifest_number(c, "kept");
  c.linked = manifest_number(c, "linked");
  if (c.volume.empty() || c.lines == 0) return std::error_code(EINVAL, std::generic_category());
  *out = std::move(c);
  return std::error_code();
}

std::error_code enter_case(const bench_case& c) {
  std::error_code ec;
  std::string state = c.dir + "/fake";
  fs::create_directories(state + "/sessions", ec);
  if (ec) return ec;
  fs::remove(state + "/changelist", ec);
  fs::create_symlink(c.dir + "/changelist", state + "/changelist", ec);
  if (ec) return ec;
  const char* path = getenv("PATH");
  std::string fakes = std::string(TARN_FAKES_DIR) + ":" + (path ? path : "/usr/bin:/bin");
  if (path == nullptr || std::string(path).rfind(TARN_FAKES_DIR, 0) != 0) {
    if ((ec = set_env("PATH", fakes))) return ec;
  }
  if ((ec = set_env("FAKE_GLUSTERFIND_DIR", state))) return ec;
  if ((ec = set_env("TARN_LOCAL_VOLUME_ROOT", c.volume_root))) return ec;
  return set_env("TARN_LOG_FILE", c.dir + "/scan.log");
}

std::error_code reset_case(const bench_case& c) {
  std::error_code ec;
  fs::remove_all(c.mount_path + "/.tarn", ec);
  if (ec) return ec;
  fs::remove_all(c.output_dir, ec);
  if (ec) return ec;
  for (const auto& entry : fs::directory_iterator(c.mount_path, ec)) {
    if (entry.path().filename().string().rfind(c.volume + ".lock.", 0) == 0) {
      fs::remove(entry.path(), ec);
      if (ec) return ec;
    }
  }
  if (ec) return ec;
  fs::remove(c.dir + "/scan.log", ec);
  fs::remove(c.dir + "/fake/calls", ec);
  fs::remove(c.dir + "/fake/argv", ec);
  return ec;
}

uint64_t count_result_lines(const bench_case& c) { return count_result_lines(c.mount_path); }

uint64_t count_result_lines(const std::string& mount_path) {
  uint64_t lines = 0;
  std::error_code ec;
  fs::recursive_directory_iterator it(mount_path + "/.tarn/working/scanner", ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file()) continue;
    std::ifstream in(it->path());
    char buf[1 << 16];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
      for (std::streamsize i = 0; i < in.gcount(); ++i) lines += buf[i] == '\n';
    }
  }
  return lines;
}

double peak_rss_mib() {
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) return -1;
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

double cpu_seconds() {
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  auto seconds = [](const struct timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace bench
}  // namespace tarn
