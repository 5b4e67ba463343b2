// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The POSIX calls behind scanner/os.h.
#include "scanner/os.h"

#include <dirent.h>
#include <stdio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tarn {
namespace os {

std::error_code rename_file(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return error_from(errno);
  return std::error_code();
}

std::error_code remove_file(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return error_from(errno);
  return std::error_code();
}

std::error_code remove_directory(const std::string& path) {
  if (::rmdir(path.c_str()) != 0) return error_from(errno);
  return std::error_code();
}

std::error_code list_directory(const std::string& path, std::list<std::string>* names) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return error_from(errno);
  std::error_code result;
  for (;;) {
    errno = 0;
    struct dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      if (errno != 0) result = error_from(errno);
      break;
    }
    names->push_back(entry->d_name);
  }
  ::closedir(dir);
  return result;
}

std::error_code get_xattr(const std::string& path, const char* name, void* value,
                          std::size_t size, ssize_t* length) {
  ssize_t n = ::getxattr(path.c_str(), name, value, size);
  if (n < 0) return error_from(errno);
  *length = n;
  return std::error_code();
}

int run_shell(const std::string& command) { return ::system(command.c_str()); }

}  // namespace os
}  // namespace tarn
