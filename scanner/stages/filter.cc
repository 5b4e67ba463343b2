// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// From glusterfind's change list to the collect file, and the exclusion
// rules applied on the way.
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/platform.h"
#include "scanner/run/local_files.h"
#include "scanner/scanner.h"
#include "scanner/stages/filter_read_ahead.h"
#include "scanner/stages/platform_entries.h"

namespace tarn {
namespace scanner {
namespace {

const char kFilterFn[] = "session::filter_new_and_modified";

// The exclusion rules. GlusterFS's own entries are never an application's.
// When the path holds a directory name of `dirnames`, "/<name>" joins
// `excludelist` for later paths, and, when it was not there yet, goes to
// `*added` too (if given).
bool excluded_by(std::set<std::string>& excludelist, const std::set<std::string>& dirnames,
                 const std::string& path, std::string* added) {
  if (is_platform_entry(path)) return true;
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
      if (dirnames.count(component) != 0) {
        auto inserted = excludelist.insert("/" + component);
        if (inserted.second && added != nullptr) *added = *inserted.first;
        return true;
      }
    }
    begin = end + 1;
  }
  return false;
}

// Writes the kept paths of `in` to `out`, one write per line, and counts them
// in `*written`. The paths are found on another thread meanwhile, a little
// ahead of the writes; the exclusion rules run there, and nothing else
// touches them until the reading has stopped. Returns the write error;
// `*read_error` receives the reading's.
std::error_code write_kept(os::line_reader& in, os::file& out, std::set<std::string>& excludelist,
                           const std::set<std::string>& dirnames, unsigned long* written,
                           std::error_code* read_error) {
  unsigned long found = 0;  // kept paths found so far, by the reading thread
  // Entries the rules added, with the number of paths kept before each.
  std::vector<std::pair<unsigned long, std::string>> added;
  std::error_code write_error;
  {
    kept_paths kept(&in, [&](const std::string& path) {
      std::string entry;
      if (excluded_by(excludelist, dirnames, path, &entry)) {
        if (!entry.empty()) added.emplace_back(found, std::move(entry));
        return true;
      }
      ++found;
      return false;
    });
    kept_batch batch;
    while (!write_error && kept.next(&batch)) {
      std::size_t begin = 0;
      for (std::size_t end : batch.ends) {
        // One write per line, so every kept line reaches the file at once.
        write_error = out.write_all(batch.text.data() + begin, end - begin);
        if (write_error) break;
        begin = end;
        ++*written;
      }
    }
    if (!write_error) *read_error = kept.error();
  }  // the reading has stopped here
  if (write_error) {
    // The reading went past the line that failed; what its rules added for
    // the lines after it is taken back, as those lines count as unread.
    for (const auto& entry : added) {
      if (entry.first > *written) excludelist.erase(entry.second);
    }
  }
  return write_error;
}

}  // namespace

std::error_code session::filter_new_and_modified(std::string& input_path, std::string& output_path,
                                                 unsigned long& count) {
  os::line_reader in;
  if (std::error_code ec = in.open(input_path)) {
    logger.error(kFilterFn, "Failed to open %s", input_path.c_str());
    local_side().failed(input_path, ec);
    return ec;
  }
  os::file out;
  if (std::error_code ec = os::file::create_for_write(output_path, &out)) {
    logger.error(kFilterFn, "Failed to open %s", output_path.c_str());
    local_side().failed(output_path, ec);
    return ec;
  }

  // A read or write error must fail the run: a partial list passed on would
  // make the changes it lost look unchanged.
  unsigned long written = 0;
  std::error_code read_error;
  std::error_code write_error =
      write_kept(in, out, excludelist, exclude_dirnames, &written, &read_error);
  if (write_error) {
    logger.error(kFilterFn, "Failed to write %s: %s", output_path.c_str(),
                 write_error.message().c_str());
    local_side().failed(output_path, write_error);
    return write_error;
  }
  if (read_error) {
    logger.error(kFilterFn, "Failed to read %s: %s", input_path.c_str(),
                 read_error.message().c_str());
    local_side().failed(input_path, read_error);
    return read_error;
  }
  if (std::error_code ec = out.close()) {
    logger.error(kFilterFn, "Failed to write %s: %s", output_path.c_str(), ec.message().c_str());
    local_side().failed(output_path, ec);
    return ec;
  }
  count = written;
  return success;
}

bool session::is_excluded(std::string path) {
  return excluded_by(excludelist, exclude_dirnames, path, nullptr);
}

}  // namespace scanner
}  // namespace tarn
