// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// What the library and its exclusive-create helper program say to each other,
// and the helper's side of it (the library's side is in exclusive_create.h).
//
// The helper runs with its end of a channel as standard input:
//   helper -> library  "connected"          once it has a connection of its own
//   helper -> library  "result <errno>"     the create's outcome, 0 = created
//   library -> helper  "keep"               the file is the library's now
// Anything else from the library, end of input above all, means the attempt
// was given up: a file the helper created is then removed by the helper.
#ifndef TARN_CORE_CREATE_HELPER_PROTOCOL_H_
#define TARN_CORE_CREATE_HELPER_PROTOCOL_H_

#include <sys/types.h>

#include <string>
#include <system_error>
#include <vector>

#include "core/child_process.h"

namespace tarn {
namespace core {

// The helper's command line:
//   tarn-create-exclusive VOLUME HOST PORT PATH FLAGS MODE
// FLAGS and MODE in decimal; PATH absolute in the volume.
struct create_helper_args {
  std::string volume;
  std::string host;
  int port = 0;
  std::string path;
  int flags = 0;
  mode_t mode = 0;

  std::vector<std::string> to_argv(const std::string& program) const;
  // EINVAL for a wrong number of arguments or a number that does not parse.
  static std::error_code parse(int argc, const char* const* argv, create_helper_args* out);
};

extern const char kConnectedLine[];
extern const char kKeepLine[];
std::string result_line(const std::error_code& ec);
// True for a well-formed result line; *error is its errno (0 = created).
bool parse_result_line(const std::string& line, int* error);

// What a helper does on the volume. The real one works over libgfapi; tests
// use a local directory.
class create_operations {
 public:
  virtual ~create_operations() = default;
  virtual std::error_code connect() = 0;
  // Creates `path` exclusively and closes it.
  virtual std::error_code create(const std::string& path, int flags, mode_t mode) = 0;
  virtual std::error_code remove(const std::string& path) = 0;
};

// Serves one exclusive create for the library at the other end of `library`
// and returns the exit status for the helper (0 when the library kept the
// file it created).
// Returns only when it is done with the file: kept for the library, or
// removed. Terminal signals (SIGINT, SIGQUIT, SIGHUP) and SIGTERM, which a
// service manager sends to every process of a stopped job, are ignored from
// the start so that a helper always finishes what it began; a helper whose
// library is gone reads end of input and tidies up.
int serve_exclusive_create(const create_helper_args& args, create_operations& ops,
                           channel& library);

}  // namespace core
}  // namespace tarn

#endif  // TARN_CORE_CREATE_HELPER_PROTOCOL_H_
