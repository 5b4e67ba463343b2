// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Changed shard pieces to the applications that own them, through the gfid
// of every file named in an application list.
#include <uuid/uuid.h>

#include <cerrno>
#include <initializer_list>
#include <unordered_map>
#include <unordered_set>

#include "scanner/run/local_files.h"
#include "scanner/scanner.h"
#include "scanner/stages/gfid_read_ahead.h"
#include "scanner/stages/list_file.h"
#include "scanner/stages/piece_index.h"
#include "scanner/stages/unclaimed_pieces.h"

namespace tarn {
namespace scanner {
namespace {

const char* const kFn = "session::link_shard_to_app";
// Writes the owner's lines, claimed by a listed file, to `out`.
std::error_code write_owner(local_files& files, const piece_index& pieces,
                            piece_owner_record& owner, list_writer& out) {
  owner.claimed = true;
  unsigned long written = 0;
  return pieces.write(files, owner, /*pieces_only=*/false, out, &written);
}

// Writes the pieces owned by the files of one application list, read from
// `listed` batch by batch with the gfid of each, to its base name, each
// entry itself before its pieces when `list_entries`, then renames that to
// base.<count>, which goes to `linked`.
std::error_code link_list_by_gfids(local_files& files, std::size_t index,
                                   const std::string& app_file, listed_gfids& listed,
                                   bool list_entries, piece_index& pieces, link_counts& counts,
                                   std::string& linked) {
  // Batches come in list order; one of another list would be a fault here.
  const std::error_code out_of_step(EIO, std::generic_category());
  listed_batch batch;
  if (!listed.next(&batch) || batch.list != index) return out_of_step;
  if (batch.failed == listed_batch::failure::open) {
    session::logger.error(kFn, "Failed to open file %s", app_file.c_str());
    return batch.error;
  }
  list_writer out(files, kFn);
  if (std::error_code ec = out.create(list_name::parse(app_file).base())) return ec;

  char text[37];
  std::string last;
  piece_owner_record* owner = nullptr;
  for (;;) {
    if (batch.unreadable != 0 && counts.unreadable_entries == 0) {
      counts.unreadable_example = batch.unreadable_path + ": " + batch.unreadable_error.message();
    }
    counts.unreadable_entries += batch.unreadable;
    for (std::size_t i = 0; i < batch.gfids.size(); ++i) {
      if (list_entries) {
        if (std::error_code ec = out.write_line(batch.lines[i])) return ec;
        ++counts.path_lines;
      }
      uuid_unparse(batch.gfids[i].data(), text);
      // Most listed files own no piece and share the zero identifier of a
      // vanished file: the search is done once for a run of them.
      if (last != text) {
        last = text;
        owner = pieces.find(last);
      }
      if (owner == nullptr) continue;
      if (std::error_code ec = write_owner(files, pieces, *owner, out)) return out.abandon(ec);
    }
    if (batch.failed == listed_batch::failure::gfid) {
      session::logger.error(kFn, "Failed to read the gfid of %s: %s", batch.failed_path.c_str(),
                            batch.error.message().c_str());
      files.failed(batch.failed_path, batch.error);
      return out.abandon(batch.error);
    }
    if (batch.failed == listed_batch::failure::read) {
      session::logger.error(kFn, "Failed to read file %s: %s", app_file.c_str(),
                            batch.error.message().c_str());
      files.failed(app_file, batch.error);
      return out.abandon(batch.error);
    }
    if (batch.ends_list) break;
    if (!listed.next(&batch) || batch.list != index) return out.abandon(out_of_step);
  }
  return out.commit(&linked);
}

// The same with the owners' paths known: each listed entry that is a path
// of an owner gets its pieces, and no file is read.
std::error_code link_list_by_paths(local_files& files, const std::string& app_file,
                                   const std::unordered_map<std::string, std::size_t>& owner_of,
                                   bool list_entries, piece_index& pieces, link_counts& counts,
                                   std::string& linked) {
  std::unique_ptr<line_input> in;
  if (std::error_code ec = files.read_lines(app_file, &in)) {
    session::logger.error(kFn, "Failed to open file %s", app_file.c_str());
    return ec;
  }
  list_writer out(files, kFn);
  if (std::error_code ec = out.create(list_name::parse(app_file).base())) return ec;
  std::string line;
  while (in->next(&line)) {
    if (list_entries) {
      if (std::error_code ec = out.write_line(line)) return ec;
      ++counts.path_lines;
    }
    auto owner = owner_of.find(line);
    if (owner == owner_of.end()) continue;
    if (std::error_code ec = write_owner(files, pieces, pieces.owners()[owner->second], out)) {
      return out.abandon(ec);
    }
  }
  if (std::error_code ec = in->error()) {
    session::logger.error(kFn, "Failed to read file %s: %s", app_file.c_str(),
                          ec.message().c_str());
    return out.abandon(ec);
  }
  return out.commit(&linked);
}

// Where the mount names each owner (an aux-gfid mount), the owners are
// looked up, one round trip each, instead of the gfid of every listed file:
// most listed files own no piece. Only when every owner's paths are all its
// names (true) do the listed paths alone tell the owners.
bool owners_by_lookup(const owner_lookup& lookup, const piece_index& pieces,
                      std::vector<owner_paths>* found) {
  // A failed look at ".gfid" reads the gfids; the owner step reports it.
  bool aux_gfid_mount = false;
  if (has_gfid_directory(lookup.mount_path, &aux_gfid_mount) || !aux_gfid_mount) return false;
  bool by_paths = false;
  resolve_owners(lookup, pieces, found, &by_paths);
  if (!by_paths) {
    session::logger.error(kFn, "Reading the gfid of every listed file: not every owner of a "
                          "changed piece could be named with all its paths through %s/.gfid",
                          lookup.mount_path.c_str());
  }
  return by_paths;
}

// Every application list linked by the owners' paths, which `found` names
// whole for every owner.
std::error_code link_lists_by_paths(local_files& files, const std::vector<std::string>& app_files,
                                    const std::vector<owner_paths>& found, bool list_entries,
                                    piece_index& pieces, link_counts& counts,
                                    std::vector<std::string>& linked_files) {
  std::unordered_map<std::string, std::size_t> owner_of;
  for (std::size_t i = 0; i < found.size(); ++i) {
    for (const std::string& path : found[i].paths) owner_of.emplace(path, i);
  }
  for (const std::string& app_file : app_files) {
    std::string linked;
    if (std::error_code ec = link_list_by_paths(files, app_file, owner_of, list_entries, pieces,
                                                counts, linked)) {
      return ec;
    }
    linked_files.push_back(linked);
  }
  return success;
}

// Every application list linked by the gfid of each of its entries.
std::error_code link_lists_by_gfids(local_files& files, const std::vector<std::string>& app_files,
                                    const std::string& mount_path, bool list_entries,
                                    piece_index& pieces, link_counts& counts,
                                    std::vector<std::string>& linked_files) {
  listed_gfids listed(app_files, mount_path, files);
  for (std::size_t i = 0; i < app_files.size(); ++i) {
    std::string linked;
    if (std::error_code ec = link_list_by_gfids(files, i, app_files[i], listed, list_entries,
                                                pieces, counts, linked)) {
      return ec;
    }
    linked_files.push_back(linked);
  }
  return success;
}

// A linked list gets the very name of its application list when both
// counts agree; it is a result then and stays. Other outcomes of the
// removals are not looked at: the results are complete.
void remove_inputs(local_files& files, const std::vector<std::string>& linked_files,
                   std::initializer_list<const std::vector<std::string>*> inputs) {
  const std::unordered_set<std::string> outputs(linked_files.begin(), linked_files.end());
  for (const std::vector<std::string>* list : inputs) {
    for (const std::string& path : *list) {
      if (outputs.count(path) == 0) files.remove(path);
    }
  }
}

}  // namespace

std::error_code session::link_shard_to_app(std::vector<std::string>& app_files,
                                           std::vector<std::string>& shard_files,
                                           std::vector<std::string>& linked_files) {
  logger.error(kFn, "Linking shards to apps\n");
  counts = link_counts();
  piece_index pieces;
  if (std::error_code ec = pieces.load(local_side(), shard_files)) return ec;

  owner_lookup lookup;
  lookup.mount_path = mount_path;
  lookup.output_dir = output_dir;
  lookup.session_name = session_name;
  lookup.files = &local_side();
  lookup.is_excluded = [this](const std::string& path) { return is_excluded(path); };
  lookup.counts = &counts;

  std::vector<owner_paths> found;
  const bool by_paths =
      resolve_owners_first && !pieces.owners().empty() && owners_by_lookup(lookup, pieces, &found);
  counts.owners_looked_up = found.size();
  counts.linked_by_paths = by_paths;

  const std::size_t first = linked_files.size();
  std::error_code linked =
      by_paths ? link_lists_by_paths(local_side(), app_files, found, list_files, pieces, counts,
                                     linked_files)
               : link_lists_by_gfids(local_side(), app_files, mount_path, list_files, pieces,
                                     counts, linked_files);
  if (linked) return linked;
  if (counts.unreadable_entries != 0) {
    logger.error(kFn, "Could not read the gfid of %lu listed entries (the first: %s); the "
                 "changed pieces they might own are looked up by their owners instead",
                 counts.unreadable_entries, counts.unreadable_example.c_str());
  }
  // An in-place write to a sharded file lists the piece but not the file.
  if (std::error_code ec =
          link_unclaimed_pieces(lookup, pieces, std::move(found), linked_files, first)) {
    return ec;
  }
  // Every other line is a piece (the owner step adds pieces only), and the
  // names of the lists count their lines.
  unsigned long lines = 0;
  for (std::size_t i = first; i < linked_files.size(); ++i) {
    lines += static_cast<unsigned long>(list_name::parse(linked_files[i]).count);
  }
  counts.piece_lines = lines - counts.path_lines;

  remove_inputs(local_side(), linked_files, {&shard_files, &app_files});
  return success;
}

}  // namespace scanner
}  // namespace tarn
