// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "e2e/e2e_util.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

namespace tarn {
namespace e2e {
namespace {

std::string env_or(const char* name, const std::string& fallback) {
  const char* value = getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

constexpr char kWorking[] = ".tarn/working/scanner";

// The test programs hold the core library's code themselves, so it cannot
// find its helper program beside itself: name the build's, for the hosts
// the tests start too.
[[maybe_unused]] const bool kHelperNamed =
    setenv("TARN_CREATE_HELPER", TARN_CREATE_HELPER_BINARY, 0) == 0;
constexpr char kRigMark[] = "/var/lib/tarn-rig/glusterd.started";

}  // namespace

const std::string& volume() {
  static const std::string v = env_or("TARN_E2E_VOLUME", "tarn-e2e");
  return v;
}

const std::string& mount() {
  static const std::string m = env_or("TARN_E2E_MOUNT", "/mnt/" + volume());
  return m;
}

std::string on_mount(const std::string& rel) { return mount() + "/" + rel; }

const std::string& dist_volume() {
  static const std::string v = env_or("TARN_E2E_DIST_VOLUME", "tarn-dist");
  return v;
}

const std::string& dist_mount() {
  static const std::string m = env_or("TARN_E2E_DIST_MOUNT", "/mnt/" + dist_volume());
  return m;
}

int sh(const std::string& command) {
  int status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string unique_session(const std::string& base) {
  return base + "_" + std::to_string(getpid());
}

std::string gfid_text(const std::string& rel) {
  char buf[64] = {0};
  ssize_t n = getxattr(on_mount(rel).c_str(), "glusterfs.gfid.string", buf, sizeof buf - 1);
  if (n < 36) return "";
  return std::string(buf, 36);
}

std::vector<std::string> pieces_of(const std::string& rel) {
  // Clients may not look into ".shard"; every block past the first of a file
  // written in full is a piece "<gfid>.<n>".
  constexpr long long kBlock = 4ll << 20;
  std::vector<std::string> pieces;
  std::string gfid = gfid_text(rel);
  struct stat st;
  if (gfid.empty() || stat(on_mount(rel).c_str(), &st) != 0) return pieces;
  for (long long n = 1; n * kBlock < st.st_size; ++n) {
    pieces.push_back(".shard/" + gfid + "." + std::to_string(n));
  }
  std::sort(pieces.begin(), pieces.end());
  return pieces;
}

std::map<std::string, std::vector<std::string>> results() {
  std::map<std::string, std::vector<std::string>> out;
  std::string root = on_mount(kWorking);
  for (const std::string& rel : testing_util::list_tree(root)) {
    std::vector<std::string> lines = testing_util::read_lines(root + "/" + rel);
    std::sort(lines.begin(), lines.end());
    out[rel] = lines;
  }
  return out;
}

void clear_results() { sh("rm -rf " + quote(on_mount(".tarn"))); }

void clear_volume() {
  sh("find " + quote(mount()) +
     " -mindepth 1 -maxdepth 1 ! -name .shard -exec rm -rf {} + 2>/dev/null");
}

void populate() {
  clear_volume();
  using testing_util::write_file;
  sh("mkdir -p " + quote(on_mount("app1/sub")) + " " + quote(on_mount("app2")) + " " +
     quote(on_mount("app 3")));
  write_file(on_mount("app1/a.txt"), "a\n");
  write_file(on_mount("app1/sub/b.txt"), "b\n");
  write_file(on_mount("app2/c.txt"), "c\n");
  write_file(on_mount("app 3/file with blank.txt"), "blank\n");
  sh("dd if=/dev/urandom of=" + quote(on_mount("app2/big.bin")) +
     " bs=1M count=20 status=none");
}

void append_mb(const std::string& rel, int mb) {
  sh("dd if=/dev/urandom of=" + quote(on_mount(rel)) + " bs=1M count=" + std::to_string(mb) +
     " oflag=append conv=notrunc status=none");
}

void overwrite_mb(const std::string& rel, int at_mb) {
  sh("dd if=/dev/urandom of=" + quote(on_mount(rel)) + " bs=1M count=1 seek=" +
     std::to_string(at_mb) + " conv=notrunc status=none");
}

namespace {

std::string capture(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

// The newest epoch in the change-log index of any brick of the volume under
// test: the time of the last journal it rolled over and listed.
long newest_indexed_journal() {
  static const std::vector<std::string> bricks = [] {
    std::vector<std::string> paths;
    std::string info = capture("gluster --mode=script volume info " + quote(volume()));
    std::size_t at = 0;
    while ((at = info.find("\nBrick", at)) != std::string::npos) {
      std::size_t colon = info.find(": ", at), end = info.find('\n', at + 1);
      std::size_t host_end = info.find(':', colon + 2);
      if (colon < end && host_end < end) paths.push_back(info.substr(host_end + 1, end - host_end - 1));
      at = end;
    }
    return paths;
  }();
  return testing_util::newest_indexed_journal(bricks);
}

}  // namespace

void wait_for_changelog() {
  // An incremental pass lists a change once the journal that holds it is
  // rolled over into the index, and only when it starts at least the
  // rollover time (3 s on the rig) after the change.
  const long changed = static_cast<long>(std::time(nullptr));
  for (int tenth = 0; tenth < 600; ++tenth) {
    if (std::time(nullptr) > changed + 3 && newest_indexed_journal() > changed) return;
    pause(0.1);
  }
}

void pause(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

plain_mount::plain_mount(std::string path, const std::string& probe) : path_(std::move(path)) {
  if (sh("mkdir -p " + quote(path_) + " && mount -t glusterfs 127.0.0.1:/" + volume() + " " +
         quote(path_)) != 0) {
    return;
  }
  // The client answers once it has the volume's layout.
  for (int i = 0; i < 100 && !(ready_ = testing_util::exists(path_ + "/" + probe)); ++i) {
    pause(0.1);
  }
}

plain_mount::~plain_mount() { sh("umount " + quote(path_) + " || umount -l " + quote(path_)); }

int rig(const std::string& command) {
  return sh(std::string(TARN_SOURCE_DIR) + "/scripts/gluster-rig.sh " + command + " " +
            quote(volume()) + " >/dev/null 2>&1");
}

bool rig_owns_glusterd() {
  std::string mark = testing_util::read_file(kRigMark);
  return !mark.empty() && std::atoi(mark.c_str()) == glusterd_pid();
}

int glusterd_pid() {
  std::string text = testing_util::read_file("/var/run/glusterd.pid");
  int pid = std::atoi(text.c_str());
  if (pid <= 0 || kill(pid, 0) != 0) return 0;
  return pid;
}

volume_test::volume_test() : no_local_volume_("TARN_LOCAL_VOLUME_ROOT") {}

void volume_test::SetUp() {
  struct stat st;
  ASSERT_EQ(stat(on_mount(".gfid").c_str(), &st), 0)
      << mount() << " is not an aux-gfid mount of volume " << volume()
      << "; start it with scripts/gluster-rig.sh up " << volume();
}

}  // namespace e2e
}  // namespace tarn
