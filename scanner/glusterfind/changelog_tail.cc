// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "scanner/glusterfind/changelog_tail.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <list>
#include <map>
#include <set>
#include <sstream>

#include "core/platform.h"
#include "core/settings.h"
#include "scanner/glusterfind/shell_quote.h"
#include "scanner/run/run_env.h"
#include "scanner/scanner.h"
#include "scanner/stages/filter_read_ahead.h"

namespace tarn {
namespace scanner {
namespace {

// A journal is rolled over every changelog.rollover-time seconds (15 unless
// the volume sets it), so one named up to that much before the last pass's
// time may still hold changes after it; the slack covers clocks and delays.
constexpr long kDefaultRollover = 15;
constexpr long kJournalSlack = 60;


// GlusterFS's operation numbers, as the journal records them.
enum op : int {
  kMknod = 3,
  kMkdir = 4,
  kUnlink = 5,
  kRmdir = 6,
  kSymlink = 7,
  kRename = 8,
  kLink = 9,
  kCreate = 23,
};

const char kRootGfid[] = "00000000-0000-0000-0000-000000000001";

std::error_code bad_journal() { return os::error_from(EBADMSG); }

bool is_gfid(const std::string& text, std::size_t at) {
  if (text.size() - at != 36) return false;
  for (std::size_t i = 0; i < 36; ++i) {
    char c = text[at + i];
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? c != '-' : !std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

bool starts_record(const std::string& field) {
  return !field.empty() && (field[0] == 'E' || field[0] == 'D' || field[0] == 'M') &&
         is_gfid(field, 1);
}

bool to_number(const std::string& text, long* value) {
  if (text.empty() || text.size() > 18) return false;
  long n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  *value = n;
  return true;
}

long rollover_time(const std::string& volume_info) {
  static const std::string kOption = "changelog.rollover-time: ";
  std::size_t at = volume_info.find("\n" + kOption);
  long seconds = 0;
  if (at == std::string::npos) return kDefaultRollover;
  std::size_t begin = at + 1 + kOption.size();
  std::size_t end = volume_info.find('\n', begin);
  std::string value = volume_info.substr(begin, end == std::string::npos ? end : end - begin);
  while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) value.pop_back();
  return to_number(value, &seconds) ? seconds : kDefaultRollover;
}

// How many fields follow the operation of an entry record.
int entry_fields(int operation) {
  switch (operation) {
    case kMknod:
    case kMkdir:
    case kCreate:
      return 4;  // mode, uid, gid, entry
    case kUnlink:
    case kRmdir:
    case kSymlink:
    case kLink:
      return 1;  // entry (unlink and rmdir may add the removed path)
    case kRename:
      return 2;  // old entry, new entry
    default:
      return -1;
  }
}

// The epoch of a journal name "CHANGELOG.<digits>".
bool journal_epoch(const std::string& name, long* epoch) {
  static const std::string kPrefix = "CHANGELOG.";
  return name.compare(0, kPrefix.size(), kPrefix) == 0 &&
         to_number(name.substr(kPrefix.size()), epoch);
}

// A journal holds records when it has more than its header line.
bool holds_records(const std::string& path) {
  std::string text;
  if (os::read_whole_file(path, &text)) return true;  // cannot tell: look closer
  std::size_t header_end = text.find('\n');
  return header_end == std::string::npos || header_end + 1 < text.size();
}

void add_journals_of(const std::string& dir, long not_before, std::vector<std::string>* out) {
  std::list<std::string> names;
  if (os::list_directory(dir, &names)) return;
  for (const std::string& name : names) {
    long epoch = 0;
    if (journal_epoch(name, &epoch) && epoch >= not_before && holds_records(dir + "/" + name)) {
      out->push_back(dir + "/" + name);
    }
  }
}

// The epoch of an index entry ".../CHANGELOG.<epoch>" or ".../changelog.<epoch>".
bool entry_epoch(const std::string& entry, long* epoch) {
  std::size_t dot = entry.rfind('.');
  return dot != std::string::npos && to_number(entry.substr(dot + 1), epoch);
}

// The end of an index from its first entry before `not_before` on. Entries
// are appended in time order, and an index grows by a few MB a day: only its
// tail is read.
std::error_code read_index_since(const std::string& path, long not_before, std::string* index) {
  for (std::size_t want = 64 * 1024;; want *= 4) {
    std::string tail;
    bool whole = false;
    if (std::error_code ec = os::read_file_tail(path, want, &tail, &whole)) return ec;
    // The first entry that is whole follows the first NUL.
    std::size_t begin = tail.find('\0');
    std::size_t end = begin == std::string::npos ? begin : tail.find('\0', begin + 1);
    long epoch = 0;
    bool old_enough = end != std::string::npos &&
                      entry_epoch(tail.substr(begin + 1, end - begin - 1), &epoch) &&
                      epoch < not_before;
    if (whole || old_enough) {
      index->append(tail);
      return success;
    }
  }
}

// The subdirectories of `dir` whose names are numbers, by number.
std::map<long, std::string> numbered_dirs(const std::string& dir) {
  std::map<long, std::string> result;
  std::list<std::string> names;
  if (os::list_directory(dir, &names)) return result;
  for (const std::string& name : names) {
    long n = 0;
    if (to_number(name, &n)) result[n] = dir + "/" + name;
  }
  return result;
}

// glusterfind's quoting of a brick path in a status file name (Python's
// urllib quote_plus).
std::string quote_plus(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '_' || c == '.' || c == '-' || c == '~') {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

bool read_time(const std::string& path, long* time) {
  std::string text;
  if (os::read_whole_file(path, &text)) return false;
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  return to_number(text, time);
}

// The session's record of the journals its passes read themselves: pending
// until post, then done (see note_recovered). glusterfind removes the
// directory with the session.
std::string recovered_record(const tail_probe& probe, bool pending) {
  return probe.state_dir + "/" + probe.session + "/" + probe.volume + "/tarn-recovered" +
         (pending ? ".pre" : "");
}

std::set<std::string> read_recovered(const std::string& path) {
  std::set<std::string> journals;
  std::string text;
  if (os::read_whole_file(path, &text)) return journals;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty()) journals.insert(line);
  }
  return journals;
}

std::error_code write_recovered(const std::string& path, const std::set<std::string>& journals) {
  std::string text;
  for (const std::string& journal : journals) text += journal + "\n";
  return os::replace_file(path, text);
}

// The path of a change-list line "<TYPE> <path>".
std::string listed_path(const std::string& line) {
  std::size_t blank = line.find_first_of(" \t");
  return blank == std::string::npos ? std::string() : line.substr(blank + 1);
}

// Turns records into change-list lines, as glusterfind would have listed
// them: created entries as NEW, data and metadata changes as MODIFY, each
// under its names of now; entries gone since, removals and renames give none.
class line_maker {
 public:
  std::error_code add(brick_paths* brick, const journal_record& r) {
    const char* type = r.type == 'E' ? "NEW" : "MODIFY";
    if (r.type == 'E' && r.op != kMknod && r.op != kMkdir && r.op != kCreate &&
        r.op != kSymlink && r.op != kLink) {
      return success;
    }
    std::vector<std::string> paths;
    std::error_code ec = brick->paths_of(r.gfid, &paths);
    if (ec == std::errc::no_such_file_or_directory) return success;
    if (ec) return ec;
    for (const std::string& path : paths) {
      if (!path.empty() && seen_.insert(path).second) lines_.push_back(type + (" " + path));
    }
    return success;
  }

  const std::vector<std::string>& lines() const { return lines_; }

 private:
  std::set<std::string> seen_;
  std::vector<std::string> lines_;
};

}  // namespace

std::vector<brick_address> parse_brick_list(const std::string& volume_info) {
  std::vector<brick_address> bricks;
  std::istringstream in(volume_info);
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 5, "Brick") != 0) continue;
    std::size_t digits = 5;
    while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) {
      ++digits;
    }
    if (digits == 5 || line.compare(digits, 2, ": ") != 0) continue;
    std::string address = line.substr(digits + 2);
    while (!address.empty() && std::isspace(static_cast<unsigned char>(address.back()))) {
      address.pop_back();
    }
    // An arbiter brick is listed as "host:/path (arbiter)".
    if (!address.empty() && address.back() == ')') {
      std::size_t note = address.rfind(" (");
      if (note != std::string::npos) address.resize(note);
    }
    std::size_t colon = address.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= address.size()) continue;
    bricks.push_back({address.substr(0, colon), address.substr(colon + 1)});
  }
  return bricks;
}

std::vector<std::vector<brick_address>> parse_replica_sets(const std::string& volume_info) {
  // "Number of Bricks: 2 x 3 = 6", "1 x (2 + 1) = 3", or "2" without sets.
  static const std::string kCount = "Number of Bricks: ";
  std::size_t per_set = 1;
  std::size_t at = volume_info.find(kCount);
  if (at != std::string::npos) {
    std::string count = volume_info.substr(at + kCount.size());
    count = count.substr(0, count.find('\n'));
    std::size_t times = count.find(" x ");
    std::size_t equals = count.find(" = ");
    if (times != std::string::npos && equals != std::string::npos && equals > times) {
      std::istringstream terms(count.substr(times + 3, equals - times - 3));
      std::size_t sum = 0;
      std::string term;
      while (terms >> term) {
        long n = 0;
        std::string digits;
        for (char c : term) {
          if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
        }
        if (to_number(digits, &n)) sum += static_cast<std::size_t>(n);
      }
      if (sum > 0) per_set = sum;
    }
  }
  std::vector<std::vector<brick_address>> sets;
  for (brick_address& brick : parse_brick_list(volume_info)) {
    if (sets.empty() || sets.back().size() == per_set) sets.emplace_back();
    sets.back().push_back(std::move(brick));
  }
  return sets;
}

std::error_code parse_journal(const std::string& text, std::vector<journal_record>* records) {
  std::size_t header_end = text.find('\n');
  if (header_end == std::string::npos) return bad_journal();
  std::string header = text.substr(0, header_end);
  if (header.compare(0, 19, "GlusterFS Changelog") != 0 ||
      header.find("encoding : 2") == std::string::npos) {
    return bad_journal();
  }
  std::vector<std::string> fields;
  std::size_t at = header_end + 1;
  while (at < text.size()) {
    std::size_t end = text.find('\0', at);
    if (end == std::string::npos) return bad_journal();  // cut short
    fields.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  for (std::size_t i = 0; i < fields.size();) {
    if (!starts_record(fields[i])) return bad_journal();
    journal_record r;
    r.type = fields[i][0];
    r.gfid = fields[i].substr(1);
    ++i;
    if (r.type != 'D') {
      long operation = 0;
      if (i >= fields.size() || !to_number(fields[i], &operation)) return bad_journal();
      r.op = static_cast<int>(operation);
      ++i;
    }
    if (r.type == 'E') {
      int count = entry_fields(r.op);
      if (count < 0 || i + count > fields.size()) return bad_journal();
      r.entry = fields[i + count - 1];
      i += count;
      // The removed path that unlink and rmdir may record as well.
      if ((r.op == kUnlink || r.op == kRmdir) && i < fields.size() && !starts_record(fields[i])) {
        ++i;
      }
    }
    records->push_back(std::move(r));
  }
  return success;
}

std::error_code find_unread_journals(const std::string& brick_path, long not_before,
                                     long skipped, std::vector<std::string>* journals) {
  const std::string root = brick_path + "/.glusterfs/changelogs";
  std::vector<std::string> found;
  add_journals_of(root, not_before, &found);
  // Dated directories YYYY/MM/DD, from the day before `not_before` on (in
  // whatever time zone the brick named them).
  std::time_t from = static_cast<std::time_t>(not_before) - 86400;
  struct tm day = {};
  gmtime_r(&from, &day);
  const long first = (day.tm_year + 1900L) * 10000 + (day.tm_mon + 1) * 100 + day.tm_mday;
  for (const auto& year : numbered_dirs(root)) {
    if (year.first < first / 10000) continue;
    for (const auto& month : numbered_dirs(year.second)) {
      if (year.first * 100 + month.first < first / 100) continue;
      for (const auto& date : numbered_dirs(month.second)) {
        if ((year.first * 100 + month.first) * 100 + date.first < first) continue;
        add_journals_of(date.second, not_before, &found);
      }
    }
  }
  if (found.empty()) return success;

  // The index: NUL-separated journal paths, in every htime/HTIME.<epoch>.
  std::string index;
  std::list<std::string> names;
  if (std::error_code ec = os::list_directory(root + "/htime", &names)) return ec;
  for (const std::string& name : names) {
    if (name.compare(0, 6, "HTIME.") != 0) continue;
    if (std::error_code ec = read_index_since(root + "/htime/" + name, not_before, &index)) {
      return ec;
    }
    index += '\0';
  }
  for (const std::string& path : found) {
    std::string name = path.substr(path.rfind('/') + 1);
    long epoch = 0;
    if (index.find("/" + name + '\0') == std::string::npos ||
        (journal_epoch(name, &epoch) && epoch == skipped)) {
      journals->push_back(path);
    }
  }
  std::sort(journals->begin(), journals->end());
  return success;
}

bool last_pass_time(const std::string& state_dir, const std::string& session,
                    const std::string& volume, const std::string& brick_path, long* time) {
  const std::string dir = state_dir + "/" + session + "/" + volume + "/";
  return read_time(dir + quote_plus(brick_path) + ".status", time) ||
         read_time(dir + "status", time);
}

bool last_pass_was_full(const std::string& state_dir, const std::string& session,
                        const std::string& volume, const std::string& brick_path) {
  const std::string dir = state_dir + "/" + session + "/" + volume + "/";
  long brick = 0, whole = 0;
  // A full pass records the time it crawled the brick; the volume's time is
  // that less the rollover time. An incremental pass records for the brick
  // the last journal it read, which is never later than the volume's time.
  return read_time(dir + quote_plus(brick_path) + ".status", &brick) &&
         read_time(dir + "status", &whole) && brick >= whole + 2;
}

std::vector<std::string> bricks_without_history(const std::string& state_dir,
                                                const std::string& session,
                                                const std::string& volume,
                                                const std::vector<std::string>& local_bricks) {
  std::vector<std::string> blind;
  for (const std::string& brick : local_bricks) {
    long since = 0;
    if (!last_pass_time(state_dir, session, volume, brick, &since)) continue;
    // Each switch-on of the change log begins an index of its own, named by
    // its time; a brick restart keeps writing the one it had.
    std::list<std::string> names;
    if (os::list_directory(brick + "/.glusterfs/changelogs/htime", &names)) continue;
    long newest = 0, epoch = 0;
    for (const std::string& name : names) {
      if (name.compare(0, 6, "HTIME.") == 0 && to_number(name.substr(6), &epoch)) {
        newest = std::max(newest, epoch);
      }
    }
    if (since < newest) blind.push_back(brick);
  }
  return blind;
}

std::string brick_paths::entry(const std::string& gfid) const {
  return brick_ + "/.glusterfs/" + gfid.substr(0, 2) + "/" + gfid.substr(2, 2) + "/" + gfid;
}

std::error_code brick_paths::directory(const std::string& gfid, std::string* path, int depth) {
  if (gfid == kRootGfid) {
    path->clear();
    return success;
  }
  auto known = directories_.find(gfid);
  if (known != directories_.end()) {
    *path = known->second;
    return success;
  }
  if (depth > 1024 || gfid.size() != 36) return os::error_from(ELOOP);
  std::string target;
  if (std::error_code ec = os::read_link(entry(gfid), &target)) return ec;
  // "../../xx/yy/<parent gfid>/<name>"
  std::size_t slash = target.rfind('/');
  std::size_t before = slash == std::string::npos ? std::string::npos : target.rfind('/', slash - 1);
  if (before == std::string::npos) return bad_journal();
  std::string parent;
  std::error_code ec =
      directory(target.substr(before + 1, slash - before - 1), &parent, depth + 1);
  if (ec) return ec;
  *path = (parent.empty() ? "" : parent + "/") + target.substr(slash + 1);
  directories_[gfid] = *path;
  return success;
}

std::error_code brick_paths::paths_of(const std::string& gfid, std::vector<std::string>* paths) {
  if (gfid == kRootGfid) {
    paths->push_back(std::string());
    return success;
  }
  std::vector<std::string> names;
  if (std::error_code ec = os::list_xattr_names(entry(gfid), &names)) return ec;
  static const std::string kNameAttribute = "trusted.gfid2path.";
  bool named = false;
  for (const std::string& name : names) {
    if (name.compare(0, kNameAttribute.size(), kNameAttribute) != 0) continue;
    named = true;
    std::string value, parent;
    if (std::error_code ec = os::get_link_xattr_value(entry(gfid), name.c_str(), &value)) {
      if (ec == std::errc::no_such_file_or_directory || ec == std::errc::no_message_available) {
        continue;  // renamed or removed meanwhile
      }
      return ec;
    }
    std::size_t slash = value.find('/');
    if (slash == std::string::npos) return bad_journal();
    std::error_code ec = directory(value.substr(0, slash), &parent, 0);
    if (ec == std::errc::no_such_file_or_directory) continue;
    if (ec) return ec;
    paths->push_back((parent.empty() ? "" : parent + "/") + value.substr(slash + 1));
  }
  if (named) return success;
  // No names of its own: a directory, whose entry is a link.
  std::string path;
  std::error_code ec = directory(gfid, &path, 0);
  if (ec == std::errc::invalid_argument) return os::error_from(EOPNOTSUPP);
  if (!ec) paths->push_back(path);
  return ec;
}

lost_tail find_lost_tail(const tail_probe& probe) {
  lost_tail tail;
  std::string info;
  if (env_in_force().run("gluster --mode=script volume info " + shell_quote(probe.volume) +
                             " 2>/dev/null",
                         &info) != 0) {
    return tail;
  }
  const long span = rollover_time(info) + kJournalSlack;
  std::vector<brick_address> local;
  for (const std::vector<brick_address>& set : parse_replica_sets(info)) {
    tail.sets.emplace_back();
    for (const brick_address& brick : set) {
      tail.sets.back().first.push_back(brick.host + ":" + brick.path);
      if (!os::is_local_host(brick.host)) continue;
      tail.sets.back().second = true;
      local.push_back(brick);
      tail.local_bricks.push_back(brick.path);
    }
  }
  const std::set<std::string> done = read_recovered(recovered_record(probe, false));
  std::map<std::string, std::vector<std::string>> journals;  // by brick
  for (const brick_address& brick : local) {
    long since = 0;
    if (!last_pass_time(probe.state_dir, probe.session, probe.volume, brick.path, &since)) {
      continue;
    }
    // glusterfind skips the journal named by the brick's time as read by
    // the last pass, which after a full pass it is not.
    const long skipped =
        last_pass_was_full(probe.state_dir, probe.session, probe.volume, brick.path) ? since : -1;
    std::vector<std::string>& found = journals[brick.path];
    if (std::error_code ec = find_unread_journals(brick.path, since - span, skipped, &found)) {
      tail.failure = "cannot read the change-log index of brick " + brick.path + ": " +
                     ec.message();
      return tail;
    }
    found.erase(std::remove_if(found.begin(), found.end(),
                               [&](const std::string& j) { return done.count(j) != 0; }),
                found.end());
    tail.journals.insert(tail.journals.end(), found.begin(), found.end());
  }
  line_maker lines;
  for (const auto& found : journals) {
    brick_paths brick(found.first);
    for (const std::string& journal : found.second) {
      std::string text;
      std::vector<journal_record> records;
      std::error_code ec = os::read_whole_file(journal, &text);
      if (!ec) ec = parse_journal(text, &records);
      for (std::size_t i = 0; !ec && i < records.size(); ++i) ec = lines.add(&brick, records[i]);
      if (ec) {
        tail.failure = "cannot read " + journal + ": " + ec.message();
        return tail;
      }
    }
  }
  tail.lines = lines.lines();
  return tail;
}

std::string glusterfind_state_dir() {
  return settings::glusterfind_dir();
}

std::error_code note_recovered(const tail_probe& probe, const std::vector<std::string>& journals) {
  const std::string pending = recovered_record(probe, true);
  if (journals.empty()) {
    std::error_code ec = os::remove_file(pending);
    return ec.value() == ENOENT ? success : ec;
  }
  return write_recovered(pending, std::set<std::string>(journals.begin(), journals.end()));
}

std::error_code confirm_recovered(const tail_probe& probe) {
  const std::string pending = recovered_record(probe, true);
  std::set<std::string> added = read_recovered(pending);
  if (added.empty()) return success;
  const std::string record = recovered_record(probe, false);
  std::set<std::string> done;
  bool directory = false;
  for (const std::string& journal : read_recovered(record)) {
    if (!os::stat_path(journal, &directory)) done.insert(journal);
  }
  done.insert(added.begin(), added.end());
  if (std::error_code ec = write_recovered(record, done)) return ec;
  return os::remove_file(pending);
}

std::error_code changed_on_bricks(const tail_probe& probe, const std::vector<std::string>& bricks,
                                  std::vector<std::string>* lines) {
  line_maker made;
  for (const std::string& brick_path : bricks) {
    long since = 0;
    if (!last_pass_time(probe.state_dir, probe.session, probe.volume, brick_path, &since)) {
      return os::error_from(ENOENT);
    }
    // Every journal in the index after that time, and those a restart left
    // out of it.
    const std::string root = brick_path + "/.glusterfs/changelogs";
    std::vector<std::string> journals;
    if (std::error_code ec = find_unread_journals(brick_path, since, -1, &journals)) return ec;
    std::list<std::string> names;
    if (std::error_code ec = os::list_directory(root + "/htime", &names)) return ec;
    for (const std::string& name : names) {
      if (name.compare(0, 6, "HTIME.") != 0) continue;
      std::string index;
      if (std::error_code ec = read_index_since(root + "/htime/" + name, since, &index)) return ec;
      std::istringstream entries(index);
      long epoch = 0;
      for (std::string entry; std::getline(entries, entry, '\0');) {
        if (entry_epoch(entry, &epoch) && epoch > since) journals.push_back(entry);
      }
    }
    brick_paths brick(brick_path);
    for (const std::string& journal : journals) {
      std::string text;
      std::vector<journal_record> records;
      std::error_code ec = os::read_whole_file(journal, &text);
      if (ec.value() == ENOENT) continue;  // an empty journal is not kept
      if (!ec) ec = parse_journal(text, &records);
      for (std::size_t i = 0; !ec && i < records.size(); ++i) ec = made.add(&brick, records[i]);
      if (ec) return ec;
    }
  }
  // A name with a line feed cannot be a line of the list.
  for (const std::string& line : made.lines()) {
    if (line.find('\n') == std::string::npos) lines->push_back(line);
  }
  return success;
}

std::error_code add_to_change_list(const std::string& change_list,
                                   const std::vector<std::string>& lines, std::size_t* added) {
  std::set<std::string> listed;
  {
    std::set<std::string> wanted;
    for (const std::string& line : lines) wanted.insert(listed_path(line));
    os::line_reader in;
    if (std::error_code ec = in.open(change_list)) return ec;
    std::string line;
    while (in.next(&line)) {
      // Only the lines that the filter keeps hold a path already.
      std::string_view path;
      if (changed_path(line, &path) && wanted.count(std::string(path)) != 0) {
        listed.insert(std::string(path));
      }
    }
    if (in.error()) return in.error();
  }
  std::string text;
  std::size_t count = 0;
  for (const std::string& line : lines) {
    if (listed.count(listed_path(line)) != 0) continue;
    text += line + "\n";
    ++count;
  }
  if (added != nullptr) *added = count;
  if (text.empty()) return success;
  os::file out;
  if (std::error_code ec = os::file::open_for_append(change_list, &out)) return ec;
  std::error_code ec = out.write_all(text.data(), text.size());
  std::error_code closed = out.close();
  return ec ? ec : closed;
}

}  // namespace scanner
}  // namespace tarn
