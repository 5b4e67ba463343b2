// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Names that glusterfind's incremental list garbles, put right.
//
// An incremental pass names each change by the paths glusterfind works out
// for it, and two of its steps garble names (read in its source, seen with
// --no-encode):
//  - it joins the names of a file's hard links with "," and splits every row
//    of the list at "," when it writes it: a name with a comma comes out as
//    consecutive lines of its parts ("home3/Report" and " final.docx"), empty
//    parts left out (so ",," is one break and a trailing "," is lost);
//  - it decodes the last name of a changed file from its trusted.gfid2path
//    attribute byte by byte: each byte of a name that is not ASCII becomes a
//    character U+0080-U+00FF of its own ("été.txt" comes out as
//    "Ã©tÃ©.txt").
// A full pass crawls the bricks and writes names as they are. Neither can
// write a name with a line feed as one line: it comes out as an entry line
// cut there and a line of no type after it.
//
// So every NEW and MODIFY entry of an incremental list, pieces aside, is
// looked up on the volume. One that does not exist (or ends in "/", or has
// an empty, "." or ".." component, which no real path has) is repaired where
// the evidence allows: its last name decoded back to its bytes, or joined
// with the lines around it at commas, whichever names an entry that exists.
// The others were removed since the change (the list may say so: DELETE or
// RENAME of it or of a directory above it) and stay as they are, as before;
// except those of a shape that only the garbling makes (a name beyond ASCII
// that decodes, a path that is not plain, the rest of a split name: a
// missing line at the top or below a missing directory right after a
// missing line of the same run), which name nothing real: they are dropped,
// and counted as unrepaired unless the list removes them.
#ifndef TARN_SCANNER_GLUSTERFIND_NAME_REPAIR_H_
#define TARN_SCANNER_GLUSTERFIND_NAME_REPAIR_H_

#include <cstdint>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace tarn {
namespace scanner {

// Whether the entry `path` (relative to the volume's top directory) exists.
// A failure to tell is returned, and counts as "it exists".
using exists_fn = std::function<std::error_code(const std::string& path, bool* exists)>;

// What the repair did to one list.
struct name_repairs {
  uint64_t checked = 0;     // entries looked up
  uint64_t joined = 0;      // entries put together again from lines split at commas
  uint64_t decoded = 0;     // entries whose last name was decoded back to its bytes
  uint64_t gone = 0;        // entries removed since the change (kept, but for garbled ones)
  uint64_t unrepaired = 0;  // garbled entries under no name that exists (dropped)
  uint64_t line_feed = 0;   // entries whose names hold a line feed (dropped)
  // The first of each kind: "<as listed> -> <as repaired>", or the line.
  std::string joined_example, decoded_example, unrepaired_example, line_feed_example;
};

// The last name of `path` decoded back to the bytes its characters stand
// for: true when it has a character beyond ASCII, all of them lie in
// U+0080-U+00FF, and their bytes form valid UTF-8 that is not the same.
bool undo_byte_decoding(const std::string& path, std::string* decoded);

// Whether `path` is shaped like a path of the volume: not empty, no leading
// or trailing "/", no empty, "." or ".." component.
bool is_plain_path(const std::string& path);

// Repairs the change list `lines` (one line each, without "\n") in place.
std::error_code repair_names(std::vector<std::string>* lines, const exists_fn& exists,
                             name_repairs* out);

// The same for the change-list file `path`, which is rewritten (under a
// temporary name, renamed over it) only when a line changed. The list of a
// full pass (`full`) names entries as they are, and only the lines that no
// list can hold are dropped (a name with a line feed), without a look-up.
std::error_code repair_change_list(const std::string& path, const exists_fn& exists, bool full,
                                   name_repairs* out);

// Looks entries up on the bricks of this node first, a local call each, and
// through the mount only where no brick holds them (a brick that was down
// when it was made, a replica set elsewhere, a removed entry).
exists_fn volume_entries(std::vector<std::string> local_bricks, std::string mount_path);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_GLUSTERFIND_NAME_REPAIR_H_
