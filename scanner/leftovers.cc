// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Setting aside the files an earlier run left in the output directory.
#include "scanner/leftovers.h"

#include <cerrno>
#include <list>

#include "core/platform.h"

namespace tarn {
namespace scanner {

std::error_code set_aside_leftovers(const std::string& output_dir, std::string* moved_to,
                                    std::size_t* moved) {
  *moved = 0;
  std::list<std::string> names;
  std::error_code ec = os::list_directory(output_dir, &names);
  if (ec.value() == ENOENT) return os::no_error();  // the pass makes it
  if (ec) return ec;
  names.remove_if([](const std::string& n) { return n == "." || n == ".."; });
  if (names.empty()) return os::no_error();

  std::string dir = output_dir;
  while (!dir.empty() && dir.back() == '/') dir.pop_back();
  const std::string last = dir.substr(dir.rfind('/') + 1);
  if (last.empty() || last == "." || last == "..") return os::error_from(EINVAL);
  if ((ec = os::make_unique_directory(dir + ".leftover-", moved_to))) return ec;
  for (const std::string& name : names) {
    if ((ec = os::rename_file(dir + "/" + name, *moved_to + "/" + name))) return ec;
    ++*moved;
  }
  return os::no_error();
}

}  // namespace scanner
}  // namespace tarn
