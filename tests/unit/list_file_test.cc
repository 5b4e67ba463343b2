// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// List names read and written, and what the list writer leaves when a
// create, write, close or rename fails.
#include "scanner/list_file.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::exists;
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
  list_writer out("test::step");
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
  std::error_code (*run)(list_writer& out, const temp_dir& dir);
  int error;
  const char* message;  // the one line logged, after "[test::step] "
  Lines left;           // the directory afterwards
};

void PrintTo(const failure_case& c, std::ostream* os) { *os << c.name; }

std::error_code write_many(list_writer& out) {
  const std::string line(1000, 'x');
  for (int i = 0; i < 200; ++i) {
    if (std::error_code ec = out.write_line(line)) return ec;
  }
  std::string done;
  return out.commit(&done);
}

const failure_case kFailures[] = {
    {"create", [](list_writer& out, const temp_dir& dir) {
       return out.create(dir.path("gone/vm-s1"));
     }, ENOENT, "Failed to open file {dir}/gone/vm-s1 \n", {}},
    {"write", [](list_writer& out, const temp_dir& dir) {
       if (std::error_code ec = out.create(dir.path("vm-s1"))) return ec;
       return write_many(out);  // beyond the file size limit of the test
     }, EFBIG, "Failed to write file {dir}/vm-s1: File too large\n", {}},
    {"rename", [](list_writer& out, const temp_dir& dir) {
       mkdir(dir.path("vm-s1.1").c_str(), 0755);
       if (std::error_code ec = out.create(dir.path("vm-s1"))) return ec;
       if (std::error_code ec = out.write_line("vm/a")) return ec;
       std::string done;
       return out.commit(&done);
     }, EISDIR, "Failed to rename the generated file from {dir}/vm-s1 to {dir}/vm-s1.1\n",
     {"vm-s1", "vm-s1.1"}},
    {"given up", [](list_writer& out, const temp_dir& dir) {
       if (std::error_code ec = out.create(dir.path("vm-s1"))) return ec;
       if (std::error_code ec = out.write_line("vm/a")) return ec;
       return out.abandon(std::error_code(EIO, std::generic_category()));
     }, EIO, nullptr, {}},
};

class ListWriterFailureTest : public ::testing::TestWithParam<failure_case> {};

TEST_P(ListWriterFailureTest, LogsOnceAndLeavesNoPartialList) {
  const failure_case& c = GetParam();
  temp_dir dir;
  // Writes past 64 KiB fail with EFBIG instead of a signal.
  struct rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  struct rlimit small = {64 * 1024, old.rlim_max};
  signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  log_capture log;
  std::error_code ec;
  {
    list_writer out("test::step");
    ec = c.run(out, dir);
  }
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(ec, std::error_code(c.error, std::generic_category()));
  EXPECT_EQ(list_dir(dir.path()), c.left);
  std::string text = log.text();
  if (c.message == nullptr) {
    EXPECT_EQ(text, "");
  } else {
    std::string expected = c.message;
    for (std::size_t at; (at = expected.find("{dir}")) != std::string::npos;) {
      expected.replace(at, 5, dir.path());
    }
    EXPECT_NE(text.find("[test::step] " + expected), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  }
}

INSTANTIATE_TEST_SUITE_P(AtEachCall, ListWriterFailureTest, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<failure_case>& info) {
                           std::string name = info.param.name;
                           for (char& ch : name) {
                             if (ch == ' ') ch = '_';
                           }
                           return name;
                         });

TEST(ListWriterTest, DestroyedBeforeCommitRemovesTheFile) {
  temp_dir dir;
  {
    list_writer out("test::step");
    ASSERT_NO_ERROR(out.create(dir.path("vm-s1")));
    ASSERT_NO_ERROR(out.write_line("vm/a"));
  }
  EXPECT_TRUE(list_dir(dir.path()).empty());
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
