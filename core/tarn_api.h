// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The core I/O library: the facade `tarn_api` through which the scanner opens
// a volume and creates, writes and removes files and directories in it.
#ifndef TARN_CORE_TARN_API_H_
#define TARN_CORE_TARN_API_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

#include <boost/shared_ptr.hpp>

#include "core/tarn_debug.h"
#include "core/tarn_export.h"
#include "core/tarn_mem.h"

namespace tarn {

namespace core {
class volume_backend;
class backend_file;
}  // namespace core

// Which volume an I/O tree opens.
struct TARN_EXPORT iopx_tree_cfg {
  std::string fs_type;  // "glusterfs"
  std::string volume;   // the volume's name
  // glusterd serving the volume's description, "HOST[:PORT]". Empty: the
  // environment variable TARN_GLUSTER_SERVER, else 127.0.0.1:24007.
  std::string server;
  std::string options;  // unused
};

// How long an exclusive create (O_CREAT|O_EXCL) on a GlusterFS volume may
// take before tarn_api::open gives it up with ETIMEDOUT. A normal one takes
// tens of milliseconds; one that loses a race for the name on a distribute
// volume may otherwise not return until the winner removes the file.
constexpr int kExclusiveCreateTimeoutSeconds = 5;

// Result of an asynchronous call. Every call of this library is synchronous
// and is passed an empty handle.
class tarn_aio_result;

namespace tarn_iopx {

// An open volume (an "I/O-proxy tree"). Shared by every handle made from it.
class TARN_EXPORT tarn_iopx {
 public:
  explicit tarn_iopx(std::shared_ptr<core::volume_backend> backend);
  ~tarn_iopx();
  tarn_iopx(const tarn_iopx&) = delete;
  tarn_iopx& operator=(const tarn_iopx&) = delete;

  core::volume_backend& backend() const { return *backend_; }

 private:
  std::shared_ptr<core::volume_backend> backend_;
};

}  // namespace tarn_iopx

namespace tarn_file {

// An open file of a volume. Closed by tarn_api::close; a handle dropped
// without close is closed quietly by its destructor.
class TARN_EXPORT tarn_file {
 public:
  explicit tarn_file(std::unique_ptr<core::backend_file> file);
  ~tarn_file();
  tarn_file(const tarn_file&) = delete;
  tarn_file& operator=(const tarn_file&) = delete;

  // Size in bytes, including data written through this handle; -1 when the
  // size cannot be read or the file is closed.
  int64_t get_file_size() const;

  bool is_open() const { return file_ != nullptr; }
  core::backend_file* backend() const { return file_.get(); }
  // Gives up the backend file (for close); the handle is closed afterwards.
  std::unique_ptr<core::backend_file> release();

 private:
  std::unique_ptr<core::backend_file> file_;
};

}  // namespace tarn_file

// The I/O facade. One object per user (the scanner makes one). Not
// thread-safe as a whole; the logger it carries is.
class TARN_EXPORT tarn_api {
 public:
  // How init opens the volume a configuration names. The scanner opens it
  // through its run environment, tests through a wrapper that fails calls.
  using volume_opener = std::function<std::error_code(
      const iopx_tree_cfg& cfg, std::shared_ptr<core::volume_backend>* out)>;

  // Opens volumes as init describes.
  tarn_api();
  // Opens volumes with `open`, which init calls, and nothing else.
  explicit tarn_api(volume_opener open);
  ~tarn_api();
  tarn_api(const tarn_api&) = delete;
  tarn_api& operator=(const tarn_api&) = delete;

  // Opens the volume named by `cfg`. Empty handle when it cannot be opened.
  // Unless this object was given an opener: with TARN_LOCAL_VOLUME_ROOT
  // set, volume V is the local directory $TARN_LOCAL_VOLUME_ROOT/V;
  // otherwise it is the GlusterFS volume V, over
  // a connection that every tarn_api of the process shares and that lasts as
  // long as the process (the first init connects, later ones cost nothing).
  boost::shared_ptr<tarn_iopx::tarn_iopx> init(
      iopx_tree_cfg cfg,
      boost::shared_ptr<tarn_aio_result> aio = boost::shared_ptr<tarn_aio_result>());

  // Opens `path` of the volume with open(2) flags. O_CREAT|O_EXCL creates
  // exclusively (fails when the file exists); O_CREAT without O_EXCL creates
  // a missing file and never truncates, unless O_TRUNC is given too: then it
  // creates or truncates in one call. Empty handle on any failure; the
  // reason is then in last_error().
  //
  // On a GlusterFS volume an exclusive create runs in a helper process (the
  // program tarn-create-exclusive, installed with the library) and is given
  // up with ETIMEDOUT after kExclusiveCreateTimeoutSeconds; a file that the
  // given-up create makes later is removed by the helper at once. Its handle
  // stands for the new, empty file: size 0, no writes (EBADF); close does
  // nothing on the volume.
  boost::shared_ptr<tarn_file::tarn_file> open(
      boost::shared_ptr<tarn_iopx::tarn_iopx> iopx, std::string path, int flags,
      boost::shared_ptr<tarn_aio_result> aio = boost::shared_ptr<tarn_aio_result>());

  // Closes `file`. Writes the backend kept back are completed first; any
  // write error not reported yet is reported here. EBADF for a closed handle.
  std::error_code close(
      boost::shared_ptr<tarn_file::tarn_file> file,
      boost::shared_ptr<tarn_aio_result> aio = boost::shared_ptr<tarn_aio_result>());

  // Makes one directory. The error value is 17 (EEXIST) when it exists.
  std::error_code mkdir(
      boost::shared_ptr<tarn_iopx::tarn_iopx> iopx, std::string path, unsigned int mode,
      boost::shared_ptr<tarn_aio_result> aio = boost::shared_ptr<tarn_aio_result>());

  // Writes `size` bytes from the start of `buf` at byte `offset`. Returns the
  // number of bytes written, or a negative errno value on failure. Both
  // backends keep consecutive writes to a file back and write them together,
  // in order (up to 1 MiB on GlusterFS, 64 KiB on a local directory); an
  // error of kept-back bytes is returned by a later write or get_file_size,
  // and by close at the latest. The buffer may be reused as soon as the call
  // returns.
  int64_t write(
      boost::shared_ptr<tarn_file::tarn_file> file, boost::shared_ptr<tarn_mem::buff> buf,
      unsigned long size, long offset, int flags,
      boost::shared_ptr<tarn_aio_result> aio = boost::shared_ptr<tarn_aio_result>());

  // Makes the empty file `path` in one call, where open, create and close
  // take two or three; EEXIST when a file of that name is there.
  std::error_code create_empty(boost::shared_ptr<tarn_iopx::tarn_iopx> iopx, std::string path);
  // Removes a file.
  std::error_code unlink(
      boost::shared_ptr<tarn_iopx::tarn_iopx> iopx, std::string path,
      boost::shared_ptr<tarn_aio_result> aio = boost::shared_ptr<tarn_aio_result>());

  // Additions to the interface the scanner was first written against:
  //
  // Renames the file `from` to `to` in the volume, replacing a file at `to`
  // (rename(2)): readers see either the old file or the new one whole.
  std::error_code rename(boost::shared_ptr<tarn_iopx::tarn_iopx> iopx, std::string from,
                         std::string to);
  // Reads the whole file `path` of the volume into `*out`; EFBIG when it is
  // longer than `max` bytes (then *out holds its first max + 1 bytes).
  std::error_code read_file(boost::shared_ptr<tarn_iopx::tarn_iopx> iopx, std::string path,
                            std::size_t max, std::string* out);

  // A page-aligned buffer of exactly `size` bytes; empty when no memory.
  boost::shared_ptr<tarn_mem::buff> alloc_io_buffer(unsigned long size) {
    boost::shared_ptr<tarn_mem::malloc_intfx> intfx = tarn_mem::get_malloc_intfx();
    if (!intfx) return boost::shared_ptr<tarn_mem::buff>();
    return intfx->posix_memalign(tarn_mem::get_page_size(), size);
  }

  // The cause of the last call of this object that failed, whichever way
  // the call itself reports it (an empty handle, an error code, a negative
  // count); a call that succeeds leaves it. So a caller reads every cause in
  // one place, for a message or a report.
  std::error_code last_error() const { return last_error_; }

 private:
  std::error_code noted(std::error_code ec);

  volume_opener open_volume_;
  tarn_debug::tarn_debug logger_;
  std::error_code last_error_;
};

}  // namespace tarn

#endif  // TARN_CORE_TARN_API_H_
