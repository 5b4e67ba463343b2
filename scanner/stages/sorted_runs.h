// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The sort of a collect file within a memory budget. A file whose entries fit
// is sorted in memory, as one vector. A longer one is cut into chunks that
// fit, each sorted and written as a run file in the output directory, and the
// runs are merged in application_order as the distribution reads them.
#ifndef TARN_SCANNER_STAGES_SORTED_RUNS_H_
#define TARN_SCANNER_STAGES_SORTED_RUNS_H_

#include <cstddef>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "scanner/run/local_files.h"

namespace tarn {
namespace scanner {

// Run files merged at once at most: more are first merged in passes into
// fewer, longer runs, so that a merge never holds more files open.
constexpr std::size_t kMergeFanIn = 64;

// Sorted entries one at a time.
class entry_source {
 public:
  virtual ~entry_source() = default;
  // The next entry, valid until the next call; null at the end and after a
  // failure, which error() tells apart.
  virtual const std::string* next() = 0;
  virtual std::error_code error() const = 0;
};

// The entries of a vector, in its order. The vector must outlive it.
class vector_entries : public entry_source {
 public:
  explicit vector_entries(const std::vector<std::string>& entries) : entries_(entries) {}
  const std::string* next() override {
    return next_ < entries_.size() ? &entries_[next_++] : nullptr;
  }
  std::error_code error() const override { return std::error_code(); }

 private:
  const std::vector<std::string>& entries_;
  std::size_t next_ = 0;
};

// What `entry` costs the in-memory sort, roughly: the heap block of its text
// (none for a short string kept in the object), its string in the vector and
// in the sort's second vector, and the sort's number of its application.
std::size_t entry_footprint(const std::string& entry);

// ".<session>.sort.<n>": a run file, hidden, in the output directory. It is
// written as "<name>.partial" and renamed when complete.
std::string sort_run_name(const std::string& session, std::size_t n);
// True for the name of a run file of `session`, complete or ".partial".
bool is_sort_run_name(const std::string& file_name, const std::string& session);

// The run files of one sort. Those still there when it goes are removed, so
// that none outlives the post-processing, whether it succeeded or failed.
// Not thread-safe.
class sort_runs {
 public:
  // `files` must outlive it; runs go to `directory`, named for `session`.
  sort_runs(local_files& files, std::string directory, std::string session)
      : files_(files), directory_(std::move(directory)), session_(std::move(session)) {}
  ~sort_runs() { remove_all(); }
  sort_runs(const sort_runs&) = delete;
  sort_runs& operator=(const sort_runs&) = delete;

  bool empty() const { return paths_.empty(); }
  // Run files there now.
  std::size_t size() const { return paths_.size(); }
  // Run files written so far, merged ones included.
  std::size_t written() const { return written_; }

  // Writes the sorted `entries` as the next run file.
  std::error_code write(const std::vector<std::string>& entries);
  // Merges the oldest runs into new ones until at most `fan_in` (2 or more)
  // are left, removing each run once merged.
  std::error_code reduce(std::size_t fan_in);
  // The merge of every run, in application_order. It reads the files while
  // they are there: remove_all() only after it has gone.
  std::error_code open_merge(std::unique_ptr<entry_source>* out);
  // Removes every run file; what cannot be removed is left for the next run
  // to tidy up.
  void remove_all();

 private:
  std::error_code write_run(entry_source& entries);

  local_files& files_;
  const std::string directory_;
  const std::string session_;
  std::vector<std::string> paths_;  // the runs, oldest first
  std::size_t written_ = 0;
};

// Reads `collect_file` and sorts its entries (sort_entries). When they fit in
// `budget` bytes (by entry_footprint and the vector's own size), they end in
// `*entries` and no file is written. Otherwise `*entries` is left empty and
// `*runs` holds at most kMergeFanIn sorted runs of them, to be merged.
// Returns the errno of a failed open, read or write, logged as `function`.
std::error_code sort_collect_file(local_files& files, const std::string& collect_file,
                                  std::size_t budget, const char* function,
                                  std::vector<std::string>* entries, sort_runs* runs);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_STAGES_SORTED_RUNS_H_
