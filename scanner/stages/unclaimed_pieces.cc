// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Pieces that no listed file claimed, to the applications of their owners,
// found through the ".gfid" directory of a mount made with -o aux-gfid-mount.
#include "scanner/stages/unclaimed_pieces.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <map>
#include <set>

#include "core/platform.h"
#include "scanner/run/local_files.h"
#include "scanner/run/parallel_for.h"
#include "scanner/scanner.h"
#include "scanner/stages/gfid_read_ahead.h"
#include "scanner/stages/list_file.h"

namespace tarn {
namespace scanner {
namespace {

const char* const kFn = "session::link_shard_to_app";
// Owners by their place in the index.
using owner_list = std::vector<std::size_t>;

// Splits the owner's paths. A file with hard links has several, joined by
// ":" ("/app2/a:/app1/b"); but a ":" before a "/" also ends a directory
// name like "app:", so the whole value counts as one path when it exists.
std::vector<std::string> split_owner_paths(const std::string& mount_path, const std::string& value) {
  std::vector<std::string> paths;
  bool directory = false;
  if (value.find(":/") == std::string::npos || !os::stat_path(mount_path + value, &directory)) {
    paths.push_back(value);
    return paths;
  }
  std::size_t begin = 0;
  for (std::size_t end = value.find(":/"); end != std::string::npos;
       begin = end + 1, end = value.find(":/", begin)) {
    paths.push_back(value.substr(begin, end - begin));
  }
  paths.push_back(value.substr(begin));
  return paths;
}

// Looks up the owner's paths, "app2/big.bin" say, relative to the top
// directory of the volume. `*gone` tells an owner that no longer exists.
std::error_code find_owner(const owner_lookup& lookup, std::string_view gfid,
                           std::vector<std::string>* paths, bool* gone, bool quiet = false) {
  const std::string gfid_path = lookup.mount_path + "/.gfid/" + std::string(gfid);
  std::string value;
  std::error_code ec = lookup.files->read_xattr(gfid_path, "glusterfs.ancestry.path", &value);
  *gone = ec.value() == ENOENT;
  if (*gone) return success;
  // An owner that refuses to be named is counted by the caller, not logged.
  if (ec && (quiet || is_entry_failure(ec))) return ec;
  if (ec.value() == ENODATA) {
    // The bricks keep the parent links it is built from only with
    // storage.build-pgfid on, which glusterfind create sets.
    session::logger.error(kFn, "Failed to find the owner of %s: no glusterfs.ancestry.path "
                          "(storage.build-pgfid off?)", gfid_path.c_str());
    lookup.files->failed(gfid_path, ec);
    return ec;
  }
  if (ec) {
    session::logger.error(kFn, "Failed to find the owner of %s", gfid_path.c_str());
    lookup.files->failed(gfid_path, ec);
    return ec;
  }
  // The value counts the NUL that ends it.
  while (!value.empty() && value.back() == '\0') value.pop_back();
  *paths = split_owner_paths(lookup.mount_path, value);
  for (std::string& path : *paths) {
    if (path.size() < 2 || path[0] != '/' || path[1] == '/') {
      if (quiet) return os::error_from(EINVAL);
      session::logger.error(kFn, "Unexpected owner path \"%s\" of %s", value.c_str(),
                            gfid_path.c_str());
      lookup.files->failed(gfid_path, os::error_from(EINVAL));
      return os::error_from(EINVAL);
    }
    path.erase(0, 1);
  }
  return success;
}

// Writes the lines of `existing` (when given) and then the pieces of the
// owners `added` to base, and only once that is closed gives it the name
// base.<count>.
std::error_code write_list(local_files& files, const piece_index& index, const std::string& base,
                           const std::string& existing, const owner_list& added,
                           std::string* final_path) {
  list_writer out(files, kFn, list_writer::rename_wording::from_to, /*write_reason=*/false);
  if (std::error_code ec = out.create(base)) return ec;
  if (!existing.empty()) {
    std::unique_ptr<line_input> in;
    if (std::error_code ec = files.read_lines(existing, &in)) {
      session::logger.error(kFn, "Failed to open file %s", existing.c_str());
      return out.abandon(ec);
    }
    std::string line;
    while (in->next(&line)) {
      if (std::error_code ec = out.write_line(line)) return ec;
    }
    if (std::error_code ec = in->error()) {
      session::logger.error(kFn, "Failed to read file %s", existing.c_str());
      return out.abandon(ec);
    }
  }
  for (std::size_t owner : added) {
    unsigned long written = 0;
    if (std::error_code ec = index.write(files, index.owners()[owner], /*pieces_only=*/true, out,
                                         &written)) {
      return out.abandon(ec);
    }
  }
  return out.commit(final_path);
}

// Adds the pieces to the application's list, linked_files[*index], or to a
// new list at the end of linked_files.
std::error_code add_to_list(const owner_lookup& lookup, const piece_index& pieces,
                            const std::string& application, const owner_list& added,
                            const std::size_t* index, std::vector<std::string>& linked_files) {
  std::string path;
  if (index == nullptr) {
    // Names of this run's lists differ by application, and ".shard" owns no
    // piece, so the name is free but for what a failed earlier run left,
    // which is replaced as the linked lists replace theirs.
    const list_name name{lookup.output_dir, application, lookup.session_name};
    if (std::error_code ec =
            write_list(*lookup.files, pieces, name.base(), std::string(), added, &path)) {
      return ec;
    }
    linked_files.push_back(path);
    return success;
  }
  const std::string previous = linked_files[*index];
  if (std::error_code ec =
          write_list(*lookup.files, pieces, list_name::parse(previous).base(), previous, added,
                     &path)) {
    return ec;
  }
  linked_files[*index] = path;
  // The longer list holds every entry; the old one would be copied as well.
  if (std::error_code ec = lookup.files->remove(previous)) {
    session::logger.error(kFn, "Failed to remove file %s", previous.c_str());
    return ec;
  }
  return success;
}

// Each application with a path of the owner gets the pieces once, as it
// would with that path listed. The filter drops an owner's own changes below
// ".tarn" or ".snaps"; its pieces go the same way, or the scanner's results
// would report themselves. ".shard" holds no owner and names the shard lists.
std::set<std::string> owning_applications(const owner_lookup& lookup,
                                          const std::vector<std::string>& paths) {
  std::set<std::string> owning;
  for (const std::string& path : paths) {
    std::string application = path.substr(0, path.find('/'));
    if (application == ".shard" || (lookup.is_excluded && lookup.is_excluded(path))) continue;
    owning.insert(application);
  }
  return owning;
}

// The unclaimed owners under every application that has a path of them,
// looked up through the mount where `found` does not know them yet. Owners
// that are gone are dropped with one message.
std::error_code owners_by_application(const owner_lookup& lookup, const piece_index& index,
                                      const owner_list& unclaimed, std::vector<owner_paths>& found,
                                      std::map<std::string, owner_list>* applications) {
  unsigned long dropped = 0, unreadable = 0;
  std::size_t gone_owners = 0, unreadable_owners = 0;
  std::string example;
  for (std::size_t i : unclaimed) {
    const piece_owner_record& owner = index.owners()[i];
    owner_paths& known = found[i];
    if (known.found == owner_paths::state::unknown) {
      bool gone = false;
      std::error_code ec = find_owner(lookup, owner.gfid, &known.paths, &gone);
      if (is_entry_failure(ec)) {
        // One owner must not fail every run from now on; its pieces are
        // counted, and the run needs attention.
        if (unreadable_owners++ == 0) {
          example = lookup.mount_path + "/.gfid/" + owner.gfid + ": " + ec.message();
        }
        unreadable += owner.pieces;
        continue;
      }
      if (ec) return ec;
      known.found = gone ? owner_paths::state::gone : owner_paths::state::found;
    }
    if (known.found == owner_paths::state::gone) {
      dropped += owner.pieces;
      ++gone_owners;
      continue;
    }
    const std::set<std::string> owning = owning_applications(lookup, known.paths);
    if (owning.empty() && lookup.counts != nullptr) {
      lookup.counts->dropped_owner_excluded += owner.pieces;
    }
    for (const std::string& application : owning) (*applications)[application].push_back(i);
  }
  if (lookup.counts != nullptr) {
    lookup.counts->dropped_owner_gone += dropped;
    lookup.counts->dropped_owner_unreadable += unreadable;
    if (lookup.counts->owner_unreadable_example.empty()) {
      lookup.counts->owner_unreadable_example = example;
    }
  }
  if (unreadable_owners != 0) {
    session::logger.error(kFn, "Dropped %lu changed shard pieces of %zu files whose paths could "
                          "not be read (the first: %s)", unreadable, unreadable_owners,
                          example.c_str());
  }
  if (gone_owners != 0) {
    session::logger.error(kFn, "Dropped %lu changed shard pieces of %zu files that no longer exist",
                          dropped, gone_owners);
  }
  return success;
}

// Looks up the owner `gfid` into `*known`.
void resolve_one(const owner_lookup& lookup, const std::string& gfid, owner_paths* known) {
  bool gone = false;
  std::vector<std::string> paths;
  if (find_owner(lookup, gfid, &paths, &gone, /*quiet=*/true)) return;
  if (gone) {
    known->found = owner_paths::state::gone;
    known->complete = true;
    return;
  }
  unsigned long links = 0;
  const std::string gfid_path = lookup.mount_path + "/.gfid/" + gfid;
  known->complete = !lookup.files->link_count(gfid_path, &links) && links == paths.size();
  known->paths = std::move(paths);
  known->found = owner_paths::state::found;
}

}  // namespace

std::error_code has_gfid_directory(const std::string& mount_path, bool* present) {
  const std::string path = mount_path + "/.gfid";
  std::error_code ec = os::stat_path(path, present);
  if (ec.value() == ENOENT) {
    *present = false;
    return success;
  }
  if (ec) session::logger.error(kFn, "Failed to look up %s", path.c_str());
  return ec;
}

void resolve_owners(const owner_lookup& lookup, const piece_index& index,
                    std::vector<owner_paths>* found, bool* complete) {
  found->assign(index.owners().size(), owner_paths());
  // Each look-up is a round trip through the mount: a few go at once.
  constexpr std::size_t kOwnersPerThread = 8;
  constexpr std::size_t kThreads = 4;
  std::size_t threads = 1;
  while (threads < kThreads && threads * kOwnersPerThread < found->size()) ++threads;
  parallel_for(found->size(), threads, thread_shortage::fewer_threads, [&](std::size_t i) {
    resolve_one(lookup, index.owners()[i].gfid, &(*found)[i]);
    return true;
  });
  *complete = std::all_of(found->begin(), found->end(),
                          [](const owner_paths& owner) { return owner.complete; });
}

std::error_code link_unclaimed_pieces(const owner_lookup& lookup, const piece_index& index,
                                      std::vector<owner_paths> found,
                                      std::vector<std::string>& linked_files, std::size_t first) {
  owner_list unclaimed;
  unsigned long pieces = 0;
  for (std::size_t i = 0; i < index.owners().size(); ++i) {
    const piece_owner_record& owner = index.owners()[i];
    if (owner.claimed || owner.pieces == 0) continue;
    unclaimed.push_back(i);
    pieces += owner.pieces;
  }
  if (unclaimed.empty()) return success;

  bool aux_gfid_mount = false;
  if (std::error_code ec = has_gfid_directory(lookup.mount_path, &aux_gfid_mount)) return ec;
  if (!aux_gfid_mount) {
    session::logger.error(kFn,
                          "Dropped %lu changed shard pieces of %zu files in no application list: "
                          "%s has no .gfid directory; in-place changes need a mount made with "
                          "-o aux-gfid-mount",
                          pieces, unclaimed.size(), lookup.mount_path.c_str());
    if (lookup.counts != nullptr) lookup.counts->dropped_no_aux_gfid += pieces;
    return success;
  }

  // Owners in byte order, so each application's pieces stay in byte order.
  found.resize(index.owners().size());
  std::map<std::string, owner_list> applications;
  if (std::error_code ec = owners_by_application(lookup, index, unclaimed, found, &applications)) {
    return ec;
  }
  std::map<std::string, std::size_t> lists;
  for (std::size_t i = first; i < linked_files.size(); ++i) {
    const list_name name = list_name::parse(linked_files[i], lookup.session_name);
    // A list of another shape belongs to no application.
    lists.emplace(name.session.empty() ? std::string() : name.application, i);
  }
  for (const auto& application : applications) {
    auto list = lists.find(application.first);
    const std::size_t* at = list != lists.end() ? &list->second : nullptr;
    if (std::error_code ec = add_to_list(lookup, index, application.first, application.second, at,
                                         linked_files)) {
      return ec;
    }
  }
  return success;
}

}  // namespace scanner
}  // namespace tarn
