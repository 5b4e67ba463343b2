// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// What glusterfind's own log says about a pass that failed. The commands run
// with their output thrown away; glusterfind logs each session's commands on
// this node to <log dir>/<session>/<volume>/cli.log, and a pass that could
// not do its part on a brick (a node that cannot be reached, a brick whose
// crawl failed) names the brick there:
//
//   [...] ERROR [utils - 159:fail] - 10.77.0.3 - pre failed; stdout (including remote stderr):
//   b'ssh: connect to host 10.77.0.3 port 22: No route to host\r\n'
//   stderr:
//   b''
//   [...] WARNING [main - 272:run_cmd_nodes] - Command pre failed in 10.77.0.3:/bricks/b3
#ifndef TARN_SCANNER_GLUSTERFIND_LOG_H_
#define TARN_SCANNER_GLUSTERFIND_LOG_H_

#include <cstdint>
#include <string>
#include <vector>

namespace tarn {
namespace scanner {

// glusterfind's log of the session's commands on this node. The directory is
// TARN_GLUSTERFIND_LOG_DIR when set and not empty, else glusterfind's own
// /var/log/glusterfs/glusterfind.
std::string glusterfind_log_path(const std::string& session, const std::string& volume);

struct failed_brick {
  std::string brick;   // "host:/path"
  std::string reason;  // the node's first line of output ("ssh: connect to ..."), or empty
};

// The bricks whose part of `command` ("pre") `log_text` says failed, in its
// order, each once.
std::vector<failed_brick> parse_failed_bricks(const std::string& log_text,
                                              const std::string& command);

// Where the log ends now: its size, 0 when it cannot be read.
std::uint64_t log_end(const std::string& path);
// The bricks of `command` that failed according to what the log gained
// after `from` (up to its last MiB).
std::vector<failed_brick> failed_bricks_since(const std::string& path, std::uint64_t from,
                                              const std::string& command);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_GLUSTERFIND_LOG_H_
