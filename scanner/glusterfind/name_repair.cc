// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "scanner/glusterfind/name_repair.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <string_view>
#include <utility>

#include "core/platform.h"
#include "scanner/scanner.h"
#include "scanner/stages/filter_read_ahead.h"
#include "scanner/stages/platform_entries.h"

namespace tarn {
namespace scanner {
namespace {

// A name split into more parts than this is not put together again; one of
// more than kMostMixedParts is tried with single commas between its parts
// only.
constexpr std::size_t kMostParts = 8;
constexpr std::size_t kMostMixedParts = 3;

// A NEW or MODIFY line: its type word and path.
struct entry_line {
  std::string_view type;
  std::string_view path;
};

bool parse_line(std::string_view line, entry_line* out) {
  std::string_view path;
  if (!changed_path(line, &path)) return false;
  std::size_t begin = line.find_first_not_of(" \t");
  out->type = line.substr(begin, line.find_first_of(" \t", begin) - begin);
  out->path = path;
  return true;
}

// Entries that cannot be garbled: pieces are named by their owner's gfid,
// and GlusterFS's own entries never go into a list. Neither may take part in
// a repair: a look-up below ".shard" finds a piece by its number alone.
bool needs_no_check(std::string_view path) {
  return path.compare(0, 7, ".shard/") == 0 || path == ".shard" || is_platform_entry(path);
}

// Looks entries up: repair candidates once each, and their directory
// first, as most of them fail there.
class lookups {
 public:
  explicit lookups(const exists_fn& exists) : exists_(exists) {}
  bool exists(const std::string& path) {
    if (!is_plain_path(path)) return false;
    bool found = true;
    exists_(path, &found);  // a failure to tell counts as found
    return found;
  }
  bool candidate_exists(const std::string& path) {
    if (!is_plain_path(path) || needs_no_check(path)) return false;
    auto known = known_.find(path);
    if (known != known_.end()) return known->second;
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && !candidate_exists(path.substr(0, slash))) {
      return known_[path] = false;
    }
    return known_[path] = exists(path);
  }

 private:
  const exists_fn& exists_;
  std::map<std::string, bool> known_;
};

// The candidates for the run of lines [first, last]: the parts joined with
// "," or ",," between them and "" or "," after them, each as it is and
// with its last name decoded.
template <typename Visit>
bool each_join(const std::vector<std::string>& parts, Visit&& visit) {
  const std::size_t breaks = parts.size() - 1;
  const unsigned masks = parts.size() > kMostMixedParts ? 1u : 1u << breaks;
  for (unsigned mask = 0; mask < masks; ++mask) {
    std::string joined = parts[0];
    for (std::size_t i = 1; i < parts.size(); ++i) {
      joined += (mask >> (i - 1)) & 1u ? ",," : ",";
      joined += parts[i];
    }
    for (const char* tail : {"", ","}) {
      std::string candidate = joined + tail;
      std::string decoded;
      if (visit(candidate)) return true;
      if (undo_byte_decoding(candidate, &decoded) && visit(decoded)) return true;
    }
  }
  return false;
}

bool valid_utf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xe ? 3 : (c >> 3) == 0x1e ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) return false;
    }
    if (length == 2 && c < 0xc2) return false;  // overlong
    i += length;
  }
  return true;
}

// The entries (and the directories above them) that the list removes or
// renames away: "DELETE <path>", and "RENAME <old> <new>" where <old> ends
// at some blank. False for a line of any other kind.
bool removed_by(std::string_view line, const std::set<std::string>& wanted,
                std::set<std::string>* removed) {
  std::size_t begin = line.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return false;
  std::size_t end = line.find_first_of(" \t", begin);
  if (end == std::string_view::npos) return false;
  const std::string_view type = line.substr(begin, end - begin);
  const std::string_view rest = line.substr(end + 1);
  if (type == "DELETE") {
    if (removed != nullptr && wanted.count(std::string(rest)) != 0) {
      removed->insert(std::string(rest));
    }
  } else if (type == "RENAME") {
    for (std::size_t blank = rest.find(' '); removed != nullptr && blank != std::string_view::npos;
         blank = rest.find(' ', blank + 1)) {
      std::string old(rest.substr(0, blank));
      if (wanted.count(old) != 0) removed->insert(old);
    }
  } else {
    return false;  // not a removal
  }
  return true;
}

// A line that no type word begins: the rest of a name with a line feed.
bool is_continuation(const std::string& line) {
  entry_line e;
  return !line.empty() && !parse_line(line, &e) && !removed_by(line, {}, nullptr);
}

// `path` or a directory above it is in `removed`.
bool is_removed(const std::string& path, const std::set<std::string>& removed) {
  for (std::size_t end = path.size(); end != std::string::npos && end > 0;
       end = end == 0 ? std::string::npos : path.rfind('/', end - 1)) {
    if (removed.count(path.substr(0, end)) != 0) return true;
  }
  return false;
}

}  // namespace

bool is_plain_path(const std::string& path) {
  if (path.empty()) return false;
  std::size_t begin = 0;
  for (;;) {
    std::size_t end = path.find('/', begin);
    std::string_view part(path.data() + begin, (end == std::string::npos ? path.size() : end) - begin);
    if (part.empty() || part == "." || part == "..") return false;
    if (end == std::string::npos) return true;
    begin = end + 1;
  }
}

bool undo_byte_decoding(const std::string& path, std::string* decoded) {
  const std::size_t name = path.rfind('/') + 1;  // npos + 1 == 0
  std::string bytes;
  bool beyond_ascii = false;
  for (std::size_t i = name; i < path.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    if (c < 0x80) {
      bytes += static_cast<char>(c);
      continue;
    }
    // U+0080-U+00FF is C2 80 - C3 BF in UTF-8.
    if ((c != 0xc2 && c != 0xc3) || i + 1 >= path.size()) return false;
    const unsigned char next = static_cast<unsigned char>(path[++i]);
    if ((next & 0xc0) != 0x80) return false;
    bytes += static_cast<char>(((c & 0x03) << 6) | (next & 0x3f));
    beyond_ascii = true;
  }
  if (!beyond_ascii || !valid_utf8(bytes)) return false;
  *decoded = path.substr(0, name) + bytes;
  return *decoded != path;
}

namespace {

// The repair of one list, seen line by line: first every line (see), then,
// when some name nothing, the removals (see_removal), then the decisions
// (decide), then each line again as it is to be written (rewrite). Holds
// only the lines around those that name nothing.
class name_repairer {
 public:
  // With `look_up` false (a full pass, which writes names as they are),
  // only the shapes of lines are looked at, and nothing is repaired.
  name_repairer(const exists_fn& exists, bool look_up, name_repairs* out)
      : volume_(exists), look_up_(look_up), out_(out) {}

  void see(std::size_t index, const std::string& line) {
    entry_line e;
    const bool entry = parse_line(line, &e) && !needs_no_check(e.path);
    bool names_nothing = false;
    if (entry && look_up_) {
      ++out_->checked;
      names_nothing = !volume_.exists(std::string(e.path));
    }
    // A name with a line feed ends its line there: the rest is a line of
    // no type, and the entry before it names nothing.
    if (is_continuation(line) && entry_before_ && index > 0 &&
        (missing_.empty() || missing_.back() != index - 1)) {
      missing_.push_back(index - 1);
      context_[index - 1] = recent_.back().second;
      capture_until_ = index + kMostParts;
    }
    if (names_nothing) {
      missing_.push_back(index);
      for (const auto& earlier : recent_) context_.insert(earlier);
      capture_until_ = index + kMostParts;
    }
    if (names_nothing || index < capture_until_) context_[index] = line;
    recent_.emplace_back(index, line);
    if (recent_.size() >= kMostParts) recent_.erase(recent_.begin());
    entry_before_ = entry;
  }
  bool any_missing() const { return !missing_.empty(); }

  // The paths (and directories above them) whose removal would explain why
  // a line names nothing.
  void want_removals() {
    for (std::size_t i : missing_) {
      const std::string path = path_at(i);
      for (std::size_t end = path.size(); end != std::string::npos && end > 0;
           end = end == 0 ? std::string::npos : path.rfind('/', end - 1)) {
        wanted_.insert(path.substr(0, end));
      }
    }
  }
  void see_removal(const std::string& line) { removed_by(line, wanted_, &removed_); }

  void decide() {
    for (std::size_t i : missing_) {
      if (dropped_.count(i) == 0 && replaced_.count(i) == 0) decide_one(i);
    }
  }
  bool changed() const { return !dropped_.empty() || !replaced_.empty(); }

  // False for a line that goes; `*line` as it is to be written otherwise.
  bool rewrite(std::size_t index, std::string* line) const {
    if (dropped_.count(index) != 0) return false;
    auto repaired = replaced_.find(index);
    if (repaired != replaced_.end()) {
      entry_line e;
      parse_line(*line, &e);
      *line = std::string(e.type) + " " + repaired->second;
    }
    return true;
  }

 private:
  std::string path_at(std::size_t index) const {
    entry_line e;
    parse_line(context_.at(index), &e);
    return std::string(e.path);
  }
  // The type of an entry that may be part of a name; empty for any other line.
  std::string_view type_at(std::size_t index) const {
    auto line = context_.find(index);
    entry_line e;
    if (line == context_.end() || !parse_line(line->second, &e) || needs_no_check(e.path)) {
      return std::string_view();
    }
    return e.type;
  }

  // A missing line that looks like the rest of a name split at a comma: at
  // the top or below a directory that does not exist, right after a missing
  // line of the same run that is such a rest itself, ends in "/" or lies in
  // a directory that exists. Files removed from a directory since, or with
  // it, have neither shape.
  bool is_fragment(std::size_t i) {
    auto known = fragments_.find(i);
    if (known != fragments_.end()) return known->second;
    bool fragment = false;
    if (i > 0 && !type_at(i).empty() && type_at(i - 1) == type_at(i) &&
        std::binary_search(missing_.begin(), missing_.end(), i - 1)) {
      const std::string path = path_at(i), before = path_at(i - 1);
      const std::size_t slash = path.rfind('/');
      if (slash == std::string::npos || !volume_.candidate_exists(path.substr(0, slash))) {
        const std::size_t before_slash = before.rfind('/');
        fragment = (before_slash != std::string::npos &&
                    (before_slash + 1 == before.size() ||
                     volume_.candidate_exists(before.substr(0, before_slash)))) ||
                   is_fragment(i - 1);
      }
    }
    return fragments_[i] = fragment;
  }
  bool cut_at_line_feed(std::size_t i) const {
    auto after = context_.find(i + 1);
    return after != context_.end() && is_continuation(after->second);
  }
  bool looks_garbled(std::size_t i) {
    std::string decoded;
    const std::string path = path_at(i);
    return cut_at_line_feed(i) || !is_plain_path(path) || undo_byte_decoding(path, &decoded) || is_fragment(i) ||
           (std::binary_search(missing_.begin(), missing_.end(), i + 1) && context_.count(i + 1) != 0 &&
            is_fragment(i + 1));
  }

  // Removed since the change: kept as it is, but for a name that only the
  // garbling made, which no application may have.
  bool removed_since(std::size_t i, bool garbled) {
    const std::string path = path_at(i);
    if (!is_plain_path(path) || !is_removed(path, removed_)) return false;
    ++out_->gone;
    if (garbled) dropped_.insert(i);
    return true;
  }

  void decide_one(std::size_t i) {
    const bool garbled = looks_garbled(i);
    // A list has no way to hold a name with a line feed; a full pass
    // writes names as they are.
    if (cut_at_line_feed(i) || !look_up_) {
      if (removed_since(i, garbled)) return;
      ++out_->line_feed;
      if (out_->line_feed_example.empty()) {
        out_->line_feed_example = context_.at(i) + "\\n" + context_.at(i + 1);
      }
      dropped_.insert(i);
      return;
    }
    std::string found;
    std::size_t span_first = i, span_last = i;
    find_repair(i, &found, &span_first, &span_last);
    // A split rename names its parts as removed too: the repair comes first.
    if (found.empty() && removed_since(i, garbled)) return;
    if (found.empty() && !garbled) {
      ++out_->gone;  // removed since the pass saw it: as any other
      return;
    }
    if (found.empty()) {
      unrepaired(i);
      return;
    }
    place_repair(found, span_first, span_last);
  }

  // The entry the line at `i` names, found on the volume: its name with the
  // blanks glusterfind stripped, or joined with lines around it of the same
  // type, which a split row forms. `*found` stays empty when none exists.
  void find_repair(std::size_t i, std::string* found, std::size_t* span_first,
                   std::size_t* span_last) {
    const std::string path = path_at(i);
    const std::string_view type = type_at(i);
    auto same_run = [&](std::size_t k) {
      return type_at(k) == type && dropped_.count(k) == 0 && replaced_.count(k) == 0;
    };
    std::size_t first = i, last = i;
    while (first > 0 && i - first + 1 < kMostParts && same_run(first - 1)) --first;
    while (last - i + 1 < kMostParts && context_.count(last + 1) != 0 && same_run(last + 1)) ++last;

    // glusterfind strips the blanks at both ends of a new entry's name.
    const std::size_t name = path.rfind('/') + 1;  // npos + 1 == 0
    for (const char* lead : {"", " "}) {
      for (const char* trail : {"", " "}) {
        const std::string candidate = path.substr(0, name) + lead + path.substr(name) + trail;
        if (found->empty() && candidate != path && volume_.candidate_exists(candidate)) {
          *found = candidate;
        }
      }
    }
    // Fewest parts first (the line alone: decoded, or with the comma that
    // ended its name), then those that begin with this line.
    for (std::size_t size = 1; found->empty() && size <= last - first + 1; ++size) {
      for (std::size_t back = 0; found->empty() && back < size && back <= i - first; ++back) {
        const std::size_t a = i - back, b = a + size - 1;
        if (b > last) continue;
        std::vector<std::string> parts;
        for (std::size_t k = a; k <= b; ++k) parts.push_back(path_at(k));
        each_join(parts, [&](const std::string& candidate) {
          if (candidate == path || !volume_.candidate_exists(candidate)) return false;
          *found = candidate;
          *span_first = a;
          *span_last = b;
          return true;
        });
      }
    }
  }

  // The repaired entry takes the place of the first of its parts that
  // named nothing; parts that name entries of their own stay (hard links).
  void place_repair(const std::string& found, std::size_t span_first, std::size_t span_last) {
    std::string listed;
    bool placed = false;
    for (std::size_t k = span_first; k <= span_last; ++k) {
      listed += (listed.empty() ? "" : " + ") + path_at(k);
      if (!std::binary_search(missing_.begin(), missing_.end(), k)) continue;
      if (placed) {
        dropped_.insert(k);
      } else {
        replaced_[k] = found;
        placed = true;
      }
    }
    // A comma put back, between parts or at the end, is a join.
    const bool joined = span_last > span_first || found.back() == ',';
    std::string& example = joined ? out_->joined_example : out_->decoded_example;
    ++(joined ? out_->joined : out_->decoded);
    if (example.empty()) example = listed + " -> " + found;
  }

  void unrepaired(std::size_t i) {
    ++out_->unrepaired;
    if (out_->unrepaired_example.empty()) out_->unrepaired_example = context_.at(i);
    dropped_.insert(i);
  }

  lookups volume_;
  const bool look_up_;
  name_repairs* out_;
  bool entry_before_ = false;
  std::vector<std::size_t> missing_;                 // in order
  std::map<std::size_t, std::string> context_;       // lines around them
  std::vector<std::pair<std::size_t, std::string>> recent_;
  std::size_t capture_until_ = 0;
  std::set<std::string> wanted_, removed_;
  std::map<std::size_t, std::string> replaced_;
  std::set<std::size_t> dropped_;
  std::map<std::size_t, bool> fragments_;
};

}  // namespace

std::error_code repair_names(std::vector<std::string>* lines, const exists_fn& exists,
                             name_repairs* out) {
  name_repairer repair(exists, /*look_up=*/true, out);
  for (std::size_t i = 0; i < lines->size(); ++i) repair.see(i, (*lines)[i]);
  if (!repair.any_missing()) return success;
  repair.want_removals();
  for (const std::string& line : *lines) repair.see_removal(line);
  repair.decide();
  std::vector<std::string> kept;
  for (std::size_t i = 0; i < lines->size(); ++i) {
    if (repair.rewrite(i, &(*lines)[i])) kept.push_back(std::move((*lines)[i]));
  }
  lines->swap(kept);
  return success;
}

namespace {

// Calls `visit(index, line)` for every line of the file.
template <typename Visit>
std::error_code each_line(const std::string& path, Visit&& visit) {
  os::line_reader in;
  if (std::error_code ec = in.open(path)) return ec;
  std::string line;
  for (std::size_t i = 0; in.next(&line); ++i) {
    if (std::error_code ec = visit(i, line)) return ec;
  }
  return in.error();
}

}  // namespace

std::error_code repair_change_list(const std::string& path, const exists_fn& exists,
                                   bool full, name_repairs* out) {
  name_repairer repair(exists, !full, out);
  if (std::error_code ec = each_line(path, [&](std::size_t i, const std::string& line) {
        repair.see(i, line);
        return success;
      })) {
    return ec;
  }
  if (!repair.any_missing()) return success;
  repair.want_removals();
  if (std::error_code ec = each_line(path, [&](std::size_t, const std::string& line) {
        repair.see_removal(line);
        return success;
      })) {
    return ec;
  }
  repair.decide();
  if (!repair.changed()) return success;
  // Written whole under a temporary name, renamed over the list.
  const std::string temporary = path + ".names";
  os::file out_file;
  if (std::error_code ec = os::file::create_for_write(temporary, &out_file)) return ec;
  std::string text;
  std::error_code ec = each_line(path, [&](std::size_t i, std::string line) {
    if (!repair.rewrite(i, &line)) return success;
    text += line;
    text += '\n';
    if (text.size() < (std::size_t{1} << 20)) return success;
    std::error_code written = out_file.write_all(text.data(), text.size());
    text.clear();
    return written;
  });
  if (!ec) ec = out_file.write_all(text.data(), text.size());
  std::error_code closed = out_file.close();
  if (!ec) ec = closed;
  if (!ec) ec = os::rename_file(temporary, path);
  if (ec) os::remove_file(temporary);
  return ec;
}

exists_fn volume_entries(std::vector<std::string> local_bricks, std::string mount_path) {
  return [bricks = std::move(local_bricks), mount = std::move(mount_path)](
             const std::string& path, bool* exists) -> std::error_code {
    for (const std::string& brick : bricks) {
      if (!os::lstat_path(brick + "/" + path)) {
        *exists = true;
        return success;
      }
    }
    std::error_code ec = os::lstat_path(mount + "/" + path);
    *exists = !ec || (ec.value() != ENOENT && ec.value() != ENOTDIR);
    return ec.value() == ENOENT || ec.value() == ENOTDIR ? success : ec;
  };
}

}  // namespace scanner
}  // namespace tarn
