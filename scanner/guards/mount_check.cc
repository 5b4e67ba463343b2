// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Checking the mount path against the mount table before a run.
#include "scanner/guards/mount_check.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "core/platform.h"
#include "core/settings.h"
#include "scanner/run/run_env.h"
#include "scanner/scanner.h"

namespace tarn {
namespace scanner {
namespace {

constexpr char kMountTable[] = "/proc/self/mounts";
constexpr char kGlusterType[] = "fuse.glusterfs";

// The table writes blank, tab, newline and backslash in a field as \ooo.
std::string unescape(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && field.size() - i > 3) {
      const std::string digits = field.substr(i + 1, 3);
      if (digits.find_first_not_of("01234567") == std::string::npos) {
        out += static_cast<char>(std::strtol(digits.c_str(), nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

// "/a//b/./c/" -> "/a/b/c"; "" stays "".
std::string lexical(const std::string& path) {
  std::string out;
  std::istringstream parts(path);
  std::string part;
  while (std::getline(parts, part, '/')) {
    if (part.empty() || part == ".") continue;
    out += "/" + part;
  }
  if (out.empty()) return path.empty() ? path : "/";
  return path[0] == '/' ? out : out.substr(1);
}

bool names_volume(const std::string& source, const std::string& volume) {
  const std::size_t colon = source.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string rest = source.substr(colon + 1);
  if (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
  return rest == volume;
}

}  // namespace

std::vector<mount_entry> parse_mount_table(const std::string& text) {
  std::vector<mount_entry> entries;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    mount_entry e;
    if (!(fields >> e.source >> e.target >> e.type)) continue;
    e.source = unescape(e.source);
    e.target = unescape(e.target);
    entries.push_back(std::move(e));
  }
  return entries;
}

namespace {

// The entry in effect at the mount point: the last one of it.
bool mounted_at(const std::vector<mount_entry>& entries, const std::string& mount_path,
                const std::string& resolved, mount_entry* found) {
  const std::string wanted = lexical(mount_path);
  const std::string real = lexical(resolved);
  bool any = false;
  for (const mount_entry& e : entries) {
    const std::string target = lexical(e.target);
    if (target != wanted && (real.empty() || target != real)) continue;
    *found = e;
    any = true;
  }
  return any;
}

}  // namespace

std::string mount_server(const std::string& table_text, const std::string& mount_path,
                         const std::string& resolved, const std::string& volume) {
  mount_entry e;
  if (!mounted_at(parse_mount_table(table_text), mount_path, resolved, &e) ||
      e.type != kGlusterType || !names_volume(e.source, volume)) {
    return std::string();
  }
  std::string hosts = e.source.substr(0, e.source.find(':'));
  return hosts.substr(0, hosts.find(','));
}

std::string mount_server(const std::string& mount_path, const std::string& volume) {
  std::string table, resolved;
  if (env_in_force().read_mount_table(&table)) return std::string();
  os::real_path(mount_path, &resolved);  // a mount that does not answer keeps its name
  return mount_server(table, mount_path, resolved, volume);
}

mount_verdict check_mount_table(const std::string& table_text, const std::string& mount_path,
                                const std::string& resolved, const std::string& volume) {
  mount_verdict verdict;
  mount_entry found;
  const mount_entry* other = nullptr;
  if (mounted_at(parse_mount_table(table_text), mount_path, resolved, &found)) other = &found;
  if (other != nullptr && other->type == kGlusterType && names_volume(other->source, volume)) {
    verdict.ok = true;
    return verdict;
  }
  verdict.found = other == nullptr
                      ? "no file system is mounted there"
                      : "it is a mount of " + other->source + " (" + other->type + ")";
  return verdict;
}

std::error_code check_mount(const std::string& mount_path, const std::string& volume,
                            std::string* found) {
  // An empty value is no local-directory volume: the volume still opens
  // through GlusterFS, so its mount must be checked.
  if (!settings::local_volume_root().empty()) {
    bool directory = false;
    std::error_code ec = os::stat_path(mount_path, &directory);
    if (!ec && directory) return success;
    *found = ec ? "it cannot be reached: " + ec.message() : "it is not a directory";
    return os::error_from(EINVAL);
  }
  std::string table;
  if (std::error_code ec = env_in_force().read_mount_table(&table)) {
    *found = std::string("the mount table ") + kMountTable + " cannot be read: " + ec.message();
    return ec;
  }
  // A mount whose bricks are down answers ENOTCONN here; the table still
  // tells what it is, and the run goes on to fail at the lock as it should.
  std::string resolved;
  std::error_code unresolved = os::real_path(mount_path, &resolved);
  mount_verdict verdict = check_mount_table(table, mount_path, resolved, volume);
  if (verdict.ok) return success;
  *found = unresolved.value() == ENOENT ? "it does not exist" : verdict.found;
  return os::error_from(EINVAL);
}

}  // namespace scanner
}  // namespace tarn
