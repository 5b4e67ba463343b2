// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Writing a run's manifest as JSON.
#include "scanner/run/run_manifest.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include <nlohmann/json.hpp>

namespace tarn {
namespace scanner {
namespace {

using json = nlohmann::ordered_json;

// Whether `s` is well-formed UTF-8 (no overlong forms, surrogates or code
// points above U+10FFFF).
bool is_utf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    unsigned long cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xc2 && c <= 0xdf) {
      n = 1;
      cp = c & 0x1f;
    } else if (c >= 0xe0 && c <= 0xef) {
      n = 2;
      cp = c & 0x0f;
    } else if (c >= 0xf0 && c <= 0xf4) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (s.size() - i <= n) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xc0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3f);
    }
    if ((n == 2 && (cp < 0x800 || (cp >= 0xd800 && cp <= 0xdfff))) ||
        (n == 3 && (cp < 0x10000 || cp > 0x10ffff))) {
      return false;
    }
    i += n + 1;
  }
  return true;
}

std::string hex(const std::string& s) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0xf];
  }
  return out;
}

// The text as a JSON string, its invalid bytes U+FFFD.
json text_of(const std::string& text) {
  if (is_utf8(text)) return json(text);
  return json::parse(json(text).dump(-1, ' ', false, json::error_handler_t::replace));
}

// Sets `key` to the text, with "<key>_hex" beside it when it is not UTF-8.
void put_text(json& object, const std::string& key, const std::string& text) {
  object[key] = text_of(text);
  if (!is_utf8(text)) object[key + "_hex"] = hex(text);
}

std::tm utc(std::chrono::system_clock::time_point t) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  return parts;
}

long millis(std::chrono::system_clock::time_point t) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000);
}

}  // namespace

std::string utc_text(std::chrono::system_clock::time_point t) {
  const std::tm parts = utc(t);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  char full[48];
  std::snprintf(full, sizeof full, "%s.%03ldZ", text, millis(t));
  return full;
}

std::string manifest_directory(const std::string& session) {
  return ".tarn/working/runs/" + session;
}

std::string manifest_path(const scan_report& report) {
  const std::tm parts = utc(report.started);
  char text[40];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%S", &parts);
  char name[64];
  std::snprintf(name, sizeof name, "%s.%03ldZ.json", text, millis(report.started));
  return manifest_directory(report.session) + "/" + name;
}

std::string manifest_json(const scan_report& report, const std::string& volume) {
  return report_json(report, volume);
}

namespace {

json result_json(const scan_report& report) {
  json result = {{"code", report.result.value()},
                 {"message", report.result ? report.result.message() : std::string("Success")},
                 {"failed_step", report.failure},
                 {"lock_error", report.lock_error.value()}};
  put_text(result, "failed_path", report.failed_path);
  put_text(result, "failed_command", report.failed_command);
  result["cause"] = text_of(report.failure_cause);
  return result;
}

json texts_json(const std::vector<std::string>& texts) {
  json all = json::array();
  for (const std::string& t : texts) all.push_back(text_of(t));
  return all;
}

json replica_sets_json(const scan_report& report) {
  json sets = json::array();
  for (const scan_report_replica_set& set : report.replica_sets) {
    sets.push_back({{"bricks", texts_json(set.bricks)}, {"on_this_node", set.on_this_node}});
  }
  return sets;
}

json lists_json(const scan_report& report) {
  json lists = json::array();
  for (const scan_report_list& l : report.lists) {
    json entry = json::object();
    put_text(entry, "path", l.path);
    put_text(entry, "application", l.application);
    entry["entries"] = l.entries;
    entry["appended"] = l.appended;
    entry["offset"] = l.offset;
    entry["end"] = l.end;
    lists.push_back(std::move(entry));
  }
  return lists;
}

}  // namespace

std::string report_json(const scan_report& report, const std::string& volume) {
  json m = json::object();
  m["schema"] = 1;
  put_text(m, "volume", volume);
  put_text(m, "session", report.session);
  m["scan_type"] = report.full ? "full" : "incremental";
  m["became_full"] = report.became_full;
  m["started"] = utc_text(report.started);
  m["finished"] = utc_text(report.finished);
  m["result"] = result_json(report);
  m["mount"] = {{"checked", report.mount_checked}, {"aux_gfid", report.aux_gfid_mount}};
  m["recovered"] = {{"journals", texts_json(report.recovered_journals)},
                    {"changes", report.recovered_changes}};
  m["replica_sets"] = replica_sets_json(report);
  m["failed_bricks"] = texts_json(report.failed_bricks);
  m["lists"] = lists_json(report);
  m["total_entries"] = report.total_entries;
  m["piece_lines"] = report.piece_lines;
  m["path_lines"] = report.path_lines;
  m["linking"] = {{"by_owner_paths", report.linked_by_owner_paths},
                  {"owners_looked_up", report.owners_looked_up},
                  {"unreadable_entries", report.unreadable_entries}};
  m["names"] = {{"checked", report.names_checked},
                {"joined", report.names_joined},
                {"decoded", report.names_decoded},
                {"unrepaired", report.names_unrepaired},
                {"line_feed", report.names_line_feed},
                {"read_from_bricks", report.names_read_from_bricks},
                {"from_bricks", report.names_from_bricks}};
  m["dropped"] = {{"no_aux_gfid_mount", report.dropped_no_aux_gfid},
                  {"owner_gone", report.dropped_owner_gone},
                  {"owner_excluded", report.dropped_owner_excluded},
                  {"owner_unreadable", report.dropped_owner_unreadable}};
  put_text(m, "manifest", report.manifest);
  m["lock_left_behind"] = report.lock_left_behind;
  m["warnings"] = texts_json(report.warnings);
  m["needs_attention"] = report.needs_attention();
  return m.dump(2) + "\n";
}

}  // namespace scanner
}  // namespace tarn
