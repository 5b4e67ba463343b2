// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The process and socket calls behind core/child_process.h.
#include "core/child_process.h"
#include "core/platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <set>
#include <thread>

extern char** environ;

namespace tarn {
namespace core {
namespace {


// Milliseconds left until `deadline` for poll(2): -1 without a deadline.
int poll_timeout(const steady_time* deadline) {
  if (deadline == nullptr) return -1;
  auto left =
      std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// The spawn attributes and file actions of a helper, released when done.
class spawn_setup {
 public:
  explicit spawn_setup(int child_end) {
    posix_spawnattr_init(&attr_);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr_, &none);
    posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK);
    posix_spawn_file_actions_init(&actions_);
    // dup2 onto the same number clears close-on-exec, so any descriptor
    // number of the child's end works; /dev/null is opened after it.
    posix_spawn_file_actions_adddup2(&actions_, child_end, 0);
    posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions_, 1, 2);
    // A helper may outlive the call that started it; it must not hold the
    // host's files, pipes or sockets open meanwhile.
    posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
  }
  ~spawn_setup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  spawn_setup(const spawn_setup&) = delete;
  spawn_setup& operator=(const spawn_setup&) = delete;

  const posix_spawnattr_t* attr() const { return &attr_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
};

// The process groups of the shells run_shell runs, and whether runs are
// stopped. Never destroyed: a run may end while the process exits.
struct shell_runs {
  std::mutex mu;
  std::set<pid_t> groups;  // guarded by mu
  bool stopped = false;    // guarded by mu
};

shell_runs& runs() {
  static shell_runs* all = new shell_runs;
  return *all;
}

// The spawn attributes of a shell: a process group of its own, whose leader
// it is, so that stop_runs() reaches what it started, too.
class shell_setup {
 public:
  explicit shell_setup(int output_end) {
    posix_spawnattr_init(&attr_);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr_, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signo : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) sigaddset(&defaults, signo);
    posix_spawnattr_setsigdefault(&attr_, &defaults);
    posix_spawnattr_setpgroup(&attr_, 0);
    posix_spawnattr_setflags(&attr_,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    posix_spawn_file_actions_init(&actions_);
    if (output_end >= 0) posix_spawn_file_actions_adddup2(&actions_, output_end, 1);
  }
  ~shell_setup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  shell_setup(const shell_setup&) = delete;
  shell_setup& operator=(const shell_setup&) = delete;

  const posix_spawnattr_t* attr() const { return &attr_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
};

// True while any process of group `group` exists.
bool group_exists(pid_t group) { return ::kill(-group, 0) == 0 || errno == EPERM; }

}  // namespace

int run_shell(const std::string& command, std::string* output) {
  int pipe_ends[2] = {-1, -1};
  if (output != nullptr && ::pipe2(pipe_ends, O_CLOEXEC) != 0) return -1;
  os::unique_fd read_end(pipe_ends[0]);
  os::unique_fd write_end(pipe_ends[1]);
  std::string sh = "/bin/sh", dash_c = "-c", line = command;
  char* args[] = {&sh[0], &dash_c[0], &line[0], nullptr};
  pid_t pid = -1;
  int e = 0;
  {
    shell_setup setup(pipe_ends[1]);
    std::lock_guard<std::mutex> hold(runs().mu);
    if (runs().stopped) {
      e = ECANCELED;
    } else {
      e = posix_spawn(&pid, sh.c_str(), setup.actions(), setup.attr(), args, environ);
      if (e == 0) runs().groups.insert(pid);
    }
  }
  write_end.reset();  // the child's now; the read below ends when it closes it
  if (e != 0) {
    read_end.reset();
    errno = e;  // posix_spawn returns its error; the caller reads errno
    return -1;
  }
  if (output != nullptr) {
    char buffer[4096];
    for (;;) {
      ssize_t n = ::read(read_end.get(), buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      output->append(buffer, static_cast<std::size_t>(n));
    }
    read_end.reset();
  }
  int status = 0;
  pid_t r;
  while ((r = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  const int wait_error = errno;
  {
    std::lock_guard<std::mutex> hold(runs().mu);
    runs().groups.erase(pid);
  }
  if (r == pid) return status;
  errno = wait_error;
  return -1;
}

void stop_runs(std::chrono::milliseconds grace) {
  std::set<pid_t> groups;
  {
    std::lock_guard<std::mutex> hold(runs().mu);
    runs().stopped = true;
    groups = runs().groups;
  }
  for (pid_t group : groups) ::kill(-group, SIGTERM);
  const steady_time deadline = std::chrono::steady_clock::now() + grace;
  while (!groups.empty() && std::chrono::steady_clock::now() < deadline) {
    for (auto it = groups.begin(); it != groups.end();) {
      bool leader_running;
      {
        std::lock_guard<std::mutex> hold(runs().mu);
        leader_running = runs().groups.count(*it) > 0;
      }
      if (!group_exists(*it)) {
        it = groups.erase(it);
      } else if (!leader_running) {
        // The shell has ended and was reaped; what is left of its group
        // (processes that outlived it, zombies nobody reaps) goes now. While
        // the group has members its number is not given to another.
        ::kill(-*it, SIGKILL);
        it = groups.erase(it);
      } else {
        ++it;
      }
    }
    if (!groups.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (pid_t group : groups) ::kill(-group, SIGKILL);
}

void resume_runs() {
  std::lock_guard<std::mutex> hold(runs().mu);
  runs().stopped = false;
}

channel& channel::operator=(channel&& other) noexcept {
  if (this != &other) {
    fd_ = std::move(other.fd_);
    pending_ = std::move(other.pending_);
  }
  return *this;
}

std::error_code channel::send(const std::string& data) {
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::send(fd_.get(), p, left, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return os::last_error();
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return std::error_code();
}

std::error_code channel::receive_line(const steady_time* deadline, std::string* line) {
  for (;;) {
    std::string::size_type end = pending_.find('\n');
    if (end != std::string::npos) {
      *line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return std::error_code();
    }
    struct pollfd p = {fd_.get(), POLLIN, 0};
    int ready = ::poll(&p, 1, poll_timeout(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return os::last_error();
    }
    if (ready == 0) return os::error_from(ETIMEDOUT);
    char buf[256];
    ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return os::last_error();
    }
    if (n == 0) {
      line->clear();
      return std::error_code();
    }
    pending_.append(buf, static_cast<std::size_t>(n));
  }
}

void channel::close() { fd_.reset(); }

std::error_code child_process::start(const std::vector<std::string>& argv, child_process* out) {
  if (argv.empty()) return os::error_from(EINVAL);
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return os::last_error();
  channel parent_end(ends[0]);
  channel child_end(ends[1]);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int e;
  {
    spawn_setup setup(ends[1]);
    e = posix_spawn(&pid, args[0], setup.actions(), setup.attr(), args.data(), environ);
  }
  if (e != 0) return os::error_from(e);
  out->pid_ = pid;
  out->channel_ = std::move(parent_end);
  return std::error_code();
}

bool is_executable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

std::string directory_of_code(const void* address) {
  Dl_info info;
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return "";
  std::string holder = info.dli_fname;
  std::string::size_type slash = holder.rfind('/');
  return slash == std::string::npos ? "." : holder.substr(0, slash);
}

bool reap_if_exited(pid_t pid) {
  for (;;) {
    int status;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return true;
    if (r == 0) return false;
    if (errno != EINTR) return true;  // ECHILD: reaped by someone else
  }
}

void wait_for_exit(pid_t pid) {
  int status;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace core
}  // namespace tarn
