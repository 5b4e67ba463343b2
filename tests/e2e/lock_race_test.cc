// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Processes racing for one session's lock, round after round, on the
// single-brick volume and on a distribute volume, where a losing create can
// hang in the client until the holder removes the file. Every round: exactly
// one holder, every other run answers 16 within the bound and never scans
// later, and once the holder is done no lock file and no process is left.
//   TARN_E2E_LOCK_ROUNDS   rounds per volume (default 20)
//   TARN_E2E_LOCK_RACERS   processes per round (default 4)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "core/tarn_api.h"
#include "e2e/e2e_util.h"

extern char** environ;

namespace tarn {
namespace e2e {
namespace {

using testing_util::read_file;
using testing_util::write_file;
using clock_type = std::chrono::steady_clock;

// Time a refused run may take beyond the create's bound: starting the
// helper, scheduling on a loaded machine.
constexpr int kSlackMs = 3000;
// What a refused run's log says of its create.
constexpr char kStuck[] = "the create did not return";
constexpr char kExists[] = "exists: another scan";

int env_int(const char* name, int fallback) {
  const char* value = getenv(name);
  return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

long long ms_since(clock_type::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - start).count();
}

// A glusterfind in front of the fake one that holds every "pre" until the
// test releases it, so that the holder keeps its lock while the others try.
std::string gate_script() {
  return std::string(
             "#!/bin/bash\n"
             "if [ \"$1\" = pre ]; then\n"
             "  touch \"$TARN_E2E_GATE/entered.$$\"\n"
             "  for i in $(seq 2400); do [ -e \"$TARN_E2E_GATE/release\" ] && break; "
             "sleep 0.05; done\n"
             "fi\n"
             "exec ") +
         quote(std::string(TARN_FAKES_DIR) + "/glusterfind") + " \"$@\"\n";
}

struct racer {
  pid_t pid = -1;
  int go = -1;      // its standard input: closing it starts the run
  int answer = -1;  // its standard output
  std::string text;
  bool exited = false;

  bool ready() const { return text.find("ready\n") != std::string::npos; }
  // "<value> <ms>" once the run is over.
  bool answered(int* value, long long* ms) const {
    std::string::size_type start = text.find("ready\n");
    if (start == std::string::npos) return false;
    std::istringstream in(text.substr(start + 6));
    return static_cast<bool>(in >> *value >> *ms);
  }
};

struct figures {
  int rounds = 0, holders = 0, refusals = 0, leftovers = 0, left_running = 0;
  int exists = 0, stuck = 0, other = 0;  // the refusals by reason
  int helpers_left_behind = 0;
  long long slowest_refusal_ms = 0;
  long long latest_helper_end_ms = 0;  // after the holder's release
};

class LockRaceTest : public ::testing::Test {
 protected:
  LockRaceTest() : no_local_volume_("TARN_LOCAL_VOLUME_ROOT") {}

  void SetUp() override {
    // Helpers that outlive their racer come back to this process, which
    // waits for them and so knows when they are all gone.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    gate_ = local_.path("gate");
    mkdir(gate_.c_str(), 0755);
    mkdir(local_.path("bin").c_str(), 0755);
    mkdir(local_.path("state").c_str(), 0755);
    write_file(local_.path("bin/glusterfind"), gate_script());
    chmod(local_.path("bin/glusterfind").c_str(), 0755);
    session_ = unique_session("race");
  }

  // Races `rounds` rounds of `count` processes on `volume`.
  figures race(const std::string& volume, const std::string& mount, int rounds, int count);

 private:
  std::string lock_path() const { return volume_ + ".lock." + session_; }
  static long long bound_ms() { return kExclusiveCreateTimeoutSeconds * 1000LL + kSlackMs; }

  // One round: start the racers, let them go, release the holder once the
  // others have answered, and wait for every process to end.
  void run_round(int round, std::vector<racer>& racers, figures* f);
  // Adds the round's answers to the figures and checks them.
  void tally(int round, const std::vector<racer>& racers, figures* f);
  void start(int i, racer* r);
  // Reads what the racers wrote until `done` holds or `deadline` passes.
  template <typename Done>
  bool read_until(std::vector<racer>& racers, clock_type::time_point deadline, Done done);
  int gate_entries() const;
  // Reaps racers and the helpers they left, for at most `seconds`.
  void reap_all(std::vector<racer>& racers, clock_type::time_point released, int seconds,
                figures* f);
  void check_lock_file(tarn_api& api, const boost::shared_ptr<tarn_iopx::tarn_iopx>& iopx,
                       int round, figures* f);

  testing_util::scoped_env no_local_volume_;
  testing_util::temp_dir local_;
  std::string gate_;
  std::string session_;
  std::string volume_;
  std::string mount_;
};

void LockRaceTest::start(int i, racer* r) {
  int in[2], out[2];
  ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  std::string n = std::to_string(i);
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string var = *e;
    if (var.rfind("PATH=", 0) != 0 && var.rfind("TARN_LOG_FILE=", 0) != 0) env.push_back(var);
  }
  env.push_back("PATH=" + local_.path("bin") + ":" + getenv("PATH"));
  env.push_back("TARN_LOG_FILE=" + local_.path("log." + n));
  env.push_back("TARN_E2E_GATE=" + gate_);
  env.push_back("FAKE_GLUSTERFIND_DIR=" + local_.path("state"));
  std::vector<std::string> args = {TARN_E2E_RACER, volume_, local_.path("out." + n), mount_,
                                   session_};
  std::vector<char*> argv, envp;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  for (std::string& e : env) envp.push_back(&e[0]);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  int e = posix_spawn(&r->pid, TARN_E2E_RACER, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  r->go = in[1];
  r->answer = out[0];
  ASSERT_EQ(e, 0) << "cannot start " << TARN_E2E_RACER;
}

template <typename Done>
bool LockRaceTest::read_until(std::vector<racer>& racers, clock_type::time_point deadline,
                              Done done) {
  while (!done()) {
    long long left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now()).count();
    if (left <= 0) return false;
    std::vector<pollfd> fds;
    for (racer& r : racers) {
      if (r.answer >= 0) fds.push_back({r.answer, POLLIN, 0});
    }
    if (fds.empty()) return done();
    if (poll(fds.data(), fds.size(), static_cast<int>(std::min(left, 200LL))) <= 0) continue;
    for (racer& r : racers) {
      for (const pollfd& p : fds) {
        if (p.fd != r.answer || p.revents == 0) continue;
        char buf[256];
        ssize_t got = read(r.answer, buf, sizeof buf);
        if (got > 0) {
          r.text.append(buf, static_cast<size_t>(got));
        } else {
          close(r.answer);
          r.answer = -1;
        }
      }
    }
  }
  return true;
}

int LockRaceTest::gate_entries() const {
  int n = 0;
  for (const std::string& name : testing_util::list_dir(gate_)) n += name.find("entered") == 0;
  return n;
}

void LockRaceTest::reap_all(std::vector<racer>& racers, clock_type::time_point released,
                            int seconds, figures* f) {
  std::set<pid_t> ours;
  for (const racer& r : racers) ours.insert(r.pid);
  auto deadline = clock_type::now() + std::chrono::seconds(seconds);
  for (;;) {
    int status;
    pid_t pid = waitpid(-1, &status, WNOHANG);
    if (pid > 0) {
      if (ours.count(pid) != 0) {
        for (racer& r : racers) r.exited |= r.pid == pid;
      } else {
        ++f->helpers_left_behind;
        f->latest_helper_end_ms = std::max(f->latest_helper_end_ms, ms_since(released));
      }
      continue;
    }
    if (pid < 0) return;  // ECHILD: nothing of ours is left
    if (clock_type::now() > deadline) break;
    usleep(20000);
  }
  for (racer& r : racers) {
    if (r.exited) continue;
    ++f->left_running;
    kill(r.pid, SIGKILL);  // a racer that hangs; ours to end
    waitpid(r.pid, nullptr, 0);
  }
  if (waitpid(-1, nullptr, WNOHANG) == 0) ++f->left_running;  // a helper still runs
}

void LockRaceTest::check_lock_file(tarn_api& api,
                                   const boost::shared_ptr<tarn_iopx::tarn_iopx>& iopx, int round,
                                   figures* f) {
  const std::string path = lock_path();
  boost::shared_ptr<tarn_file::tarn_file> left = api.open(iopx, path, O_RDONLY);
  if (!left) {
    EXPECT_EQ(api.last_error().value(), ENOENT) << "round " << round;
    return;
  }
  ++f->leftovers;
  ADD_FAILURE() << "round " << round << " left the lock file " << path;
  api.close(left);
  api.unlink(iopx, path);
}

void LockRaceTest::run_round(int round, std::vector<racer>& racers, figures* f) {
  const int count = static_cast<int>(racers.size());
  sh("rm -f " + quote(gate_) + "/* " + quote(local_.path("log")) + ".*");
  for (int i = 0; i < count; ++i) start(i, &racers[i]);
  bool ready = read_until(racers, clock_type::now() + std::chrono::seconds(60), [&] {
    return std::all_of(racers.begin(), racers.end(), [](const racer& r) { return r.ready(); });
  });
  EXPECT_TRUE(ready) << "round " << round << ": racers did not start";
  for (racer& r : racers) close(r.go);  // all go at once

  // The holder reaches the gate and waits there; the others answer.
  auto answers = [&racers] {
    int n = 0, value;
    long long ms;
    for (const racer& r : racers) n += r.answered(&value, &ms);
    return n;
  };
  read_until(racers, clock_type::now() + std::chrono::milliseconds(bound_ms() + 10000),
             [&] { return answers() >= count - 1 && gate_entries() >= 1; });
  EXPECT_EQ(answers(), count - 1) << "round " << round;
  EXPECT_EQ(gate_entries(), 1) << "round " << round << ": one holder scans";
  auto released = clock_type::now();
  write_file(gate_ + "/release", "");
  read_until(racers, clock_type::now() + std::chrono::seconds(60),
             [&] { return answers() == count; });
  reap_all(racers, released, 60, f);
  EXPECT_EQ(gate_entries(), 1) << "round " << round << ": nobody scanned later";
}

void LockRaceTest::tally(int round, const std::vector<racer>& racers, figures* f) {
  int holders = 0;
  std::string logs;
  for (size_t i = 0; i < racers.size(); ++i) {
    int value = -1;
    long long ms = 0;
    racers[i].answered(&value, &ms);
    std::string log = read_file(local_.path("log." + std::to_string(i)));
    logs += "--- racer " + std::to_string(i) + "\n" + log;
    if (value == 0) {
      ++holders;
      continue;
    }
    EXPECT_EQ(value, EBUSY) << "round " << round << " racer " << i << ":\n" << log;
    if (value != EBUSY) continue;
    ++f->refusals;
    if (log.find(kExists) != std::string::npos) {
      ++f->exists;
    } else if (log.find(kStuck) != std::string::npos) {
      ++f->stuck;
    } else {
      ++f->other;
    }
    f->slowest_refusal_ms = std::max(f->slowest_refusal_ms, ms);
    EXPECT_LE(ms, bound_ms()) << "round " << round << " racer " << i;
    EXPECT_NE(log.find("Failed to create lock file " + lock_path() + "on volume " + volume_),
              std::string::npos)
        << log;
  }
  EXPECT_EQ(holders, 1) << "round " << round << ":\n" << logs;
  f->holders += holders;
}

figures LockRaceTest::race(const std::string& volume, const std::string& mount, int rounds,
                           int count) {
  volume_ = volume;
  mount_ = mount;
  figures f;
  tarn_api api;
  iopx_tree_cfg cfg;
  cfg.fs_type = "glusterfs";
  cfg.volume = volume;
  boost::shared_ptr<tarn_iopx::tarn_iopx> iopx = api.init(cfg);
  EXPECT_TRUE(iopx) << "volume " << volume << ": " << api.last_error().message();
  if (!iopx) return f;
  for (int round = 0; round < rounds && !HasFatalFailure(); ++round) {
    std::vector<racer> racers(count);
    run_round(round, racers, &f);
    check_lock_file(api, iopx, round, &f);
    tally(round, racers, &f);
    ++f.rounds;
  }
  sh("rm -rf " + quote(mount + "/.tarn"));
  std::cout << "[ figures  ] volume " << volume << ": " << f.rounds << " rounds of " << count
            << " racers; holders " << f.holders << ", refusals " << f.refusals << " (file exists "
            << f.exists << ", stuck create given up " << f.stuck << ", other " << f.other
            << "), slowest refusal " << f.slowest_refusal_ms
            << " ms, helpers outliving their racer " << f.helpers_left_behind << " (last ended "
            << f.latest_helper_end_ms << " ms after the release)"
            << ", lock files left " << f.leftovers << ", processes left " << f.left_running << "\n";
  return f;
}

void expect_clean(const figures& f, int rounds, int count) {
  EXPECT_EQ(f.rounds, rounds);
  EXPECT_EQ(f.holders, rounds);
  EXPECT_EQ(f.refusals, rounds * (count - 1));
  EXPECT_EQ(f.leftovers, 0);
  EXPECT_EQ(f.left_running, 0);
}

bool is_aux_gfid_mount(const std::string& mount) {
  struct stat st;
  return stat((mount + "/.gfid").c_str(), &st) == 0;
}

TEST_F(LockRaceTest, SingleBrickVolume) {
  ASSERT_TRUE(is_aux_gfid_mount(mount()))
      << mount() << " is not up; start it with scripts/gluster-rig.sh up " << volume();
  int rounds = env_int("TARN_E2E_LOCK_ROUNDS", 20), count = env_int("TARN_E2E_LOCK_RACERS", 4);
  expect_clean(race(volume(), mount(), rounds, count), rounds, count);
}

TEST_F(LockRaceTest, DistributeVolume) {
  ASSERT_TRUE(is_aux_gfid_mount(dist_mount()))
      << dist_mount() << " is not up; start it with scripts/gluster-rig.sh distribute "
      << dist_volume();
  int rounds = env_int("TARN_E2E_LOCK_ROUNDS", 20), count = env_int("TARN_E2E_LOCK_RACERS", 4);
  expect_clean(race(dist_volume(), dist_mount(), rounds, count), rounds, count);
}

}  // namespace
}  // namespace e2e
}  // namespace tarn
