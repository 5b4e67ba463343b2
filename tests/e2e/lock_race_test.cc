// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Processes racing for one session's lock on the real volume, round after
// round: the exclusive create lets exactly one through each time, and the
// lock file goes with its holder's release.
#include <sys/stat.h>

#include <thread>

#include <gtest/gtest.h>

#include "e2e/e2e_util.h"

namespace tarn {
namespace e2e {
namespace {

using testing_util::exists;
using testing_util::list_dir;
using testing_util::read_file;
using testing_util::write_file;

class LockRaceTest : public volume_test {
 protected:
  int count(const std::string& gate, const std::string& prefix) const {
    int n = 0;
    for (const std::string& name : list_dir(gate)) n += name.rfind(prefix, 0) == 0;
    return n;
  }
  // Waits (bounded) for `done` to hold.
  template <typename F>
  bool eventually(F done, int tenths = 600) {
    for (int i = 0; i < tenths; ++i) {
      if (done()) return true;
      pause(0.1);
    }
    return done();
  }

  const std::string session_ = unique_session("race");
};

TEST_F(LockRaceTest, FourProcessesTwentyRoundsOneHolderEachTime) {
  constexpr int kRacers = 4;
  constexpr int kRounds = 20;
  const std::string lock_file = on_mount(volume() + ".lock." + session_);
  for (int r = 0; r < kRounds; ++r) {
    SCOPED_TRACE("round " + std::to_string(r));
    const std::string gate = local_.path("gate" + std::to_string(r));
    mkdir(gate.c_str(), 0755);
    auto result = [&](int i) { return read_file(gate + "/result." + std::to_string(i)); };
    std::vector<std::thread> racers;
    for (int i = 0; i < kRacers; ++i) {
      racers.emplace_back([&, i] {
        sh(quote(TARN_E2E_LOCK_RACER) + " " + quote(volume()) + " " + quote(session_) + " " +
           quote(gate) + " > " + quote(gate + "/result." + std::to_string(i)));
      });
    }
    EXPECT_TRUE(eventually([&] { return count(gate, "ready.") == kRacers; }));
    write_file(gate + "/start", "");
    // The others give up while the holder holds on.
    EXPECT_TRUE(eventually([&] {
      int answered = 0;
      for (int i = 0; i < kRacers; ++i) answered += !result(i).empty();
      return answered == kRacers - 1 && count(gate, "held.") == 1;
    }));
    EXPECT_TRUE(exists(lock_file));
    write_file(gate + "/release", "");
    for (std::thread& t : racers) t.join();

    int holders = 0, busy = 0;
    for (int i = 0; i < kRacers; ++i) {
      holders += result(i) == "0\n";
      busy += result(i) == "16\n";
    }
    EXPECT_EQ(holders, 1);
    EXPECT_EQ(busy, kRacers - 1);
    EXPECT_EQ(count(gate, "held."), 1);
    // The mount may show a removed entry for up to a second.
    ASSERT_TRUE(eventually([&] { return !exists(lock_file); }, 30));
  }
}

}  // namespace
}  // namespace e2e
}  // namespace tarn
