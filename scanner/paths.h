// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Fixed names the scanner shares between its steps.
#ifndef TARN_SCANNER_PATHS_H_
#define TARN_SCANNER_PATHS_H_

namespace tarn {
namespace scanner {

// The scanner's working directory, relative to the volume's top directory.
constexpr const char kWorkingDirectory[] = ".tarn/working/scanner";

// Entries per chunk file.
constexpr int kChunkSize = 16000;

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_PATHS_H_
