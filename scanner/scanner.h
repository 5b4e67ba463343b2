// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// tarn-scanner: finds the files of a GlusterFS volume that changed since the
// last scan and leaves, per application, the lists of changed shard pieces in
// the volume's directory ".tarn/working/scanner".
//
// A host constructs one `scanner` per volume and calls initiate_scan() once
// per run. Nothing here throws; every failure is an error code.
#ifndef TARN_SCANNER_SCANNER_H_
#define TARN_SCANNER_SCANNER_H_

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <unordered_map>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "core/tarn_api.h"
#include "core/tarn_debug.h"
#include "core/tarn_export.h"
#include "scanner/link_counts.h"
#include "scanner/scan_report.h"

namespace tarn {

// The success value of every operation that returns a std::error_code:
// value 0 in std::generic_category(). Compare results with it.
TARN_EXPORT extern const std::error_code success;
// The zero error condition (value 0, generic category).
TARN_EXPORT extern const std::error_condition ok;

namespace scanner {

using tarn_debug = ::tarn::tarn_debug::tarn_debug;
using tarn_file = ::tarn::tarn_file::tarn_file;
using tarn_iopx = ::tarn::tarn_iopx::tarn_iopx;


// The memory the sort of a run's entries may take (scanner::set_memory_budget):
// 256 MiB unless the host sets it, never less than 1 MiB.
constexpr std::size_t default_memory_budget = std::size_t{256} << 20;
constexpr std::size_t min_memory_budget = std::size_t{1} << 20;

// One glusterfind change-detection session of one volume: names the working
// files of a run, drives the glusterfind commands, filters the change list
// and post-processes the collect file into per-application lists.
//
// Made and owned by a scanner; used by one thread at a time, except for the
// static chunking functions and the logger, which are thread-safe.
class TARN_EXPORT session {
 public:
  session(std::string session_name, std::string volume_name, std::string output_dir,
          std::string mount_path);
  ~session();
  session(const session&) = delete;
  session& operator=(const session&) = delete;

  // ---- Working-file names and the exclude list --------------------------

  // out = <output_dir>/<prefix>-<session_name><suffix>.
  void get_outputfilepath(std::string& prefix, std::string suffix, std::string& out);
  // out = <output_dir>/<session_name>-<prefix>.<count>.
  void get_collectfilename(std::string& prefix, unsigned long count, std::string& out);
  // Records `name` (the collect file of the run) as the only line of the
  // session's record file "<output_dir>.<session_name>.collect", which lies
  // beside output_dir, not in it: the copy step files every entry of
  // output_dir into the volume. Final slashes of output_dir are dropped
  // first, so "/tmp/out/" records in "/tmp/out.s1.collect". Each call
  // replaces the record whole (a temporary "<record>.tmp" renamed over it),
  // so it names the latest collect file and never grows. The library never
  // removes it. Returns the errno of a failed write, or EINVAL when
  // output_dir is empty, "/" or ends in "." or "..", where the record would
  // have no place outside it; logs the result either way.
  std::error_code savefilename(std::string& name);
  // Adds a path (or path prefix) that filtering drops from now on.
  void insert_to_excludelist(std::string excluded_path);
  // The paths and path prefixes that filtering drops now.
  const std::set<std::string>& get_excludelist() const { return excludelist; }

  // ---- glusterfind commands: the raw status of system(3), 0 = success ----

  int create_session();
  int session_exists();
  int incremental_scan(std::string output_file);
  int full_scan(std::string output_file);
  int post_scan();

  // ---- Change-list filtering --------------------------------------------

  // Keeps the NEW and MODIFY paths of the change list `input_path` that are
  // not excluded, one per line ("<path>\n", in the list's order), in
  // `output_path`, which is created or truncated; `count` receives their
  // number. A change-list line is "<TYPE> <path>": the path is the rest of
  // the line after the blank or tab that ends the type word, blanks kept.
  // Lines of other types, empty lines and a type without a path are skipped;
  // a last line without "\n" counts. Returns the errno of an open, read,
  // write or close that failed; `count` is set only on success, and after a
  // failure `output_path` may hold a part of the list.
  std::error_code filter_new_and_modified(std::string& input_path, std::string& output_path,
                                          unsigned long& count);
  // True when `path` is to be dropped: it is one of GlusterFS's own entries
  // (".glusterfs-anonymous-inode-*", ".shard/.remove_me", ...: see
  // scanner/stages/platform_entries.h), an exclude-list entry is a string prefix of
  // it (so "a/b" also drops "a/bc", and an empty entry drops everything), or
  // one of its components is ".snaps" or ".tarn"; the latter adds
  // "/<component>" to the exclude list.
  bool is_excluded(std::string path);

  // ---- Post-processing of the collect file ------------------------------

  // Sorts the collect file, distributes it per application, links shard
  // pieces to applications and chunks long lists. Removes the collect file
  // once distributed. Entries that do not fit in memory_budget() are sorted
  // in runs written to output_dir as ".<session_name>.sort.<n>" (first as
  // "<run>.partial") and merged from there; every run file is removed once
  // the distribution has read it, and also when a step fails.
  std::error_code process_filtered_files(std::string& collect_file);
  // Writes the entries, whose applications (first path components) must each
  // form one run, to <output_dir>/<application>-<session_name>.<count>; the
  // list of the application ".shard" (exactly; ".shard-old" is an
  // application) goes to `shard_files`, the others to `app_files`.
  std::error_code distribute_basedon_application(std::vector<std::string>& entries,
                                                 std::vector<std::string>& app_files,
                                                 std::vector<std::string>& shard_files);
  // Replaces each application list by the list of changed pieces of its
  // files, found through each file's gfid ("trusted.gfid", on a GlusterFS
  // mount "glusterfs.gfid"), each entry of the list itself right before its
  // pieces when set_list_files(true). On a mount made with -o
  // aux-gfid-mount each owner of a piece is first looked up once through
  // "<mount_path>/.gfid/<gfid>"; when every owner is named with all its
  // paths, the listed entries are matched by path and no gfid is read (see
  // set_resolve_owners). A vanished file or one without either attribute
  // owns no piece; any other failure to read the gfid is an error.
  // A piece ".shard/<gfid>.<n>" that no listed file claimed (an in-place
  // write lists only the piece) goes to the application of its owner, or of
  // each of the owner's hard links, found once per owner through
  // "<mount_path>/.gfid/<gfid>" on a mount made with -o aux-gfid-mount:
  // appended to that application's list (renamed to its new count) or in a
  // new list <output_dir>/<application>-<session_name>.<count> added to
  // `linked_files`. Pieces of owners that no longer exist,
  // or all of them on a mount without ".gfid", are dropped with one message;
  // pieces of owners that filtering excludes are dropped silently. Any other
  // failure to find an owner is an error. Removes the input lists on success.
  std::error_code link_shard_to_app(std::vector<std::string>& app_files,
                                    std::vector<std::string>& shard_files,
                                    std::vector<std::string>& linked_files);
  // Cuts every list of more than 16000 entries into chunk files on at most
  // hardware_concurrency() threads, the caller's among them, which take the
  // lists in order one at a time. Returns, after joining every thread, the
  // first failure in list order, or the failure to start a thread, before
  // any list is cut.
  std::error_code multithreaded_chunking(std::vector<std::string> linked_files);
  // The body of one chunking thread: chunk_collectfile() for files[i], i in
  // [begin_index, end_index), going on after a failure. Returns the first
  // failure. Takes the vector by const reference: all threads read one copy.
  static std::error_code chunk_collectfile_wrapper(const std::vector<std::string>& files,
                                                   int begin_index, int end_index);
  static std::error_code chunk_collectfile(std::string path, int chunk_size);

  static tarn_debug logger;

  // What the last link_shard_to_app wrote and dropped; reset by each call.
  const link_counts& last_link_counts() const { return counts; }

  // With `on`, link_shard_to_app writes every entry of an application list
  // on a line of its own right before that entry's pieces (see
  // scanner::set_list_files). Off by default.
  void set_list_files(bool on) { list_files = on; }
  bool lists_files() const { return list_files; }

  // With `on` (the default), link_shard_to_app first looks up each owner of
  // a changed piece through "<mount_path>/.gfid" and, when every owner's
  // paths are all its names, matches the listed entries by path instead of
  // reading the gfid of each. Both give the same lists; off reads every
  // gfid, as a check of the other.
  void set_resolve_owners(bool on) { resolve_owners_first = on; }

  // The memory post-processing may take for its entries (see
  // scanner::set_memory_budget, which sets it): 0 means
  // default_memory_budget, and less than min_memory_budget is raised to it.
  void set_memory_budget(std::size_t bytes);
  std::size_t memory_budget() const { return budget; }

 private:
  link_counts counts;
  bool list_files = false;
  bool resolve_owners_first = true;
  std::size_t budget = default_memory_budget;
  std::string session_name;
  std::string volume_name;
  std::string output_dir;
  std::string mount_path;
  std::set<std::string> excludelist;
  std::set<std::string> exclude_dirnames;
};

// Sees a run go by, on the run's thread: for a progress display. Calls are
// short and never fail the run.
class TARN_EXPORT progress_observer {
 public:
  virtual ~progress_observer();
  // A step begins: "output directory", "session", "working directory",
  // "unread journals", "glusterfind", "names", "filter", "collect file",
  // "post-processing" (within it "sort", "distribute", "link", "chunk"),
  // "copy", "manifest", "tidy" (after the mount check and the lock).
  virtual void step_entered(const char* step) = 0;
  // A step has ended with `entries` done: the entries the filter kept
  // (after "filter" and "post-processing"), the lines written into the
  // volume (after "copy"); 0 for the other steps.
  virtual void entries_done(const char* step, uint64_t entries) = 0;
};

// The entry point: one object per volume. One run at a time (no internal
// locking); runs of one session in other processes or on other nodes are
// kept apart by the lock file "<volume_name>.lock.<session>" on the volume.
class TARN_EXPORT scanner {
 public:
  enum scantype : int32_t { scan_incremental = 0, scan_full = 1 };

  // Opens the volume; reports nothing (an unreachable volume shows as a lock
  // that cannot be taken).
  scanner(std::string volume_name, std::string output_dir, std::string mount_path);
  // Deletes the core-library object and the session objects. Releases no
  // lock and runs no command.
  ~scanner();
  scanner(const scanner&) = delete;
  scanner& operator=(const scanner&) = delete;

  // Holds for every later run; any non-zero value means a full scan.
  void set_scan_type(scantype type);

  // Holds for every later run of every session. Off (the default), the
  // lists hold changed pieces only: every line begins with ".shard/". On,
  // each application's list also names the application's own changed
  // entries, files and directories (new or modified, not excluded), each
  // on its own line right before that entry's pieces, in the order of the
  // list. With sharding the first block of a file lies in the file itself,
  // so a change there, or to a file of one block or less, shows only so.
  // A line that begins with ".shard/" is a piece, any other line an entry.
  // Pieces whose owner is not listed (an in-place write lists only the
  // piece) get no entry line and come last. Chunking cuts these lists by
  // lines like any other: an entry may end one chunk and its pieces begin
  // the next, so chunks are to be read in their order.
  void set_list_files(bool on);

  // Holds for every later run of every session: the memory, in bytes, that
  // post-processing may take for the run's entries (the whole process takes
  // more: the steps' buffers, the library, the host). Entries beyond it are
  // sorted in runs written to the output directory and merged from there,
  // with the same lists as a result. 0 restores the default,
  // default_memory_budget (256 MiB); less than min_memory_budget (1 MiB) is
  // raised to it.
  void set_memory_budget(std::size_t bytes);

  // One complete scan run. Before the lock is taken, mount_path must be a
  // GlusterFS mount of the volume (with TARN_LOCAL_VOLUME_ROOT: an existing
  // directory). output_dir is the library's own: a missing one
  // is made and marked with the file ".tarn_output_dir" (so is an empty
  // one), and is removed again after success. Whatever a marked output_dir
  // holds when the run begins was left by a run that failed or was killed;
  // it is moved to "<output_dir>/.tarn_leftovers/<session>/<UTC time>-XXXXXX"
  // (the newest 3 sets per session are kept), never filed as a result.
  // Returns tarn::success, or (generic category):
  //   14 (EFAULT) empty session name or output directory, no session, such
  //      files that cannot be moved, a failed glusterfind pass,
  //      post-processing, copy or manifest;
  //   16 (EBUSY)  the session's lock file could not be created;
  //   22 (EINVAL) mount_path is not a mount of the volume (nothing ran);
  //      or output_dir is the mount, lies inside it or holds it, or is no
  //      directory;
  //   39 (ENOTEMPTY) output_dir holds entries but no marker: nothing is
  //      touched;
  //   errno       output_dir could not be made, the filtered file could not
  //      be renamed, or the mount table could not be read.
  // The output directory is checked after the lock is taken and before any
  // glusterfind command; every refusal releases the lock. Success means
  // every list is complete in the volume and a manifest of the run names
  // them; last_report() tells what else the host should know (pieces that
  // could not be attributed, a lock file left behind).
  std::error_code initiate_scan(std::string session_name);

  // Told of every later run's steps; null (the default) for none. Not owned:
  // it must outlive the runs.
  void set_progress_observer(progress_observer* observer) { progress_ = observer; }

  // What the last initiate_scan did: valid from its return until the next
  // one begins. Before the first run, an empty report.
  const scan_report& last_report() const { return report_; }

  // The cached session object for the name; makes it (and the glusterfind
  // session when missing) on first use. Null when the session can neither be
  // found nor created. Owned by the scanner.
  session* get_sessionobj(std::string session_name);

  // ---- The session lock file --------------------------------------------

  // Creates "<volume_name>.lock.<session_name>" exclusively and writes the
  // holder's record into it: "host=H pid=P start=T started=UTC version=V
  // session=S" (T: the process's start time in clock ticks after boot). A
  // record that cannot be written is logged and the lock kept. Empty handle
  // when the file cannot be created. Sets lock_path either way.
  boost::shared_ptr<tarn_file> acquire_lock(std::string session_name);
  // Closes `lock` (when non-empty) and removes the file at lock_path. A lock
  // file that cannot be removed is logged ("Failed to remove lock file ...")
  // and goes into the report of the run.
  void release_lock(boost::shared_ptr<tarn_file> lock);
  // Removes the lock file "<volume_name>.lock.<session_name>" when the
  // holder its record names ran on this host and is no longer alive (no
  // process has its pid, or one that started at another time), and with
  // `force` in any case. Returns tarn::success when it was removed, ENOENT
  // when there is none, EBUSY when its holder runs, ran on another host or
  // is not named (an empty lock file, as older versions leave), else the
  // error of the read or removal. `*why` says which, in one sentence.
  std::error_code remove_stale_lock(std::string session_name, bool force, std::string* why);

  // ---- Results into the volume ------------------------------------------

  // Appends the names in `directory` ("." and ".." included). Returns the
  // errno of a directory that cannot be opened or read.
  std::error_code read_directory(std::string directory, std::list<std::string>& entries);
  // Copies every file of output_dir to .tarn/working/scanner/<prefix>/<name>
  // on the volume, then removes the local files; each list copied goes into
  // the report's lists. On failure every local file stays, and so do the
  // files copied whole before it; see file_copy for the one being copied.
  // A run copies the lists it made in the same way, and no other file.
  std::error_code copy_files_to_gluster();
  std::error_code create_directory(std::string path);
  std::error_code create_recursive_directory(std::string path);
  // Appends the lines of the local `source` to the volume file
  // `destination`. A missing destination is written whole under the
  // temporary name ".<name>.partial" beside it and renamed when complete, so
  // that no reader ever sees a part of a new list under its final name; a
  // failed copy removes that temporary file and nothing else. A missing
  // destination of no lines is made under its name at once. An existing
  // destination is appended to in place; after a failed append it keeps what
  // was written.
  std::error_code file_copy(std::string source, std::string destination);

  static tarn_debug logger;

 private:
  scantype scan_type;
  bool list_files = false;
  std::size_t memory_budget = default_memory_budget;
  std::string volume_name;
  std::string output_dir;
  std::string mount_path;
  boost::shared_ptr<tarn_iopx> iopx;
  std::unique_ptr<::tarn::tarn_api> api;

  boost::shared_ptr<tarn_file> lock_file;
  std::string lock_path;
  scan_report report_;
  progress_observer* progress_ = nullptr;
  std::unordered_map<std::string, std::unique_ptr<session>> sessions;
};

// Ends the glusterfind and gluster commands that runs in this process are
// running (their whole process groups: SIGTERM, SIGKILL after 2 s) and makes
// every later command fail at once, so that a run in progress fails through
// its normal path: its lock released, its working files left for the next
// run to set aside. For a host told to stop; call it from a thread of its
// own, not from a signal handler. Returns once the commands have ended.
TARN_EXPORT void stop_runs();

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_SCANNER_H_
