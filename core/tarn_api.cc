// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The facade over the volume backends.
#include "core/tarn_api.h"

#include <cerrno>

#include "core/platform.h"
#include "core/volume_backend.h"

namespace tarn {

namespace tarn_iopx {
tarn_iopx::tarn_iopx(std::shared_ptr<core::volume_backend> backend)
    : backend_(std::move(backend)) {}
tarn_iopx::~tarn_iopx() = default;
}  // namespace tarn_iopx

namespace tarn_file {
tarn_file::tarn_file(std::unique_ptr<core::backend_file> file) : file_(std::move(file)) {}

tarn_file::~tarn_file() {
  // A handle dropped without close: close it; nobody is left to hear the result.
  if (file_) file_->close();
}

int64_t tarn_file::get_file_size() const {
  if (!file_) return -1;
  int64_t size = -1;
  if (file_->size(&size)) return -1;
  return size;
}

std::unique_ptr<core::backend_file> tarn_file::release() { return std::move(file_); }
}  // namespace tarn_file

tarn_api::tarn_api() : open_volume_(core::open_default_backend) {}
tarn_api::tarn_api(volume_opener open) : open_volume_(std::move(open)) {}
tarn_api::~tarn_api() = default;

// A failure stays in last_error() until the next one; a success leaves it.
std::error_code tarn_api::noted(std::error_code ec) {
  ec = os::as_result(ec);
  if (ec) last_error_ = ec;
  return ec;
}

boost::shared_ptr<tarn_iopx::tarn_iopx> tarn_api::init(
    iopx_tree_cfg cfg, boost::shared_ptr<tarn_aio_result> /*aio*/) {
  std::shared_ptr<core::volume_backend> backend;
  last_error_ = open_volume_(cfg, &backend);
  if (last_error_ || !backend) {
    if (!last_error_) last_error_ = os::error_from(EIO);
    logger_.error("tarn_api::init", "Cannot open volume %s: %s", cfg.volume.c_str(),
                  last_error_.message().c_str());
    return boost::shared_ptr<tarn_iopx::tarn_iopx>();
  }
  return boost::shared_ptr<tarn_iopx::tarn_iopx>(new tarn_iopx::tarn_iopx(std::move(backend)));
}

boost::shared_ptr<tarn_file::tarn_file> tarn_api::open(
    boost::shared_ptr<tarn_iopx::tarn_iopx> iopx, std::string path, int flags,
    boost::shared_ptr<tarn_aio_result> /*aio*/) {
  if (!iopx) {
    last_error_ = os::error_from(ENXIO);
    return boost::shared_ptr<tarn_file::tarn_file>();
  }
  std::unique_ptr<core::backend_file> file;
  last_error_ = iopx->backend().open(path, flags, &file);
  if (last_error_ || !file) {
    if (!last_error_) last_error_ = os::error_from(EIO);
    return boost::shared_ptr<tarn_file::tarn_file>();
  }
  return boost::shared_ptr<tarn_file::tarn_file>(new tarn_file::tarn_file(std::move(file)));
}

std::error_code tarn_api::close(boost::shared_ptr<tarn_file::tarn_file> file,
                                boost::shared_ptr<tarn_aio_result> /*aio*/) {
  if (!file || !file->is_open()) return noted(os::error_from(EBADF));
  std::unique_ptr<core::backend_file> f = file->release();
  return noted(f->close());
}

std::error_code tarn_api::mkdir(boost::shared_ptr<tarn_iopx::tarn_iopx> iopx, std::string path,
                                unsigned int mode, boost::shared_ptr<tarn_aio_result> /*aio*/) {
  if (!iopx) return noted(os::error_from(ENXIO));
  return noted(iopx->backend().mkdir(path, mode));
}

int64_t tarn_api::write(boost::shared_ptr<tarn_file::tarn_file> file,
                        boost::shared_ptr<tarn_mem::buff> buf, unsigned long size, long offset,
                        int /*flags*/, boost::shared_ptr<tarn_aio_result> /*aio*/) {
  std::error_code ec;
  if (!file || !file->is_open()) {
    ec = os::error_from(EBADF);
  } else if (!buf || size > buf->get_size() || offset < 0) {
    ec = os::error_from(EINVAL);
  } else {
    ec = file->backend()->pwrite(buf->get_base(), size, offset);
  }
  if (!ec) return static_cast<int64_t>(size);
  // The interface's one conversion: an error becomes its negative errno.
  noted(ec);
  return ec.value() > 0 ? -ec.value() : -EIO;
}

std::error_code tarn_api::create_empty(boost::shared_ptr<tarn_iopx::tarn_iopx> iopx,
                                       std::string path) {
  if (!iopx) return noted(os::error_from(ENXIO));
  return noted(iopx->backend().make_file(path));
}

std::error_code tarn_api::unlink(boost::shared_ptr<tarn_iopx::tarn_iopx> iopx, std::string path,
                                 boost::shared_ptr<tarn_aio_result> /*aio*/) {
  if (!iopx) return noted(os::error_from(ENXIO));
  return noted(iopx->backend().unlink(path));
}

std::error_code tarn_api::rename(boost::shared_ptr<tarn_iopx::tarn_iopx> iopx, std::string from,
                                 std::string to) {
  if (!iopx) return noted(os::error_from(ENXIO));
  return noted(iopx->backend().rename(from, to));
}

std::error_code tarn_api::read_file(boost::shared_ptr<tarn_iopx::tarn_iopx> iopx,
                                    std::string path, std::size_t max, std::string* out) {
  if (!iopx) return noted(os::error_from(ENXIO));
  out->clear();
  return noted(iopx->backend().read_file(path, max, out));
}

}  // namespace tarn
