// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "unit/test_util.h"

#include <dirent.h>
#include <ftw.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "unit/fake_tool.h"

namespace tarn {
namespace testing_util {
namespace {

int remove_entry(const char* path, const struct stat*, int, struct FTW*) {
  ::remove(path);
  return 0;
}

void walk(const std::string& root, const std::string& rel, std::vector<std::string>* out) {
  for (const std::string& name : list_dir(root + (rel.empty() ? "" : "/" + rel))) {
    std::string child = rel.empty() ? name : rel + "/" + name;
    struct stat st;
    if (lstat((root + "/" + child).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      walk(root, child, out);
    } else {
      out->push_back(child);
    }
  }
}

}  // namespace

temp_dir::temp_dir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarn-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) abort();
  path_ = buf.data();
}

temp_dir::~temp_dir() {
  nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

scoped_env::scoped_env(const char* name, const std::string& value) : name_(name) {
  const char* old = getenv(name);
  had_ = old != nullptr;
  if (had_) old_ = old;
  setenv(name, value.c_str(), 1);
}

scoped_env::scoped_env(const char* name) : name_(name) {
  const char* old = getenv(name);
  had_ = old != nullptr;
  if (had_) old_ = old;
  unsetenv(name);
}

scoped_env::~scoped_env() {
  if (had_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

namespace {
// Commands through the shell; the rest from the environment in force.
class shell_commands : public scanner::run_env_wrapper {
 public:
  shell_commands() : run_env_wrapper(scanner::env_in_force()) {}
  int run(const std::string& line, std::string* output) override {
    return scanner::machine_env().run(line, output);
  }
};

std::string fake_path() {
  const char* path = getenv("PATH");
  return std::string(TARN_FAKES_DIR) + ":" + (path ? path : "/usr/bin:/bin");
}
}  // namespace

fake_glusterfind::fake_glusterfind(mode how)
    : path_("PATH", fake_path()), dir_env_("FAKE_GLUSTERFIND_DIR", state_.path()) {
  // Through the shell also where an outer fake answers in process.
  if (how == mode::in_process) {
    env_ = std::make_unique<fake_tool_env>(state_.path());
  } else {
    env_ = std::make_unique<shell_commands>();
  }
  in_force_ = std::make_unique<scanner::scoped_run_env>(*env_);
}

fake_glusterfind::~fake_glusterfind() = default;

void fake_glusterfind::set_changelist(const std::string& text) {
  write_file(state_.path("changelist"), text);
}

void fake_glusterfind::set_status(int status) {
  write_file(state_.path("status"), std::to_string(status));
}

void fake_glusterfind::set_status(const std::string& sub, int status) {
  write_file(state_.path("status." + sub), std::to_string(status));
}

void fake_glusterfind::clear_status(const std::string& sub) {
  ::unlink(state_.path("status." + sub).c_str());
}

void fake_glusterfind::add_session(const std::string& session, const std::string& volume) {
  mkdir(state_.path("sessions").c_str(), 0755);
  write_file(state_.path("sessions/" + session + "@" + volume), "");
}

void fake_glusterfind::set_volume_info(const std::string& text) {
  write_file(state_.path("volume-info"), text);
}

std::vector<std::string> fake_glusterfind::calls() const {
  return read_lines(state_.path("calls"));
}

std::vector<std::vector<std::string>> fake_glusterfind::argv() const {
  std::vector<std::vector<std::string>> result;
  std::vector<std::string> call;
  std::string arg;
  for (char c : read_file(state_.path("argv"))) {
    if (c == '\x1f') {
      call.push_back(arg);
      arg.clear();
    } else if (c == '\x1e') {
      result.push_back(call);
      call.clear();
    } else {
      arg += c;
    }
  }
  return result;
}

log_capture::log_capture() : env_("TARN_LOG_FILE", dir_.path("log")) {}

std::string log_capture::text() const { return read_file(dir_.path("log")); }

small_tmpfs::small_tmpfs(const std::string& size) {
  mounted_ = mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
}

small_tmpfs::~small_tmpfs() {
  if (mounted_) umount2(dir_.path().c_str(), MNT_DETACH);
}

bool small_tmpfs::resize(const std::string& size) {
  return mounted_ && mount("tmpfs", dir_.path().c_str(), "tmpfs", MS_REMOUNT,
                           ("size=" + size).c_str()) == 0;
}

bool set_gfid(const std::string& path, const std::string& uuid_text) {
  uuid_t gfid;
  if (uuid_parse(uuid_text.c_str(), gfid) != 0) abort();
  return setxattr(path.c_str(), "trusted.gfid", gfid, sizeof gfid, 0) == 0;
}

std::string numbered_lines(const std::string& prefix, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += prefix + std::to_string(i) + "\n";
  return text;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> read_lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> list_dir(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return names;
  while (struct dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

long newest_indexed_journal(const std::vector<std::string>& bricks) {
  long newest = 0;
  for (const std::string& brick : bricks) {
    const std::string htime = brick + "/.glusterfs/changelogs/htime";
    for (const std::string& name : list_dir(htime)) {
      std::string index = read_file(htime + "/" + name);
      while (!index.empty() && index.back() == '\0') index.pop_back();
      std::size_t dot = index.rfind('.');
      if (dot != std::string::npos) newest = std::max(newest, std::atol(index.c_str() + dot + 1));
    }
  }
  return newest;
}

std::vector<std::string> list_tree(const std::string& root) {
  std::vector<std::string> out;
  walk(root, "", &out);
  std::sort(out.begin(), out.end());
  return out;
}

std::error_code attribute_files::read_xattr(const std::string& path, const char* name,
                                            std::string* value) {
  const std::string attribute = name;
  if (gfid != nullptr && (attribute == "trusted.gfid" || attribute == "glusterfs.gfid")) {
    unsigned char bytes[16] = {};
    if (std::error_code ec = gfid(path, name, bytes)) return ec;
    value->assign(reinterpret_cast<const char*>(bytes), sizeof bytes);
    return std::error_code();
  }
  if (owner != nullptr && attribute == "glusterfs.ancestry.path") return owner(path, name, value);
  return forwarding_local_files::read_xattr(path, name, value);
}

}  // namespace testing_util
}  // namespace tarn
