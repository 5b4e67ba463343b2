// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Quoting of values placed on a shell command line.
#ifndef TARN_SCANNER_GLUSTERFIND_SHELL_QUOTE_H_
#define TARN_SCANNER_GLUSTERFIND_SHELL_QUOTE_H_

#include <string>

#include "core/tarn_export.h"

namespace tarn {
namespace scanner {

// A plain value (letters, digits and . _ - / : @ + = , only) comes back
// unchanged. Any other value, the empty one included, comes back in single
// quotes, each ' written as '\'', so the shell passes it on as one word and
// runs nothing of it. Exported for tarn-scan's check and status.
TARN_EXPORT std::string shell_quote(const std::string& value);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_GLUSTERFIND_SHELL_QUOTE_H_
