// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The files named in application lists, with their gfids, read ahead of the
// linking on other threads: reading a gfid is a system call per file (a
// round trip on a GlusterFS mount), and the linking has work of its own.
#ifndef TARN_SCANNER_GFID_READ_AHEAD_H_
#define TARN_SCANNER_GFID_READ_AHEAD_H_

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "scanner/local_files.h"

namespace tarn {
namespace scanner {

using gfid_value = std::array<unsigned char, 16>;

// The gfid of `path`: "trusted.gfid", or "glusterfs.gfid" where the first is
// missing (a GlusterFS mount). A file that has gone, or has neither
// attribute, gets the zero identifier, which owns no piece; any other
// failure (a value longer than 16 bytes is ERANGE) is returned.
std::error_code read_gfid(local_files& files, const std::string& path, gfid_value* gfid);

// A stretch of one application list: its lines, in order, with the gfid of
// each line's file, and what stopped the reading after them, if anything.
struct listed_batch {
  enum class failure { none, open, read, gfid };

  std::size_t list = 0;  // index of the application list
  std::vector<std::string> lines;
  std::vector<gfid_value> gfids;
  bool ends_list = false;  // no further batch of this list follows
  failure failed = failure::none;
  std::error_code error;
  std::string failed_path;  // the file whose gfid could not be read
};

// Reads the lists one after the other, in batches handed out in order. A
// failure ends the reading: its batch is the last one handed out.
class listed_gfids {
 public:
  // Starts threads that read ahead (the lines of one batch at a time, then
  // the gfids of its files, several batches at once), or, where no thread
  // can be had, reads each batch when it is asked for.
  // `files` must outlive the object and be safe to call from its threads.
  listed_gfids(const std::vector<std::string>& lists, std::string mount_path, local_files& files);
  // Stops the reading and waits for it.
  ~listed_gfids();
  listed_gfids(const listed_gfids&) = delete;
  listed_gfids& operator=(const listed_gfids&) = delete;

  // The next batch, in list and line order; false after the last one.
  bool next(listed_batch* batch);

 private:
  // The lines of the next batch; false when every list has been read.
  bool read_lines(listed_batch* batch);
  // The gfids of the batch's files; a failure cuts the batch there.
  void read_gfids(listed_batch* batch) const;
  void read_ahead();
  // Under mutex_: batch `number`, of list `list`, was lost for want of
  // memory; it is handed out as the last batch, a read failure (ENOMEM).
  void lose(std::size_t number, std::size_t list);

  const std::vector<std::string>& lists_;
  const std::string mount_path_;
  local_files& files_;

  // The list being read; under mutex_ while there are threads.
  std::size_t index_ = 0;
  bool list_open_ = false;
  bool done_ = false;  // every list read, or the reading failed
  std::unique_ptr<line_input> in_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::size_t, listed_batch> ready_;  // by number, in reading order
  std::size_t numbered_ = 0;                   // batches whose lines were read
  std::size_t handed_ = 0;                     // batches handed out
  std::size_t end_ = SIZE_MAX;                 // the number of batches, once known
  std::size_t lost_number_ = SIZE_MAX;         // a batch lost for want of memory
  std::size_t lost_list_ = 0;
  bool stop_ = false;                          // the reader is going away
  std::vector<std::thread> threads_;
};

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_GFID_READ_AHEAD_H_
