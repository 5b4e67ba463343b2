// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The entries GlusterFS keeps at the top of a volume for itself. A crawl of
// the bricks or a change log lists them like any other entry, but they are
// no application's data: none of them may become an application, and none
// may fail a run (the mount refuses some of them outright).
//
//   .glusterfs                        a brick's own metadata (gfid links,
//                                     change logs); a crawl may list it
//   .glusterfs-anonymous-inode-<uuid> replica volumes (cluster.use-anonymous-
//                                     inode, on by default): where self-heal
//                                     parks entries it cannot place yet; every
//                                     access through the mount gives EPERM
//   .trashcan                         the trash feature's copies of removed
//                                     and truncated files, and its work area
//   .shard/.remove_me                 markers of sharded files being removed;
//                                     the pieces of live files are the
//                                     entries .shard/<gfid>.<n> beside it
#ifndef TARN_SCANNER_STAGES_PLATFORM_ENTRIES_H_
#define TARN_SCANNER_STAGES_PLATFORM_ENTRIES_H_

#include <string_view>

namespace tarn {
namespace scanner {

// True for a path (relative to the volume's top directory, as glusterfind
// lists it) that is one of the entries above or lies below one.
bool is_platform_entry(std::string_view path);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_STAGES_PLATFORM_ENTRIES_H_
