// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "scanner/run/failure_note.h"

#include <cerrno>

#include "core/platform.h"

namespace tarn {
namespace scanner {
namespace {

// A line output that tells the note when a write or the close fails.
class noting_output : public line_output {
 public:
  noting_output(std::unique_ptr<line_output> target, std::string path, failure_note& note)
      : target_(std::move(target)), path_(std::move(path)), note_(note) {}
  std::error_code write_line(const std::string& line) override {
    std::error_code ec = target_->write_line(line);
    if (ec) note_.path(path_, ec);
    return ec;
  }
  std::error_code close() override {
    std::error_code ec = target_->close();
    if (ec) note_.path(path_, ec);
    return ec;
  }

 private:
  std::unique_ptr<line_output> target_;
  const std::string path_;
  failure_note& note_;
};

// A line input that tells the note of a read error once it shows.
class noting_input : public line_input {
 public:
  noting_input(std::unique_ptr<line_input> target, std::string path, failure_note& note)
      : target_(std::move(target)), path_(std::move(path)), note_(note) {}
  bool next(std::string* line) override {
    if (target_->next(line)) return true;
    if (std::error_code ec = target_->error()) note_.path(path_, ec);
    return false;
  }
  std::error_code error() const override { return target_->error(); }

 private:
  std::unique_ptr<line_input> target_;
  const std::string path_;
  failure_note& note_;
};

void fill_cause(scan_report* report, const std::string& path, const std::string& command,
                const std::string& cause) {
  if (!report->failure_cause.empty()) return;
  report->failed_path = path;
  report->failed_command = command;
  report->failure_cause = cause;
}

}  // namespace

std::string command_status_text(int status, std::error_code ec) {
  if (status == -1) return "could not be run: " + ec.message();
  return os::wait_status_text(status);
}

void failure_note::path(const std::string& path, std::error_code ec) {
  std::lock_guard<std::mutex> lock(mu_);
  if (set_) return;
  set_ = true;
  path_ = path;
  cause_ = ec.message();
}

void failure_note::command(const std::string& line, const std::string& status) {
  std::lock_guard<std::mutex> lock(mu_);
  if (set_) return;
  set_ = true;
  command_ = line;
  cause_ = status;
}

bool failure_note::empty() const {
  std::lock_guard<std::mutex> lock(mu_);
  return !set_;
}

void failure_note::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  set_ = false;
  path_.clear();
  command_.clear();
  cause_.clear();
}

void failure_note::fill(scan_report* report) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (set_) fill_cause(report, path_, command_, cause_);
}

void note_failure(scan_report* report, const std::string& path, std::error_code ec) {
  fill_cause(report, path, "", ec.message());
}

void note_command_failure(scan_report* report, const std::string& line,
                          const std::string& status) {
  fill_cause(report, "", line, status);
}

std::error_code noting_local_files::noted(const std::string& path, std::error_code ec) {
  if (ec) note_.path(path, ec);
  return ec;
}

std::error_code noting_local_files::create(const std::string& path,
                                           std::unique_ptr<line_output>* out) {
  std::unique_ptr<line_output> made;
  if (std::error_code ec = forwarding_local_files::create(path, &made)) return noted(path, ec);
  *out = std::make_unique<noting_output>(std::move(made), path, note_);
  return os::no_error();
}

std::error_code noting_local_files::read_lines(const std::string& path,
                                               std::unique_ptr<line_input>* out) {
  std::unique_ptr<line_input> opened;
  if (std::error_code ec = forwarding_local_files::read_lines(path, &opened)) {
    return noted(path, ec);
  }
  *out = std::make_unique<noting_input>(std::move(opened), path, note_);
  return os::no_error();
}

std::error_code noting_local_files::read_lines_from(const std::string& path, std::uint64_t offset,
                                                    std::unique_ptr<line_input>* out) {
  std::unique_ptr<line_input> opened;
  if (std::error_code ec = forwarding_local_files::read_lines_from(path, offset, &opened)) {
    return noted(path, ec);
  }
  *out = std::make_unique<noting_input>(std::move(opened), path, note_);
  return os::no_error();
}

std::error_code noting_local_files::rename(const std::string& from, const std::string& to) {
  return noted(from, forwarding_local_files::rename(from, to));
}

std::error_code noting_local_files::remove(const std::string& path) {
  std::error_code ec = forwarding_local_files::remove(path);
  if (ec && ec.value() != ENOENT) note_.path(path, ec);
  return ec;
}

std::error_code noting_local_files::list(const std::string& directory,
                                         std::list<std::string>* names) {
  return noted(directory, forwarding_local_files::list(directory, names));
}

void noting_local_files::failed(const std::string& path, std::error_code ec) {
  note_.path(path, ec);
  forwarding_local_files::failed(path, ec);
}

}  // namespace scanner
}  // namespace tarn
