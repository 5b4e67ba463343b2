// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Why a run failed, as precisely as the failed step knows it: the path it
// could not read, write, make or remove and the errno text, or the command
// line it ran and the command's status. Kept for the report, beside the log
// line that says the same.
#ifndef TARN_SCANNER_RUN_FAILURE_NOTE_H_
#define TARN_SCANNER_RUN_FAILURE_NOTE_H_

#include <memory>
#include <mutex>
#include <string>
#include <system_error>

#include "scanner/run/local_files.h"
#include "scanner/scan_report.h"

namespace tarn {
namespace scanner {

// "exit status 1", "killed by signal 9", or for -1 "could not be run: "
// and the errno text of `ec`; `status` is the raw status of system(3).
std::string command_status_text(int status, std::error_code ec);

// The first failure told: what followed it is what it brought about (a
// list abandoned, a thread stopped). Thread-safe: the workers of a step tell
// their failures from their own threads.
class failure_note {
 public:
  void path(const std::string& path, std::error_code ec);
  void command(const std::string& line, const std::string& status);
  bool empty() const;
  void clear();
  // Into the report's failed_path, failed_command and failure_cause, unless
  // the report names a cause already.
  void fill(scan_report* report) const;

 private:
  mutable std::mutex mu_;
  bool set_ = false;
  std::string path_;
  std::string command_;
  std::string cause_;
};

// The report's cause, unless it names one: the path and `ec`'s text. For the
// steps that run on the run's own thread.
void note_failure(scan_report* report, const std::string& path, std::error_code ec);
void note_command_failure(scan_report* report, const std::string& line, const std::string& status);

// The run's local side as the steps use it, telling `note` of every call
// that failed on a path: a create, open, read, write, close, rename or
// listing, a removal (but of a file already gone) and what the steps tell
// through failed(). The attributes are not told: a vanished file or one
// without a gfid is a case the steps handle, and the failures that end a
// step they tell themselves.
class noting_local_files : public forwarding_local_files {
 public:
  noting_local_files(local_files& target, failure_note& note)
      : forwarding_local_files(target), note_(note) {}
  std::error_code create(const std::string& path, std::unique_ptr<line_output>* out) override;
  std::error_code read_lines(const std::string& path, std::unique_ptr<line_input>* out) override;
  std::error_code read_lines_from(const std::string& path, std::uint64_t offset,
                                  std::unique_ptr<line_input>* out) override;
  std::error_code rename(const std::string& from, const std::string& to) override;
  std::error_code remove(const std::string& path) override;
  std::error_code list(const std::string& directory, std::list<std::string>* names) override;
  void failed(const std::string& path, std::error_code ec) override;

 private:
  std::error_code noted(const std::string& path, std::error_code ec);
  failure_note& note_;
};

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_RUN_FAILURE_NOTE_H_
