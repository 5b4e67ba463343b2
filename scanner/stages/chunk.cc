// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Cutting long lists into chunk files of at most kChunkSize entries, the
// lists shared out over a few worker threads.
#include "scanner/stages/chunk.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include <boost/thread/thread.hpp>

#include "core/platform.h"
#include "scanner/run/local_files.h"
#include "scanner/run/parallel_for.h"
#include "scanner/scanner.h"
#include "scanner/stages/list_file.h"

namespace tarn {
namespace scanner {
namespace {

const char* const kFn = "session::chunk_collectfile";

// Cuts one list; session::chunk_collectfile() on `local`.
std::error_code chunk_list(local_files& local, const std::string& path, int chunk_size) {
  session::logger.error(kFn, "Chunking the collect file %s ", path.c_str());
  if (chunk_size < 1) return os::error_from(EINVAL);
  // The count in the name decides: a list that needs no cutting is not read.
  list_name name = list_name::parse(path);
  if (name.count <= chunk_size) return success;

  std::unique_ptr<line_input> in;
  if (std::error_code ec = local.read_lines(path, &in)) {
    session::logger.error(kFn, "Failed to open the file %s ", path.c_str());
    return ec;
  }
  const std::string base = name.base();
  list_writer chunk(local, kFn, list_writer::rename_wording::to);
  std::string done;
  std::string line;
  while (in->next(&line)) {
    if (chunk.count() % chunk_size == 0) {
      if (chunk.is_open()) {
        if (std::error_code ec = chunk.commit(&done)) return ec;
      }
      ++name.chunk;
      const std::string next = name.base();
      session::logger.error(kFn, "Chunking the collect file %s to %s ", base.c_str(),
                            next.c_str());
      if (std::error_code ec = chunk.create(next)) return ec;
    }
    if (std::error_code ec = chunk.write_line(line)) return ec;
  }
  if (std::error_code ec = in->error()) {
    session::logger.error(kFn, "Failed to read file %s: %s", path.c_str(), ec.message().c_str());
    return chunk.abandon(ec);
  }
  if (chunk.is_open()) {
    if (std::error_code ec = chunk.commit(&done)) return ec;
  }
  // The chunks hold every entry now; the outcome of the removal is not
  // looked at.
  local.remove(path);
  return success;
}

// chunk_list() for files[i], i in [begin, end), going on after a failure.
// Returns the first failure.
std::error_code chunk_range(local_files& local, const std::vector<std::string>& files, int begin,
                            int end) {
  std::error_code first = success;
  for (int i = begin; i < end; ++i) {
    std::error_code ec = chunk_list(local, files[i], kChunkSize);
    if (ec && !first) first = ec;
  }
  return first;
}

// The lists shared out over `workers` threads, every list cut even after a
// failure. Returns the first failure in list order, or the failure to start
// a thread, before any list is cut.
std::error_code run_workers(local_files& local, const std::vector<std::string>& files,
                            unsigned workers) {
  std::vector<std::error_code> results(files.size());
  std::error_code start_error =
      parallel_for(files.size(), workers, thread_shortage::fail, [&](std::size_t i) {
        try {
          results[i] = chunk_list(local, files[i], kChunkSize);
        } catch (const std::bad_alloc&) {
          results[i] = os::error_from(ENOMEM);  // escaping, it would end the process
        }
        return true;
      });
  if (start_error) {
    session::logger.error("session::multithreaded_chunking", "Failed to start a chunking thread");
    return start_error;
  }
  for (const std::error_code& ec : results) {
    if (ec) return ec;
  }
  return success;
}

}  // namespace

std::vector<std::string> lists_after_chunking(const std::vector<std::string>& linked,
                                              int chunk_size) {
  std::vector<std::string> lists;
  for (const std::string& path : linked) {
    // Named as chunk_list() names them.
    list_name name = list_name::parse(path);
    if (name.count <= chunk_size) {
      lists.push_back(path);
      continue;
    }
    for (long long left = name.count; left > 0; left -= chunk_size) {
      ++name.chunk;
      lists.push_back(name.base() + "." + std::to_string(std::min<long long>(left, chunk_size)));
    }
  }
  return lists;
}

std::error_code session::multithreaded_chunking(std::vector<std::string> linked_files) {
  if (linked_files.empty()) return success;
  // A thread per list could mean thousands of threads; the lists are shared
  // out over as many threads as the machine runs at once.
  return run_workers(local_side(), linked_files,
                     std::max(boost::thread::hardware_concurrency(), 1u));
}

std::error_code session::chunk_collectfile_wrapper(const std::vector<std::string>& files,
                                                   int begin_index, int end_index) {
  return chunk_range(posix_local_files(), files, begin_index, end_index);
}

std::error_code session::chunk_collectfile(std::string path, int chunk_size) {
  return chunk_list(posix_local_files(), path, chunk_size);
}

}  // namespace scanner
}  // namespace tarn
