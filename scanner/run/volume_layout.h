// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Where the scanner's results lie in the volume.
#ifndef TARN_SCANNER_RUN_VOLUME_LAYOUT_H_
#define TARN_SCANNER_RUN_VOLUME_LAYOUT_H_

namespace tarn {
namespace scanner {

// The scanner's working directory, relative to the volume's top directory.
constexpr const char kWorkingDirectory[] = ".tarn/working/scanner";

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_RUN_VOLUME_LAYOUT_H_
