// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The reference consumer on the real volume: a mirror kept from the lists
// alone equals every file of the volume, after the full pass that seeds it
// and after changes of every kind that a scan lists.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "e2e/scan_fixture.h"

namespace tarn {
namespace e2e {
namespace {

using testing_util::read_file;

class ConsumeTest : public scan_test {
 protected:
  int tarn_scan(const std::string& args) {
    const std::string cmd = std::string(TARN_SCAN_BINARY) + " " + args + " --volume " + volume() +
                            " --mount " + quote(mount()) + " --session " + session_ +
                            " --log-file " + quote(local_.path("cli.log")) + " >>" +
                            quote(local_.path("out.log")) + " 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  int scan(const std::string& type) {
    return tarn_scan(type + " --post --with-files --output-dir " + quote(out_));
  }
  int consume() { return tarn_scan("consume --mirror " + quote(local_.path("mirror"))); }

  // The regular files of the volume whose mirror differs from them.
  std::vector<std::string> mismatches() {
    namespace fs = std::filesystem;
    std::vector<std::string> wrong;
    for (auto it = fs::recursive_directory_iterator(mount()); it != fs::end(it); ++it) {
      const std::string rel = fs::relative(it->path(), mount()).string();
      if (rel[0] == '.') {  // .shard, .tarn, the volume's own
        if (it->is_directory()) it.disable_recursion_pending();
        continue;
      }
      if (!it->is_regular_file() || rel.find(".lock.") != std::string::npos) continue;
      const std::string copy = local_.path("mirror/" + gfid_text(rel));
      if (read_file(copy) != read_file(it->path().string())) wrong.push_back(rel);
    }
    return wrong;
  }
};

TEST_F(ConsumeTest, AMirrorKeptFromTheListsEqualsTheVolume) {
  ASSERT_EQ(scan("--full"), 0) << read_file(local_.path("out.log"));
  ASSERT_EQ(consume(), 0) << read_file(local_.path("out.log"));
  EXPECT_EQ(mismatches(), std::vector<std::string>()) << read_file(local_.path("out.log"));
  EXPECT_TRUE(results().empty());  // every list taken

  // In place inside an image and in its first block, an append, a new file,
  // a truncated one.
  overwrite_mb("app2/big.bin", 9);
  overwrite_mb("app2/big.bin", 0);
  append_mb("app2/big.bin", 3);
  testing_util::write_file(on_mount("app1/new.txt"), "new\n");
  ASSERT_EQ(truncate(on_mount("app1/sub/b.txt").c_str(), 1), 0);
  wait_for_changelog();
  // The change log may hand a change over a pass later.
  std::vector<std::string> wrong = {"not scanned"};
  for (int attempt = 0; attempt < 4 && !wrong.empty(); ++attempt) {
    if (attempt > 0) pause(2);
    ASSERT_EQ(scan("--incremental"), 0) << read_file(local_.path("out.log"));
    ASSERT_EQ(consume(), 0) << read_file(local_.path("out.log"));
    wrong = mismatches();
  }
  EXPECT_EQ(wrong, std::vector<std::string>()) << read_file(local_.path("out.log"));
}

}  // namespace
}  // namespace e2e
}  // namespace tarn
