// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The library's side of an exclusive create in a helper process, and the
// helpers it has left behind.
#include "core/exclusive_create.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "core/child_process.h"
#include "core/platform.h"
#include "core/settings.h"

#ifndef TARN_CREATE_HELPER_DIR
#define TARN_CREATE_HELPER_DIR "../libexec/tarn"
#endif

namespace tarn {
namespace core {
namespace {

constexpr char kHelperName[] = "tarn-create-exclusive";


// Helpers not reaped yet: given up, or still exiting when their call
// returned. Never destroyed, like the connections the helpers stand beside.
struct helper_registry {
  std::mutex mutex;
  std::vector<pid_t> pids;
};

helper_registry& registry() {
  static helper_registry* r = new helper_registry;
  return *r;
}

void remember(pid_t pid) {
  helper_registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.pids.push_back(pid);
}

// Stops listening to a helper; it finishes on its own and is reaped later.
void leave_behind(child_process* helper) {
  helper->link().close();
  remember(helper->pid());
}

// A helper with an outcome exits right away: reaped when its end of the
// channel closes before `deadline`, else left to a later reaping.
void finish(child_process* helper, steady_time deadline) {
  std::string line;
  while (!helper->link().receive_line(&deadline, &line)) {
    if (line.empty()) {
      wait_for_exit(helper->pid());
      return;
    }
  }
  leave_behind(helper);
}

}  // namespace

std::error_code create_exclusively(const create_helper_args& request,
                                   std::chrono::milliseconds limit, create_stage* stage) {
  *stage = create_stage::starting;
  reap_create_helpers();
  steady_time deadline = std::chrono::steady_clock::now() + limit;
  std::string program;
  if (std::error_code ec = find_create_helper(&program)) return ec;
  child_process helper;
  if (std::error_code ec = child_process::start(request.to_argv(program), &helper)) return ec;
  *stage = create_stage::connecting;
  for (;;) {
    std::string line;
    if (std::error_code ec = helper.link().receive_line(&deadline, &line)) {
      leave_behind(&helper);
      return ec;
    }
    if (line == kConnectedLine) {
      *stage = create_stage::creating;
      continue;
    }
    int error = 0;
    if (!parse_result_line(line, &error)) {
      finish(&helper, deadline);
      return os::error_from(EIO);
    }
    // The file is this call's whatever becomes of the helper now: only a
    // verdict other than "keep" makes it remove the file.
    if (error == 0) helper.link().send(std::string(kKeepLine) + "\n");
    finish(&helper, deadline);
    return error == 0 ? std::error_code() : os::error_from(error);
  }
}

std::size_t reap_create_helpers() {
  helper_registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.pids.erase(std::remove_if(r.pids.begin(), r.pids.end(), reap_if_exited), r.pids.end());
  return r.pids.size();
}

std::error_code find_create_helper(std::string* path) {
  const std::string named = settings::create_helper();
  if (!named.empty()) {
    if (!is_executable(named)) return os::error_from(ENOENT);
    *path = named;
    return std::error_code();
  }
  std::string dir = directory_of_code(reinterpret_cast<const void*>(&find_create_helper));
  if (dir.empty()) return os::error_from(ENOENT);
  std::string installed(TARN_CREATE_HELPER_DIR);
  if (installed.empty() || installed[0] != '/') installed = dir + "/" + installed;
  for (const std::string& candidate : {installed + "/" + kHelperName, dir + "/" + kHelperName}) {
    if (is_executable(candidate)) {
      *path = candidate;
      return std::error_code();
    }
  }
  return os::error_from(ENOENT);
}

}  // namespace core
}  // namespace tarn
