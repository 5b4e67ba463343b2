// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The steps of a scan run, one by one, each timed.
#include "bench/scan_steps.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "bench/bench_env.h"
#include "scanner/entry_order.h"

namespace tarn {
namespace bench {
namespace {

using clock_type = std::chrono::steady_clock;

double since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Times one call into `*time`.
template <typename F>
auto timed(step_time* time, F&& f) {
  double cpu = cpu_seconds();
  clock_type::time_point start = clock_type::now();
  auto result = f();
  time->wall = since(start);
  time->cpu = cpu_seconds() - cpu;
  return result;
}

std::error_code efault() { return std::error_code(EFAULT, std::generic_category()); }

// The entry count a working file carries after its last ".".
uint64_t suffix_count(const std::string& path) {
  size_t dot = path.rfind('.');
  return dot == std::string::npos ? 0 : std::strtoull(path.c_str() + dot + 1, nullptr, 10);
}

uint64_t suffix_total(const std::vector<std::string>& paths) {
  uint64_t total = 0;
  for (const std::string& p : paths) total += suffix_count(p);
  return total;
}

}  // namespace

std::error_code run_steps(scanner::scanner& s, const std::string& volume,
                          const std::string& output_dir, const std::string& session_name,
                          step_times* out) {
  namespace fs = std::filesystem;
  step_times t;
  double cpu = cpu_seconds();
  clock_type::time_point start = clock_type::now();

  boost::shared_ptr<scanner::tarn_file> lock = s.acquire_lock(session_name);
  if (!lock) return std::error_code(EBUSY, std::generic_category());
  std::error_code result = [&]() -> std::error_code {
    scanner::session* sess = s.get_sessionobj(session_name);
    if (sess == nullptr) return efault();
    s.create_recursive_directory(".tarn/working/scanner");
    sess->insert_to_excludelist(".tarn/working/scanner");
    sess->insert_to_excludelist(volume + ".lock." + session_name);

    std::string prefix = "full";
    std::string scan_output;
    sess->get_outputfilepath(prefix, "", scan_output);
    if (timed(&t.glusterfind, [&] { return sess->full_scan(scan_output); }) != 0) return efault();

    prefix = "filteredfile";
    std::string filtered;
    sess->get_outputfilepath(prefix, "", filtered);
    sess->insert_to_excludelist(filtered);
    unsigned long count = 0;
    std::error_code ec = timed(
        &t.filter, [&] { return sess->filter_new_and_modified(scan_output, filtered, count); });
    std::error_code ignored;
    fs::remove(scan_output, ignored);  // the run drops the change list whatever the filter did
    if (ec) return ec;
    t.kept = count;

    prefix = "processed";
    std::string collect_file;
    sess->get_collectfilename(prefix, count, collect_file);
    sess->insert_to_excludelist(collect_file);
    fs::rename(filtered, collect_file, ec);
    if (ec) return ec;
    sess->savefilename(collect_file);

    std::vector<std::string> entries;
    timed(&t.sort, [&] {
      std::ifstream in(collect_file);
      std::string line;
      while (std::getline(in, line)) entries.push_back(line);
      scanner::sort_entries(entries);
      return 0;
    });

    std::vector<std::string> app_files, shard_files, linked_files;
    if ((ec = timed(&t.distribute, [&] {
           return sess->distribute_basedon_application(entries, app_files, shard_files);
         }))) {
      return ec;
    }
    fs::remove(collect_file, ec);
    t.app_lines = suffix_total(app_files);
    t.shard_lines = suffix_total(shard_files);
    if ((ec = timed(&t.link, [&] {
           return sess->link_shard_to_app(app_files, shard_files, linked_files);
         }))) {
      return ec;
    }
    t.linked = suffix_total(linked_files);
    if ((ec = timed(&t.chunk, [&] { return sess->multithreaded_chunking(linked_files); }))) {
      return ec;
    }
    if ((ec = timed(&t.copy, [&] { return s.copy_files_to_gluster(); }))) return ec;
    fs::remove(output_dir, ignored);
    return std::error_code();
  }();
  s.release_lock(lock);
  t.total.wall = since(start);
  t.total.cpu = cpu_seconds() - cpu;
  if (!result) *out = t;
  return result;
}

}  // namespace bench
}  // namespace tarn
