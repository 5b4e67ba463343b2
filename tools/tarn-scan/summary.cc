// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Reading back the result files and printing them as text or JSON.
#include "tools/tarn-scan/summary.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace tarn_scan {
namespace {

const char kWorking[] = "/.tarn/working/scanner";

void walk(const std::string& root, const std::string& rel, snapshot* out) {
  DIR* dir = opendir((root + (rel.empty() ? "" : "/" + rel)).c_str());
  if (dir == nullptr) return;
  while (struct dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string child = rel.empty() ? name : rel + "/" + name;
    struct stat st;
    if (stat((root + "/" + child).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      walk(root, child, out);
    } else if (S_ISREG(st.st_mode)) {
      (*out)[child] = st.st_size;
    }
  }
  closedir(dir);
}

uint64_t count_lines_from(const std::string& path, int64_t offset) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(offset);
  uint64_t lines = 0;
  char buf[1 << 16];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    for (std::streamsize i = 0; i < in.gcount(); ++i) lines += buf[i] == '\n';
  }
  return lines;
}

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

snapshot take_snapshot(const std::string& mount) {
  snapshot s;
  walk(mount + kWorking, "", &s);
  return s;
}

summary summarize(const std::string& mount, const snapshot& before, double seconds) {
  summary result;
  result.seconds = seconds;
  std::map<std::string, application_result> apps;
  for (const auto& entry : take_snapshot(mount)) {
    auto old = before.find(entry.first);
    int64_t old_size = old == before.end() ? 0 : old->second;
    if (old != before.end() && entry.second <= old_size) continue;
    size_t slash = entry.first.find('/');
    std::string app = slash == std::string::npos ? "" : entry.first.substr(0, slash);
    result_file f;
    f.name = entry.first.substr(slash + 1);
    f.entries = count_lines_from(mount + kWorking + "/" + entry.first, old_size);
    application_result& a = apps[app];
    a.application = app;
    a.files.push_back(f);
    a.entries += f.entries;
    result.total_entries += f.entries;
  }
  for (auto& a : apps) result.applications.push_back(std::move(a.second));
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
    return out.str();
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
  out << "Total: " << s.total_entries << " changed piece" << (s.total_entries == 1 ? "" : "s")
      << ".\n";
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
  out << "]}\n";
  return out.str();
}

}  // namespace tarn_scan
