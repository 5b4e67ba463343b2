// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "scanner/line_reader.h"

#include <cstring>

namespace tarn {
namespace scanner {

line_reader::line_reader(os::file& in, std::size_t buffer_size)
    : in_(in), buffer_(buffer_size > 0 ? buffer_size : 1) {}

std::error_code line_reader::next(std::string* line, bool* found) {
  line->clear();
  for (;;) {
    const char* start = buffer_.data() + begin_;
    const void* lf = std::memchr(start, '\n', end_ - begin_);
    if (lf != nullptr) {
      std::size_t length = static_cast<const char*>(lf) - start;
      line->append(start, length);
      begin_ += length + 1;
      *found = true;
      return std::error_code();
    }
    line->append(start, end_ - begin_);
    begin_ = end_ = 0;
    if (!at_end_) {
      if (std::error_code ec = in_.read(buffer_.data(), buffer_.size(), &end_)) return ec;
      at_end_ = end_ == 0;
    }
    if (at_end_) {
      *found = !line->empty();
      return std::error_code();
    }
  }
}

}  // namespace scanner
}  // namespace tarn
