// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The names of the lists a run writes into its output directory, and the one
// way they are written: under a working name, then renamed to the name that
// carries their entry count.
#ifndef TARN_SCANNER_STAGES_LIST_FILE_H_
#define TARN_SCANNER_STAGES_LIST_FILE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

#include "scanner/run/local_files.h"

namespace tarn {
namespace scanner {

// Entries per chunk file: longer lists are cut into chunks of this many.
constexpr int kChunkSize = 16000;

// "<directory>/<application>-<session>[-<chunk>].<count>". The count after
// the last "." is the number of lines of the file; readers take it from the
// name instead of counting. A plain value type.
struct list_name {
  std::string directory;
  std::string application;
  std::string session;
  unsigned chunk = 0;   // n of the chunk file "...-<session>-<n>", 0 for a whole list
  long long count = 0;  // may be negative only in a name read by parse()
  bool in_directory = true;  // false for a parsed name without any "/"

  // "<directory>/<application>-<session>[-<chunk>]": the name without its
  // count ("-<session>" only with a session, "<directory>/" only in_directory).
  std::string base() const;
  // base() + "." + count.
  std::string path() const;

  // Reads a path "<base>.<count>". The count is read like atoi(): leading
  // digits (a sign allowed), 0 without any. With `session` given, a base
  // ending in "-<session>" or "-<session>-<digits>" yields the application
  // and the chunk number; otherwise (another shape, or no session) the name
  // below `directory` stays whole in `application`. Never fails.
  static list_name parse(const std::string& path, const std::string& session = std::string());
};

// The text before the first "-" of a file name: the application whose
// directory in the volume receives the file.
std::string filing_prefix(const std::string& file_name);

// "<dir>/.<name>.partial", the temporary name a new file of the volume is
// written under before it is renamed to `destination` ("<dir>/<name>"):
// never the name of a list, which ends in its count.
std::string partial_copy_name(const std::string& destination);

// Writes one list: create(), write_line() per entry, commit(). Until commit()
// has renamed it, the file lies under its working name; a failure to create,
// write or close it is logged (one line, under `function`) and the partial
// file removed, and so is a file given up by destroying the writer before
// commit(). A failed rename leaves the complete file under its working name.
// Not thread-safe; each thread writes lists of its own.
class list_writer {
 public:
  // How the rename failure is worded: the steps keep the messages operators
  // know ("... file from %s to %s" or "... file %s to %s").
  enum class rename_wording { from_to, to };

  // `files` must outlive the writer.
  list_writer(local_files& files, const char* function,
              rename_wording wording = rename_wording::from_to, bool write_reason = true)
      : files_(files), function_(function), wording_(wording), write_reason_(write_reason) {}
  ~list_writer();
  list_writer(const list_writer&) = delete;
  list_writer& operator=(const list_writer&) = delete;

  // Creates (or truncates) `working`, the file that commit() renames to
  // "<base>.<count>". Returns the errno of a failed create, logged as
  // "Failed to open file <working> ".
  std::error_code create(const std::string& base, const std::string& working);
  std::error_code create(const std::string& base) { return create(base, base); }
  bool is_open() const { return out_ != nullptr; }
  // Writes `line` and "\n"; on failure the file is removed.
  std::error_code write_line(const std::string& line);
  std::uint64_t count() const { return count_; }
  // Closes the file and renames it to "<base>.<count>", which goes to
  // `*final_path` on success. A close failure removes the file.
  std::error_code commit(std::string* final_path);
  // Gives the file up without a message: closes and removes it. Returns `why`.
  std::error_code abandon(std::error_code why);

 private:
  std::error_code write_failed(std::error_code ec);

  local_files& files_;
  const char* const function_;
  const rename_wording wording_;
  const bool write_reason_;
  std::unique_ptr<line_output> out_;
  std::string base_;
  std::string working_;
  std::uint64_t count_ = 0;
  bool pending_ = false;  // a file exists under working_ that commit() has not taken
};

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_STAGES_LIST_FILE_H_
