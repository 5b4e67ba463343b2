// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "unit/scan_scenario.h"

#include <uuid/uuid.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "unit/test_util.h"

namespace tarn {
namespace testing_util {
namespace {

constexpr std::size_t kChunk = 16000;

uint64_t fnv1a(const std::string& text, uint64_t hash) {
  for (unsigned char c : text) hash = (hash ^ c) * 0x100000001b3ULL;
  return hash;
}

void gfid_of(const std::string& entry, unsigned char* gfid) {
  uint64_t high = fnv1a(entry, 0xcbf29ce484222325ULL);
  uint64_t low = fnv1a(entry, 0x84222325cbf29ce4ULL);
  std::memcpy(gfid, &high, 8);
  std::memcpy(gfid + 8, &low, 8);
}

}  // namespace

std::string scenario_gfid_text(const std::string& entry) {
  unsigned char gfid[16];
  gfid_of(entry, gfid);
  char text[37];
  uuid_unparse(gfid, text);
  return text;
}

namespace {

std::string join_lines(const std::vector<std::string>& lines, std::size_t begin, std::size_t end) {
  std::string text;
  for (std::size_t i = begin; i < end; ++i) text += lines[i] + "\n";
  return text;
}

}  // namespace

scan_scenario make_scenario(const std::string& session, int apps, int files, int pieces,
                            int variant) {
  scan_scenario s;
  std::string& list = s.changelist;
  list += "DELETE a0/gone.img\nRENAME a0/old.img a0/new.img\n\n";
  list += "NEW .tarn/working/scanner/a0/a0-" + session + ".1\nMODIFY a0/.snaps/x.img\n";
  list += "NEW .shard/" + scenario_gfid_text("nobody/x") + ".1\n";
  for (int a = 0; a < apps; ++a) {
    const std::string app = "a" + std::to_string(a);
    std::vector<std::string> entries;
    std::vector<std::string> owned;
    if (a == 0) list += "NEW " + app + "/nogfid.img\n";
    for (int f = 0; f < files; ++f) {
      std::string entry = app + "/f" + std::to_string(variant) + "_" + std::to_string(f) + ".img";
      list += (f % 2 == 0 ? "NEW " : "MODIFY ") + entry + "\n";
      entries.push_back(entry);
    }
    // Linking walks the files in sorted order and each file's pieces in
    // byte order.
    std::sort(entries.begin(), entries.end());
    for (const std::string& entry : entries) {
      std::vector<std::string> mine;
      for (int p = 1; p <= pieces; ++p) {
        mine.push_back(".shard/" + scenario_gfid_text(entry) + "." + std::to_string(p));
      }
      for (const std::string& piece : mine) list += "NEW " + piece + "\n";
      std::sort(mine.begin(), mine.end());
      owned.insert(owned.end(), mine.begin(), mine.end());
    }
    const std::string base = app + "/" + app + "-" + session;
    if (owned.size() <= kChunk) {
      s.results[base + "." + std::to_string(owned.size())] = join_lines(owned, 0, owned.size());
      continue;
    }
    for (std::size_t begin = 0, k = 1; begin < owned.size(); begin += kChunk, ++k) {
      std::size_t end = std::min(owned.size(), begin + kChunk);
      s.results[base + "-" + std::to_string(k) + "." + std::to_string(end - begin)] =
          join_lines(owned, begin, end);
    }
  }
  return s;
}

std::error_code scenario_gfid(const std::string& path, const char* name, unsigned char* value) {
  const std::error_code none(ENODATA, std::generic_category());
  if (std::strcmp(name, "trusted.gfid") != 0) return none;
  std::size_t slash = path.rfind('/');
  std::size_t parent = slash == std::string::npos || slash == 0 ? std::string::npos
                                                                : path.rfind('/', slash - 1);
  std::string entry = parent == std::string::npos ? path : path.substr(parent + 1);
  if (path.compare(slash + 1, 6, "nogfid") == 0) return none;
  gfid_of(entry, value);
  return std::error_code();
}

std::unique_ptr<attribute_side> use_scenario_gfids() {
  auto files = std::make_unique<attribute_side>();
  files->gfid = scenario_gfid;
  return files;
}

std::map<std::string, std::string> read_tree(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (const std::string& rel : list_tree(root)) tree[rel] = read_file(root + "/" + rel);
  return tree;
}

std::map<std::string, std::string> run_files(const std::string& out) {
  std::map<std::string, std::string> tree = read_tree(out);
  tree.erase(".tarn_output_dir");
  for (auto it = tree.begin(); it != tree.end();) {
    it = it->first.rfind(".tarn_leftovers/", 0) == 0 ? tree.erase(it) : std::next(it);
  }
  return tree;
}

std::vector<std::string> lists_not_whole(const std::string& dir) {
  std::vector<std::string> bad;
  for (const std::string& name : list_dir(dir)) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 == name.size()) continue;
    std::string suffix = name.substr(dot + 1);
    if (suffix.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string text = read_file(dir + "/" + name);
    if (std::count(text.begin(), text.end(), '\n') != std::stoll(suffix)) bad.push_back(name);
  }
  return bad;
}

}  // namespace testing_util
}  // namespace tarn
