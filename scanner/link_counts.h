// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// What linking made of one run's lists: lines written and pieces dropped,
// for the run's report.
#ifndef TARN_SCANNER_LINK_COUNTS_H_
#define TARN_SCANNER_LINK_COUNTS_H_

#include <cstddef>
#include <string>

namespace tarn {
namespace scanner {

struct link_counts {
  // How listed files were matched with owners: by the paths of the owners,
  // looked up through the mount (owners_looked_up of them), or by reading
  // each listed file's gfid.
  bool linked_by_paths = false;
  std::size_t owners_looked_up = 0;
  unsigned long piece_lines = 0;  // ".shard/..." lines in the linked lists
  unsigned long path_lines = 0;   // lines naming an application's own entries
  // Changed pieces in no list, by reason:
  unsigned long dropped_owner_gone = 0;      // the owner was removed since the change
  unsigned long dropped_no_aux_gfid = 0;     // the mount cannot name owners (no .gfid)
  unsigned long dropped_owner_excluded = 0;  // every path of the owner is excluded
  unsigned long dropped_owner_unreadable = 0;  // the owner's paths cannot be read
  // Listed entries whose gfid could not be read for a reason of their own
  // (EPERM, EACCES, ELOOP, ENAMETOOLONG): taken as owning no piece, so that
  // the pieces they might own were looked up by owner. The first of them,
  // and of the owners that could not be read, with the reason.
  unsigned long unreadable_entries = 0;
  std::string unreadable_example;
  std::string owner_unreadable_example;
};

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_LINK_COUNTS_H_
