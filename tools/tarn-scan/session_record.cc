// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "tools/tarn-scan/session_record.h"

#include <cerrno>

#include <nlohmann/json.hpp>

#include "core/platform.h"

namespace tarn_scan {
namespace {

constexpr char kSessions[] = "/.tarn/working/sessions";

// Makes ".tarn", ".tarn/working" and the sessions directory below `top`
// where they are missing.
std::error_code make_directories(const std::string& top) {
  for (const char* dir : {"/.tarn", "/.tarn/working", kSessions}) {
    std::error_code ec = tarn::os::make_directory(top + dir, 0755);
    if (ec && ec.value() != EEXIST) return ec;
  }
  return std::error_code();
}

}  // namespace

std::string session_record_path(const std::string& top, const std::string& session) {
  return top + kSessions + "/" + session + ".json";
}

std::error_code write_last_success(const std::string& top, const std::string& session,
                                   const last_success& record) {
  if (std::error_code ec = make_directories(top)) return ec;
  nlohmann::ordered_json j = {{"session", session},
                              {"last_success",
                               {{"started", record.started},
                                {"finished", record.finished},
                                {"scan_type", record.scan_type},
                                {"host", record.host},
                                {"exit_status", record.exit_status}}}};
  return tarn::os::replace_file(session_record_path(top, session), j.dump(2) + "\n");
}

bool read_last_success(const std::string& top, const std::string& session, last_success* record) {
  std::string text;
  if (tarn::os::read_whole_file(session_record_path(top, session), &text)) return false;
  const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  if (!j.is_object() || !j.contains("last_success") || !j["last_success"].is_object()) return false;
  const nlohmann::json& s = j["last_success"];
  try {
    record->started = s.value("started", "");
    record->finished = s.value("finished", "");
    record->scan_type = s.value("scan_type", "");
    record->host = s.value("host", "");
    record->exit_status = s.value("exit_status", 0);
  } catch (const nlohmann::json::exception&) {
    return false;  // a field of another type
  }
  return !record->finished.empty();
}

}  // namespace tarn_scan
