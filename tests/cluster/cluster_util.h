// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Helpers for the tests on a cluster of GlusterFS nodes on this machine
// (scripts/gluster-cluster.sh): commands and scans run in a node, the files
// of a volume as a node's mount shows them, and the lists a scan left.
#ifndef TARN_TESTS_CLUSTER_CLUSTER_UTIL_H_
#define TARN_TESTS_CLUSTER_CLUSTER_UTIL_H_

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tarn {
namespace cluster {

using result_map = std::map<std::string, std::vector<std::string>>;

// scripts/gluster-cluster.sh with `args` (quoted by the caller); its exit
// status. Its messages go to the test's output.
int rig(const std::string& args);
// Runs `command` with /bin/sh in node `node` (0: here); its exit status, and what it
// printed (standard output and error) in *out when given.
int on_node(int node, const std::string& command, std::string* out = nullptr);
// `text` quoted for the shell.
std::string quote(const std::string& text);

// A volume as node `node` mounts it, at /mnt/<volume> in the node; node 0
// is this machine's own namespace.
struct mounted {
  std::string volume;
  int node;
  // The path of `rel` below the mount, seen from this process (through the
  // node's mount namespace).
  std::string path(const std::string& rel) const;
};

// Creates `rel` on the volume with `mb` MiB of random data (an image when
// more than 4, so that it has pieces) or, with mb == 0, the line `line`.
void write_file(const mounted& m, const std::string& rel, int mb, const std::string& line = "");
// Overwrites 1 MiB at MiB offset `at_mb`, the size unchanged.
void overwrite_mb(const mounted& m, const std::string& rel, int at_mb);
// Appends a line.
void append_line(const mounted& m, const std::string& rel, const std::string& line);
// Removes every top-level entry of the volume except ".shard".
void clear_volume(const mounted& m);

// The pieces ".shard/<gfid>.<n>" of a file written in full, in byte order.
std::vector<std::string> pieces_of(const mounted& m, const std::string& rel);

// One run of tarn-scan in a node, with --json and a log file of its own.
struct scan_run {
  int status = -1;
  nlohmann::json report;  // tarn-scan's JSON (empty when it printed none)
  std::string err;        // its standard error, then the library's log
};
scan_run scan(const mounted& m, const std::string& session, const std::string& options);

// Result lists below ".tarn/working/scanner": "<dir>/<name>" -> lines, sorted.
result_map results(const mounted& m);
void clear_results(const mounted& m);
// The entry "<application>/<application>-<session>.<count>" -> the sorted lines.
result_map::value_type list_of(const std::string& application, const std::string& session,
                               std::vector<std::string> lines);

// Waits (bounded) until every brick of `volume` that answers has rolled
// its change log over the changes made so far, so that an incremental pass
// lists them.
void wait_for_changelog(const std::string& volume);

}  // namespace cluster
}  // namespace tarn

#endif  // TARN_TESTS_CLUSTER_CLUSTER_UTIL_H_
