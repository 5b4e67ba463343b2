// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Work read ahead on a few threads and handed out in the order it was taken:
// one part of each item is made in turn (reading the next lines of a file),
// the rest alongside the other items (a system call per line), and the
// consumer gets the items as if one thread had made them all.
#ifndef TARN_SCANNER_STAGES_ORDERED_READ_AHEAD_H_
#define TARN_SCANNER_STAGES_ORDERED_READ_AHEAD_H_

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tarn {
namespace scanner {

// What the read-ahead does with each item. `take` fills the next item and is
// called by one thread at a time, in turn, under the read-ahead's lock; false
// when there is none. `complete` finishes an item on any thread, outside the
// lock. After an item for which `is_last` holds, nothing more is taken.
// `lost` turns an item that memory ran out for, while it was taken or
// completed, into the last one handed out (an exception escaping a thread
// would end the process); it must not allocate. Item's move assignment must
// not throw.
template <typename Item>
struct read_ahead_steps {
  std::function<bool(Item*)> take;
  std::function<void(Item*)> complete;
  std::function<bool(const Item&)> is_last;
  std::function<void(Item*)> lost;
};

// Not copyable; next() and the destructor are called by one consumer thread.
template <typename Item>
class ordered_read_ahead {
 public:
  // Starts `threads` threads that keep at most `ahead` items ready, or, where
  // no thread can be had, makes each item when it is asked for.
  ordered_read_ahead(read_ahead_steps<Item> steps, unsigned threads, std::size_t ahead)
      : steps_(std::move(steps)), ahead_(ahead) {
    try {
      threads_.reserve(threads);
      for (unsigned i = 0; i < threads; ++i) threads_.emplace_back(&ordered_read_ahead::work, this);
    } catch (const std::exception&) {
      // Fewer threads, or none.
    }
  }

  // Stops the reading and waits for it.
  ~ordered_read_ahead() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  ordered_read_ahead(const ordered_read_ahead&) = delete;
  ordered_read_ahead& operator=(const ordered_read_ahead&) = delete;

  // The next item, in the order they were taken; false after the last one.
  bool next(Item* item) {
    if (threads_.empty()) {
      if (done_ || !steps_.take(item)) return false;
      steps_.complete(item);
      done_ = steps_.is_last(*item);
      return true;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] {
      return handed_ >= end_ || handed_ == lost_number_ || ready_.count(handed_) != 0;
    });
    if (handed_ == lost_number_) {
      *item = std::move(lost_);
      steps_.lost(item);
      ++handed_;
      return true;
    }
    if (handed_ >= end_) return false;
    auto it = ready_.find(handed_);
    *item = std::move(it->second);
    ready_.erase(it);
    ++handed_;
    lock.unlock();
    changed_.notify_all();
    return true;
  }

 private:
  // Each thread takes the next item in turn and completes it alongside the
  // others; items are numbered as they are taken.
  void work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return stop_ || done_ || numbered_ < handed_ + ahead_; });
      if (stop_ || done_) return;
      Item item;
      const std::size_t number = numbered_;
      bool more = false;
      try {
        more = steps_.take(&item);
      } catch (const std::exception&) {
        return lose(number, &item);
      }
      if (!more) {
        done_ = true;
        end_ = std::min(end_, numbered_);
        changed_.notify_all();
        return;
      }
      ++numbered_;
      if (steps_.is_last(item)) end_done(number);
      lock.unlock();
      try {
        steps_.complete(&item);
      } catch (const std::exception&) {
        lock.lock();
        return lose(number, &item);
      }
      lock.lock();
      if (steps_.is_last(item)) end_done(number);
      try {
        ready_.emplace(number, std::move(item));
      } catch (const std::exception&) {
        return lose(number, &item);
      }
      changed_.notify_all();
    }
  }

  // Under mutex_: nothing is taken after item `number`.
  void end_done(std::size_t number) {
    done_ = true;
    end_ = std::min(end_, number + 1);
  }

  // Under mutex_: item `number` was lost for want of memory; the earliest
  // such item is handed out as the last one.
  void lose(std::size_t number, Item* item) {
    end_done(number);
    if (number < lost_number_) {
      lost_number_ = number;
      lost_ = std::move(*item);
    }
    changed_.notify_all();
  }

  const read_ahead_steps<Item> steps_;
  const std::size_t ahead_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::size_t, Item> ready_;   // by number
  std::size_t numbered_ = 0;            // items taken
  std::size_t handed_ = 0;              // items handed out
  std::size_t end_ = SIZE_MAX;          // the number of items, once known
  std::size_t lost_number_ = SIZE_MAX;  // an item lost for want of memory
  Item lost_;
  bool done_ = false;  // nothing more is taken; without threads, by next() only
  bool stop_ = false;  // the read-ahead is going away
  std::vector<std::thread> threads_;  // last: started once the rest is made
};

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_STAGES_ORDERED_READ_AHEAD_H_
