// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "unit/fault_files.h"

#include <utility>

namespace tarn {
namespace testing_util {
namespace {

std::error_code os_error(int e) { return std::error_code(e, std::generic_category()); }

bool ends_with(const std::string& path, const std::string& match) {
  return path.size() >= match.size() &&
         path.compare(path.size() - match.size(), match.size(), match) == 0;
}

class fault_output : public scanner::line_output {
 public:
  fault_output(std::unique_ptr<scanner::line_output> target, std::string path, fault_files* plan)
      : target_(std::move(target)), path_(std::move(path)), plan_(plan) {}

  std::error_code write_line(const std::string& line) override {
    if (int e = plan_->enter(local_call::write, path_)) return os_error(e);
    return target_->write_line(line);
  }

  // A failing close still closes, as a file system reporting a late write
  // error does.
  std::error_code close() override {
    int e = plan_->enter(local_call::close, path_);
    std::error_code ec = target_->close();
    return e != 0 ? os_error(e) : ec;
  }

 private:
  std::unique_ptr<scanner::line_output> target_;
  std::string path_;
  fault_files* plan_;
};

}  // namespace

void fault_files::fail(local_call op, int nth, int error, const std::string& match) {
  std::lock_guard<std::mutex> lock(mu_);
  rules_.push_back(rule{op, match, nth, error});
}

int fault_files::calls(local_call op, const std::string& match) const {
  std::lock_guard<std::mutex> lock(mu_);
  int n = 0;
  for (const auto& call : seen_) {
    if (call.first == op && ends_with(call.second, match)) ++n;
  }
  return n;
}

int fault_files::enter(local_call op, const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  seen_.emplace_back(op, path);
  int error = 0;
  for (rule& r : rules_) {
    if (r.op != op || r.remaining <= 0 || !ends_with(path, r.match)) continue;
    if (--r.remaining == 0 && error == 0) error = r.error;
  }
  return error;
}

std::error_code fault_files::create(const std::string& path,
                                    std::unique_ptr<scanner::line_output>* out) {
  if (int e = enter(local_call::create, path)) return os_error(e);
  std::unique_ptr<scanner::line_output> file;
  if (std::error_code ec = attribute_files::create(path, &file)) return ec;
  out->reset(new fault_output(std::move(file), path, this));
  return std::error_code();
}

std::error_code fault_files::read_lines(const std::string& path,
                                        std::unique_ptr<scanner::line_input>* out) {
  if (int e = enter(local_call::read_lines, path)) return os_error(e);
  return attribute_files::read_lines(path, out);
}

std::error_code fault_files::rename(const std::string& from, const std::string& to) {
  if (int e = enter(local_call::rename, from)) return os_error(e);
  return attribute_files::rename(from, to);
}

std::error_code fault_files::remove(const std::string& path) {
  if (int e = enter(local_call::remove, path)) return os_error(e);
  return attribute_files::remove(path);
}

std::error_code fault_files::read_xattr(const std::string& path, const char* name,
                                        std::string* value) {
  if (int e = enter(local_call::read_xattr, path)) return os_error(e);
  return attribute_files::read_xattr(path, name, value);
}

}  // namespace testing_util
}  // namespace tarn
