// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// tarn-scan check and status on the real volume: the rig's aux-gfid mount
// passes every check, a plain mount of the same volume is warned of, and
// status shows what a run left for the applications.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "e2e/scan_fixture.h"

namespace tarn {
namespace e2e {
namespace {

using testing_util::exists;
using testing_util::read_file;

class CliTest : public scan_test {
 protected:
  // Runs tarn-scan with `args`; its exit status, standard output in *out.
  int tarn_scan(const std::string& args, std::string* out) {
    const std::string cmd = std::string(TARN_SCAN_BINARY) + " " + args + " >" +
                            quote(local_.path("stdout")) + " 2>" + quote(local_.path("stderr"));
    int status = std::system(cmd.c_str());
    *out = read_file(local_.path("stdout")) + read_file(local_.path("stderr"));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_F(CliTest, CheckIsAllOkOnTheRigAndWarnsOfAPlainMount) {
  std::string out;
  ASSERT_EQ(tarn_scan("--volume " + volume() + " --output-dir " + quote(out_) + " --mount " +
                          quote(mount()) + " --session " + session_,
                      &out),
            0)
      << out;
  const std::string args = "check --volume " + volume() + " --output-dir " + quote(out_) +
                           " --session " + session_ + " --mount ";
  EXPECT_EQ(tarn_scan(args + quote(mount()), &out), 0) << out;
  EXPECT_EQ(out.find("warn"), std::string::npos) << out;
  EXPECT_NE(out.find("ok   .gfid: "), std::string::npos) << out;
  EXPECT_NE(out.find("ok   session: "), std::string::npos) << out;

  plain_mount mounted(local_.path("plain"), "app2/big.bin");
  ASSERT_TRUE(mounted.ready());
  const std::string& plain = mounted.path();
  EXPECT_EQ(tarn_scan(args + quote(plain), &out), 3) << out;
  EXPECT_NE(out.find("warn .gfid: " + plain + " is mounted without -o aux-gfid-mount"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("ok   mount: "), std::string::npos) << out;
}

TEST_F(CliTest, StatusAfterARunShowsItsManifestAndLists) {
  std::string out;
  ASSERT_EQ(tarn_scan("--volume " + volume() + " --output-dir " + quote(out_) + " --mount " +
                          quote(mount()) + " --session " + session_,
                      &out),
            0)
      << out;
  ASSERT_EQ(tarn_scan("status --volume " + volume() + " --mount " + quote(mount()) + " --session " +
                          session_,
                      &out),
            0)
      << out;
  EXPECT_NE(out.find("Session '" + session_ + "' on volume '" + volume() +
                     "':\n  lock: none\n"
                     "  last manifest: .tarn/working/runs/" +
                     session_ + "/"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("(full, started "), std::string::npos) << out;
  for (const auto& list : expected_full()) {
    const std::string application = list.first.substr(0, list.first.find('/'));
    EXPECT_NE(out.find("  lists waiting for " + application + ": 1 file, " +
                       std::to_string(list.second.size()) + " entr"),
              std::string::npos)
        << list.first << "\n"
        << out;
  }
}

}  // namespace
}  // namespace e2e
}  // namespace tarn
