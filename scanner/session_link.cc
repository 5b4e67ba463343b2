// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Changed shard pieces to the applications that own them, through the gfid
// of every file named in an application list.
#include <uuid/uuid.h>

#include <cerrno>
#include <unordered_set>

#include "scanner/list_file.h"
#include "scanner/gfid_read_ahead.h"
#include "scanner/local_files.h"
#include "scanner/scanner.h"
#include "scanner/unclaimed_pieces.h"

namespace tarn {
namespace scanner {
namespace {

const char* const kFn = "session::link_shard_to_app";

std::error_code read_shard_list(local_files& files, const std::string& path,
                                std::set<std::string>& pieces) {
  std::unique_ptr<line_input> in;
  if (std::error_code ec = files.read_lines(path, &in)) {
    session::logger.error(kFn, "Failed to open file %s", path.c_str());
    return ec;
  }
  std::string line;
  // A shard list comes sorted, so the hint makes each insertion constant time.
  while (in->next(&line)) pieces.insert(pieces.end(), line);
  if (std::error_code ec = in->error()) {
    session::logger.error(kFn, "Failed to read file %s: %s", path.c_str(), ec.message().c_str());
    return ec;
  }
  return success;
}

// Writes the pieces owned by the files of one application list, read from
// `listed` batch by batch, to its base name, each entry itself before its
// pieces when `list_entries`, then renames that to base.<count>, which goes
// to `linked`. The owners of the pieces written go to `claimed`, the number
// of entries written to `counts`.
std::error_code link_list(local_files& files, std::size_t index, const std::string& app_file,
                          listed_gfids& listed, bool list_entries,
                          const std::set<std::string>& pieces, owner_set& claimed,
                          link_counts& counts, std::string& linked) {
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
  std::string prefix;
  // The last prefix looked up and where its pieces begin: most listed files
  // own no piece and share the zero identifier, whose search is then done
  // once per list instead of once per file.
  std::string last_prefix;
  auto first = pieces.end();
  for (;;) {
    for (std::size_t i = 0; i < batch.gfids.size(); ++i) {
      if (list_entries) {
        if (std::error_code ec = out.write_line(batch.lines[i])) return ec;
        ++counts.path_lines;
      }
      uuid_unparse(batch.gfids[i].data(), text);
      prefix.assign(".shard/").append(text);
      if (prefix != last_prefix) {
        // The pieces of one owner are adjacent in the set and begin at the
        // first entry not below the prefix.
        first = pieces.lower_bound(prefix);
        last_prefix = prefix;
        if (first != pieces.end() && first->compare(0, prefix.size(), prefix) == 0) {
          claimed.emplace(text);
        }
      }
      for (auto it = first; it != pieces.end() && it->compare(0, prefix.size(), prefix) == 0;
           ++it) {
        if (std::error_code ec = out.write_line(*it)) return ec;
      }
    }
    if (batch.failed == listed_batch::failure::gfid) {
      session::logger.error(kFn, "Failed to read the gfid of %s: %s", batch.failed_path.c_str(),
                            batch.error.message().c_str());
      return out.abandon(batch.error);
    }
    if (batch.failed == listed_batch::failure::read) {
      session::logger.error(kFn, "Failed to read file %s: %s", app_file.c_str(),
                            batch.error.message().c_str());
      return out.abandon(batch.error);
    }
    if (batch.ends_list) break;
    if (!listed.next(&batch) || batch.list != index) return out.abandon(out_of_step);
  }
  return out.commit(&linked);
}

}  // namespace

std::error_code session::link_shard_to_app(std::vector<std::string>& app_files,
                                           std::vector<std::string>& shard_files,
                                           std::vector<std::string>& linked_files) {
  logger.error(kFn, "Linking shards to apps\n");
  counts = link_counts();
  std::set<std::string> pieces;
  for (const std::string& path : shard_files) {
    if (std::error_code ec = read_shard_list(local_side(), path, pieces)) return ec;
  }
  owner_set claimed;
  const std::size_t first = linked_files.size();
  {
    listed_gfids listed(app_files, mount_path, local_side());
    for (std::size_t i = 0; i < app_files.size(); ++i) {
      std::string linked;
      if (std::error_code ec = link_list(local_side(), i, app_files[i], listed, list_files,
                                         pieces, claimed, counts, linked)) {
        return ec;
      }
      linked_files.push_back(linked);
    }
  }
  // An in-place write to a sharded file lists the piece but not the file.
  owner_lookup lookup;
  lookup.mount_path = mount_path;
  lookup.output_dir = output_dir;
  lookup.session_name = session_name;
  lookup.files = &local_side();
  lookup.is_excluded = [this](const std::string& path) { return is_excluded(path); };
  lookup.counts = &counts;
  if (std::error_code ec = link_unclaimed_pieces(lookup, pieces, claimed, linked_files, first)) {
    return ec;
  }
  // Every other line is a piece (the owner step adds pieces only), and the
  // names of the lists count their lines.
  unsigned long lines = 0;
  for (std::size_t i = first; i < linked_files.size(); ++i) {
    lines += static_cast<unsigned long>(list_name::parse(linked_files[i]).count);
  }
  counts.piece_lines = lines - counts.path_lines;

  // A linked list gets the very name of its application list when both
  // counts agree; it is a result then and stays. Other outcomes of the
  // removals are not looked at: the results are complete.
  const std::unordered_set<std::string> outputs(linked_files.begin(), linked_files.end());
  for (const std::vector<std::string>* inputs : {&shard_files, &app_files}) {
    for (const std::string& path : *inputs) {
      if (outputs.count(path) == 0) local_side().remove(path);
    }
  }
  return success;
}

}  // namespace scanner
}  // namespace tarn
