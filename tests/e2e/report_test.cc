// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// What a run on the real volume tells its host and its consumer: a mount
// that is not the volume's refused, a report and a manifest that name exactly
// the lists that appeared, pieces a plain mount cannot attribute counted, and
// new lists that a consumer never sees half-written.
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "e2e/scan_fixture.h"
#include "scanner/scanner.h"

namespace tarn {
namespace e2e {
namespace {

using testing_util::exists;
using testing_util::list_tree;
using testing_util::read_file;
using testing_util::read_lines;
using testing_util::write_file;

using ReportTest = scan_test;

const std::error_code kInvalid(EINVAL, std::generic_category());

TEST_F(ReportTest, APathThatIsNotTheVolumesMountIsRefusedBeforeAnything) {
  const std::string plain_dir = local_.path("not-a-mount");
  ASSERT_EQ(sh("mkdir -p " + quote(plain_dir)), 0);
  struct row {
    std::string mount;
    std::string found;
  };
  const row rows[] = {
      {plain_dir, "no file system is mounted there"},
      {dist_mount(), "it is a mount of "},  // another volume's
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.mount);
    testing_util::log_capture log;
    scanner::scanner s(volume(), out_, r.mount);
    EXPECT_EQ(s.initiate_scan(session_), kInvalid);
    EXPECT_TRUE(log.contains(r.mount + " is not a mount of volume " + volume() + ": " + r.found))
        << log.text();
    EXPECT_FALSE(log.contains("glusterfind")) << log.text();
    EXPECT_FALSE(exists(lock_file()));
    EXPECT_EQ(s.last_report().failure, "mount");
    EXPECT_EQ(s.last_report().failed_path, r.mount);
    EXPECT_NE(s.last_report().failure_cause.find(r.found), std::string::npos);
  }
}

// The report and the manifest against a listing of the working directory.
TEST_F(ReportTest, ReportAndManifestListExactlyTheListsThatAppeared) {
  scanner::scanner s(volume(), out_, mount());
  ASSERT_EQ(s.initiate_scan(session_), success) << log_.text();
  const scanner::scan_report& r = s.last_report();
  EXPECT_TRUE(r.mount_checked);
  EXPECT_TRUE(r.aux_gfid_mount);
  EXPECT_TRUE(r.full);
  EXPECT_FALSE(r.needs_attention());
  EXPECT_EQ(r.dropped_no_aux_gfid, 0u);

  const std::string root = on_mount(".tarn/working/scanner");
  const std::vector<std::string> listed = list_tree(root);
  std::vector<std::string> reported;
  uint64_t total = 0;
  for (const scanner::scan_report_list& l : r.lists) {
    reported.push_back(l.path.substr(std::string(".tarn/working/scanner/").size()));
    EXPECT_EQ(l.entries, read_lines(on_mount(l.path)).size()) << l.path;
    EXPECT_FALSE(l.appended);
    total += l.entries;
  }
  std::sort(reported.begin(), reported.end());
  EXPECT_EQ(reported, listed);
  std::vector<std::string> expected;
  for (const auto& e : expected_full()) expected.push_back(e.first);
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(r.total_entries, total);
  EXPECT_EQ(r.piece_lines, pieces_of("app2/big.bin").size());

  ASSERT_FALSE(r.manifest.empty());
  nlohmann::json m = nlohmann::json::parse(read_file(on_mount(r.manifest)));
  EXPECT_EQ(m["session"], session_);
  ASSERT_EQ(m["lists"].size(), r.lists.size());
  for (std::size_t i = 0; i < r.lists.size(); ++i) {
    EXPECT_EQ(m["lists"][i]["path"], r.lists[i].path);
    EXPECT_EQ(m["lists"][i]["entries"], r.lists[i].entries);
  }
}

// A mount without -o aux-gfid-mount cannot name the owner of a piece that an
// in-place write listed alone: the run completes, counts the piece, and
// tarn-scan says so with 3.
TEST_F(ReportTest, APlainMountCountsThePiecesItCannotAttributeAndExits3) {
  plain_mount mounted(local_.path("plain"), "app2/big.bin");
  ASSERT_TRUE(mounted.ready());
  const std::string& plain = mounted.path();
  ASSERT_FALSE(exists(plain + "/.gfid"));

  {
    scanner::scanner s(volume(), out_, mount());
    ASSERT_EQ(s.initiate_scan(session_), success) << log_.text();
    ASSERT_EQ(s.get_sessionobj(session_)->post_scan(), 0);
  }
  clear_results();
  pause(2);
  overwrite_mb("app2/big.bin", 9);  // piece .2 alone
  wait_for_changelog();

  const std::string cmd = std::string(TARN_SCAN_BINARY) + " --volume " + volume() +
                          " --output-dir " + quote(out_) + " --mount " + quote(plain) +
                          " --session " + session_ + " --incremental --json --log-file " +
                          quote(local_.path("cli.log")) + " >" + quote(local_.path("stdout")) +
                          " 2>" + quote(local_.path("stderr"));
  // The change log may not have handed the change over yet: an incremental
  // pass without post reports it the next time.
  int status = -1;
  for (int attempt = 0; attempt < 6; ++attempt) {
    status = std::system(cmd.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) break;
    pause(2);
  }
  const std::string err = read_file(local_.path("stderr"));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3) << err << read_file(local_.path("cli.log"));
  EXPECT_NE(err.find("completed, but 1 changed pieces could not be attributed"), std::string::npos)
      << err;
  nlohmann::json summary = nlohmann::json::parse(read_file(local_.path("stdout")));
  EXPECT_EQ(summary["dropped"]["no_aux_gfid_mount"], 1);
}

// A consumer that polls the application directory while a long new list is
// copied sees it whole or not at all.
TEST_F(ReportTest, AConsumerPollingDuringTheCopyNeverSeesAPartialNewList) {
  scanner::scanner s(volume(), out_, mount());
  ASSERT_EQ(s.create_recursive_directory(".tarn/working/scanner/big"), success);
  ASSERT_EQ(sh("mkdir -p " + quote(out_)), 0);
  const int lines = 300000;
  const std::string name = "big-" + session_ + "." + std::to_string(lines);
  write_file(out_ + "/" + name,
             testing_util::numbered_lines(".shard/00000000-0000-0000-0000-000000000000.", lines));

  const std::string dir = on_mount(".tarn/working/scanner/big");
  std::atomic<bool> done(false);
  int polls = 0, seen_whole = 0, seen_partial_name = 0;
  std::vector<std::string> bad;
  std::thread consumer([&] {
    while (!done.load()) {
      ++polls;
      for (const std::string& entry : testing_util::list_dir(dir)) {
        if (entry[0] == '.') {
          ++seen_partial_name;
          continue;
        }
        const std::size_t count = std::stoul(entry.substr(entry.rfind('.') + 1));
        const std::size_t got = read_lines(dir + "/" + entry).size();
        if (got == count) {
          ++seen_whole;
        } else {
          bad.push_back(entry + " with " + std::to_string(got) + " lines");
        }
      }
    }
  });
  std::error_code copied = s.copy_files_to_gluster();
  done = true;
  consumer.join();
  ASSERT_EQ(copied, success) << log_.text();
  EXPECT_TRUE(bad.empty()) << bad.front();
  EXPECT_GT(polls, 1);
  std::printf("consumer: %d polls, saw the temporary name %d times, the whole list %d times\n",
              polls, seen_partial_name, seen_whole);
  EXPECT_EQ(read_lines(dir + "/" + name).size(), static_cast<std::size_t>(lines));
  EXPECT_EQ(testing_util::list_dir(dir), std::vector<std::string>{name});
}

}  // namespace
}  // namespace e2e
}  // namespace tarn
