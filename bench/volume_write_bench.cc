// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// What a host pays on a real GlusterFS volume: making and dropping scanners,
// and copying result lines into the volume through the core layer the way
// the copy step does (one buffer and one write per line).
//
//   volume_write_bench [VOLUME [LINES]]     (default tarn-e2e, 100000)
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/gfapi_calls.h"
#include "core/gluster_connection.h"
#include "core/tarn_api.h"
#include "scanner/scanner.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

// A result line as the scanner writes it: a piece path and a line feed.
std::string piece_line(long i) {
  char buf[80];
  std::snprintf(buf, sizeof buf, ".shard/3f2a9c4e-8d1b-4c7e-9a55-0b6d2e1f%04lx.%ld\n",
                i % 0x10000, i);
  return buf;
}

int copy_lines(tarn::tarn_api& api, const boost::shared_ptr<tarn::tarn_iopx::tarn_iopx>& iopx,
               const std::string& path, long lines) {
  api.unlink(iopx, path);
  auto start = clock_type::now();
  boost::shared_ptr<tarn::tarn_file::tarn_file> f = api.open(iopx, path, O_CREAT | O_WRONLY);
  if (!f) return std::fprintf(stderr, "open %s: %s\n", path.c_str(),
                              api.last_error().message().c_str()), 1;
  int64_t offset = f->get_file_size();
  for (long i = 0; i < lines; ++i) {
    std::string line = piece_line(i);
    boost::shared_ptr<tarn::tarn_mem::buff> b = api.alloc_io_buffer(line.size() + 1);
    std::memcpy(b->get_base(), line.data(), line.size());
    int64_t n = api.write(f, b, line.size(), offset, 0);
    if (n != static_cast<int64_t>(line.size())) return std::fprintf(stderr, "write failed\n"), 1;
    offset += n;
  }
  std::error_code ec = api.close(f);
  double took = seconds_since(start);
  if (ec) return std::fprintf(stderr, "close: %s\n", ec.message().c_str()), 1;
  std::printf("copy of %ld lines (%lld bytes) through tarn_api: %.3f s (%.1f us per line)\n",
              lines, static_cast<long long>(offset), took, took * 1e6 / lines);
  return 0;
}

// The same lines with one libgfapi call each, as without coalescing.
int raw_lines(const std::string& volume, const std::string& path, long lines) {
  tarn::core::gluster_server server;
  tarn::core::gluster_server_for(tarn::iopx_tree_cfg(), &server);
  std::shared_ptr<tarn::core::gluster_connection> c;
  if (tarn::core::acquire_gluster_connection(volume, server, &c)) return 1;
  glfs_fd* fd = nullptr;
  tarn::core::gfapi::unlink(c->fs(), "/" + path);
  if (tarn::core::gfapi::creat(c->fs(), "/" + path, O_CREAT | O_EXCL | O_WRONLY, 0644, &fd)) {
    return 1;
  }
  auto start = clock_type::now();
  int64_t offset = 0;
  for (long i = 0; i < lines; ++i) {
    std::string line = piece_line(i);
    if (tarn::core::gfapi::pwrite_all(fd, line.data(), line.size(), offset)) return 1;
    offset += static_cast<int64_t>(line.size());
  }
  tarn::core::gfapi::close(fd);
  double took = seconds_since(start);
  std::printf("the same, %ld lines, one libgfapi write each: %.3f s (%.1f us per line)\n",
              lines, took, took * 1e6 / lines);
  tarn::core::gfapi::unlink(c->fs(), "/" + path);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string volume = argc > 1 ? argv[1] : "tarn-e2e";
  long lines = argc > 2 ? std::atol(argv[2]) : 100000;
  unsetenv("TARN_LOCAL_VOLUME_ROOT");

  auto start = clock_type::now();
  { tarn::scanner::scanner first(volume, "/tmp/tarn-bench-out", "/mnt/" + volume); }
  std::printf("first scanner made and destroyed (connects): %.1f ms\n",
              seconds_since(start) * 1e3);
  constexpr int kScanners = 100;
  start = clock_type::now();
  for (int i = 0; i < kScanners; ++i) {
    tarn::scanner::scanner later(volume, "/tmp/tarn-bench-out", "/mnt/" + volume);
  }
  std::printf("each later scanner made and destroyed: %.3f ms (mean of %d)\n",
              seconds_since(start) * 1e3 / kScanners, kScanners);

  tarn::tarn_api api;
  tarn::iopx_tree_cfg cfg;
  cfg.fs_type = "glusterfs";
  cfg.volume = volume;
  boost::shared_ptr<tarn::tarn_iopx::tarn_iopx> iopx = api.init(cfg);
  if (!iopx) return std::fprintf(stderr, "cannot open volume %s\n", volume.c_str()), 1;
  std::string path = "bench-lines-" + std::to_string(getpid());
  if (copy_lines(api, iopx, path, lines) != 0) return 1;
  api.unlink(iopx, path);
  if (raw_lines(volume, path + "-raw", lines / 10) != 0) return 1;
  std::printf("connections made by this process: %zu\n", tarn::core::gluster_connections_made());
  return 0;
}
