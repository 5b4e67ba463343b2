// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Cutting long lists into chunk files on worker threads.
#include "scanner/scanner.h"

namespace tarn {
namespace scanner {

std::error_code session::multithreaded_chunking(std::vector<std::string> /*linked_files*/) {
  return success;
}

void session::chunk_collectfile_wrapper(std::vector<std::string> /*files*/, int /*begin_index*/,
                                        int /*end_index*/) {}

std::error_code session::chunk_collectfile(std::string /*path*/, int /*chunk_size*/) {
  return success;
}

}  // namespace scanner
}  // namespace tarn
