// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Changed pieces whose owner is in no application list: each owner is looked
// up once through the mount, and its pieces go to its application's list.
#ifndef TARN_SCANNER_STAGES_UNCLAIMED_PIECES_H_
#define TARN_SCANNER_STAGES_UNCLAIMED_PIECES_H_

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "scanner/link_counts.h"
#include "scanner/stages/piece_index.h"

namespace tarn {
namespace scanner {

class local_files;

// What the mount told of one owner of changed pieces.
struct owner_paths {
  enum class state { unknown, gone, found };
  state found = state::unknown;
  // Its paths relative to the top directory of the volume, "app2/big.bin"
  // say: one per hard link.
  std::vector<std::string> paths;
  // The paths are all of its names: as many as its link count. Files made
  // before storage.build-pgfid was turned on may show only some.
  bool complete = false;
};

// What the owner steps take from the session.
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

// Does the mount answer below ".gfid"? Only one made with -o aux-gfid-mount
// has that directory. Returns the errno of a failed look, logged.
std::error_code has_gfid_directory(const std::string& mount_path, bool* present);

// Looks up every owner of `index` through "<mount>/.gfid/<gfid>", several
// at once, into (*found)[i] for index.owners()[i]. `*complete` tells that
// each owner is gone or has all of its paths, so that the listed paths alone
// tell which files own pieces. An owner that cannot be looked up stays
// unknown (and `*complete` false): the reason comes out where it matters,
// when its pieces are looked up for their application.
void resolve_owners(const owner_lookup& lookup, const piece_index& index,
                    std::vector<owner_paths>* found, bool* complete);

// Hands the pieces of every owner of `index` that no listed file claimed to
// the owner's application: appended to that application's list among
// linked_files[first...] (the list and its entry renamed to the new count),
// or written to a new list <output_dir>/<application>-<session>.<count>
// appended to `linked_files`. `found` holds what resolve_owners() found, or
// is empty; owners it does not know are looked up here, once each, and only
// when some owner is unclaimed; then the mount must have a ".gfid"
// directory. Pieces of owners that are gone, or all of them without
// ".gfid", are dropped with one message; those and the pieces of owners
// that filtering excludes are counted in lookup.counts. Returns the errno of
// any other failure, logged; lists that have their final names then stay,
// in `linked_files` too.
std::error_code link_unclaimed_pieces(const owner_lookup& lookup, const piece_index& index,
                                      std::vector<owner_paths> found,
                                      std::vector<std::string>& linked_files, std::size_t first);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_STAGES_UNCLAIMED_PIECES_H_
