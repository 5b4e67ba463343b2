// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// A host process for the end-to-end tests: one scan run, its result value on
// standard output.
//   tarn_e2e_host VOLUME OUTPUT_DIR MOUNT SESSION full|incremental
#include <cstdio>
#include <cstring>

#include "scanner/scanner.h"

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s VOLUME OUTPUT_DIR MOUNT SESSION full|incremental\n", argv[0]);
    return 2;
  }
  tarn::scanner::scanner scanner(argv[1], argv[2], argv[3]);
  if (std::strcmp(argv[5], "incremental") == 0) {
    scanner.set_scan_type(tarn::scanner::scanner::scan_incremental);
  }
  std::error_code ec = scanner.initiate_scan(argv[4]);
  std::printf("%d\n", ec.value());
  return ec ? 1 : 0;
}
