// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// From glusterfind's change list to the collect file, and the exclusion
// rules applied on the way.
#include "scanner/kept_paths.h"
#include "scanner/os.h"
#include "scanner/scanner.h"

namespace tarn {
namespace scanner {
namespace {

const char kFilterFn[] = "session::filter_new_and_modified";

}  // namespace

std::error_code session::filter_new_and_modified(std::string& input_path, std::string& output_path,
                                                 unsigned long& count) {
  os::line_reader in;
  if (std::error_code ec = in.open(input_path)) {
    logger.error(kFilterFn, "Failed to open %s", input_path.c_str());
    return ec;
  }
  os::file out;
  if (std::error_code ec = os::file::create_for_write(output_path, &out)) {
    logger.error(kFilterFn, "Failed to open %s", output_path.c_str());
    return ec;
  }

  // A read or write error must fail the run: a partial list passed on would
  // make the changes it lost look unchanged. The paths are found on another
  // thread meanwhile; is_excluded() runs there, and nothing else touches the
  // exclusion rules until the reading has stopped.
  unsigned long written = 0;
  {
    kept_paths kept(&in, [this](const std::string& path) { return is_excluded(path); });
    kept_batch batch;
    while (kept.next(&batch)) {
      std::size_t begin = 0;
      for (std::size_t end : batch.ends) {
        // One write per line, so every kept line reaches the file at once.
        if (std::error_code ec = out.write_all(batch.text.data() + begin, end - begin)) {
          logger.error(kFilterFn, "Failed to write %s: %s", output_path.c_str(),
                       ec.message().c_str());
          return ec;
        }
        begin = end;
        ++written;
      }
    }
    if (std::error_code ec = kept.error()) {
      logger.error(kFilterFn, "Failed to read %s: %s", input_path.c_str(), ec.message().c_str());
      return ec;
    }
  }
  if (std::error_code ec = out.close()) {
    logger.error(kFilterFn, "Failed to write %s: %s", output_path.c_str(), ec.message().c_str());
    return ec;
  }
  count = written;
  return success;
}

bool session::is_excluded(std::string path) {
  // Is some entry of the exclude list a string prefix of `path` (the path
  // itself and the empty entry included)? Rather than test every entry, take
  // the greatest entry not above the probe: either it is a prefix, or only
  // entries within its common prefix with the probe can still be, so the
  // probe shrinks to that and the search goes on. Usually one or two
  // lookups, however long the list grows.
  std::string probe = path;
  for (;;) {
    auto above = excludelist.upper_bound(probe);
    if (above == excludelist.begin()) break;
    const std::string& entry = *std::prev(above);
    std::size_t common = 0;
    while (common < entry.size() && common < probe.size() && entry[common] == probe[common]) {
      ++common;
    }
    if (common == entry.size()) return true;
    probe.resize(common);
  }

  std::size_t begin = 0;
  while (begin < path.size()) {
    std::size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    if (end > begin) {
      std::string component = path.substr(begin, end - begin);
      if (exclude_dirnames.count(component) != 0) {
        excludelist.insert("/" + component);
        return true;
      }
    }
    begin = end + 1;
  }
  return false;
}

}  // namespace scanner
}  // namespace tarn
