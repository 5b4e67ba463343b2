// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// tarn-scan consume: the reference consumer of a session's lists. It keeps a
// mirror of the volume's files, one file per gfid, up to date from the lists
// alone, as a backup product would: manifests oldest first, from each the
// bytes its runs added to the lists it names; each listed piece
// ".shard/<gfid>.<n>" copied from the owner (bytes [n x B, (n+1) x B) of
// .gfid/<gfid> on the aux-gfid mount, B the shard block size), each listed
// file's first block from the file, each owner's size set from the volume;
// then the mirror synced, the manifest removed, and the lists that no
// manifest names any more. It holds the session's lock while it runs, so no
// scan appends to a list it is about to remove. Stopped at any point, it
// takes up again from the oldest manifest left.
#ifndef TARN_TOOLS_TARN_SCAN_CONSUME_H_
#define TARN_TOOLS_TARN_SCAN_CONSUME_H_

#include <cstdint>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace tarn_scan {

struct consume_request {
  std::string volume;
  std::string top;      // where the volume's files are read: the mount
  std::string session;
  std::string mirror;   // the mirror's directory (made when missing)
  uint64_t block_size = 0;
  // Called once a manifest's data is in the mirror and synced, before the
  // manifest is removed; false stops there (tests play a kill with it).
  std::function<bool(const std::string& manifest)> before_removal;
};

struct consume_result {
  std::vector<std::string> manifests;  // taken, in order
  uint64_t pieces = 0;                 // piece lines copied
  uint64_t files = 0;                  // path lines of regular files copied
  uint64_t bytes = 0;                  // copied into the mirror
  uint64_t owners_gone = 0;            // listed, removed from the volume since
  std::string failed;                  // what failed, in words; empty on success
};

// Takes every manifest of the session that is there. Returns the errno of
// what failed (EEXIST when the session is locked), with result->failed
// saying what; the manifest in progress then stays for the next run.
std::error_code consume(const consume_request& request, consume_result* result);

// The volume's shard block size, from `gluster volume get`; 0 when it cannot
// be read.
uint64_t volume_block_size(const std::string& volume);

}  // namespace tarn_scan

#endif  // TARN_TOOLS_TARN_SCAN_CONSUME_H_
