// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// List names and the list writer.
#include "scanner/stages/list_file.h"

#include <cstdlib>

#include "scanner/scanner.h"

namespace tarn {
namespace scanner {
namespace {

bool all_digits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::string list_name::base() const {
  std::string out = in_directory ? directory + "/" + application : application;
  if (!session.empty()) out += "-" + session;
  if (chunk != 0) out += "-" + std::to_string(chunk);
  return out;
}

std::string list_name::path() const { return base() + "." + std::to_string(count); }

list_name list_name::parse(const std::string& path, const std::string& session) {
  list_name name;
  const std::size_t dot = path.rfind('.');
  std::string base = path.substr(0, dot);
  if (dot != std::string::npos) name.count = std::strtoll(path.c_str() + dot + 1, nullptr, 10);
  const std::size_t slash = base.rfind('/');
  name.in_directory = slash != std::string::npos;
  if (name.in_directory) {
    name.directory = base.substr(0, slash);
    base.erase(0, slash + 1);
  }
  // A whole list is the likelier reading where both fit ("x-7-7" of session 7).
  if (!session.empty() && ends_with(base, "-" + session)) {
    name.application = base.substr(0, base.size() - session.size() - 1);
    name.session = session;
    return name;
  }
  const std::size_t dash = base.rfind('-');
  if (!session.empty() && dash != std::string::npos && all_digits(base.substr(dash + 1)) &&
      ends_with(base.substr(0, dash), "-" + session)) {
    name.chunk = static_cast<unsigned>(std::strtoul(base.c_str() + dash + 1, nullptr, 10));
    name.application = base.substr(0, dash - session.size() - 1);
    name.session = session;
    return name;
  }
  name.application = base;
  return name;
}

std::string partial_copy_name(const std::string& destination) {
  const std::size_t slash = destination.rfind('/');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  return destination.substr(0, start) + "." + destination.substr(start) + ".partial";
}

std::string filing_prefix(const std::string& file_name) {
  return file_name.substr(0, file_name.find('-'));
}

list_writer::~list_writer() {
  if (pending_) abandon(std::error_code());
}

std::error_code list_writer::create(const std::string& base, const std::string& working) {
  if (pending_) abandon(std::error_code());
  base_ = base;
  working_ = working;
  count_ = 0;
  if (std::error_code ec = files_.create(working_, &out_)) {
    session::logger.error(function_, "Failed to open file %s ", working_.c_str());
    return ec;
  }
  pending_ = true;
  return success;
}

std::error_code list_writer::write_line(const std::string& line) {
  if (std::error_code ec = out_->write_line(line)) return write_failed(ec);
  ++count_;
  return success;
}

std::error_code list_writer::commit(std::string* final_path) {
  std::error_code closed = out_->close();
  out_.reset();
  if (closed) return write_failed(closed);
  const std::string target = base_ + "." + std::to_string(count_);
  // The file is whole from here on; a failed rename leaves it as it is.
  pending_ = false;
  if (std::error_code ec = files_.rename(working_, target)) {
    const char* format = wording_ == rename_wording::from_to
                             ? "Failed to rename the generated file from %s to %s"
                             : "Failed to rename the generated file %s to %s";
    session::logger.error(function_, format, working_.c_str(), target.c_str());
    return ec;
  }
  *final_path = target;
  return success;
}

std::error_code list_writer::abandon(std::error_code why) {
  out_.reset();  // closed without a report: the file goes
  if (pending_) files_.remove(working_);
  pending_ = false;
  return why;
}

std::error_code list_writer::write_failed(std::error_code ec) {
  if (write_reason_) {
    session::logger.error(function_, "Failed to write file %s: %s", working_.c_str(),
                          ec.message().c_str());
  } else {
    session::logger.error(function_, "Failed to write file %s", working_.c_str());
  }
  return abandon(ec);
}

}  // namespace scanner
}  // namespace tarn
