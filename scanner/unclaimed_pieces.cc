// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Pieces that no listed file claimed, to the applications of their owners,
// found through the ".gfid" directory of a mount made with -o aux-gfid-mount.
#include "scanner/unclaimed_pieces.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <map>

#include "scanner/list_file.h"
#include "scanner/local_files.h"
#include "core/platform.h"
#include "scanner/scanner.h"

namespace tarn {
namespace scanner {
namespace {

const char* const kFn = "session::link_shard_to_app";
constexpr std::string_view kShardDir = ".shard/";
constexpr std::size_t kGfidTextSize = 36;

using piece_list = std::vector<const std::string*>;

bool is_gfid_text(std::string_view text) {
  if (text.size() != kGfidTextSize) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

// Splits the owner's paths. A file with hard links has several, joined by
// ":" ("/app2/a:/app1/b"); but a ":" before a "/" also ends a directory
// name like "app:", so the whole value counts as one path when it exists.
std::vector<std::string> owner_paths(const std::string& mount_path, const std::string& value) {
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
                           std::vector<std::string>* paths, bool* gone) {
  const std::string gfid_path = lookup.mount_path + "/.gfid/" + std::string(gfid);
  std::string value;
  std::error_code ec = lookup.files->read_xattr(gfid_path, "glusterfs.ancestry.path", &value);
  *gone = ec.value() == ENOENT;
  if (*gone) return success;
  if (ec.value() == ENODATA) {
    // The bricks keep the parent links it is built from only with
    // storage.build-pgfid on, which glusterfind create sets.
    session::logger.error(kFn, "Failed to find the owner of %s: no glusterfs.ancestry.path "
                          "(storage.build-pgfid off?)", gfid_path.c_str());
    return ec;
  }
  if (ec) {
    session::logger.error(kFn, "Failed to find the owner of %s", gfid_path.c_str());
    return ec;
  }
  // The value counts the NUL that ends it.
  while (!value.empty() && value.back() == '\0') value.pop_back();
  *paths = owner_paths(lookup.mount_path, value);
  for (std::string& path : *paths) {
    if (path.size() < 2 || path[0] != '/' || path[1] == '/') {
      session::logger.error(kFn, "Unexpected owner path \"%s\" of %s", value.c_str(),
                            gfid_path.c_str());
      return os::error_from(EINVAL);
    }
    path.erase(0, 1);
  }
  return success;
}

// Writes the lines of `existing` (when given) and then `added` to base, and
// only once that is closed gives it the name base.<count>.
std::error_code write_list(local_files& files, const std::string& base,
                           const std::string& existing, const piece_list& added,
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
  for (const std::string* piece : added) {
    if (std::error_code ec = out.write_line(*piece)) return ec;
  }
  return out.commit(final_path);
}

// Does the mount answer below ".gfid"? Only one made with -o aux-gfid-mount
// has that directory.
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

// Adds the pieces to the application's list, linked_files[*index], or to a
// new list at the end of linked_files.
std::error_code add_to_list(const owner_lookup& lookup, const std::string& application,
                            const piece_list& added, const std::size_t* index,
                            std::vector<std::string>& linked_files) {
  std::string path;
  if (index == nullptr) {
    // Names of this run's lists differ by application, and ".shard" owns no
    // piece, so the name is free but for what a failed earlier run left,
    // which is replaced as the linked lists replace theirs.
    const list_name name{lookup.output_dir, application, lookup.session_name};
    if (std::error_code ec = write_list(*lookup.files, name.base(), std::string(), added, &path)) {
      return ec;
    }
    linked_files.push_back(path);
    return success;
  }
  const std::string previous = linked_files[*index];
  if (std::error_code ec =
          write_list(*lookup.files, list_name::parse(previous).base(), previous, added, &path)) {
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

// The pieces of each owner, found through the mount, under every
// application that has a path of it. Owners that are gone are dropped with
// one message.
std::error_code pieces_by_application(const owner_lookup& lookup,
                                      const std::map<std::string_view, piece_list>& owners,
                                      std::map<std::string, piece_list>* applications) {
  unsigned long dropped = 0;
  std::size_t gone_owners = 0;
  for (const auto& owner : owners) {
    std::vector<std::string> paths;
    bool gone = false;
    if (std::error_code ec = find_owner(lookup, owner.first, &paths, &gone)) return ec;
    if (gone) {
      dropped += owner.second.size();
      ++gone_owners;
      continue;
    }
    // Each application with a path of the owner gets the pieces once, as
    // it would with that path listed. The filter drops an owner's own
    // changes below ".tarn" or ".snaps"; its pieces go the same way, or the
    // scanner's results would report themselves. ".shard" holds no owner
    // and names the shard lists.
    std::set<std::string> owning;
    for (const std::string& path : paths) {
      std::string application = path.substr(0, path.find('/'));
      if (application == ".shard" || (lookup.is_excluded && lookup.is_excluded(path))) continue;
      owning.insert(application);
    }
    if (owning.empty() && lookup.counts != nullptr) {
      lookup.counts->dropped_owner_excluded += owner.second.size();
    }
    for (const std::string& application : owning) {
      piece_list& added = (*applications)[application];
      added.insert(added.end(), owner.second.begin(), owner.second.end());
    }
  }
  if (lookup.counts != nullptr) lookup.counts->dropped_owner_gone += dropped;
  if (gone_owners != 0) {
    session::logger.error(kFn, "Dropped %lu changed shard pieces of %zu files that no longer exist",
                          dropped, gone_owners);
  }
  return success;
}

}  // namespace

std::string_view piece_owner(std::string_view entry) {
  const std::size_t number = kShardDir.size() + kGfidTextSize + 1;
  if (entry.size() <= number || entry.substr(0, kShardDir.size()) != kShardDir ||
      entry[number - 1] != '.') {
    return std::string_view();
  }
  for (char c : entry.substr(number)) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::string_view();
  }
  std::string_view gfid = entry.substr(kShardDir.size(), kGfidTextSize);
  return is_gfid_text(gfid) ? gfid : std::string_view();
}

std::error_code link_unclaimed_pieces(const owner_lookup& lookup,
                                      const std::set<std::string>& pieces, const owner_set& claimed,
                                      std::vector<std::string>& linked_files, std::size_t first) {
  std::map<std::string_view, piece_list> owners;
  unsigned long unclaimed = 0;
  for (const std::string& piece : pieces) {
    std::string_view gfid = piece_owner(piece);
    if (gfid.empty() || claimed.count(gfid) != 0) continue;
    owners[gfid].push_back(&piece);
    ++unclaimed;
  }
  if (owners.empty()) return success;

  bool aux_gfid_mount = false;
  if (std::error_code ec = has_gfid_directory(lookup.mount_path, &aux_gfid_mount)) return ec;
  if (!aux_gfid_mount) {
    session::logger.error(kFn,
                          "Dropped %lu changed shard pieces of %zu files in no application list: "
                          "%s has no .gfid directory; in-place changes need a mount made with "
                          "-o aux-gfid-mount",
                          unclaimed, owners.size(), lookup.mount_path.c_str());
    if (lookup.counts != nullptr) lookup.counts->dropped_no_aux_gfid += unclaimed;
    return success;
  }

  // Owners in byte order, so each application's pieces stay in byte order.
  std::map<std::string, piece_list> applications;
  if (std::error_code ec = pieces_by_application(lookup, owners, &applications)) return ec;
  std::map<std::string, std::size_t> lists;
  for (std::size_t i = first; i < linked_files.size(); ++i) {
    const list_name name = list_name::parse(linked_files[i], lookup.session_name);
    // A list of another shape belongs to no application.
    lists.emplace(name.session.empty() ? std::string() : name.application, i);
  }
  for (const auto& application : applications) {
    auto list = lists.find(application.first);
    const std::size_t* index = list != lists.end() ? &list->second : nullptr;
    if (std::error_code ec =
            add_to_list(lookup, application.first, application.second, index, linked_files)) {
      return ec;
    }
  }
  return success;
}

}  // namespace scanner
}  // namespace tarn
