// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// tarn-create-exclusive: the helper program that makes one exclusive create
// on a GlusterFS volume for the library, over a connection of its own (see
// core/exclusive_create.h). Not meant to be run by hand.
#include <unistd.h>

#include <cstdio>

#include "core/create_helper_protocol.h"
#include "core/gfapi_calls.h"

namespace tarn {
namespace core {
namespace {

class gfapi_operations : public create_operations {
 public:
  explicit gfapi_operations(const create_helper_args& args) : args_(args) {}

  std::error_code connect() override {
    return gfapi::connect(args_.volume, args_.host, args_.port, &fs_);
  }
  std::error_code create(const std::string& path, int flags, mode_t mode) override {
    glfs_fd* fd = nullptr;
    if (std::error_code ec = gfapi::creat(fs_, path, flags, mode, &fd)) return ec;
    // The file exists now; a failed close leaves it so.
    gfapi::unique_fd created(fd);
    return std::error_code();
  }
  std::error_code remove(const std::string& path) override { return gfapi::unlink(fs_, path); }

 private:
  const create_helper_args& args_;
  glfs* fs_ = nullptr;
};

}  // namespace
}  // namespace core
}  // namespace tarn

int main(int argc, char** argv) {
  tarn::core::create_helper_args args;
  if (tarn::core::create_helper_args::parse(argc, argv, &args)) {
    std::fprintf(stderr, "usage: %s VOLUME HOST PORT PATH FLAGS MODE (run by libtarncore)\n",
                 argv[0]);
    return 2;
  }
  tarn::core::gfapi_operations ops(args);
  tarn::core::channel library(0);
  // _exit: the connection is left to the system (finalising one takes
  // seconds) and so are libgfapi's threads.
  _exit(tarn::core::serve_exclusive_create(args, ops, library));
}
