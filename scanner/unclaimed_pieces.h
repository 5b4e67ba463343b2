// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Changed pieces whose owner is in no application list: each owner is looked
// up once through the mount, and its pieces go to its application's list.
#ifndef TARN_SCANNER_UNCLAIMED_PIECES_H_
#define TARN_SCANNER_UNCLAIMED_PIECES_H_

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "scanner/link_counts.h"

namespace tarn {
namespace scanner {

class local_files;

// The owners whose pieces the listed files claimed, by identifier text.
using owner_set = std::set<std::string, std::less<>>;

// The 36-character owner identifier of a piece path ".shard/<gfid>.<digits>";
// empty for any other entry (".shard/.remove_me" and what lies below it too).
std::string_view piece_owner(std::string_view entry);

// What the owner step takes from the session.
struct owner_lookup {
  std::string mount_path;
  std::string output_dir;
  std::string session_name;
  // The session's local side: lists and the owners' attributes. Not owned.
  local_files* files = nullptr;
  // The filter's exclusion rules, asked about the owner's path.
  std::function<bool(const std::string& path)> is_excluded;
  // Where the pieces dropped are counted, by reason; may be null.
  link_counts* counts = nullptr;
};

// Hands every piece of `pieces` whose owner is not in `claimed` to the
// owner's application: appended to that application's list among
// linked_files[first...] (the list and its entry renamed to the new count),
// or written to a new list <output_dir>/<application>-<session>.<count>
// appended to `linked_files`. Each owner is looked up once, and only when
// some owner is unclaimed; then the mount must have a ".gfid" directory.
// Pieces of owners that are gone, or all of them without ".gfid", are
// dropped with one message; those and the pieces of owners that filtering
// excludes are counted in lookup.counts. Returns the errno of any other failure, logged;
// lists that have their final names then stay, in `linked_files` too.
std::error_code link_unclaimed_pieces(const owner_lookup& lookup,
                                      const std::set<std::string>& pieces, const owner_set& claimed,
                                      std::vector<std::string>& linked_files, std::size_t first);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_UNCLAIMED_PIECES_H_
