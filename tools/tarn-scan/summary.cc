// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Reading back the result files and printing them as text or JSON.
#include "tools/tarn-scan/summary.h"

#include <cstdio>
#include <sstream>

#include <nlohmann/json.hpp>

namespace tarn_scan {
namespace {

}  // namespace

summary summarize(const tarn::scanner::scan_report& report, double seconds) {
  summary result;
  result.seconds = seconds;
  std::map<std::string, application_result> apps;
  for (const tarn::scanner::scan_report_list& list : report.lists) {
    result_file f;
    f.name = list.path.substr(list.path.rfind('/') + 1);
    f.entries = list.entries;
    application_result& a = apps[list.application];
    a.application = list.application;
    a.files.push_back(f);
    a.entries += f.entries;
    result.total_entries += f.entries;
  }
  for (auto& a : apps) result.applications.push_back(std::move(a.second));
  result.piece_lines = report.piece_lines;
  result.path_lines = report.path_lines;
  result.dropped_no_aux_gfid = report.dropped_no_aux_gfid;
  result.dropped_owner_gone = report.dropped_owner_gone;
  result.dropped_owner_excluded = report.dropped_owner_excluded;
  result.manifest = report.manifest;
  result.warnings = report.warnings;
  return result;
}

std::string format_text(const summary& s, const std::string& volume, const std::string& session) {
  std::ostringstream out;
  out << "Scan of session '" << session << "' on volume '" << volume << "' done in ";
  char secs[32];
  snprintf(secs, sizeof secs, "%.2f", s.seconds);
  out << secs << " s.\n";
  if (s.first_run) {
    out << "First run of session '" << session
        << "': a full scan, as the session did not exist; incremental runs list the changes "
           "after it.\n";
  }
  if (s.applications.empty()) {
    out << "No changed pieces: no result files were written.\n";
  }
  // With the applications' own paths in the lists, a line is not always a piece.
  const std::string unit = s.path_lines != 0 ? "line" : "changed piece";
  for (const application_result& a : s.applications) {
    out << "  " << a.application << ": " << a.entries << " " << unit
        << (a.entries == 1 ? "" : "s") << " in " << a.files.size() << " file"
        << (a.files.size() == 1 ? "" : "s") << " under .tarn/working/scanner/" << a.application
        << "/\n";
    for (const result_file& f : a.files) {
      out << "      " << f.name << "  (" << f.entries << ")\n";
    }
  }
  if (!s.applications.empty()) {
    out << "Total: " << s.total_entries << " " << unit << (s.total_entries == 1 ? "" : "s");
    if (s.path_lines != 0) {
      out << ": " << s.piece_lines << " changed piece" << (s.piece_lines == 1 ? "" : "s")
          << " and " << s.path_lines << " path" << (s.path_lines == 1 ? "" : "s")
          << " of changed entries";
    }
    out << ".\n";
  }
  if (s.dropped_owner_gone != 0) {
    out << "Not listed: " << s.dropped_owner_gone
        << " changed pieces of files removed since the change (nothing to back up).\n";
  }
  if (s.dropped_owner_excluded != 0) {
    out << "Not listed: " << s.dropped_owner_excluded
        << " changed pieces of excluded files.\n";
  }
  for (const std::string& w : s.warnings) out << "Warning: " << w << ".\n";
  if (!s.manifest.empty()) out << "Manifest: " << s.manifest << "\n";
  return out.str();
}

std::string format_json(const tarn::scanner::scan_report& report, const std::string& volume,
                        const outcome& done) {
  using json = nlohmann::ordered_json;
  json j = json::parse(tarn::scanner::report_json(report, volume));
  j["exit_status"] = done.exit_status;
  j["message"] = json::parse(
      json(done.message).dump(-1, ' ', false, json::error_handler_t::replace));
  j["seconds"] = done.seconds;
  j["post"] = {{"asked", done.post_asked}, {"ran", done.post_ran}, {"status", done.post_status}};
  j["scan_type_asked"] = done.incremental_asked ? "incremental" : "full";
  j["first_run_of_session"] = done.first_run;
  // Per application, as the text summary shows them.
  const summary s = summarize(report, done.seconds);
  json apps = json::array();
  for (const application_result& a : s.applications) {
    json files = json::array();
    for (const result_file& f : a.files) {
      files.push_back({{"name", json::parse(json(f.name).dump(-1, ' ', false,
                                                               json::error_handler_t::replace))},
                       {"entries", f.entries}});
    }
    apps.push_back({{"application", json::parse(json(a.application).dump(
                                        -1, ' ', false, json::error_handler_t::replace))},
                    {"entries", a.entries},
                    {"files", std::move(files)}});
  }
  j["applications"] = std::move(apps);
  return j.dump(2) + "\n";
}

std::string format_usage_json(const std::string& message, int exit_status) {
  using json = nlohmann::ordered_json;
  json j = {{"schema", 1},
            {"exit_status", exit_status},
            {"message", json::parse(json(message).dump(-1, ' ', false,
                                                       json::error_handler_t::replace))}};
  return j.dump(2) + "\n";
}

}  // namespace tarn_scan
