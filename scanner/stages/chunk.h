// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// What the chunk step leaves: the names follow from the linked lists' counts.
#ifndef TARN_SCANNER_STAGES_CHUNK_H_
#define TARN_SCANNER_STAGES_CHUNK_H_

#include <string>
#include <vector>

#include "scanner/stages/list_file.h"

namespace tarn {
namespace scanner {

// The lists that chunking leaves of the lists `linked` ("<base>.<count>"),
// in their order: a list of at most `chunk_size` entries stays as it is; a
// longer one is its chunks "<base>-<n>.<count>", n from 1, each of
// `chunk_size` entries but the last.
std::vector<std::string> lists_after_chunking(const std::vector<std::string>& linked,
                                              int chunk_size = kChunkSize);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_STAGES_CHUNK_H_
