// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The changed pieces of a run, by owner: where in the shard lists the lines
// of each owner lie. The linking holds one record per owner instead of
// every piece and reads an owner's lines back when a list needs them.
#ifndef TARN_SCANNER_STAGES_PIECE_INDEX_H_
#define TARN_SCANNER_STAGES_PIECE_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace tarn {
namespace scanner {

class local_files;
class list_writer;

// Is `text` an identifier as a piece name spells it: 36 characters, hex
// digits with dashes at 8, 13, 18 and 23?
bool is_gfid_text(std::string_view text);

// The 36-character owner identifier of a piece path ".shard/<gfid>.<digits>";
// empty for any other entry (".shard/.remove_me" and what lies below it too).
std::string_view piece_owner(std::string_view entry);

// The lines of one owner: every shard-list line that begins with
// ".shard/<gfid>", the identifier as the list spells it.
struct piece_owner_record {
  std::string gfid;  // the 36-character identifier text
  // Where its lines lie: one stretch per shard list that holds any.
  struct stretch {
    std::size_t list = 0;
    std::uint64_t offset = 0;  // of its first line
    std::uint64_t bytes = 0;   // up to the end of its last line
  };
  std::vector<stretch> stretches;
  unsigned long lines = 0;  // its distinct lines
  unsigned long pieces = 0; // of them, pieces ".shard/<gfid>.<digits>"
  bool claimed = false;     // a listed file took its lines
  // Its lines lie in one stretch in byte order, as a sorted list has them;
  // otherwise write() sorts them first.
  bool in_order = true;
};

class piece_index {
 public:
  // Reads the shard lists, each sorted in byte order, and notes each
  // owner's lines; the lists must stay until the index goes. Returns the
  // errno of a failed open or read, logged.
  std::error_code load(local_files& files, const std::vector<std::string>& shard_lists);

  // Owners in byte order of their identifier text.
  std::vector<piece_owner_record>& owners() { return owners_; }
  const std::vector<piece_owner_record>& owners() const { return owners_; }
  // The owner spelled `gfid`, or null.
  piece_owner_record* find(std::string_view gfid);

  // Writes the owner's lines, each once and in byte order (only its pieces
  // when `pieces_only`), to `out`, whose failure is returned as it is;
  // `*written` counts them. A failed read is logged and returned.
  std::error_code write(local_files& files, const piece_owner_record& owner, bool pieces_only,
                        list_writer& out, unsigned long* written) const;

 private:
  std::vector<std::string> lists_;
  std::vector<piece_owner_record> owners_;
};

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_STAGES_PIECE_INDEX_H_
