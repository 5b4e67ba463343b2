// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// A scan of a real GlusterFS volume, timed step by step, and its lists checked.
#include "bench/rig_bench.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_set>
#include <vector>

#include "bench/bench_env.h"
#include "bench/scan_steps.h"
#include "scanner/scanner.h"

namespace tarn {
namespace bench {
namespace {

namespace fs = std::filesystem;

std::string env_or(const char* name, const std::string& fallback) {
  const char* v = getenv(name);
  return v != nullptr && *v != '\0' ? v : fallback;
}

double children_cpu_seconds() {
  struct rusage usage;
  if (getrusage(RUSAGE_CHILDREN, &usage) != 0) return 0;
  auto seconds = [](const struct timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void read_lines(const fs::path& path, std::vector<std::string>* out) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) out->push_back(line);
}

// Every line of every list below the volume's ".tarn/working/scanner".
std::vector<std::string> result_lines(const std::string& mount) {
  std::vector<std::string> lines;
  std::error_code ec;
  fs::recursive_directory_iterator it(mount + "/.tarn/working/scanner", ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file() && it->path().filename().string()[0] != '.') {
      read_lines(it->path(), &lines);
    }
  }
  return lines;
}

// A listed line that the expect file does not name is fine when it is a
// directory (glusterfind lists those whose entries changed) or an entry
// that is gone since; a piece never is.
bool allowed_extra(const std::string& mount, const std::string& line) {
  if (line.rfind(".shard/", 0) == 0) return false;
  struct stat st;
  if (lstat((mount + "/" + line).c_str(), &st) != 0) return errno == ENOENT;
  return S_ISDIR(st.st_mode);
}

struct check_result {
  uint64_t listed = 0, expected = 0, missing = 0, extra_ok = 0, extra_bad = 0;
  std::string example;
};

check_result check_lists(const rig_target& t) {
  check_result r;
  std::vector<std::string> want;
  read_lines(t.expect, &want);
  if (!t.list_files) {
    want.erase(std::remove_if(want.begin(), want.end(),
                              [](const std::string& line) { return line.rfind(".shard/", 0) != 0; }),
               want.end());
  }
  r.expected = want.size();
  std::unordered_set<std::string> expected(want.begin(), want.end());
  std::vector<std::string> got = result_lines(t.mount);
  r.listed = got.size();
  std::unordered_set<std::string> seen;
  for (const std::string& line : got) {
    seen.insert(line);
    if (expected.count(line) != 0) continue;
    if (allowed_extra(t.mount, line)) {
      ++r.extra_ok;
    } else {
      if (r.extra_bad++ == 0) r.example = "listed but not changed: " + line;
    }
  }
  for (const std::string& line : want) {
    if (seen.count(line) == 0 && r.missing++ == 0 && r.example.empty()) {
      r.example = "changed but not listed: " + line;
    }
  }
  return r;
}

void put(benchmark::State& state, const std::string& name, double v) {
  state.counters[name] = benchmark::Counter(v);
}

}  // namespace

bool rig_target_from_env(const std::string& data_dir, rig_target* out) {
  rig_target t;
  t.volume = env_or("TARN_BENCH_RIG_VOLUME", "");
  if (t.volume.empty()) return false;
  t.mount = env_or("TARN_BENCH_RIG_MOUNT", "/mnt/" + t.volume);
  t.name = env_or("TARN_BENCH_RIG_CASE", "rig");
  t.session = env_or("TARN_BENCH_RIG_SESSION", "tarn_bench");
  t.full = env_or("TARN_BENCH_RIG_SCAN", "full") != "incremental";
  t.expect = env_or("TARN_BENCH_RIG_EXPECT", "");
  t.post = getenv("TARN_BENCH_RIG_NO_POST") == nullptr;
  t.list_files = env_or("TARN_BENCH_RIG_LIST_FILES", t.full ? "0" : "1") == "1";
  t.work_dir = fs::absolute(fs::path(data_dir) / ("rig-work-" + t.volume)).string();
  *out = t;
  return true;
}

void bm_rig(benchmark::State& state, const rig_target& t) {
  // The volume is the GlusterFS one: no local-directory stand-in.
  unsetenv("TARN_LOCAL_VOLUME_ROOT");
  // The lock is created through the helper of this build, unless told otherwise.
  setenv("TARN_CREATE_HELPER", TARN_CREATE_HELPER_BINARY, 0);
  const std::string scan = t.full ? "full" : "incremental";
  for (auto _ : state) {
    std::error_code ec;
    fs::create_directories(t.work_dir, ec);
    fs::remove_all(t.work_dir + "/out", ec);
    fs::remove_all(t.mount + "/.tarn/working/scanner", ec);
    if (ec) {
      fail(state, "setup: " + ec.message());
      break;
    }
    const std::string log = t.work_dir + "/scan-" + scan + ".log";
    fs::remove(log, ec);
    setenv("TARN_LOG_FILE", log.c_str(), 1);
    scanner::scanner s(t.volume, t.work_dir + "/out", t.mount);
    s.set_scan_type(t.full ? scanner::scanner::scan_full : scanner::scanner::scan_incremental);
    s.set_list_files(t.list_files);
    double children_cpu = children_cpu_seconds();
    step_times st;
    if ((ec = run_steps(s, t.work_dir + "/out", t.session, &st, true))) {
      fail(state, "steps: " + ec.message() + " (see " + t.work_dir + "/scan-" + scan + ".log)");
      break;
    }
    children_cpu = children_cpu_seconds() - children_cpu;
    double peak = peak_rss_mib();
    double post = 0;
    if (t.post) {
      auto start = std::chrono::steady_clock::now();
      scanner::session* sess = s.get_sessionobj(t.session);
      if (sess == nullptr || sess->post_scan() != 0) {
        fail(state, "glusterfind post failed");
        break;
      }
      post = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.SetIterationTime(st.total.wall);

    const std::pair<const char*, const step_time*> steps[] = {
        {"glusterfind", &st.glusterfind}, {"filter", &st.filter}, {"sort", &st.sort},
        {"distribute", &st.distribute},   {"link", &st.link},     {"chunk", &st.chunk},
        {"copy", &st.copy},               {"total", &st.total}};
    for (const auto& step : steps) {
      put(state, std::string(step.first) + "_s", step.second->wall);
      put(state, std::string(step.first) + "_cpu_s", step.second->cpu);
    }
    // The other steps of the run, by name ("session_step_s", ...).
    for (const auto& step : st.steps) {
      std::string name = step.first;
      for (char& c : name) {
        if (c == ' ' || c == '-') c = '_';
      }
      put(state, name + "_step_s", step.second.wall);
    }
    // The session step runs glusterfind too ("glusterfind list", and
    // "glusterfind create" on the session's first run): neither its pass
    // nor the library's own work.
    const double session = st.steps.count("session") != 0 ? st.steps["session"].wall : 0;
    put(state, "session_s", session);
    put(state, "list_files", t.list_files ? 1 : 0);
    double own = st.total.wall - st.glusterfind.wall - session;
    put(state, "own_s", own);
    const double session_cpu = st.steps.count("session") != 0 ? st.steps["session"].cpu : 0;
    put(state, "own_cpu_s", st.total.cpu - st.glusterfind.cpu - session_cpu);
    put(state, "own_per_entry_us", st.lines > 0 ? own / st.lines * 1e6 : 0);
    put(state, "own_to_glusterfind", st.glusterfind.wall > 0 ? own / st.glusterfind.wall : 0);
    put(state, "glusterfind_children_cpu_s", children_cpu);
    put(state, "post_s", post);
    put(state, "lines", st.lines);
    put(state, "kept", st.kept);
    put(state, "app_lines", st.app_lines);
    put(state, "shard_lines", st.shard_lines);
    put(state, "linked", st.linked);
    put(state, "full", t.full ? 1 : 0);
    put(state, "peak_MiB", peak);

    if (!t.expect.empty()) {
      check_result r = check_lists(t);
      put(state, "listed", r.listed);
      put(state, "expected", r.expected);
      put(state, "extra_allowed", r.extra_ok);
      if (r.missing != 0 || r.extra_bad != 0) {
        fail(state, std::to_string(r.missing) + " changed entries not listed, " +
                        std::to_string(r.extra_bad) + " listed that did not change; " +
                        r.example);
        break;
      }
    }
  }
}

}  // namespace bench
}  // namespace tarn
