// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Copying the run's result files into the volume: one directory per name
// prefix below the working directory, one write per line.
#include "scanner/stages/copy.h"

#include <boost/tokenizer.hpp>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "core/platform.h"
#include "scanner/guards/output_dir.h"
#include "scanner/run/failure_note.h"
#include "scanner/run/local_files.h"
#include "scanner/run/parallel_for.h"
#include "scanner/run/volume_layout.h"
#include "scanner/scanner.h"
#include "scanner/stages/list_file.h"

namespace tarn {
namespace scanner {
namespace {

bool is_dot_entry(const std::string& name) {
  return name == "." || name == ".." || is_output_dir_bookkeeping(name);
}

// Appends `data` at `*offset` from a buffer of its own. The offset moves on
// only by what was written; a short write is a failure (EIO), since the rest
// of the line would otherwise be lost.
std::error_code write_line(tarn_api& api, const boost::shared_ptr<tarn_file>& file,
                           const std::string& data, int64_t* offset) {
  boost::shared_ptr<tarn_mem::buff> buf = api.alloc_io_buffer(data.size() + 1);
  if (!buf) return os::error_from(EIO);
  memcpy(buf->get_base(), data.data(), data.size());
  int64_t written = api.write(file, buf, data.size(), *offset, 0);
  if (written < 0) return api.last_error();
  if (static_cast<uint64_t>(written) != data.size()) return os::error_from(EIO);
  *offset += written;
  return success;
}

// Opens the list to append to, or the empty temporary file a new list is
// written under: "*target" is the path opened, "*exists" tells which. In a
// directory this run made there is nothing to look for.
boost::shared_ptr<tarn_file> open_destination(tarn_api& api,
                                              const boost::shared_ptr<tarn_iopx>& iopx,
                                              const std::string& destination, bool new_directory,
                                              std::string* target, bool* exists,
                                              std::error_code* why) {
  *target = destination;
  *exists = false;
  if (!new_directory) {
    boost::shared_ptr<tarn_file> out = api.open(iopx, destination, os::kOpenForWrite);
    *exists = static_cast<bool>(out);
    if (out || api.last_error().value() != ENOENT) {
      *why = out ? success : api.last_error();
      return out;
    }
  }
  // Truncated, if it is there: ours, from a copy that did not finish.
  *target = partial_copy_name(destination);
  boost::shared_ptr<tarn_file> out = api.open(iopx, *target, os::kOpenCreateOrTruncate);
  *why = out ? success : api.last_error();
  return out;
}

// Where a copy failed: the local list or the volume file, and the errno.
struct copy_failure {
  std::string path;
  std::error_code error;
};

const char* const kCopyFn = "scanner::file_copy";

// One local list copied into the volume: a new list is written whole under
// a temporary name and renamed, so that a reader of the volume sees it
// complete or not at all; an existing list is appended to.
class list_copy {
 public:
  list_copy(local_files& local, tarn_api& api, const boost::shared_ptr<tarn_iopx>& iopx,
            const std::string& source, const std::string& destination, scan_report_list* added,
            copy_failure* failed)
      : local_(local), api_(api), iopx_(iopx), source_(source), destination_(destination),
        added_(added), failed_(failed) {}

  std::error_code run(bool new_directory) {
    if (std::error_code ec = local_.read_lines(source_, &in_)) {
      scanner::logger.error(kCopyFn, "Failed to open file %s", source_.c_str());
      return fail(source_, ec);
    }
    bool more = in_->next(&line_);
    if (!more && !in_->error()) {
      // A new list of no lines is whole from the start: it is made under
      // its name in one call, with no temporary file, no handle and no
      // rename, a few round trips each through a mount. One that is there
      // already is appended to, with nothing, below.
      added_->path = destination_;
      std::error_code made = api_.create_empty(iopx_, destination_);
      if (!made) return success;
      if (made.value() != EEXIST) return open_failed(destination_, made);
      new_directory = false;
    }
    std::error_code why;
    out_ = open_destination(api_, iopx_, destination_, new_directory, &target_, &exists_, &why);
    if (!out_) return open_failed(target_, why);
    return finish(write_lines(more));
  }

 private:
  std::error_code fail(const std::string& path, std::error_code ec) {
    *failed_ = {path, ec};
    return ec;
  }

  std::error_code open_failed(const std::string& path, std::error_code why) {
    scanner::logger.error(kCopyFn, "Failed to open destination file %s on gluster volume: %s",
                          destination_.c_str(), why.message().c_str());
    fail(path, why);
    return os::error_from(EFAULT);
  }

  // Every line of the source after the one read, `more` telling whether
  // there is one.
  std::error_code write_lines(bool more) {
    // A new list starts empty; only an existing one is asked for its size.
    offset_ = exists_ ? out_->get_file_size() : 0;
    added_->path = destination_;
    added_->appended = exists_;
    added_->offset = offset_;
    if (offset_ < 0) {
      scanner::logger.error(kCopyFn,
                            "Failed to read the size of destination file %s on gluster volume",
                            destination_.c_str());
      return fail(destination_, os::error_from(EIO));
    }
    for (; more; more = in_->next(&line_)) {
      if (std::error_code ec = write_line(api_, out_, line_ + "\n", &offset_)) {
        scanner::logger.error(
            kCopyFn, "Failed to write destination file %s on gluster volume at offset %lld: %s",
            destination_.c_str(), static_cast<long long>(offset_), ec.message().c_str());
        return fail(target_, ec);
      }
      ++added_->entries;
    }
    if (in_->error()) {
      scanner::logger.error(kCopyFn, "Failed to read file %s", source_.c_str());
      return fail(source_, in_->error());
    }
    return success;
  }

  // Closes the destination and gives a new list its name; after a failure
  // removes a new list's temporary file.
  std::error_code finish(std::error_code result) {
    // A volume may hold writes back and report their failure only here.
    std::error_code closed = api_.close(out_);
    if (closed && !result) {
      scanner::logger.error(kCopyFn, "Failed to close destination file %s on gluster volume: %s",
                            destination_.c_str(), closed.message().c_str());
      result = fail(target_, closed);
    }
    if (!result && target_ != destination_) {
      if ((result = api_.rename(iopx_, target_, destination_))) {
        scanner::logger.error(kCopyFn, "Failed to rename %s to %s on gluster volume: %s",
                              target_.c_str(), destination_.c_str(), result.message().c_str());
        fail(target_, result);
      }
    }
    added_->end = offset_;
    if (!result) return success;
    // A list that held lines before cannot be cut back and stays; the local
    // file stays too, and the next run sets it aside.
    if (exists_) return result;
    if (api_.unlink(iopx_, target_)) {
      scanner::logger.error(kCopyFn,
                            "Failed to remove the incomplete destination file %s on gluster volume",
                            target_.c_str());
    } else {
      scanner::logger.error(kCopyFn,
                            "Removed the incomplete destination file %s on gluster volume",
                            target_.c_str());
    }
    return result;
  }

  local_files& local_;
  tarn_api& api_;
  const boost::shared_ptr<tarn_iopx>& iopx_;
  const std::string& source_;
  const std::string& destination_;
  scan_report_list* added_;
  copy_failure* failed_;
  std::unique_ptr<line_input> in_;
  std::string line_;
  boost::shared_ptr<tarn_file> out_;
  std::string target_;
  bool exists_ = false;
  int64_t offset_ = 0;
};

std::error_code copy_list(local_files& local, tarn_api& api,
                          const boost::shared_ptr<tarn_iopx>& iopx, const std::string& source,
                          const std::string& destination, scan_report_list* added,
                          bool new_directory, copy_failure* failed) {
  return list_copy(local, api, iopx, source, destination, added, failed).run(new_directory);
}

// The lists of one directory of the volume, in the order of the output
// directory, and what became of them. One thread copies them all, one after
// the other, so that the directory is made before its first list.
struct copy_group {
  std::string directory;
  std::vector<std::string> names;
  std::vector<std::size_t> positions;    // of the names in the output directory
  std::vector<scan_report_list> copied;  // in order, up to a failure
  std::error_code error;
  copy_failure cause;                    // what failed it
};

// Each list through a mount is a few round trips that wait on the bricks:
// a few directories are copied at once. Four: eight gave no more where the
// brick and the client share two cores (bench/RESULTS.md).
constexpr std::size_t kCopyThreads = 4;

// Makes the group's directory (one made now holds nothing yet) and copies
// its lists, stopping at the first failure.
void copy_group_lists(local_files& local, tarn_api& api, const boost::shared_ptr<tarn_iopx>& iopx,
                      const std::string& output_dir, const std::string& volume_name,
                      copy_group& group) {
  static const char* const kFn = "scanner::copy_files_to_gluster";
  std::error_code made = api.mkdir(iopx, group.directory, 0777);
  if (made && made.value() != EEXIST) {
    scanner::logger.error("scanner::create_directory",
                          "Unable to create directory path %s in volume %s",
                          group.directory.c_str(), volume_name.c_str());
    scanner::logger.error(kFn, "Failed to create directory %s on gluster",
                          group.names.front().c_str());
    group.error = made;
    group.cause = {group.directory, made};
    return;
  }
  for (const std::string& name : group.names) {
    scan_report_list added;
    added.application = name.substr(0, name.find('-'));
    std::error_code ec =
        copy_list(local, api, iopx, output_dir + "/" + name, group.directory + "/" + name, &added,
                  !made, &group.cause);
    if (ec) {
      scanner::logger.error(kFn, "Failed to copy file %s to gluster", name.c_str());
      group.error = ec;
      return;
    }
    group.copied.push_back(std::move(added));
  }
}

// The lists by the volume directory they go to, in the order of `names`.
std::vector<copy_group> group_by_directory(const std::vector<std::string>& names) {
  std::vector<copy_group> groups;
  std::map<std::string, std::size_t> group_of;
  for (std::size_t position = 0; position < names.size(); ++position) {
    const std::string& name = names[position];
    std::string directory = std::string(kWorkingDirectory) + "/" + filing_prefix(name);
    auto known = group_of.emplace(directory, groups.size());
    if (known.second) {
      groups.emplace_back();
      groups.back().directory = std::move(directory);
    }
    groups[known.first->second].names.push_back(name);
    groups[known.first->second].positions.push_back(position);
  }
  return groups;
}

}  // namespace

std::error_code copy_lists(local_files& local, const boost::shared_ptr<tarn_iopx>& iopx,
                           const std::string& output_dir, const std::string& volume_name,
                           const std::vector<std::string>& names, scan_report* report) {
  std::vector<copy_group> groups = group_by_directory(names);
  // Groups are taken in order until none is left or one has failed; those
  // not begun then are left alone. Each has a tarn_api of its own over the
  // one volume: only its last error is its own state.
  parallel_for(groups.size(), kCopyThreads, thread_shortage::fewer_threads, [&](std::size_t i) {
    tarn_api api;
    copy_group_lists(local, api, iopx, output_dir, volume_name, groups[i]);
    return !groups[i].error;
  });
  // The report names what is in the volume, in the order of `names`; the
  // first failure in that order is the copy's.
  std::vector<scan_report_list*> copied(names.size(), nullptr);  // by position
  std::size_t failed_at = names.size();
  std::error_code failure;
  const copy_failure* cause = nullptr;
  for (copy_group& group : groups) {
    for (std::size_t i = 0; i < group.copied.size(); ++i) {
      copied[group.positions[i]] = &group.copied[i];
    }
    const std::size_t at = group.error ? group.positions[group.copied.size()] : names.size();
    if (at < failed_at) {
      failed_at = at;
      failure = group.error;
      cause = &group.cause;
    }
  }
  for (scan_report_list* added : copied) {
    if (added != nullptr) report->lists.push_back(std::move(*added));
  }
  if (failure) {
    if (cause->error) note_failure(report, cause->path, cause->error);
    return failure;
  }
  // Only now that the whole set is in the volume. A file that cannot be
  // removed stays behind and keeps output_dir from being removed.
  for (const std::string& name : names) local.remove(output_dir + "/" + name);
  return success;
}

std::error_code scanner::read_directory(std::string directory, std::list<std::string>& entries) {
  return os::list_directory(directory, &entries);
}

// Every file of the output directory but its own bookkeeping, in the
// directory's order.
std::error_code scanner::copy_files_to_gluster() {
  static const char* const kFn = "scanner::copy_files_to_gluster";
  std::list<std::string> entries;
  if (std::error_code ec = read_directory(output_dir, entries)) {
    logger.error(kFn, "Failed to read directory %s", output_dir.c_str());
    note_failure(&report_, output_dir, ec);
    return ec;
  }
  std::vector<std::string> names;
  for (const std::string& name : entries) {
    if (!is_dot_entry(name)) names.push_back(name);
  }
  return copy_lists(local_side(), iopx, output_dir, volume_name, names, &report_);
}

std::error_code scanner::create_directory(std::string path) {
  std::error_code ec = api->mkdir(iopx, path, 0777);
  // An existing directory is what the caller wants.
  if (!ec || ec.value() == EEXIST) return success;
  logger.error("scanner::create_directory", "Unable to create directory path %s in volume %s",
               path.c_str(), volume_name.c_str());
  return ec;
}

std::error_code scanner::create_recursive_directory(std::string path) {
  // The separator drops empty pieces, so leading, trailing and doubled
  // slashes make nothing.
  boost::char_separator<char> slash("/");
  boost::tokenizer<boost::char_separator<char>> pieces(path, slash);
  std::string prefix;
  for (const std::string& piece : pieces) {
    prefix += "/" + piece;
    std::error_code ec = api->mkdir(iopx, prefix, 0777);
    if (!ec || ec.value() == EEXIST) continue;
    logger.error("scanner::create_recursive_directory",
                 "Unable to create directory path %s in volume %s", prefix.c_str(),
                 volume_name.c_str());
    return ec;
  }
  return success;
}

std::error_code scanner::file_copy(std::string source, std::string destination) {
  scan_report_list added;
  copy_failure failed;
  return copy_list(local_side(), *api, iopx, source, destination, &added,
                   /*new_directory=*/false, &failed);
}

std::error_code write_volume_file(tarn_api& api, const boost::shared_ptr<tarn_iopx>& iopx,
                                  const std::string& path, const std::string& text) {
  const std::string partial = partial_copy_name(path);
  // Truncated, if it is there: ours, from a write that did not finish.
  boost::shared_ptr<tarn_file> out = api.open(iopx, partial, os::kOpenCreateOrTruncate);
  if (!out) return api.last_error() ? api.last_error() : os::error_from(EIO);
  int64_t offset = 0;
  std::error_code ec = write_line(api, out, text, &offset);
  std::error_code closed = api.close(out);
  if (!ec) ec = closed;
  if (!ec) ec = api.rename(iopx, partial, path);
  if (ec) api.unlink(iopx, partial);
  return ec ? ec : success;
}

}  // namespace scanner
}  // namespace tarn
