// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "e2e/scan_fixture.h"

#include <iostream>

namespace tarn {
namespace e2e {

void scan_test::SetUp() {
  volume_test::SetUp();
  if (HasFatalFailure()) return;
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  session_ = unique_session(name.substr(0, 24));
  out_ = local_.path("out");
  populate();
  ASSERT_EQ(pieces_of("app2/big.bin").size(), 4u) << "20 MB in 4 MB shards: the first block "
                                                     "and the pieces .1 to .4";
  // Let the changelog roll over the population, so that it lies wholly
  // before any session's start.
  wait_for_changelog();
}

std::string scan_test::result_file(const std::string& application, std::size_t count) const {
  return application + "/" + application + "-" + session_ + "." + std::to_string(count);
}

result_map scan_test::expected_full() const {
  std::vector<std::string> big = pieces_of("app2/big.bin");
  return {{result_file("app1", 0), {}},
          {result_file("app2", big.size()), big},
          {result_file("app 3", 0), {}}};
}

std::string scan_test::lock_file() const { return on_mount(volume() + ".lock." + session_); }

bool scan_test::lock_gone() const {
  for (int tenth = 0; tenth < 30; ++tenth) {
    if (!testing_util::exists(lock_file())) return true;
    pause(0.1);
  }
  return false;
}

std::error_code scan_test::scan_until(scanner::scanner& s, const result_map& expected,
                                      int attempts) {
  s.set_scan_type(scanner::scanner::scan_incremental);
  std::error_code ec;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) {
      std::cerr << "[ retry    ] incremental scan attempt " << attempt + 1 << "\n";
      pause(4);
    }
    clear_results();
    ec = s.initiate_scan(session_);
    if (!ec && results() == expected) break;
  }
  return ec;
}


}  // namespace e2e
}  // namespace tarn
