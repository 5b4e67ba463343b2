// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Reads a text file line by line, keeping every byte of each line, and
// reports a read error instead of taking it for the end of the file.
#ifndef TARN_SCANNER_LINE_READER_H_
#define TARN_SCANNER_LINE_READER_H_

#include <cstddef>
#include <string>
#include <system_error>
#include <vector>

#include "scanner/os.h"

namespace tarn {
namespace scanner {

class line_reader {
 public:
  // `in` must stay open while the reader is used.
  explicit line_reader(os::file& in, std::size_t buffer_size = 64 * 1024);

  // Sets `*line` to the next line without its "\n" (a last line without one
  // counts too) and `*found` to true; at the end of the file `*found` is
  // false. On a read error `*line` is unspecified.
  std::error_code next(std::string* line, bool* found);

 private:
  os::file& in_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool at_end_ = false;
};

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_LINE_READER_H_
