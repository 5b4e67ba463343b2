// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The NEW and MODIFY paths of a change list that no exclusion rule drops,
// found on a thread of their own while the filter writes them out.
#ifndef TARN_SCANNER_STAGES_FILTER_READ_AHEAD_H_
#define TARN_SCANNER_STAGES_FILTER_READ_AHEAD_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "core/platform.h"

namespace tarn {
namespace scanner {

// A change-list line is "<TYPE> <path>". With --no-encode glusterfind writes
// names raw, so the path is the rest of the line after the one blank or tab
// that ends the type word, inner and outer blanks included. False for lines
// that are not NEW or MODIFY or that hold no path.
bool changed_path(std::string_view line, std::string_view* path);

// Kept paths, each followed by "\n", one after the other in `text`; `ends`
// holds where each ends.
struct kept_batch {
  std::string text;
  std::vector<std::size_t> ends;
};

// Reads `in` to its end in batches, in order. `excluded` is asked about every
// changed path, on the reading thread; nothing else may use what it uses
// meanwhile.
class kept_paths {
 public:
  // Starts the reading thread, or, where none can be had, reads each batch
  // when it is asked for.
  kept_paths(os::line_reader* in, std::function<bool(const std::string&)> excluded);
  // Stops the reading and waits for it.
  ~kept_paths();
  kept_paths(const kept_paths&) = delete;
  kept_paths& operator=(const kept_paths&) = delete;

  // The next batch; false after the last one. Then error() tells whether the
  // list was read to its end.
  bool next(kept_batch* batch);
  std::error_code error();

 private:
  // Fills `batch`; false when the list had ended before.
  bool read_batch(kept_batch* batch);
  void read_ahead();

  os::line_reader* const in_;
  const std::function<bool(const std::string&)> excluded_;
  bool ended_ = false;          // by read_batch only
  std::error_code read_error_;  // by read_batch only, until finished_

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<kept_batch> ready_;
  bool finished_ = false;  // the reading thread has handed out its last batch
  std::error_code error_;  // how the reading ended, once finished_
  bool stop_ = false;      // the reader is going away
  std::atomic<bool> stopping_{false};  // the same, seen by a batch being read
  std::thread thread_;
};

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_STAGES_FILTER_READ_AHEAD_H_
