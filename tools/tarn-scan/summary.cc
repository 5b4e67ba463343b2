// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Reading back the result files and printing them as text or JSON.
#include "tools/tarn-scan/summary.h"

#include <cstdio>
#include <sstream>

namespace tarn_scan {
namespace {

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20 || c >= 0x7f) {
          // Names are bytes; anything outside printable ASCII is escaped so
          // the output stays valid JSON whatever the encoding.
          char hex[8];
          snprintf(hex, sizeof hex, "\\u%04x", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

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
  if (s.applications.empty()) {
    out << "No changed pieces: no result files were written.\n";
  }
  for (const application_result& a : s.applications) {
    out << "  " << a.application << ": " << a.entries << " changed piece"
        << (a.entries == 1 ? "" : "s") << " in " << a.files.size() << " file"
        << (a.files.size() == 1 ? "" : "s") << " under .tarn/working/scanner/" << a.application
        << "/\n";
    for (const result_file& f : a.files) {
      out << "      " << f.name << "  (" << f.entries << ")\n";
    }
  }
  if (!s.applications.empty()) {
    out << "Total: " << s.total_entries << " changed piece" << (s.total_entries == 1 ? "" : "s")
        << ".\n";
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

std::string format_json(const summary& s, const std::string& volume, const std::string& session) {
  std::ostringstream out;
  char secs[32];
  snprintf(secs, sizeof secs, "%.3f", s.seconds);
  out << "{\"volume\": " << json_string(volume) << ", \"session\": " << json_string(session)
      << ", \"seconds\": " << secs << ", \"total_entries\": " << s.total_entries
      << ", \"applications\": [";
  for (size_t i = 0; i < s.applications.size(); ++i) {
    const application_result& a = s.applications[i];
    out << (i ? ", " : "") << "{\"application\": " << json_string(a.application)
        << ", \"entries\": " << a.entries << ", \"files\": [";
    for (size_t j = 0; j < a.files.size(); ++j) {
      out << (j ? ", " : "") << "{\"name\": " << json_string(a.files[j].name)
          << ", \"entries\": " << a.files[j].entries << "}";
    }
    out << "]}";
  }
  out << "], \"dropped\": {\"no_aux_gfid_mount\": " << s.dropped_no_aux_gfid
      << ", \"owner_gone\": " << s.dropped_owner_gone
      << ", \"owner_excluded\": " << s.dropped_owner_excluded << "}, \"warnings\": [";
  for (size_t i = 0; i < s.warnings.size(); ++i) {
    out << (i ? ", " : "") << json_string(s.warnings[i]);
  }
  out << "], \"manifest\": " << json_string(s.manifest) << "}\n";
  return out.str();
}

}  // namespace tarn_scan
