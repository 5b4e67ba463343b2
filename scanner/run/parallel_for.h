// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Work shared out over a few threads: the one pool that every step running
// work side by side goes through (the copy, the owner look-ups, the chunking
// and the sort). The read-aheads, which hand their items on in order while
// the consumer runs, keep theirs (scanner/stages/ordered_read_ahead.h).
#ifndef TARN_SCANNER_RUN_PARALLEL_FOR_H_
#define TARN_SCANNER_RUN_PARALLEL_FOR_H_

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace tarn {
namespace scanner {

// What a thread that cannot be started means.
enum class thread_shortage {
  fewer_threads,  // the others do its share: the same result, later
  fail,           // the whole fails, before any item is begun
};

// Calls body(i) for every i in [0, n), each once, the items taken in order
// one at a time by at most `threads` threads, the caller's among them. `body`
// must not throw; it returns false to stop the rest: no item is begun after
// that, those begun end. Returns once every item begun has ended: success,
// or, with thread_shortage::fail, the error of a thread that could not be
// started (EAGAIN, ENOMEM) and no item begun.
template <typename Body>
std::error_code parallel_for(std::size_t n, std::size_t threads, thread_shortage shortage,
                             Body body) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex mu;
  std::condition_variable started;
  bool go = false;
  // No thread takes an item before every thread is started, so that a
  // shortage that fails the whole leaves every item untouched.
  auto work = [&] {
    {
      std::unique_lock<std::mutex> lock(mu);
      started.wait(lock, [&] { return go; });
    }
    for (std::size_t i = next++; i < n && !stop; i = next++) {
      if (!body(i)) stop = true;
    }
  };
  std::vector<std::thread> pool;
  std::error_code start_error;
  const std::size_t wanted = std::min(threads, n);
  try {
    pool.reserve(wanted);
    for (std::size_t t = 1; t < wanted; ++t) pool.emplace_back(work);
  } catch (const std::system_error& e) {
    start_error = std::error_code(e.code().value() != 0 ? e.code().value() : EAGAIN,
                                  std::generic_category());
  } catch (const std::bad_alloc&) {
    start_error = std::error_code(ENOMEM, std::generic_category());
  }
  if (start_error && shortage == thread_shortage::fail) stop = true;
  {
    std::lock_guard<std::mutex> lock(mu);
    go = true;
  }
  started.notify_all();
  work();
  for (std::thread& thread : pool) thread.join();
  if (shortage == thread_shortage::fail) return start_error;
  return std::error_code(0, std::generic_category());
}

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_RUN_PARALLEL_FOR_H_
