// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The exclusive-create helper's command line, messages and side of the talk.
#include "core/create_helper_protocol.h"

#include <signal.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "core/tarn_debug.h"

namespace tarn {
namespace core {
namespace {

constexpr char kResultPrefix[] = "result ";

// A non-negative decimal number that fits an int.
bool parse_number(const std::string& text, long long max, long long* out) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != text.npos) {
    return false;
  }
  long long value = std::atoll(text.c_str());
  if (value > max) return false;
  *out = value;
  return true;
}

// True when the library has closed its end: it gave up, or it is gone.
bool library_gone(channel& library) {
  steady_time now = std::chrono::steady_clock::now();
  std::string line;
  return !library.receive_line(&now, &line) && line.empty();
}

}  // namespace

const char kConnectedLine[] = "connected";
const char kKeepLine[] = "keep";

std::vector<std::string> create_helper_args::to_argv(const std::string& program) const {
  return {program,
          volume,
          host,
          std::to_string(port),
          path,
          std::to_string(flags),
          std::to_string(mode)};
}

std::error_code create_helper_args::parse(int argc, const char* const* argv,
                                          create_helper_args* out) {
  std::error_code invalid(EINVAL, std::generic_category());
  if (argc != 7) return invalid;
  long long port, flags, mode;
  if (!parse_number(argv[3], 65535, &port) || !parse_number(argv[5], INT_MAX, &flags) ||
      !parse_number(argv[6], 07777, &mode)) {
    return invalid;
  }
  create_helper_args args;
  args.volume = argv[1];
  args.host = argv[2];
  args.port = static_cast<int>(port);
  args.path = argv[4];
  args.flags = static_cast<int>(flags);
  args.mode = static_cast<mode_t>(mode);
  if (args.volume.empty() || args.host.empty() || args.path.empty()) return invalid;
  *out = args;
  return std::error_code();
}

std::string result_line(const std::error_code& ec) {
  return kResultPrefix + std::to_string(ec ? ec.value() : 0) + "\n";
}

bool parse_result_line(const std::string& line, int* error) {
  std::string prefix(kResultPrefix);
  long long value;
  if (line.compare(0, prefix.size(), prefix) != 0 ||
      !parse_number(line.substr(prefix.size()), INT_MAX, &value)) {
    return false;
  }
  *error = static_cast<int>(value);
  return true;
}

int serve_exclusive_create(const create_helper_args& args, create_operations& ops,
                           channel& library) {
  signal(SIGINT, SIG_IGN);
  signal(SIGQUIT, SIG_IGN);
  signal(SIGHUP, SIG_IGN);
  signal(SIGTERM, SIG_IGN);  // systemd and timeout(1) signal the whole group
  if (std::error_code ec = ops.connect()) {
    library.send(result_line(ec));
    return 1;
  }
  library.send(std::string(kConnectedLine) + "\n");
  if (library_gone(library)) return 1;  // given up while connecting: nothing to do
  std::error_code created = ops.create(args.path, args.flags, args.mode);
  // Sent also when the library has given up and gone; its verdict is then
  // end of input.
  library.send(result_line(created));
  if (created) return 1;
  std::string verdict;
  library.receive_line(nullptr, &verdict);  // a failed read counts as given up
  if (verdict == kKeepLine) return 0;
  // Given up: the file this helper just created is nobody's and goes at once.
  if (std::error_code ec = ops.remove(args.path)) {
    tarn_debug::tarn_debug logger;
    logger.error("create_helper::serve",
                 "File %s on volume %s, created after its exclusive create was given up, "
                 "could not be removed: %s",
                 args.path.c_str(), args.volume.c_str(), ec.message().c_str());
  }
  return 1;
}

}  // namespace core
}  // namespace tarn
