// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The shard lists of a run, indexed by owner.
#include "scanner/stages/piece_index.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "scanner/run/local_files.h"
#include "scanner/scanner.h"
#include "scanner/stages/list_file.h"

namespace tarn {
namespace scanner {
namespace {

const char* const kFn = "session::link_shard_to_app";
constexpr std::string_view kShardDir = ".shard/";
constexpr std::size_t kGfidTextSize = 36;

// The identifier a shard-list line begins with after ".shard/"; empty when
// it begins with none.
std::string_view line_owner(std::string_view line) {
  if (line.size() < kShardDir.size() + kGfidTextSize || line.substr(0, kShardDir.size()) != kShardDir) {
    return std::string_view();
  }
  std::string_view gfid = line.substr(kShardDir.size(), kGfidTextSize);
  return is_gfid_text(gfid) ? gfid : std::string_view();
}

bool by_gfid(const piece_owner_record& a, const piece_owner_record& b) { return a.gfid < b.gfid; }

}  // namespace

bool is_gfid_text(std::string_view text) {
  if (text.size() != kGfidTextSize) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

std::string_view piece_owner(std::string_view entry) {
  const std::size_t number = kShardDir.size() + kGfidTextSize + 1;
  if (entry.size() <= number || entry[number - 1] != '.') return std::string_view();
  for (char c : entry.substr(number)) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::string_view();
  }
  return line_owner(entry);
}

namespace {

// One record per owner, its stretches in list order (a sorted list holds
// each owner's lines together, so only several lists give several).
void merge_by_gfid(std::vector<piece_owner_record>* owners) {
  std::vector<piece_owner_record>& all = *owners;
  std::stable_sort(all.begin(), all.end(), by_gfid);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (kept != 0 && all[kept - 1].gfid == all[i].gfid) {
      piece_owner_record& into = all[kept - 1];
      into.stretches.insert(into.stretches.end(), all[i].stretches.begin(),
                            all[i].stretches.end());
      into.lines += all[i].lines;
      into.pieces += all[i].pieces;
      into.in_order = false;
      continue;
    }
    if (kept != i) all[kept] = std::move(all[i]);
    ++kept;
  }
  all.resize(kept);
}

}  // namespace

std::error_code piece_index::load(local_files& files, const std::vector<std::string>& shard_lists) {
  lists_ = shard_lists;
  owners_.clear();
  std::string line;
  std::string previous;
  std::string previous_of_owner;
  for (std::size_t list = 0; list < lists_.size(); ++list) {
    std::unique_ptr<line_input> in;
    if (std::error_code ec = files.read_lines(lists_[list], &in)) {
      session::logger.error(kFn, "Failed to open file %s", lists_[list].c_str());
      return ec;
    }
    const std::size_t begin = owners_.size();
    std::uint64_t offset = 0;
    previous.clear();
    bool first_line = true;
    while (in->next(&line)) {
      const std::uint64_t at = offset;
      offset += line.size() + 1;
      std::string_view gfid = line_owner(line);
      const bool repeated = !first_line && line == previous;
      first_line = false;
      previous = line;
      if (gfid.empty()) continue;
      if (owners_.size() == begin || owners_.back().gfid != gfid ||
          owners_.back().stretches.back().offset + owners_.back().stretches.back().bytes != at) {
        piece_owner_record owner;
        owner.gfid.assign(gfid);
        owner.stretches.push_back({list, at, 0});
        owners_.push_back(std::move(owner));
      }
      piece_owner_record& owner = owners_.back();
      if (owner.lines != 0 && line < previous_of_owner) owner.in_order = false;
      previous_of_owner = line;
      owner.stretches.back().bytes = offset - owner.stretches.back().offset;
      if (repeated) continue;
      ++owner.lines;
      if (!piece_owner(line).empty()) ++owner.pieces;
    }
    if (std::error_code ec = in->error()) {
      session::logger.error(kFn, "Failed to read file %s: %s", lists_[list].c_str(),
                            ec.message().c_str());
      return ec;
    }
  }
  merge_by_gfid(&owners_);
  return success;
}

piece_owner_record* piece_index::find(std::string_view gfid) {
  auto it = std::lower_bound(owners_.begin(), owners_.end(), gfid,
                             [](const piece_owner_record& a, std::string_view b) { return a.gfid < b; });
  return it != owners_.end() && it->gfid == gfid ? &*it : nullptr;
}

std::error_code piece_index::write(local_files& files, const piece_owner_record& owner,
                                   bool pieces_only, list_writer& out,
                                   unsigned long* written) const {
  *written = 0;
  // Lines out of order (lists that were not sorted, or several of them)
  // are gathered and sorted first: one owner's at a time.
  std::vector<std::string> gathered;
  auto take = [&](const std::string& line) -> std::error_code {
    if (pieces_only && piece_owner(line).empty()) return success;
    if (!owner.in_order) {
      gathered.push_back(line);
      return success;
    }
    if (std::error_code ec = out.write_line(line)) return ec;
    ++*written;
    return success;
  };
  std::string line;
  std::string previous;
  for (const piece_owner_record::stretch& stretch : owner.stretches) {
    const std::string& path = lists_[stretch.list];
    std::unique_ptr<line_input> in;
    if (std::error_code ec = files.read_lines_from(path, stretch.offset, &in)) {
      session::logger.error(kFn, "Failed to open file %s", path.c_str());
      return ec;
    }
    std::uint64_t read = 0;
    bool first_line = true;
    while (read < stretch.bytes && in->next(&line)) {
      read += line.size() + 1;
      if (!first_line && line == previous) continue;
      first_line = false;
      previous = line;
      if (std::error_code ec = take(line)) return ec;
    }
    if (std::error_code ec = in->error()) {
      session::logger.error(kFn, "Failed to read file %s: %s", path.c_str(), ec.message().c_str());
      return ec;
    }
    if (read != stretch.bytes) {
      session::logger.error(kFn, "Failed to read file %s: it changed while it was linked",
                            path.c_str());
      return std::error_code(EIO, std::generic_category());
    }
  }
  if (owner.in_order) return success;
  std::sort(gathered.begin(), gathered.end());
  gathered.erase(std::unique(gathered.begin(), gathered.end()), gathered.end());
  for (const std::string& piece : gathered) {
    if (std::error_code ec = out.write_line(piece)) return ec;
    ++*written;
  }
  return success;
}

}  // namespace scanner
}  // namespace tarn
