// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The core library's logger: one line per message, to standard error or to
// the file named by the environment variable TARN_LOG_FILE.
#ifndef TARN_CORE_TARN_DEBUG_H_
#define TARN_CORE_TARN_DEBUG_H_

#include "core/tarn_export.h"

namespace tarn {
namespace tarn_debug {

// Thread-safe: several threads may log at once and their lines never
// interleave. A line is "<timestamp> [<function>] <message>"; a message that
// already ends in "\n" gets no second line end. The destination is chosen at
// each call, so TARN_LOG_FILE may be set after the logger was constructed.
class TARN_EXPORT tarn_debug {
 public:
  tarn_debug();
  ~tarn_debug();
  tarn_debug(const tarn_debug&) = delete;
  tarn_debug& operator=(const tarn_debug&) = delete;

  // Logs one message. `function` names the reporter ("scanner::initiate_scan").
  void error(const char* function, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
};

}  // namespace tarn_debug
}  // namespace tarn

#endif  // TARN_CORE_TARN_DEBUG_H_
