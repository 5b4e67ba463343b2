// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Is the mount path a GlusterFS mount of the volume? Every gfid read of a run
// goes through it; a path that is some other directory (a typo, a mount that
// went away) would make every read fail and every piece disappear.
#ifndef TARN_SCANNER_GUARDS_MOUNT_CHECK_H_
#define TARN_SCANNER_GUARDS_MOUNT_CHECK_H_

#include <string>
#include <system_error>
#include <vector>

#include "core/tarn_export.h"

namespace tarn {
namespace scanner {

// One line of a mount table (/proc/self/mounts), its octal escapes undone.
struct mount_entry {
  std::string source;  // "HOST:/VOLUME"
  std::string target;  // the mount point
  std::string type;    // "fuse.glusterfs"
};

// The entries of a mount table's text, in its order; malformed lines skipped.
std::vector<mount_entry> parse_mount_table(const std::string& text);

// The outcome of a check.
struct mount_verdict {
  bool ok = false;
  std::string found;  // what the path is, for the message when not ok
};

// Whether `mount_path` is the target of a "fuse.glusterfs" entry of
// `table_text` whose source is "HOST:/VOLUME" or "HOST:VOLUME". The path is
// compared after its final slashes and "." components are dropped, and as
// the target of a symbolic link when `resolved` (its real path) is given.
mount_verdict check_mount_table(const std::string& table_text, const std::string& mount_path,
                                const std::string& resolved, const std::string& volume);

// The host that `mount_path`, a GlusterFS mount of `volume` in `table_text`,
// took the volume's description from: "node1" of "node1:/gv0" (the first of
// "node1,node2:/gv0"). Empty when the table shows no such mount.
std::string mount_server(const std::string& table_text, const std::string& mount_path,
                         const std::string& resolved, const std::string& volume);
// The same from this process's mount table; empty when it cannot be read.
// The library's own connection to the volume goes to that host, as the
// mount's does: a glusterd bound to one address answers on that one only.
std::string mount_server(const std::string& mount_path, const std::string& volume);

// The check a run makes before it takes its lock: with a local-directory
// volume (TARN_LOCAL_VOLUME_ROOT set), `mount_path` must be an existing
// directory; otherwise the mount table must show it as the volume's
// GlusterFS mount. EINVAL, with what was found in *found, when it is not;
// the errno of a mount table that cannot be read. Exported for
// `tarn-scan check`.
TARN_EXPORT std::error_code check_mount(const std::string& mount_path, const std::string& volume,
                            std::string* found);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_GUARDS_MOUNT_CHECK_H_
