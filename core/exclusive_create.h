// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Exclusive create of a file on a GlusterFS volume in a helper process of its
// own, given up when it does not answer within a bounded time.
//
// Why a process: on a volume that distributes over two or more subvolumes, a
// create that loses a race for a name can loop inside libgfapi's client until
// the winner removes the file, and then succeed. libgfapi cannot cancel a
// call, so the call is made where it can be left behind: in a helper with a
// connection of its own, which the library stops listening to when time is
// up. Ending the helper instead is not safe: a create already on its way to
// a brick still lands after the helper is gone, and the file would stay
// with nobody to remove it. A helper that was given up therefore runs on
// until its call returns: when its own create then succeeds, it removes that
// file at once. Its cost (a process, a connection, CPU on the client and the
// bricks) ends at best right after it was given up (one given up while it
// connected creates nothing), at worst when the winner removes its file, or,
// on a volume that stopped answering, when libgfapi's own timeouts end the
// call. Its messages go to TARN_LOG_FILE when set; its standard error is
// /dev/null.
#ifndef TARN_CORE_EXCLUSIVE_CREATE_H_
#define TARN_CORE_EXCLUSIVE_CREATE_H_

#include <chrono>
#include <cstddef>
#include <string>
#include <system_error>

#include "core/create_helper_protocol.h"

namespace tarn {
namespace core {

// How far an attempt had come when it ended.
enum class create_stage { starting, connecting, creating };

// Creates `request.path` exclusively on `request.volume` through the helper
// program (find_create_helper), waiting at most `limit` for the outcome.
//   success    this call created the file; it exists, empty and closed, and
//              stays until someone removes it;
//   EEXIST     the file exists; other libgfapi errors as the helper got them;
//   ETIMEDOUT  no outcome within `limit`: the attempt is given up and any file
//              it creates later is removed by its helper;
//   EIO        the helper ended without an outcome;
//   ENOENT and the like when no helper can be found or run.
// Never waits much longer than `limit`. *stage tells how far the attempt came.
// Thread-safe.
std::error_code create_exclusively(const create_helper_args& request,
                                   std::chrono::milliseconds limit, create_stage* stage);

// Reaps the helpers that were given up (or left finishing) and have ended
// since; returns how many still run. create_exclusively calls it on every
// attempt, so ended helpers never pile up. Thread-safe.
std::size_t reap_create_helpers();

// The helper program: the file named by the environment variable
// TARN_CREATE_HELPER when set, else "tarn-create-exclusive" in the
// installation's libexec directory "tarn" (found relative to the directory of
// the library, or program, that holds this code), else beside the library
// (the build tree). ENOENT when none is executable; *path is set on success
// only.
std::error_code find_create_helper(std::string* path);

}  // namespace core
}  // namespace tarn

#endif  // TARN_CORE_EXCLUSIVE_CREATE_H_
