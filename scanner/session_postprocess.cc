// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The post-processing driver: the collect file becomes per-application lists
// of changed shard pieces, cut into chunks.
#include "scanner/entry_order.h"
#include "scanner/local_files.h"
#include "scanner/scan_run.h"

namespace tarn {
namespace scanner {
namespace {

const char* const kFn = "sessoin::process_filtered_files";

std::error_code read_sorted(local_files& files, const std::string& collect_file,
                            std::vector<std::string>* entries) {
  std::unique_ptr<line_input> in;
  if (std::error_code ec = files.read_lines(collect_file, &in)) {
    session::logger.error(kFn, "Failed to open file %s", collect_file.c_str());
    return ec;
  }
  std::string line;
  while (in->next(&line)) entries->push_back(line);
  if (std::error_code ec = in->error()) {
    session::logger.error(kFn, "Failed to read file %s", collect_file.c_str());
    return ec;
  }
  sort_entries(*entries);
  return success;
}

// The same message for each of the three steps; their own tell them apart.
std::error_code failed(std::error_code ec) {
  if (ec != success) session::logger.error(kFn, "Failed to link shard files with app\n");
  return ec;
}

}  // namespace

std::error_code scan_run::post_process_collect_file(session& sess,
                                                   const std::string& collect_file,
                                                   scan_state* state, step_observer* observer) {
  local_files& files = sess.local_side();
  const scan_state& seen = *state;
  if (std::error_code ec = observe(observer, "sort", seen,
                                   [&] { return read_sorted(files, collect_file, &state->entries); })) {
    return ec;
  }
  if (std::error_code ec = failed(observe(observer, "distribute", seen, [&] {
        return sess.distribute_basedon_application(state->entries, state->app_files,
                                                   state->shard_files);
      }))) {
    return ec;
  }
  // Every entry is in a list file now; the outcome of the removal is not
  // looked at, as the file is only in the way from here on.
  files.remove(collect_file);
  if (std::error_code ec = failed(observe(observer, "link", seen, [&] {
        return sess.link_shard_to_app(state->app_files, state->shard_files, state->linked_files);
      }))) {
    return ec;
  }
  return failed(observe(observer, "chunk", seen,
                        [&] { return sess.multithreaded_chunking(state->linked_files); }));
}

std::error_code session::process_filtered_files(std::string& collect_file) {
  scan_state state;
  return scan_run::post_process_collect_file(*this, collect_file, &state, nullptr);
}

}  // namespace scanner
}  // namespace tarn
