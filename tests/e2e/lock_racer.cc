// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// A host process that only races for a session's lock on a real volume.
//   tarn_e2e_lock_racer VOLUME SESSION GATE_DIR
// Opens the volume and makes GATE_DIR/ready.<pid>; when GATE_DIR/start
// appears, tries to take the lock. Holding it, it makes GATE_DIR/held.<pid>
// and releases the lock once GATE_DIR/release appears. Prints 0 when it held
// the lock, 16 when not.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "scanner/scanner.h"

namespace {

void make(const std::string& path) {
  if (FILE* f = std::fopen(path.c_str(), "w")) std::fclose(f);
}

// Waits for `path` to appear, at most two minutes.
bool wait_for(const std::string& path) {
  struct stat st;
  for (int i = 0; i < 24000; ++i) {
    if (stat(path.c_str(), &st) == 0) return true;
    usleep(5000);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s VOLUME SESSION GATE_DIR\n", argv[0]);
    return 2;
  }
  const std::string gate = argv[3];
  const std::string me = std::to_string(getpid());
  tarn::scanner::scanner scanner(argv[1], gate + "/out." + me, gate);
  make(gate + "/ready." + me);
  if (!wait_for(gate + "/start")) return 3;
  boost::shared_ptr<tarn::tarn_file::tarn_file> lock = scanner.acquire_lock(argv[2]);
  if (!lock) {
    std::printf("16\n");
    return 0;
  }
  make(gate + "/held." + me);
  bool released = wait_for(gate + "/release");
  scanner.release_lock(lock);
  std::printf("0\n");
  return released ? 0 : 3;
}
