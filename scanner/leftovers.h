// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// What an earlier run that failed or was killed left in the output directory:
// set aside before a run begins, so that the copy step files only the run's
// own results into the volume.
#ifndef TARN_SCANNER_LEFTOVERS_H_
#define TARN_SCANNER_LEFTOVERS_H_

#include <cstddef>
#include <string>
#include <system_error>

namespace tarn {
namespace scanner {

// Moves every entry of `output_dir` into a new directory beside it,
// "<output_dir>.leftover-XXXXXX" (final slashes of output_dir dropped), whose
// path goes to `*moved_to`; `*moved` receives the number of entries moved.
// A missing or empty output_dir moves nothing and makes no directory.
// Returns the errno of a listing, mkdir or rename that failed (entries moved
// before it stay moved), or EINVAL when output_dir is "/" or ends in "." or
// "..", which leaves no place beside it.
std::error_code set_aside_leftovers(const std::string& output_dir, std::string* moved_to,
                                    std::size_t* moved);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_LEFTOVERS_H_
