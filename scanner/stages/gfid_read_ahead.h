// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The files named in application lists, with their gfids, read ahead of the
// linking on other threads: reading a gfid is a system call per file (a
// round trip on a GlusterFS mount), and the linking has work of its own.
#ifndef TARN_SCANNER_STAGES_GFID_READ_AHEAD_H_
#define TARN_SCANNER_STAGES_GFID_READ_AHEAD_H_

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "scanner/run/local_files.h"
#include "scanner/stages/ordered_read_ahead.h"

namespace tarn {
namespace scanner {

using gfid_value = std::array<unsigned char, 16>;

// The gfid of `path`: "trusted.gfid", or "glusterfs.gfid" where the first is
// missing (a GlusterFS mount). A file that has gone, or has neither
// attribute, gets the zero identifier, which owns no piece; any other
// failure (a value longer than 16 bytes is ERANGE) is returned. With
// `mount_seen`, shared by the reads of one run: set once a file had only
// "glusterfs.gfid", after which that one is asked first, and "trusted.gfid"
// only where it is missing. The identifiers are the same either way.
std::error_code read_gfid(local_files& files, const std::string& path, gfid_value* gfid,
                          std::atomic<bool>* mount_seen = nullptr);

// Failures that concern one entry and not the mount: the entry refuses to
// be read (EPERM, EACCES: GlusterFS's own hidden entries do so through the
// mount), or its path cannot be followed (ELOOP, ENAMETOOLONG). Such an
// entry is taken as owning no piece, so that it cannot fail every run from
// now on; the pieces it might own are then looked up by their owners.
bool is_entry_failure(const std::error_code& ec);

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
  // Files of the batch whose gfid could not be read for a reason of their
  // own (is_entry_failure): their gfid is the zero one. The first is named.
  unsigned long unreadable = 0;
  std::string unreadable_path;
  std::error_code unreadable_error;
};

// Reads the lists one after the other, in batches handed out in order. A
// failure ends the reading: its batch is the last one handed out.
class listed_gfids {
 public:
  // Starts threads that read ahead (the lines of one batch at a time, then
  // the gfids of its files, several batches at once), or, where no thread
  // can be had, reads each batch when it is asked for. `lists` and `files`
  // must outlive the object; `files` is called from its threads.
  listed_gfids(const std::vector<std::string>& lists, std::string mount_path, local_files& files);
  listed_gfids(const listed_gfids&) = delete;
  listed_gfids& operator=(const listed_gfids&) = delete;

  // The next batch, in list and line order; false after the last one.
  bool next(listed_batch* batch) { return read_ahead_.next(batch); }

 private:
  // The lines of the next batch; false when every list has been read. Called
  // in turn, never at once.
  bool read_lines(listed_batch* batch);
  // The gfids of the batch's files; a failure cuts the batch there.
  void read_gfids(listed_batch* batch) const;

  const std::vector<std::string>& lists_;
  const std::string mount_path_;
  local_files& files_;
  mutable std::atomic<bool> mount_seen_{false};  // see read_gfid

  // The list being read, by read_lines only.
  std::size_t index_ = 0;
  bool list_open_ = false;
  std::unique_ptr<line_input> in_;

  ordered_read_ahead<listed_batch> read_ahead_;  // last: its threads use the rest
};

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_STAGES_GFID_READ_AHEAD_H_
