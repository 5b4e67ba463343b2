// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Helpers for the end-to-end tests on a real GlusterFS volume: where the
// volume is, the standard population, the results a scan left, the rig.
#ifndef TARN_TESTS_E2E_E2E_UTIL_H_
#define TARN_TESTS_E2E_E2E_UTIL_H_

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "unit/test_util.h"

namespace tarn {
namespace e2e {

// The volume under test (TARN_E2E_VOLUME, default tarn-e2e) and its
// aux-gfid mount (TARN_E2E_MOUNT, default /mnt/<volume>), as
// scripts/gluster-rig.sh sets them up.
const std::string& volume();
const std::string& mount();
std::string on_mount(const std::string& rel);
// The distribute volume (two bricks) of the lock race tests
// (TARN_E2E_DIST_VOLUME, default tarn-dist) and its mount
// (TARN_E2E_DIST_MOUNT, default /mnt/<volume>), from
// scripts/gluster-rig.sh distribute.
const std::string& dist_volume();
const std::string& dist_mount();

// Runs `command` with /bin/sh; its exit status, or -1.
int sh(const std::string& command);
// `text` quoted for the shell.
std::string quote(const std::string& text);

// A session name no earlier test run used: `base` and the process id.
std::string unique_session(const std::string& base);

// The gfid text of a file on the mount ("glusterfs.gfid.string"); empty
// when it cannot be read.
std::string gfid_text(const std::string& rel);
// The piece paths ".shard/<gfid>.<n>" of a file on the mount that was
// written in full (4 MB shards), in byte order.
std::vector<std::string> pieces_of(const std::string& rel);

// Result files below ".tarn/working/scanner" on the mount: relative path ->
// lines, sorted.
std::map<std::string, std::vector<std::string>> results();
void clear_results();

// The standard population, after everything but ".shard" was removed:
//   app1/a.txt, app1/sub/b.txt, app2/big.bin (20 MB: its first 4 MB and the
//   pieces .1 to .4), app2/c.txt, "app 3/file with blank.txt".
void populate();
// Removes every top-level entry of the volume except ".shard".
void clear_volume();
// Appends `mb` MiB of random data to a file on the mount.
void append_mb(const std::string& rel, int mb);
// Overwrites 1 MiB at MiB offset `at_mb` without changing the size.
void overwrite_mb(const std::string& rel, int at_mb);

// Waits until the changelog has rolled over the latest changes, so that an
// incremental glusterfind pass sees them (rollover-time 3 s on the rig).
void wait_for_changelog();
// Sleeps `seconds`.
void pause(double seconds);

// The rig script on the volume under test: "up", "down"... Exit status.
int rig(const std::string& command);
// True when the rig started the running glusterd (so tests may stop it).
bool rig_owns_glusterd();
// The PID of the running glusterd, or 0.
int glusterd_pid();

// A second mount of the volume at `path`, made without -o aux-gfid-mount,
// for the object's life. ready() is true once the client answers with the
// volume's files (bounded wait for `probe`, a path relative to the volume).
class plain_mount {
 public:
  plain_mount(std::string path, const std::string& probe);
  ~plain_mount();
  plain_mount(const plain_mount&) = delete;
  plain_mount& operator=(const plain_mount&) = delete;
  bool ready() const { return ready_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool ready_ = false;
};

// Base fixture: the library talks to the real volume (no local-directory
// volume), the mount is an aux-gfid mount, and the log is captured.
class volume_test : public ::testing::Test {
 protected:
  volume_test();
  void SetUp() override;

  testing_util::scoped_env no_local_volume_;
  testing_util::log_capture log_;
  testing_util::temp_dir local_;  // for output directories
};

}  // namespace e2e
}  // namespace tarn

#endif  // TARN_TESTS_E2E_E2E_UTIL_H_
