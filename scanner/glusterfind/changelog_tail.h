// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The change-log tail that a brick restart hides from incremental passes.
//
// A brick writes its changes into a journal, <brick>/.glusterfs/changelogs/
// CHANGELOG, which it rolls over every few seconds into a dated
// "CHANGELOG.<epoch>" and enters in the index htime/HTIME.<epoch>; the
// incremental pass of glusterfind reads only journals in that index. Two
// kinds of journal are never read by it:
//  - when a brick stops (volume stop, node reboot, crash), its last journal
//    is renamed at the next start but never entered in the index: the
//    changes of the last seconds before the stop are missing from every
//    later incremental pass;
//  - after a full pass, the journal whose epoch is the time the pass
//    recorded for the brick is taken for one read already: the changes made
//    in the seconds after the full pass are missing.
//
// Before an incremental pass the run looks, on every brick of the volume
// that this node hosts, for such journals newer than the session's last
// completed pass, and reads their records: the paths they created or changed
// become change-list lines ("NEW <path>", "MODIFY <path>") added to the
// pass's list, their identifiers resolved on the brick. When that is not
// possible (a journal it cannot read, a file it cannot name), the pass must
// be a full one. Nothing of GlusterFS's own files is changed.
#ifndef TARN_SCANNER_GLUSTERFIND_CHANGELOG_TAIL_H_
#define TARN_SCANNER_GLUSTERFIND_CHANGELOG_TAIL_H_

#include <map>
#include <string>
#include <utility>
#include <system_error>
#include <vector>

namespace tarn {
namespace scanner {

// A brick as `gluster volume info` names it: "Brick<N>: <host>:<path>".
struct brick_address {
  std::string host;
  std::string path;
};
// The bricks in their order; a note after the path (" (arbiter)") is not
// part of it.
std::vector<brick_address> parse_brick_list(const std::string& volume_info);
// The bricks grouped by replica set, as "Number of Bricks: 2 x 3 = 6" (or
// "1 x (2 + 1) = 3" with an arbiter) groups them in their order; a volume
// that does not replicate has sets of one brick.
std::vector<std::vector<brick_address>> parse_replica_sets(const std::string& volume_info);

// One record of a journal: "E" an entry operation, "D" a data change, "M" a
// metadata change of the file whose identifier is `gfid`.
struct journal_record {
  char type = 0;
  std::string gfid;
  int op = 0;         // E and M: GlusterFS's operation number
  std::string entry;  // E: "<parent gfid>/<name>" (the new name of a rename)
};
// Parses a journal of the ASCII encoding ("GlusterFS Changelog | version:
// v1.2 | encoding : 2" and NUL-separated fields). EBADMSG for any other
// encoding, a record it does not know or a record cut short: such a journal
// cannot be trusted to be read whole.
std::error_code parse_journal(const std::string& text, std::vector<journal_record>* records);

// The journals "CHANGELOG.<epoch>" below <brick>/.glusterfs/changelogs (the
// top directory and the dated ones) that hold records, have an epoch of at
// least `not_before` and are in no htime index, and the one of epoch
// `skipped` even when indexed. Sorted by path.
std::error_code find_unread_journals(const std::string& brick_path, long not_before,
                                     long skipped, std::vector<std::string>* journals);

// The time up to which the session's last completed pass saw the brick's
// changes: glusterfind's "<state_dir>/<session>/<volume>/<brick>.status" (the
// brick path quoted as glusterfind quotes it), else the volume's "status".
// False when neither can be read.
bool last_pass_time(const std::string& state_dir, const std::string& session,
                    const std::string& volume, const std::string& brick_path, long* time);
// True when the session's last completed pass of the brick was a full one.
// The next incremental pass then skips the journal whose epoch is the brick's
// time, though it holds the changes made right after that pass.
bool last_pass_was_full(const std::string& state_dir, const std::string& session,
                        const std::string& volume, const std::string& brick_path);

// The paths, relative to the volume's top directory, of files and
// directories of a brick by identifier, read from the brick itself as
// glusterfind does (the aux-gfid mount is not asked: its client was seen to
// crash on such lookups right after a brick restart). A directory's entry
// <brick>/.glusterfs/xx/yy/<gfid> is a symbolic link
// "../../xx/yy/<parent gfid>/<name>"; a file's is a hard link whose
// attributes "trusted.gfid2path.<hash>" hold "<parent gfid>/<name>", one per
// name it has.
class brick_paths {
 public:
  explicit brick_paths(std::string brick_path) : brick_(std::move(brick_path)) {}
  // Every path of `gfid` ("" for the top directory); ENOENT when it is gone,
  // EOPNOTSUPP for a file without "trusted.gfid2path" attributes.
  std::error_code paths_of(const std::string& gfid, std::vector<std::string>* paths);

 private:
  std::string entry(const std::string& gfid) const;
  std::error_code directory(const std::string& gfid, std::string* path, int depth);

  std::string brick_;
  std::map<std::string, std::string> directories_;
};

// The bricks (of `local_bricks`) whose change-log history does not reach back
// to the session's last pass: the change log was switched on again (or the
// brick replaced) after it, so the index holding the changes since begins
// later. glusterfind's incremental pass then sees at most the changes up to
// the switch, records that time (or 0) as the brick's, and exits 0; every
// later pass sees nothing either.
std::vector<std::string> bricks_without_history(const std::string& state_dir,
                                                const std::string& session,
                                                const std::string& volume,
                                                const std::vector<std::string>& local_bricks);

// glusterfind's session state: TARN_GLUSTERFIND_DIR when set and not empty,
// else glusterfind's own /var/lib/glusterd/glusterfind.
std::string glusterfind_state_dir();

// What one run needs to know.
struct tail_probe {
  std::string volume;
  std::string session;
  std::string state_dir = "/var/lib/glusterd/glusterfind";
};

struct lost_tail {
  std::vector<std::string> journals;  // found, on the bricks of this node
  std::vector<std::string> lines;     // the change-list lines they give
  std::string failure;                // why they cannot be read: run a full pass
  // The volume's replica sets, each with whether a brick of it is on this
  // node (bricks of other nodes cannot be looked at from here).
  std::vector<std::pair<std::vector<std::string>, bool>> sets;
  std::vector<std::string> local_bricks;  // the paths of this node's bricks
};

// Finds the lost tail of the volume's bricks on this node and reads it. A
// volume that `gluster volume info` does not describe (a local-directory
// volume, glusterd not answering) has none that can be looked at.
lost_tail find_lost_tail(const tail_probe& probe);

// The journals a pass has read itself are recorded for the session, in the
// session's state directory of glusterfind on this node: pending until the
// session's `glusterfind post` has succeeded, then as done. A journal that is
// done is never read again: its changes were listed by a pass that post
// confirmed, and listing them once more would report them twice.
//
// Records `journals` as pending for the session (an empty list clears it).
std::error_code note_recovered(const tail_probe& probe, const std::vector<std::string>& journals);
// After a successful post: the pending journals are done. Done journals that
// no longer exist are forgotten.
std::error_code confirm_recovered(const tail_probe& probe);

// The entries that the journals of this node's bricks `bricks` name as
// created or changed after the session's last completed pass, as change-list
// lines under their names of now, read from the bricks as glusterfind does
// but byte for byte: what an incremental pass lists, with the names it
// garbles spelt right. For entries that a list names wrongly beyond repair.
std::error_code changed_on_bricks(const tail_probe& probe, const std::vector<std::string>& bricks,
                                  std::vector<std::string>* lines);

// Adds to the change list `change_list` each of `lines` whose path the list
// does not hold yet; `*added` (when given) counts them.
std::error_code add_to_change_list(const std::string& change_list,
                                   const std::vector<std::string>& lines,
                                   std::size_t* added = nullptr);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_GLUSTERFIND_CHANGELOG_TAIL_H_
