// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// What a session lock costs on a real GlusterFS volume: acquire and release
// through the scanner, where the exclusive create runs in a helper process
// with a connection of its own, against the same create made in-process on
// the shared connection.
//
//   lock_bench [VOLUME [TIMES]]     (default tarn-e2e, 50)
#include <fcntl.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "core/gfapi_calls.h"
#include "core/gluster_connection.h"
#include "scanner/scanner.h"

namespace {

using clock_type = std::chrono::steady_clock;

double ms_since(clock_type::time_point start) {
  return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

int in_process(const std::string& volume, const std::string& path, int times) {
  tarn::core::gluster_server server;
  tarn::core::gluster_server_for(tarn::iopx_tree_cfg(), &server);
  std::shared_ptr<tarn::core::gluster_connection> c;
  if (tarn::core::acquire_gluster_connection(volume, server, &c)) return 1;
  auto start = clock_type::now();
  for (int i = 0; i < times; ++i) {
    glfs_fd* fd = nullptr;
    if (tarn::core::gfapi::creat(c->fs(), path, O_CREAT | O_EXCL, 0644, &fd)) return 1;
    tarn::core::gfapi::close(fd);
    tarn::core::gfapi::unlink(c->fs(), path);
  }
  std::printf("create, close and remove in-process on the shared connection: %.1f ms each\n",
              ms_since(start) / times);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string volume = argc > 1 ? argv[1] : "tarn-e2e";
  int times = argc > 2 ? std::atoi(argv[2]) : 50;
  unsetenv("TARN_LOCAL_VOLUME_ROOT");
  // This program holds the library's code itself: name the build's helper.
  setenv("TARN_CREATE_HELPER", TARN_CREATE_HELPER_BINARY, 0);

  tarn::scanner::scanner s(volume, "/tmp/tarn-bench-out", "/mnt/" + volume);
  std::string session = "bench" + std::to_string(getpid());
  double slowest = 0;
  auto start = clock_type::now();
  for (int i = 0; i < times; ++i) {
    auto one = clock_type::now();
    boost::shared_ptr<tarn::tarn_file::tarn_file> lock = s.acquire_lock(session);
    if (!lock) return std::fprintf(stderr, "lock %d not obtained\n", i), 1;
    double took = ms_since(one);
    slowest = took > slowest ? took : slowest;
    s.release_lock(lock);
  }
  std::printf(
      "acquire_lock and release_lock through the helper: %.1f ms each (%d times, "
      "slowest acquire %.1f ms)\n",
      ms_since(start) / times, times, slowest);
  return in_process(volume, "/" + volume + ".lock." + session, times);
}
