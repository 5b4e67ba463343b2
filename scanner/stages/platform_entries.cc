// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "scanner/stages/platform_entries.h"

namespace tarn {
namespace scanner {
namespace {

// `path` is `entry` or lies below it.
bool is_or_below(std::string_view path, std::string_view entry) {
  return path.substr(0, entry.size()) == entry &&
         (path.size() == entry.size() || path[entry.size()] == '/');
}

}  // namespace

bool is_platform_entry(std::string_view path) {
  // Every filtered line comes through here: most paths fail the first test.
  if (path.empty() || path[0] != '.') return false;
  const std::string_view top = path.substr(0, path.find('/'));
  constexpr std::string_view kAnonymousInodes = ".glusterfs-anonymous-inode-";
  return top == ".glusterfs" || top == ".trashcan" ||
         top.substr(0, kAnonymousInodes.size()) == kAnonymousInodes ||
         is_or_below(path, ".shard/.remove_me");
}

}  // namespace scanner
}  // namespace tarn
