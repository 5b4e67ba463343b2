// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// List names read and written, and what the list writer leaves when a
// create, write, close or rename fails.
#include "scanner/stages/list_file.h"

#include <algorithm>
#include <cerrno>

#include <gtest/gtest.h>

#include "unit/fault_files.h"
#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::fault_files;
using testing_util::local_call;
using testing_util::list_dir;
using testing_util::log_capture;
using testing_util::read_file;
using testing_util::temp_dir;

using Lines = std::vector<std::string>;

TEST(ListNameTest, FormatsAndParsesEveryShape) {
  struct shape {
    std::string path, session, directory, application;
    unsigned chunk;
    long long count;
  };
  const shape cases[] = {
      {"/out/vm-s1.3", "s1", "/out", "vm", 0, 3},
      {"/out/vm-s1-2.16000", "s1", "/out", "vm", 2, 16000},
      {"/out/.shard-s1.0", "s1", "/out", ".shard", 0, 0},
      {"/out/-s1.1", "s1", "/out", "", 0, 1},  // an entry at the top of the volume
      {"/out/my-app-s1.5", "s1", "/out", "my-app", 0, 5},
      {"/out/x-7-7.4", "7", "/out", "x-7", 0, 4},  // a whole list where both readings fit
      {"//vm-s1.2", "s1", "/", "vm", 0, 2},
  };
  for (const shape& c : cases) {
    SCOPED_TRACE(c.path);
    list_name name = list_name::parse(c.path, c.session);
    EXPECT_EQ(name.directory, c.directory);
    EXPECT_EQ(name.application, c.application);
    EXPECT_EQ(name.session, c.session);
    EXPECT_EQ(name.chunk, c.chunk);
    EXPECT_EQ(name.count, c.count);
    EXPECT_EQ(name.path(), c.path);
  }
  // Without a session (or of another one) only base and count are known.
  for (const char* session : {"", "s2"}) {
    list_name name = list_name::parse("/out/vm-s1.40000", session);
    EXPECT_EQ(name.base(), "/out/vm-s1");
    EXPECT_EQ(name.count, 40000);
    EXPECT_TRUE(name.session.empty());
  }
  // The count is read like atoi().
  EXPECT_EQ(list_name::parse("/out/vm-s1.12abc").count, 12);
  EXPECT_EQ(list_name::parse("/out/vm-s1.x").count, 0);
  EXPECT_EQ(list_name::parse("vm-s1.-5").count, -5);
  EXPECT_EQ(list_name::parse("vm-s1.7").base(), "vm-s1");
  EXPECT_EQ(filing_prefix("my-app-s1.5"), "my");
  EXPECT_EQ(filing_prefix("nodash.5"), "nodash.5");
}

TEST(ListWriterTest, CommitGivesTheCountedName) {
  temp_dir dir;
  list_writer out(posix_local_files(), "test::step");
  ASSERT_NO_ERROR(out.create(dir.path("vm-s1"), dir.path("vm-s1.0")));
  ASSERT_NO_ERROR(out.write_line("vm/a"));
  ASSERT_NO_ERROR(out.write_line("vm/b"));
  std::string done;
  ASSERT_NO_ERROR(out.commit(&done));
  EXPECT_EQ(done, dir.path("vm-s1.2"));
  EXPECT_EQ(list_dir(dir.path()), Lines{"vm-s1.2"});
  EXPECT_EQ(read_file(done), "vm/a\nvm/b\n");
  // The writer takes the next list; an empty one counts 0.
  ASSERT_NO_ERROR(out.create(dir.path("empty-s1")));
  ASSERT_NO_ERROR(out.commit(&done));
  EXPECT_EQ(read_file(dir.path("empty-s1.0")), "");
}

// Where a list fails, and what stays of it.
struct failure_case {
  const char* name;
  void (*plan)(fault_files& files, const temp_dir& dir);
  int error;
  const char* message;  // the one line logged, after "[test::step] "; null: none
  Lines left;           // the directory afterwards
};

void PrintTo(const failure_case& c, std::ostream* os) { *os << c.name; }

const failure_case kFailures[] = {
    {"create", [](fault_files& f, const temp_dir&) { f.fail(local_call::create, 1, EACCES); },
     EACCES, "Failed to open file {dir}/vm-s1.0 \n", {}},
    {"second write", [](fault_files& f, const temp_dir&) { f.fail(local_call::write, 2, ENOSPC); },
     ENOSPC, "Failed to write file {dir}/vm-s1.0: No space left on device\n", {}},
    {"close", [](fault_files& f, const temp_dir&) { f.fail(local_call::close, 1, EIO); },
     EIO, "Failed to write file {dir}/vm-s1.0: Input/output error\n", {}},
    {"rename", [](fault_files& f, const temp_dir&) { f.fail(local_call::rename, 1, EXDEV); },
     EXDEV, "Failed to rename the generated file from {dir}/vm-s1.0 to {dir}/vm-s1.3\n",
     {"vm-s1.0"}},
};

class ListWriterFailureTest : public ::testing::TestWithParam<failure_case> {};

TEST_P(ListWriterFailureTest, LogsOnceAndLeavesNoPartialList) {
  const failure_case& c = GetParam();
  temp_dir dir;
  fault_files files;
  c.plan(files, dir);
  log_capture log;
  std::error_code ec = [&] {
    list_writer out(files, "test::step");
    if (std::error_code e = out.create(dir.path("vm-s1"), dir.path("vm-s1.0"))) return e;
    for (const char* line : {"vm/a", "vm/b", "vm/c"}) {
      if (std::error_code e = out.write_line(line)) return e;
    }
    std::string done;
    return out.commit(&done);
  }();
  EXPECT_EQ(ec, std::error_code(c.error, std::generic_category()));
  EXPECT_EQ(list_dir(dir.path()), c.left);
  std::string expected = c.message;
  for (std::size_t at; (at = expected.find("{dir}")) != std::string::npos;) {
    expected.replace(at, 5, dir.path());
  }
  const std::string text = log.text();
  EXPECT_NE(text.find("[test::step] " + expected), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

INSTANTIATE_TEST_SUITE_P(AtEachCall, ListWriterFailureTest, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<failure_case>& info) {
                           std::string name = info.param.name;
                           std::replace(name.begin(), name.end(), ' ', '_');
                           return name;
                         });

TEST(ListWriterTest, GivenUpOrDestroyedBeforeCommitRemovesTheFileSilently) {
  temp_dir dir;
  log_capture log;
  {
    list_writer out(posix_local_files(), "test::step");
    ASSERT_NO_ERROR(out.create(dir.path("a-s1")));
    ASSERT_NO_ERROR(out.write_line("a/x"));
    EXPECT_EQ(out.abandon(std::error_code(EIO, std::generic_category())).value(), EIO);
    ASSERT_NO_ERROR(out.create(dir.path("b-s1")));
    ASSERT_NO_ERROR(out.write_line("b/x"));
  }
  EXPECT_TRUE(list_dir(dir.path()).empty());
  EXPECT_EQ(log.text(), "");
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
