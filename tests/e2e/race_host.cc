// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// A racer for the lock tests: makes its scanner, says "ready", waits for the
// end of its standard input, runs one full scan and writes the result value
// and the milliseconds the run took:
//   tarn_e2e_racer VOLUME OUTPUT_DIR MOUNT SESSION
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "scanner/scanner.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s VOLUME OUTPUT_DIR MOUNT SESSION\n", argv[0]);
    return 2;
  }
  tarn::scanner::scanner scanner(argv[1], argv[2], argv[3]);
  std::printf("ready\n");
  std::fflush(stdout);
  char c;
  while (read(0, &c, 1) > 0) {
  }
  auto start = std::chrono::steady_clock::now();
  std::error_code ec = scanner.initiate_scan(argv[4]);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  start);
  std::printf("%d %lld\n", ec.value(), static_cast<long long>(ms.count()));
  return ec ? 1 : 0;
}
