// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Sorted entries to one list file per application, named with its count.
#include "scanner/stages/distribute.h"

#include "scanner/scanner.h"
#include "scanner/stages/list_file.h"
#include "scanner/stages/sorted_runs.h"

namespace tarn {
namespace scanner {
namespace {

const char* const kFn = "session::distribute_basedon_application";
const char* const kShardApplication = ".shard";

}  // namespace

std::error_code session::distribute_basedon_application(std::vector<std::string>& entries,
                                                        std::vector<std::string>& app_files,
                                                        std::vector<std::string>& shard_files) {
  vector_entries all(entries);
  return distribute_entries(*this, local_side(), {output_dir, session_name}, all, app_files,
                            shard_files);
}

std::error_code distribute_entries(session& sess, local_files& files, const list_place& place,
                                   entry_source& entries, std::vector<std::string>& app_files,
                                   std::vector<std::string>& shard_files) {
  list_writer group(files, kFn);
  std::string application;

  // Gives the open group file its final name and files it as the shard list
  // (the application ".shard" exactly: a directory ".shard-old" is an
  // application like any other) or as an application list.
  auto end_group = [&]() -> std::error_code {
    std::string final_path;
    if (std::error_code ec = group.commit(&final_path)) return ec;
    (application == kShardApplication ? shard_files : app_files).push_back(final_path);
    return success;
  };

  bool begun = false;
  while (const std::string* next = entries.next()) {
    const std::string& entry = *next;
    const std::size_t end = entry.find('/');  // npos: the whole entry
    if (!begun || entry.compare(0, end, application) != 0) {
      if (begun) {
        if (std::error_code ec = end_group()) return ec;
      }
      begun = true;
      application.assign(entry, 0, end);
      list_name name{place.output_dir, application, place.session_name};
      const std::string working = name.path();  // the count 0 until it is known
      sess.insert_to_excludelist(working);
      session::logger.error(kFn, "Populating entries in %s ", working.c_str());
      if (std::error_code ec = group.create(name.base(), working)) return ec;
    }
    if (std::error_code ec = group.write_line(entry)) return ec;
  }
  // The group being written goes with the writer: a list cut short by the
  // failure is never given its final name.
  if (std::error_code ec = entries.error()) return ec;
  if (begun) return end_group();
  return success;
}

}  // namespace scanner
}  // namespace tarn
