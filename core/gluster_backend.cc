// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Files and directories of a GlusterFS volume over a shared libgfapi
// connection.
#include "core/gluster_backend.h"

#include <fcntl.h>

#include <cerrno>
#include <chrono>

#include "core/exclusive_create.h"
#include "core/gfapi_calls.h"
#include "core/gluster_connection.h"
#include "core/tarn_debug.h"
#include "core/write_coalescer.h"

namespace tarn {
namespace core {
namespace {

constexpr mode_t kFileMode = 0644;
// A file that appears and disappears between our open and create attempts is
// tried again this many times before the error is returned.
constexpr int kCreateAttempts = 4;

tarn_debug::tarn_debug& logger() {
  static tarn_debug::tarn_debug* l = new tarn_debug::tarn_debug;
  return *l;
}

class gluster_file : public backend_file {
 public:
  gluster_file(std::shared_ptr<gluster_connection> connection, glfs_fd* fd)
      : connection_(std::move(connection)), fd_(fd) {}

  std::error_code pwrite(const void* data, std::size_t n, int64_t offset) override {
    if (!fd_) return std::error_code(EBADF, std::generic_category());
    std::error_code ec = gfapi::pwrite_all(fd_.get(), data, n, offset);
    if (ec) {
      logger().error("gluster_backend::write", "Write of %zu bytes at %lld on volume %s: %s", n,
                     static_cast<long long>(offset), connection_->volume().c_str(),
                     ec.message().c_str());
    }
    return ec;
  }

  std::error_code size(int64_t* out) override {
    if (!fd_) return std::error_code(EBADF, std::generic_category());
    return gfapi::file_size(fd_.get(), out);
  }

  std::error_code close() override {
    if (!fd_) return std::error_code(EBADF, std::generic_category());
    return fd_.close();
  }

 private:
  std::shared_ptr<gluster_connection> connection_;  // outlives fd_
  gfapi::unique_fd fd_;
};

// The handle of a file that a helper created exclusively (see
// exclusive_create.h). The helper closed it; the file is empty and is never
// written through this handle.
class created_file : public backend_file {
 public:
  std::error_code pwrite(const void*, std::size_t, int64_t) override {
    return std::error_code(EBADF, std::generic_category());
  }
  std::error_code size(int64_t* out) override {
    *out = 0;
    return std::error_code();
  }
  std::error_code close() override { return std::error_code(); }
};

class gluster_backend : public volume_backend {
 public:
  gluster_backend(std::shared_ptr<gluster_connection> connection, gluster_server server)
      : connection_(std::move(connection)), server_(std::move(server)) {}
  // Helpers of given-up creates that have ended since are reaped here too.
  ~gluster_backend() override { reap_create_helpers(); }

  std::error_code open(const std::string& path, int flags,
                       std::unique_ptr<backend_file>* out) override {
    std::string abs;
    if (std::error_code ec = absolute(path, &abs)) return ec;
    if ((flags & O_CREAT) && (flags & O_EXCL)) return create_exclusively_in_helper(abs, flags, out);
    glfs_fd* fd = nullptr;
    std::error_code ec;
    if ((flags & O_CREAT) && (flags & O_TRUNC)) {
      // Created or truncated in one round trip.
      ec = gfapi::creat(fs(), abs, flags, kFileMode, &fd);
    } else if (flags & O_CREAT) {
      ec = open_or_create(abs, flags & ~O_CREAT, &fd);
    } else {
      ec = gfapi::open(fs(), abs, flags, &fd);
    }
    if (ec) {
      report("gluster_backend::open", "Open", abs, ec);
      return ec;
    }
    std::unique_ptr<backend_file> file = std::make_unique<gluster_file>(connection_, fd);
    *out = std::make_unique<coalescing_file>(std::move(file));
    return std::error_code();
  }

  std::error_code mkdir(const std::string& path, unsigned int mode) override {
    std::string abs;
    if (std::error_code ec = absolute(path, &abs)) return ec;
    std::error_code ec = gfapi::mkdir(fs(), abs, static_cast<mode_t>(mode));
    if (ec) report("gluster_backend::mkdir", "Mkdir", abs, ec);
    return ec;
  }

  std::error_code make_file(const std::string& path) override {
    std::string abs;
    if (std::error_code ec = absolute(path, &abs)) return ec;
    std::error_code ec = gfapi::make_file(fs(), abs, kFileMode);
    if (ec && ec.value() != EEXIST) report("gluster_backend::make_file", "Mknod", abs, ec);
    return ec;
  }

  std::error_code unlink(const std::string& path) override {
    std::string abs;
    if (std::error_code ec = absolute(path, &abs)) return ec;
    std::error_code ec = gfapi::unlink(fs(), abs);
    if (ec) report("gluster_backend::unlink", "Unlink", abs, ec);
    return ec;
  }

  std::error_code rename(const std::string& from, const std::string& to) override {
    std::string abs_from, abs_to;
    if (std::error_code ec = absolute(from, &abs_from)) return ec;
    if (std::error_code ec = absolute(to, &abs_to)) return ec;
    std::error_code ec = gfapi::rename(fs(), abs_from, abs_to);
    if (ec) report("gluster_backend::rename", "Rename", abs_from, ec);
    return ec;
  }

  std::error_code read_file(const std::string& path, std::size_t max,
                            std::string* out) override {
    std::string abs;
    if (std::error_code ec = absolute(path, &abs)) return ec;
    glfs_fd* opened = nullptr;
    if (std::error_code ec = gfapi::open(fs(), abs, O_RDONLY, &opened)) return ec;
    const gfapi::unique_fd owned(opened);
    glfs_fd* fd = owned.get();
    // One byte more than allowed tells a file that is too long.
    out->assign(max + 1, '\0');
    std::size_t done = 0;
    std::error_code ec;
    while (done < out->size()) {
      std::size_t got = 0;
      if ((ec = gfapi::pread(fd, &(*out)[done], out->size() - done,
                             static_cast<int64_t>(done), &got))) {
        break;
      }
      if (got == 0) break;
      done += got;
    }
    out->resize(done);
    if (!ec && done > max) ec = std::error_code(EFBIG, std::generic_category());
    return ec;
  }

 private:
  glfs* fs() const { return connection_->fs(); }

  // The exclusive create, in a helper process that is given up in time.
  std::error_code create_exclusively_in_helper(const std::string& abs, int flags,
                                               std::unique_ptr<backend_file>* out) {
    create_helper_args request;
    request.volume = connection_->volume();
    request.host = server_.host;
    request.port = server_.port;
    request.path = abs;
    request.flags = flags;
    request.mode = kFileMode;
    create_stage stage;
    std::error_code ec =
        create_exclusively(request, std::chrono::seconds(kExclusiveCreateTimeoutSeconds), &stage);
    if (ec) {
      report_exclusive_create(abs, ec, stage);
      return ec;
    }
    *out = std::make_unique<created_file>();
    return std::error_code();
  }

  // glfs_open cannot create, and glfs_creat of an existing file may truncate
  // it: open first, create exclusively when missing, and open again when
  // another client created the file in between.
  std::error_code open_or_create(const std::string& abs, int flags, glfs_fd** fd) {
    std::error_code ec;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
      ec = gfapi::open(fs(), abs, flags, fd);
      if (ec.value() != ENOENT) return ec;
      ec = gfapi::creat(fs(), abs, flags | O_CREAT | O_EXCL, kFileMode, fd);
      if (ec.value() != EEXIST) return ec;
    }
    return ec;
  }

  // Logs a failed exclusive create with the stage it failed in. A file that
  // exists is the answer, not a fault.
  void report_exclusive_create(const std::string& abs, const std::error_code& ec,
                               create_stage stage) const {
    const char* volume = connection_->volume().c_str();
    if (stage == create_stage::starting) {
      logger().error("gluster_backend::open",
                     "Cannot run tarn-create-exclusive, the helper program for exclusive "
                     "creates: %s (TARN_CREATE_HELPER may name it)",
                     ec.message().c_str());
    } else if (ec.value() == ETIMEDOUT) {
      logger().error(
          "gluster_backend::open", "Exclusive create of %s on volume %s given up after %d s: %s",
          abs.c_str(), volume, kExclusiveCreateTimeoutSeconds,
          stage == create_stage::creating ? "the create did not return"
                                          : "no connection to the volume was made in time");
    } else if (stage == create_stage::connecting) {
      logger().error("gluster_backend::open",
                     "Exclusive create of %s on volume %s failed: cannot connect to the volume: %s",
                     abs.c_str(), volume, ec.message().c_str());
    } else {
      report("gluster_backend::open", "Exclusive create", abs, ec);
    }
  }

  static std::error_code absolute(const std::string& path, std::string* abs) {
    std::string rel;
    if (std::error_code ec = normalize_volume_path(path, &rel)) return ec;
    *abs = "/" + rel;
    return std::error_code();
  }

  // Logs a failure of the volume. An entry that exists or does not is the
  // answer to the call (a lock held elsewhere, a directory made before), not
  // a fault, and is left to the caller.
  void report(const char* function, const char* what, const std::string& abs,
              const std::error_code& ec) const {
    if (ec.value() == EEXIST || ec.value() == ENOENT) return;
    logger().error(function, "%s of %s on volume %s failed: %s", what, abs.c_str(),
                   connection_->volume().c_str(), ec.message().c_str());
  }

  std::shared_ptr<gluster_connection> connection_;
  gluster_server server_;  // for the helpers' connections
};

}  // namespace

std::error_code open_gluster_backend(const iopx_tree_cfg& cfg,
                                     std::shared_ptr<volume_backend>* out) {
  if (!cfg.fs_type.empty() && cfg.fs_type != "glusterfs") {
    return std::error_code(EINVAL, std::generic_category());
  }
  gluster_server server;
  if (std::error_code ec = gluster_server_for(cfg, &server)) return ec;
  std::shared_ptr<gluster_connection> connection;
  if (std::error_code ec = acquire_gluster_connection(cfg.volume, server, &connection)) {
    return ec;
  }
  *out = std::make_shared<gluster_backend>(std::move(connection), server);
  return std::error_code();
}

}  // namespace core
}  // namespace tarn
