// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Post-processing within a memory budget: a collect file too long for it is
// sorted in run files and merged, with the very lists of the in-memory sort,
// and no run file outlives the post-processing, whatever fails.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "scanner/run/scan_run.h"
#include "scanner/stages/sorted_runs.h"
#include "unit/fault_files.h"
#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::exists;
using testing_util::fault_files;
using testing_util::list_dir;
using testing_util::local_call;
using testing_util::log_capture;
using testing_util::read_file;
using testing_util::temp_dir;
using testing_util::write_file;

using Lines = std::vector<std::string>;

const char kGfid[] = "0a1b2c3d-0000-4000-8000-00000000000a";
// Small enough for a few dozen entries a run.
constexpr std::size_t kTinyBudget = 4096;

std::error_code os_error(int e) { return std::error_code(e, std::generic_category()); }

// Only vm/big.img has a gfid (kGfid); every other entry owns no piece.
std::error_code big_image_only(const std::string& path, const char*, unsigned char* value) {
  if (path.size() < 11 || path.compare(path.size() - 11, 11, "/vm/big.img") != 0) {
    return os_error(ENODATA);
  }
  std::memcpy(value, "\x0a\x1b\x2c\x3d\x00\x00\x40\x00\x80\x00\x00\x00\x00\x00\x00\x0a", 16);
  return std::error_code();
}

// A collect file in no order: applications that are prefixes of others
// ("app", "app 3", "app-old"), blanks, duplicates, ".shard" and ".shard-old",
// pieces enough for chunk files, and a last line without "\n".
std::string collect_text(int spread) {
  Lines lines = {"app",        "app/x",       "app 3/y",        "app 3",   "app-old/z",
                 "app/x",      "app/a b  c",  " lead/blank",    "README",  ".shard-old/q",
                 "vm/big.img", "vm/big.img",  "vm/other file",  "vm",      ".shard/odd name",
                 ".shard/" + std::string(kGfid) + ".7"};
  for (int i = 0; i < spread; ++i) {
    lines.push_back(".shard/" + std::string(kGfid) + "." + std::to_string(i));
    if (i % 8 == 0) lines.push_back("many/f" + std::to_string(i % 500));
  }
  std::mt19937 random(7);
  std::shuffle(lines.begin(), lines.end(), random);
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  text.pop_back();
  return text;
}

// Names of run files in `dir`.
Lines run_files(const std::string& dir) {
  Lines runs;
  for (const std::string& name : list_dir(dir)) {
    if (name.find(".sort.") != std::string::npos) runs.push_back(name);
  }
  return runs;
}

class SortedRunsTest : public ::testing::Test {
 protected:
  SortedRunsTest() : mnt_(dir_.path("mnt")) { mkdir(mnt_.c_str(), 0755); }

  // Post-processes `text` in a new output directory `name` with `budget`
  // (0: the default) and the entries listed; the state is kept in `*state`.
  std::error_code process(const std::string& name, const std::string& text, std::size_t budget,
                          scan_state* state, fault_files* faults = nullptr) {
    const std::string out = dir_.path(name);
    mkdir(out.c_str(), 0755);
    session s("s1", "vol1", out, mnt_);
    s.set_list_files(true);
    testing_util::attribute_files files;
    testing_util::attribute_files* used = faults != nullptr ? faults : &files;
    used->gfid = big_image_only;
    const std::string collect = out + "/s1-processed.1";
    write_file(collect, text);
    return post_process_collect_file(s, *used, {out, "s1"}, budget != 0 ? budget : s.memory_budget(),
                                     collect, state, nullptr);
  }

  temp_dir dir_;
  std::string mnt_;
  log_capture log_;
};

TEST_F(SortedRunsTest, SpilledSortWritesTheListsAndChunksOfTheInMemorySort) {
  const std::string text = collect_text(20000);
  scan_state in_memory;
  ASSERT_NO_ERROR(process("memory", text, 0, &in_memory));
  EXPECT_EQ(in_memory.sort_runs, 0u);
  EXPECT_FALSE(log_.contains("exceed the memory budget"));

  scan_state spilled;
  ASSERT_NO_ERROR(process("spilled", text, kTinyBudget, &spilled));
  // More runs than one merge takes: merged in passes first.
  EXPECT_GT(spilled.sort_runs, kMergeFanIn * 2);
  EXPECT_TRUE(spilled.entries.empty());
  EXPECT_TRUE(log_.contains("exceed the memory budget of 4096 bytes")) << log_.text();

  const Lines names = list_dir(dir_.path("memory"));
  ASSERT_EQ(list_dir(dir_.path("spilled")), names);
  // The chunks of vm, and the lists of the applications that extend "app".
  EXPECT_NE(std::find(names.begin(), names.end(), "vm-s1-1.16000"), names.end());
  for (const char* name : {"app-s1.4", "app 3-s1.2", "app-old-s1.1", ".shard-old-s1.1",
                           " lead-s1.1", "README-s1.1"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
  }
  for (const std::string& name : names) {
    EXPECT_EQ(read_file(dir_.path("spilled/" + name)), read_file(dir_.path("memory/" + name)))
        << name;
  }
  EXPECT_EQ(read_file(dir_.path("memory/app-s1.4")), "app\napp/a b  c\napp/x\napp/x\n");
}

TEST_F(SortedRunsTest, ACollectFileThatFitsWritesNoRunFile) {
  fault_files faults;
  scan_state state;
  ASSERT_NO_ERROR(process("out", "b/x\na/y\nb/x", 0, &state, &faults));
  EXPECT_EQ(read_file(dir_.path("out/b-s1.2")), "b/x\nb/x\n");
  EXPECT_TRUE(state.entries.empty());  // let go once distributed
  EXPECT_EQ(state.sort_runs, 0u);
  EXPECT_EQ(faults.calls(local_call::create, ".partial"), 0);
}

// Every way the sort or the merge can fail: the step fails with the error,
// the collect file stays for the next run, and no run file is left.
TEST_F(SortedRunsTest, NoRunFileOutlivesAFailure) {
  const std::string text = collect_text(3000);
  // The last run made is the merge pass's.
  fault_files counting;
  scan_state done;
  ASSERT_NO_ERROR(process("counted", text, kTinyBudget, &done, &counting));
  const int creates = counting.calls(local_call::create, ".partial");
  ASSERT_GT(creates, static_cast<int>(kMergeFanIn) + 1);
  EXPECT_EQ(run_files(dir_.path("counted")), Lines{});

  struct fault {
    local_call op;
    int nth;
    const char* match;
  };
  const fault faults[] = {
      {local_call::create, 3, ".partial"},     // a run cannot be made
      {local_call::write, 100, ".partial"},    // the disk fills in a run
      {local_call::close, 2, ".partial"},      // a late write error
      {local_call::rename, 4, ".partial"},     // a run cannot take its name
      {local_call::create, creates, ".partial"},  // the output of the merge pass
      {local_call::read_lines, 1, ".s1.sort.2"},  // a run cannot be read in a merge pass
      {local_call::create, 1, "many-s1.0"},    // the distribution of the merge fails
  };
  int n = 0;
  for (const fault& f : faults) {
    SCOPED_TRACE(f.match + std::string(" #") + std::to_string(f.nth));
    fault_files files;
    files.fail(f.op, f.nth, ENOSPC, f.match);
    scan_state state;
    const std::string out = "out" + std::to_string(n++);
    EXPECT_EQ(process(out, text, kTinyBudget, &state, &files), os_error(ENOSPC));
    EXPECT_GT(files.calls(f.op, f.match), f.nth - 1);
    EXPECT_TRUE(exists(dir_.path(out + "/s1-processed.1")));
    EXPECT_EQ(run_files(dir_.path(out)), Lines{});
  }
  EXPECT_TRUE(log_.contains("Failed to create the sort run "));
  EXPECT_TRUE(log_.contains("Failed to write the sort run "));
  EXPECT_TRUE(log_.contains("Failed to open the sort run "));
}

TEST(SortRunNameTest, OnlyTheSessionsOwnRunFiles) {
  EXPECT_EQ(sort_run_name("s1", 12), ".s1.sort.12");
  EXPECT_TRUE(is_sort_run_name(".s1.sort.12", "s1"));
  EXPECT_TRUE(is_sort_run_name(".s1.sort.3.partial", "s1"));
  for (const char* other : {".s2.sort.1", ".s1.sort.", ".s1.sort.1x", "app-s1.sort.1",
                            ".s1.sort.1.partial.partial", ".s1-s1.3", "s1.sort.1"}) {
    EXPECT_FALSE(is_sort_run_name(other, "s1")) << other;
  }
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
