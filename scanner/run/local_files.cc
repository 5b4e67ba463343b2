// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The run's local side on the local file system, through core/platform.h.
#include "scanner/run/local_files.h"

#include <cerrno>

#include "core/platform.h"
#include "scanner/run/run_env.h"

namespace tarn {
namespace scanner {
namespace {

class posix_output : public line_output {
 public:
  std::error_code open(const std::string& path) { return out_.create(path); }
  std::error_code write_line(const std::string& line) override { return out_.write_line(line); }
  std::error_code close() override { return out_.close(); }

 private:
  os::file_writer out_;
};

class posix_input : public line_input {
 public:
  std::error_code open(const std::string& path) { return in_.open(path); }
  std::error_code seek(std::uint64_t offset) {
    return in_.seek(static_cast<std::int64_t>(offset));
  }
  bool next(std::string* line) override { return in_.next(line); }
  std::error_code error() const override { return in_.error(); }

 private:
  os::line_reader in_;
};

class posix_files : public local_files {
 public:
  std::error_code create(const std::string& path, std::unique_ptr<line_output>* out) override {
    auto file = std::make_unique<posix_output>();
    if (std::error_code ec = file->open(path)) return ec;
    *out = std::move(file);
    return os::no_error();
  }

  std::error_code read_lines(const std::string& path, std::unique_ptr<line_input>* out) override {
    auto file = std::make_unique<posix_input>();
    if (std::error_code ec = file->open(path)) return ec;
    *out = std::move(file);
    return os::no_error();
  }

  std::error_code read_lines_from(const std::string& path, std::uint64_t offset,
                                  std::unique_ptr<line_input>* out) override {
    auto file = std::make_unique<posix_input>();
    if (std::error_code ec = file->open(path)) return ec;
    if (std::error_code ec = file->seek(offset)) return ec;
    *out = std::move(file);
    return os::no_error();
  }

  std::error_code rename(const std::string& from, const std::string& to) override {
    return os::rename_file(from, to);
  }

  std::error_code remove(const std::string& path) override { return os::remove_file(path); }

  std::error_code list(const std::string& directory, std::list<std::string>* names) override {
    return os::list_directory(directory, names);
  }

  std::error_code read_xattr(const std::string& path, const char* name,
                             std::string* value) override {
    // Identifiers (16 bytes) and most paths fit at once; only a longer value
    // is measured and read again.
    char buffer[256];
    ssize_t length = 0;
    std::error_code ec = os::get_xattr(path, name, buffer, sizeof buffer, &length);
    if (!ec) {
      value->assign(buffer, static_cast<std::size_t>(length));
      return ec;
    }
    if (ec.value() != ERANGE) return ec;
    return os::get_xattr_value(path, name, value);
  }

  std::error_code link_count(const std::string& path, unsigned long* links) override {
    return os::link_count(path, links);
  }
};

}  // namespace

local_files& posix_local_files() {
  static posix_files* const files = new posix_files;  // never destroyed: threads may still call
  return *files;
}

namespace {
thread_local local_files* in_force = nullptr;
}  // namespace

local_files& local_side() { return in_force != nullptr ? *in_force : env_in_force().files(); }

scoped_local_side::scoped_local_side(local_files& files) : scoped_in_force(in_force, files) {}

}  // namespace scanner
}  // namespace tarn
