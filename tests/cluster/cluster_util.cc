// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "cluster/cluster_util.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "unit/test_util.h"

namespace tarn {
namespace cluster {
namespace {

const std::string kRig = std::string(TARN_SOURCE_DIR) + "/scripts/gluster-cluster.sh";
constexpr char kWorking[] = ".tarn/working/scanner";

int status_of(int raw) { return raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1; }

std::string capture(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    *status = -1;
    return out;
  }
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  *status = status_of(pclose(pipe));
  return out;
}

// The holder of a node's namespaces, asked once per node.
std::string holder(int node) {
  static std::map<int, std::string> pids;
  auto found = pids.find(node);
  if (found != pids.end()) return found->second;
  int status = 0;
  std::string pid = capture(kRig + " pid " + std::to_string(node), &status);
  pid.erase(std::remove(pid.begin(), pid.end(), '\n'), pid.end());
  if (status != 0 || pid.empty()) return "0";
  return pids[node] = pid;
}

// The bricks of the cluster's volumes and of the machine's own replica
// volume (scripts/gluster-rig.sh replica), wherever they are.
long newest_indexed_journal(const std::string& volume) {
  std::vector<std::string> bricks;
  for (const char* node : {"node1", "node2", "node3"}) {
    bricks.push_back(std::string("/var/lib/tarn-cluster/") + node + "/bricks/" + volume);
  }
  for (const char* b : {"b1", "b2", "b3"}) bricks.push_back("/var/lib/tarn-rig/bricks/" + volume + "/" + b);
  return testing_util::newest_indexed_journal(bricks);
}

}  // namespace

int rig(const std::string& args) { return status_of(std::system((kRig + " " + args).c_str())); }

std::string quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

int on_node(int node, const std::string& command, std::string* out) {
  int status = 0;
  std::string text = capture(node == 0 ? "sh -c " + quote(command)
                                       : kRig + " exec " + std::to_string(node) + " sh -c " +
                                             quote(command),
                             &status);
  if (out != nullptr) *out = text;
  return status;
}

std::string mounted::path(const std::string& rel) const {
  const std::string root = node == 0 ? "" : "/proc/" + holder(node) + "/root";
  return root + "/mnt/" + volume + (rel.empty() ? "" : "/" + rel);
}

void write_file(const mounted& m, const std::string& rel, int mb, const std::string& line) {
  const std::string target = quote("/mnt/" + m.volume + "/" + rel);
  std::string dir = rel.find('/') == std::string::npos ? "" : rel.substr(0, rel.rfind('/'));
  std::string command = dir.empty() ? "" : "mkdir -p " + quote("/mnt/" + m.volume + "/" + dir) + " && ";
  command += mb > 0 ? "dd if=/dev/urandom of=" + target + " bs=1M count=" + std::to_string(mb) +
                          " status=none"
                    : "printf '%s\\n' " + quote(line) + " > " + target;
  on_node(m.node, command);
}

void overwrite_mb(const mounted& m, const std::string& rel, int at_mb) {
  on_node(m.node, "dd if=/dev/urandom of=" + quote("/mnt/" + m.volume + "/" + rel) +
                      " bs=1M count=1 seek=" + std::to_string(at_mb) + " conv=notrunc status=none");
}

void append_line(const mounted& m, const std::string& rel, const std::string& line) {
  on_node(m.node, "printf '%s\\n' " + quote(line) + " >> " + quote("/mnt/" + m.volume + "/" + rel));
}

void clear_volume(const mounted& m) {
  on_node(m.node, "find " + quote("/mnt/" + m.volume) +
                      " -mindepth 1 -maxdepth 1 ! -name .shard ! -name '.glusterfs*' "
                      "-exec rm -rf {} + 2>/dev/null; true");
}

std::vector<std::string> pieces_of(const mounted& m, const std::string& rel) {
  constexpr long long kBlock = 4ll << 20;
  std::string gfid;
  on_node(m.node, "getfattr --only-values -n glusterfs.gfid.string " +
                      quote("/mnt/" + m.volume + "/" + rel) + " 2>/dev/null", &gfid);
  std::vector<std::string> pieces;
  if (gfid.size() < 36) return pieces;
  std::string size;
  on_node(m.node, "stat -c %s " + quote("/mnt/" + m.volume + "/" + rel), &size);
  const long long bytes = std::atoll(size.c_str());
  for (long long n = 1; n * kBlock < bytes; ++n) {
    pieces.push_back(".shard/" + gfid.substr(0, 36) + "." + std::to_string(n));
  }
  std::sort(pieces.begin(), pieces.end());
  return pieces;
}

scan_run scan(const mounted& m, const std::string& session, const std::string& options) {
  testing_util::temp_dir dir;  // the same path in every node
  const std::string out = dir.path("out"), log = dir.path("log");
  scan_run run;
  run.status = on_node(m.node, std::string(TARN_SCAN_BINARY) + " --json --volume " + m.volume +
                                   " --mount /mnt/" + m.volume + " --session " + session +
                                   " --output-dir " + quote(out) + " --log-file " + quote(log) +
                                   " " + options + " > " + quote(dir.path("json")) + " 2> " +
                                   quote(dir.path("err")));
  run.err = testing_util::read_file(dir.path("err")) + testing_util::read_file(log);
  const std::string json = testing_util::read_file(dir.path("json"));
  if (!json.empty()) run.report = nlohmann::json::parse(json, nullptr, false);
  return run;
}

result_map results(const mounted& m) {
  result_map out;
  const std::string root = m.path(kWorking);
  for (const std::string& rel : testing_util::list_tree(root)) {
    std::vector<std::string> lines = testing_util::read_lines(root + "/" + rel);
    std::sort(lines.begin(), lines.end());
    out[rel] = lines;
  }
  return out;
}

void clear_results(const mounted& m) { on_node(m.node, "rm -rf " + quote("/mnt/" + m.volume + "/.tarn")); }

result_map::value_type list_of(const std::string& application, const std::string& session,
                               std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return {application + "/" + application + "-" + session + "." + std::to_string(lines.size()),
          lines};
}

void wait_for_changelog(const std::string& volume) {
  // An incremental pass lists a change once a journal that holds it is in
  // the index, and when it starts some rollover times (3 s) after it: every
  // replica brick has rolled over by then.
  const long changed = static_cast<long>(std::time(nullptr));
  for (int tenth = 0; tenth < 600; ++tenth) {
    if (std::time(nullptr) > changed + 6 && newest_indexed_journal(volume) > changed) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace cluster
}  // namespace tarn
