// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The output directory is the library's own: made (or taken while empty) and
// marked by it, refused when it holds anything else or lies in or around the
// volume's mount. What a failed or killed run left there is set aside inside
// it, where a rename always works, never filed as a result.
#ifndef TARN_SCANNER_GUARDS_OUTPUT_DIR_H_
#define TARN_SCANNER_GUARDS_OUTPUT_DIR_H_

#include <cstddef>
#include <string>
#include <system_error>
#include <vector>

#include "core/tarn_export.h"

namespace tarn {
namespace scanner {

// The marker file of an output directory the library made or took, and the
// directory of the leftovers in it. Neither name holds a "-", which every
// working file and result list of a run has.
extern const char kOutputDirMarker[];     // ".tarn_output_dir"
TARN_EXPORT extern const char kLeftoversDirectory[];  // ".tarn_leftovers", exported for status
// Sets of leftovers kept per session; older ones are removed.
constexpr std::size_t kKeptLeftoverSets = 3;

// True for the marker and the leftovers directory: entries of the output
// directory that are no working file of a run.
bool is_output_dir_bookkeeping(const std::string& name);

// Makes `output_dir` the run's own before anything is written there:
//  - EINVAL when it is `mount_path`, lies below it or holds it (the mount's
//    parent, "/", ...), or names something that is no directory;
//  - a missing directory is made (with missing parents) and marked, and so
//    is an existing empty one;
//  - ENOTEMPTY when it holds entries but no marker: they are not the
//    library's, and a run neither moves nor files them.
// Other errors are the errno of a failed call. `*why` says what is wrong.
std::error_code claim_output_dir(const std::string& output_dir, const std::string& mount_path,
                                 std::string* why);

// What set_aside_leftovers did.
struct leftovers_moved {
  std::vector<std::string> names;   // the entries found to move (all of them, even after a failure)
  std::size_t files = 0;            // entries moved
  std::string to;                   // the directory they went to
  std::vector<std::string> pruned;  // older sets removed
  std::size_t sort_runs_removed = 0;  // the session's sort run files, removed instead
};

// Moves every entry of the claimed `output_dir` but the marker and the
// leftovers directory to "<output_dir>/.tarn_leftovers/<session>/<stamp>-XXXXXX",
// <stamp> the UTC time (so that names sort by age; a session name is made
// safe as one path component), then removes all but the newest
// kKeptLeftoverSets sets of the session. An entry that cannot be renamed
// across file systems is copied and removed. Nothing to move makes nothing.
// The session's sort run files (is_sort_run_name) are removed instead: they
// hold nothing but entries of the collect file, and may be large; one that
// cannot be removed is moved with the rest.
std::error_code set_aside_leftovers(const std::string& output_dir, const std::string& session,
                                    leftovers_moved* result);

// What inspect_output_dir found: a directory a run would make, an empty one
// it would mark, or one it made or marked before.
enum class output_dir_state { missing, empty, claimed };

// The checks of claim_output_dir, without making or marking anything: the
// same errors and *why, and on success the state found. Exported for
// `tarn-scan check`, which must not write.
TARN_EXPORT std::error_code inspect_output_dir(const std::string& output_dir,
                                               const std::string& mount_path,
                                               output_dir_state* state, std::string* why);

// After a successful run: removes the marker and the directory when nothing
// else is left in it. Leftovers and files that could not be removed keep it.
void release_output_dir(const std::string& output_dir);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_GUARDS_OUTPUT_DIR_H_
