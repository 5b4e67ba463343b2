// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The post-processing driver: the collect file becomes per-application lists
// of changed shard pieces, cut into chunks.
#include "scanner/run/local_files.h"
#include "scanner/run/scan_run.h"
#include "scanner/stages/chunk.h"
#include "scanner/stages/distribute.h"
#include "scanner/stages/sorted_runs.h"

namespace tarn {
namespace scanner {
namespace {

const char* const kFn = "sessoin::process_filtered_files";

// The same message for each of the three steps; their own tell them apart.
std::error_code failed(std::error_code ec) {
  if (ec != success) session::logger.error(kFn, "Failed to link shard files with app\n");
  return ec;
}

}  // namespace

std::error_code post_process_collect_file(session& sess, local_files& files,
                                          const list_place& place, std::size_t budget,
                                          const std::string& collect_file, scan_state* state,
                                          step_observer* observer) {
  const scan_state& seen = *state;
  // The session's own steps below go through `files` too.
  scoped_local_side in_force(files);
  // Entries beyond the memory budget are sorted in run files, merged as the
  // distribution reads them; the runs go when this does, also on failure.
  sort_runs runs(files, place.output_dir, place.session_name);
  if (std::error_code ec = observe(observer, step_id::sort, seen, [&] {
        std::error_code sorted = sort_collect_file(files, collect_file, budget, kFn,
                                                   &state->entries, &runs);
        state->sort_runs = runs.written();
        return sorted;
      })) {
    return ec;
  }
  if (std::error_code ec = failed(observe(observer, step_id::distribute, seen, [&] {
        if (runs.empty()) {
          return sess.distribute_basedon_application(state->entries, state->app_files,
                                                     state->shard_files);
        }
        std::unique_ptr<entry_source> merged;
        std::error_code result = runs.open_merge(&merged);
        if (!result) {
          result = distribute_entries(sess, files, place, *merged, state->app_files,
                                      state->shard_files);
        }
        merged.reset();  // its files closed before they are removed
        runs.remove_all();
        return result;
      }))) {
    return ec;
  }
  // Every entry is in a list file now: their memory goes back before the
  // linking takes its own.
  std::vector<std::string>().swap(state->entries);
  // The outcome of the removal is not looked at, as the file is only in the
  // way from here on.
  files.remove(collect_file);
  if (std::error_code ec = failed(observe(observer, step_id::link, seen, [&] {
        state->linked = true;
        return sess.link_shard_to_app(state->app_files, state->shard_files, state->linked_files);
      }))) {
    return ec;
  }
  if (std::error_code ec = failed(observe(observer, step_id::chunk, seen, [&] {
        return sess.multithreaded_chunking(state->linked_files);
      }))) {
    return ec;
  }
  state->results = lists_after_chunking(state->linked_files);
  return success;
}

std::error_code session::process_filtered_files(std::string& collect_file) {
  scan_state state;
  return post_process_collect_file(*this, local_side(), {output_dir, session_name}, budget,
                                   collect_file, &state, nullptr);
}

}  // namespace scanner
}  // namespace tarn
