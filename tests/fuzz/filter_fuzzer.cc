// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// libFuzzer target for the change-list filter: any bytes as a change list.
// The filter must succeed and write exactly the NEW and MODIFY paths that no
// exclusion rule drops, in order, one per line, and count them right. The
// expected list comes from a plain restatement of the rules below.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scanner/scanner.h"

namespace {

const char* const kFixedExcludes[] = {".tarn/working/scanner", "vol1.lock.s1"};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The path of a NEW or MODIFY line: all after the blank or tab that ends
// the type word, which may follow blanks and tabs.
bool path_of(const std::string& line, std::string* path) {
  std::size_t i = 0;
  while (i < line.size() && is_blank(line[i])) ++i;
  std::size_t end = i;
  while (end < line.size() && !is_blank(line[end])) ++end;
  std::string type = line.substr(i, end - i);
  if ((type != "NEW" && type != "MODIFY") || end + 1 >= line.size()) return false;
  *path = line.substr(end + 1);
  return true;
}

// Exclusion, entry by entry: a prefix in the list, or a component ".snaps"
// or ".tarn", which adds "/<component>" to the list for later paths.
bool excluded(const std::string& path, std::vector<std::string>* excludes) {
  for (const std::string& e : *excludes) {
    if (path.compare(0, e.size(), e) == 0) return true;
  }
  std::stringstream components(path);
  std::string c;
  while (std::getline(components, c, '/')) {
    if (c == ".snaps" || c == ".tarn") {
      excludes->push_back("/" + c);
      return true;
    }
  }
  return false;
}

std::vector<std::string> expected_paths(const std::string& text) {
  std::vector<std::string> excludes(std::begin(kFixedExcludes), std::end(kFixedExcludes));
  std::vector<std::string> kept;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string path;
    if (path_of(text.substr(begin, end - begin), &path) && !excluded(path, &excludes)) {
      kept.push_back(path);
    }
    begin = end + 1;
  }
  return kept;
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void fail(const char* what) {
  fprintf(stderr, "filter_fuzzer: %s\n", what);
  abort();
}

const std::string& work_dir() {
  static const std::string* dir = [] {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarn-fuzz-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) fail("cannot make a working directory");
    atexit([] {
      unlink((work_dir() + "/changelist").c_str());
      unlink((work_dir() + "/filtered").c_str());
      rmdir(work_dir().c_str());
    });
    return new std::string(pattern);
  }();
  return *dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string input = work_dir() + "/changelist";
  std::string output = work_dir() + "/filtered";
  {
    std::ofstream out(input, std::ios::binary | std::ios::trunc);
    out << text;
  }
  tarn::scanner::session s("s1", "vol1", work_dir(), "/nonexistent");
  for (const char* e : kFixedExcludes) s.insert_to_excludelist(e);
  unsigned long count = 12345;
  if (s.filter_new_and_modified(input, output, count) != tarn::success) fail("filter failed");

  std::string want;
  std::vector<std::string> paths = expected_paths(text);
  for (const std::string& p : paths) want += p + "\n";
  if (read_all(output) != want) fail("the filtered list differs from the expected one");
  if (count != paths.size()) fail("the count differs from the number of lines");
  return 0;
}
