// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// A stand-in for tarn-create-exclusive: the same command line and talk, on a
// local directory (VOLUME is its path). Controlled by the environment:
//   FAKE_CREATE_TRACE             file that gets a line per step
//   FAKE_CREATE_CONNECT_DELAY_MS  sleep before connecting
//   FAKE_CREATE_DELAY_MS          sleep before creating
//   FAKE_CREATE_CONNECT_ERROR     errno that connecting fails with
//   FAKE_CREATE_CRASH             end without an answer once connected
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/create_helper_protocol.h"

namespace {

int env_number(const char* name) {
  const char* value = getenv(name);
  return value != nullptr ? std::atoi(value) : 0;
}

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void trace(const std::string& line) {
  const char* path = getenv("FAKE_CREATE_TRACE");
  if (path == nullptr) return;
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::string text = line + "\n";
  if (write(fd, text.data(), text.size()) < 0) {
  }
  close(fd);
}

std::error_code last_error() { return std::error_code(errno, std::generic_category()); }

class local_operations : public tarn::core::create_operations {
 public:
  explicit local_operations(std::string root) : root_(std::move(root)) {}

  std::error_code connect() override {
    sleep_ms(env_number("FAKE_CREATE_CONNECT_DELAY_MS"));
    if (int e = env_number("FAKE_CREATE_CONNECT_ERROR")) {
      return std::error_code(e, std::generic_category());
    }
    trace("connected");
    if (getenv("FAKE_CREATE_CRASH") != nullptr) _exit(3);
    return std::error_code();
  }
  std::error_code create(const std::string& path, int flags, mode_t mode) override {
    sleep_ms(env_number("FAKE_CREATE_DELAY_MS"));
    int fd = open((root_ + path).c_str(), flags | O_CLOEXEC, mode);
    if (fd < 0) {
      std::error_code ec = last_error();
      trace("failed " + std::to_string(ec.value()));
      return ec;
    }
    close(fd);
    trace("created");
    return std::error_code();
  }
  std::error_code remove(const std::string& path) override {
    if (unlink((root_ + path).c_str()) != 0) return last_error();
    trace("removed");
    return std::error_code();
  }

 private:
  std::string root_;
};

}  // namespace

int main(int argc, char** argv) {
  tarn::core::create_helper_args args;
  if (tarn::core::create_helper_args::parse(argc, argv, &args)) return 2;
  local_operations ops(args.volume);
  tarn::core::channel library(0);
  int status = tarn::core::serve_exclusive_create(args, ops, library);
  trace("exit " + std::to_string(status));
  return status;
}
