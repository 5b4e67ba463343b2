// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The run's local side with faults: a forwarding wrapper over the local file
// system that fails chosen calls, as fault_backend.h does for the volume.
#ifndef TARN_TESTS_UNIT_FAULT_FILES_H_
#define TARN_TESTS_UNIT_FAULT_FILES_H_

#include <mutex>
#include <string>
#include <vector>

#include "unit/test_util.h"

namespace tarn {
namespace testing_util {

enum class local_call { create, write, close, rename, remove, read_lines, read_xattr };

// Thread-safe: the chunking threads and the gfid read-ahead call it at once.
class fault_files : public attribute_files {
 public:
  // Fails the `nth` call (from 1) of `op` on a path ending in `match` with
  // `error`, once. A failed write or close leaves the file as far as it got.
  void fail(local_call op, int nth, int error, const std::string& match = "");
  // Number of calls of `op` on paths ending in `match` so far.
  int calls(local_call op, const std::string& match = "") const;

  // The errno planned for this call, or 0. For the wrapped files.
  int enter(local_call op, const std::string& path);

  std::error_code create(const std::string& path,
                         std::unique_ptr<scanner::line_output>* out) override;
  std::error_code read_lines(const std::string& path,
                             std::unique_ptr<scanner::line_input>* out) override;
  std::error_code rename(const std::string& from, const std::string& to) override;
  std::error_code remove(const std::string& path) override;
  std::error_code read_xattr(const std::string& path, const char* name,
                             std::string* value) override;

 private:
  struct rule {
    local_call op;
    std::string match;
    int remaining;
    int error;
  };
  mutable std::mutex mu_;
  std::vector<rule> rules_;
  std::vector<std::pair<local_call, std::string>> seen_;
};

}  // namespace testing_util
}  // namespace tarn

#endif  // TARN_TESTS_UNIT_FAULT_FILES_H_
