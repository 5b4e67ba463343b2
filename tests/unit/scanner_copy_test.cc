// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Copying the output directory into the volume: placement, appending, and
// every way a copy can fail without losing the local files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

#include "unit/fault_backend.h"
#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::exists;
using testing_util::fault_injection;
using testing_util::list_dir;
using testing_util::list_tree;
using testing_util::log_capture;
using testing_util::read_file;
using testing_util::scoped_env;
using testing_util::temp_dir;
using testing_util::volume_call;
using testing_util::write_file;

std::error_code err(int e) { return std::error_code(e, std::generic_category()); }

class CopyTest : public ::testing::Test {
 protected:
  CopyTest()
      : volume_root_("TARN_LOCAL_VOLUME_ROOT", root_.path()),
        volume_(root_.path("vol1")),
        out_(root_.path("out")) {
    mkdir(volume_.c_str(), 0755);
    mkdir(out_.c_str(), 0755);
    scanner_.reset(new scanner("vol1", out_, volume_));
  }

  std::string in_volume(const std::string& rel) const { return volume_ + "/" + rel; }
  std::string working(const std::string& rel) const {
    return in_volume(".tarn/working/scanner/" + rel);
  }
  void make_working_directory() {
    ASSERT_NO_ERROR(scanner_->create_recursive_directory(".tarn/working/scanner"));
  }
  // Entries of the output directory in the order the copy meets them.
  std::vector<std::string> copy_order() {
    std::list<std::string> names;
    EXPECT_NO_ERROR(scanner_->read_directory(out_, names));
    std::vector<std::string> result;
    for (const std::string& n : names) {
      if (n != "." && n != "..") result.push_back(n);
    }
    return result;
  }

  temp_dir root_;
  scoped_env volume_root_;
  std::string volume_;
  std::string out_;
  fault_injection faults_;
  log_capture log_;
  std::unique_ptr<scanner> scanner_;
};

TEST_F(CopyTest, EntriesGoIntoTheDirectoryOfTheirNamePrefix) {
  make_working_directory();
  write_file(out_ + "/home-nightly.42", "home/a\nhome/b\n");
  write_file(out_ + "/home-nightly-2.16000", "home/c\n");
  write_file(out_ + "/report", "r\n");
  write_file(out_ + "/vm-images-nightly.3", "vm-images/x\n");

  ASSERT_NO_ERROR(scanner_->copy_files_to_gluster());
  EXPECT_EQ(list_tree(volume_),
            (std::vector<std::string>{".tarn/working/scanner/home/home-nightly-2.16000",
                                      ".tarn/working/scanner/home/home-nightly.42",
                                      ".tarn/working/scanner/report/report",
                                      ".tarn/working/scanner/vm/vm-images-nightly.3"}));
  EXPECT_EQ(read_file(working("home/home-nightly.42")), "home/a\nhome/b\n");
  EXPECT_EQ(read_file(working("vm/vm-images-nightly.3")), "vm-images/x\n");
  // The local files are gone; the directory itself is the run's to remove.
  EXPECT_TRUE(exists(out_));
  EXPECT_TRUE(list_dir(out_).empty());
}

// Every call through the mount is a round trip: a directory is made once a
// run, and in one the run made there is no earlier list to look for. A
// temporary file a failed copy left is truncated, not taken over.
TEST_F(CopyTest, EachDirectoryOnceAndNoLookForListsInANewOne) {
  make_working_directory();
  ASSERT_NO_ERROR(scanner_->create_directory(".tarn/working/scanner/old"));
  write_file(working("old/.old-nightly.1.partial"), "left by a killed copy\n");
  write_file(out_ + "/home-nightly-1.16000", "home/a\n");
  write_file(out_ + "/home-nightly-2.1", "home/b\n");
  write_file(out_ + "/old-nightly.1", "old/x\n");
  const int mkdirs = faults_.plan().calls(volume_call::mkdir);
  const int opens = faults_.plan().calls(volume_call::open);
  ASSERT_NO_ERROR(scanner_->copy_files_to_gluster());
  EXPECT_EQ(faults_.plan().calls(volume_call::mkdir) - mkdirs, 2);
  // The two new lists of "home" are created at once; "old" is looked for first.
  EXPECT_EQ(faults_.plan().calls(volume_call::open) - opens, 4);
  EXPECT_EQ(read_file(working("old/old-nightly.1")), "old/x\n");
  EXPECT_EQ(read_file(working("home/home-nightly-2.1")), "home/b\n");
  EXPECT_FALSE(exists(working("old/.old-nightly.1.partial")));
}

TEST_F(CopyTest, EmptyOutputDirectoryTouchesNothing) {
  ASSERT_NO_ERROR(scanner_->copy_files_to_gluster());
  EXPECT_TRUE(list_tree(volume_).empty());
  EXPECT_EQ(faults_.plan().calls(volume_call::mkdir), 0);
  EXPECT_EQ(faults_.plan().calls(volume_call::open), 0);
}

TEST_F(CopyTest, LinesAreAppendedOneWriteEachAfterExistingContent) {
  make_working_directory();
  ASSERT_NO_ERROR(scanner_->create_directory(".tarn/working/scanner/home"));
  const std::string old(100, 'x');
  write_file(working("home/home-s.3"), old);
  write_file(out_ + "/home-s.3", "one\n\nlast without a line feed");

  ASSERT_NO_ERROR(scanner_->copy_files_to_gluster());
  EXPECT_EQ(read_file(working("home/home-s.3")), old + "one\n\nlast without a line feed\n");
  EXPECT_EQ(faults_.plan().calls(volume_call::write), 3);
}

// An empty list is whole as soon as it is made: no temporary name, no rename.
TEST_F(CopyTest, EmptySourceMakesOrKeepsTheDestinationAsItIs) {
  make_working_directory();
  write_file(out_ + "/home-s.0", "");
  ASSERT_NO_ERROR(scanner_->copy_files_to_gluster());
  EXPECT_TRUE(exists(working("home/home-s.0")));
  EXPECT_EQ(read_file(working("home/home-s.0")), "");
  write_file(out_ + "/home-t.0", "");
  ASSERT_NO_ERROR(scanner_->copy_files_to_gluster());
  EXPECT_EQ(read_file(working("home/home-t.0")), "");
  EXPECT_EQ(faults_.plan().calls(volume_call::rename), 0);

  write_file(working("home/home-s.0"), "kept\n");
  write_file(out_ + "/home-s.0", "");
  ASSERT_NO_ERROR(scanner_->copy_files_to_gluster());
  EXPECT_EQ(read_file(working("home/home-s.0")), "kept\n");
}

// Directories are copied side by side: a failure in one stops the copy, and
// what the others put into the volume meanwhile is whole or not there.
TEST_F(CopyTest, OneListFailingFailsTheCopyAndKeepsEveryLocalFile) {
  make_working_directory();
  for (const char* name : {"a-s.1", "b-s.1", "c-s.1", "d-s.1", "e-s.1", "f-s.1"}) {
    write_file(out_ + "/" + name, "line\n");
  }
  std::vector<std::string> order = copy_order();
  ASSERT_EQ(order.size(), 6u);
  faults_.plan().fail(volume_call::write, 1, ENOSPC, order[1]);

  EXPECT_EQ(scanner_->copy_files_to_gluster(), err(ENOSPC));
  EXPECT_TRUE(log_.contains("[scanner::copy_files_to_gluster] Failed to copy file " + order[1] +
                            " to gluster"));
  for (const std::string& name : order) {
    const std::string dir = working(name.substr(0, 1));
    if (!exists(dir)) continue;
    for (const std::string& left : list_dir(dir)) {
      EXPECT_EQ(left, name) << "a temporary file or a part left";
      EXPECT_EQ(read_file(dir + "/" + left), "line\n");
    }
  }
  EXPECT_FALSE(exists(working(order[1].substr(0, 1) + "/" + order[1])));
  EXPECT_EQ(list_dir(out_).size(), 6u);
}

// Each list through a mount waits on round trips: while one directory's
// list is being written, another directory's is too. The report keeps the
// order of the output directory.
TEST_F(CopyTest, DirectoriesAreCopiedAtOnceAndReportedInOrder) {
  make_working_directory();
  for (const char* name : {"a-s.1", "b-s.1", "c-s.1"}) write_file(out_ + "/" + name, "line\n");
  std::vector<std::string> expected;
  for (const std::string& name : copy_order()) {
    expected.push_back(".tarn/working/scanner/" + name.substr(0, 1) + "/" + name);
  }
  std::mutex mu;
  std::condition_variable cv;
  int inside = 0;
  bool met = false;
  // The first two creates wait, with a bound, until both are under way.
  faults_.plan().before(
      volume_call::open,
      [&](const std::string&) {
        std::unique_lock<std::mutex> lock(mu);
        if (++inside > 2) return;
        cv.notify_all();
        met = cv.wait_for(lock, std::chrono::seconds(20), [&] { return inside >= 2; }) || met;
      },
      ".partial");
  ASSERT_NO_ERROR(scanner_->copy_files_to_gluster());
  EXPECT_TRUE(met);
  std::vector<std::string> reported;
  for (const scan_report_list& l : scanner_->last_report().lists) reported.push_back(l.path);
  EXPECT_EQ(reported, expected);
}

// Every way the copy of one entry can fail: the result, the messages, and
// the local file left in place.
TEST_F(CopyTest, FailuresAreReportedAndKeepTheLocalFile) {
  using testing_util::fault_plan;
  const std::string not_copied = "Failed to copy file home-s.2 to gluster";
  struct fault_case {
    const char* name;
    std::function<void(fault_plan&)> arm;
    int expected;
    std::string message;
    std::string entry_message;
  };
  const std::vector<fault_case> cases = {
      {"entry directory", [](fault_plan& p) { p.fail(volume_call::mkdir, 1, EACCES, "/home"); },
       EACCES, "Unable to create directory path .tarn/working/scanner/home in volume vol1",
       "Failed to create directory home-s.2 on gluster"},
      {"destination open", [](fault_plan& p) { p.fail(volume_call::open, 1, EROFS); }, EFAULT,
       "Failed to open destination file .tarn/working/scanner/home/home-s.2 on gluster volume",
       not_copied},
      {"failing write", [](fault_plan& p) { p.fail(volume_call::write, 2, ENOSPC); }, ENOSPC,
       "Failed to write destination file .tarn/working/scanner/home/home-s.2 on gluster volume "
       "at offset 6",
       not_copied},
      {"short write", [](fault_plan& p) { p.short_write(2, 1); }, EIO, "at offset 6", not_copied},
      {"nothing written", [](fault_plan& p) { p.short_write(1, 100); }, EIO, "at offset 0",
       not_copied},
      {"late write error at close", [](fault_plan& p) { p.fail(volume_call::close, 1, EDQUOT); },
       EDQUOT,
       "Failed to close destination file .tarn/working/scanner/home/home-s.2 on gluster volume",
       not_copied},
  };
  make_working_directory();
  for (const fault_case& c : cases) {
    // A new list, and an empty list of an earlier run of the same name.
    for (bool existing : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (existing ? ", existing destination" : ""));
      testing_util::fault_injection faults;  // a fresh plan for a fresh scanner
      log_capture log;
      scanner s("vol1", out_, volume_);
      if (existing) {
        ASSERT_EQ(s.create_directory(".tarn/working/scanner/home"), success);
        write_file(working("home/home-s.2"), "");
      }
      c.arm(faults.plan());
      write_file(out_ + "/home-s.2", "first\nsecond\n");
      EXPECT_EQ(s.copy_files_to_gluster(), err(c.expected));
      EXPECT_TRUE(log.contains(c.message)) << log.text();
      EXPECT_TRUE(log.contains(c.entry_message)) << log.text();
      EXPECT_TRUE(exists(out_ + "/home-s.2"));
      EXPECT_FALSE(exists(working("home/.home-s.2.partial")));
      if (!existing) {
        // Nothing of a new list under its name; its temporary file is gone.
        EXPECT_FALSE(exists(working("home/home-s.2")));
        continue;
      }
      // The earlier list stays, and what was appended to it is a prefix of
      // the source: the offset never went back over a line already written.
      ASSERT_TRUE(exists(working("home/home-s.2")));
      std::string copied = read_file(working("home/home-s.2"));
      EXPECT_EQ(copied, std::string("first\nsecond\n").substr(0, copied.size()));
      ::unlink(working("home/home-s.2").c_str());
    }
  }
}

TEST_F(CopyTest, EmptyBufferFailsTheCopyBeforeAnyWrite) {
  make_working_directory();
  write_file(out_ + "/home-s.1", "line\n");
  testing_util::no_io_buffers no_memory;
  EXPECT_EQ(scanner_->copy_files_to_gluster(), err(EIO));
  EXPECT_EQ(faults_.plan().calls(volume_call::write), 0);
  EXPECT_EQ(faults_.plan().calls(volume_call::close), 1);  // the destination is still closed
  EXPECT_TRUE(exists(out_ + "/home-s.1"));
}

TEST_F(CopyTest, UnreadableSourcesFailWithTheirErrno) {
  make_working_directory();
  EXPECT_EQ(scanner_->file_copy(out_ + "/missing", ".tarn/working/scanner/x"), err(ENOENT));
  EXPECT_TRUE(log_.contains("[scanner::file_copy] Failed to open file " + out_ + "/missing"));
  EXPECT_EQ(faults_.plan().calls(volume_call::open), 0);

  // A directory opens but cannot be read as text.
  mkdir((out_ + "/home-dir").c_str(), 0755);
  EXPECT_EQ(scanner_->copy_files_to_gluster(), err(EISDIR));
  EXPECT_TRUE(log_.contains("Failed to read file " + out_ + "/home-dir"));
  EXPECT_TRUE(exists(out_ + "/home-dir"));
}

TEST_F(CopyTest, UnreadableOutputDirectoryFailsWithItsErrno) {
  scanner missing("vol1", root_.path("no-such-dir"), volume_);
  EXPECT_EQ(missing.copy_files_to_gluster(), err(ENOENT));
  write_file(root_.path("a-file"), "");
  scanner not_a_directory("vol1", root_.path("a-file"), volume_);
  EXPECT_EQ(not_a_directory.copy_files_to_gluster(), err(ENOTDIR));
  EXPECT_EQ(faults_.plan().calls(volume_call::mkdir), 0);
}

TEST_F(CopyTest, RecursiveDirectoryCreation) {
  for (const char* nothing : {"", "/", "///"}) {
    SCOPED_TRACE(nothing);
    EXPECT_NO_ERROR(scanner_->create_recursive_directory(nothing));
  }
  EXPECT_EQ(faults_.plan().calls(volume_call::mkdir), 0);

  mkdir(in_volume(".tarn").c_str(), 0755);
  ASSERT_NO_ERROR(scanner_->create_recursive_directory("//.tarn//working/scanner/"));
  struct stat st;
  EXPECT_EQ(stat(in_volume(".tarn/working/scanner").c_str(), &st), 0);
  EXPECT_NO_ERROR(scanner_->create_directory(".tarn/working/scanner"));  // exists: fine

  // A failure stops at the failing piece and names it.
  faults_.plan().fail(volume_call::mkdir, 2, EACCES);
  EXPECT_EQ(scanner_->create_recursive_directory("a/b/c"), err(EACCES));
  EXPECT_TRUE(log_.contains(
      "[scanner::create_recursive_directory] Unable to create directory path /a/b in volume vol1"));
  EXPECT_TRUE(exists(in_volume("a")));
  EXPECT_FALSE(exists(in_volume("a/b")));
  EXPECT_EQ(faults_.plan().calls(volume_call::mkdir), 6);  // 3 + 1 + "/a" and "/a/b"
}

// The copy as the last step of a run. The change list names one file that
// has no gfid, so the run's one result is the empty linked list home-s1.0.
class CopyRunTest : public CopyTest {
 protected:
  CopyRunTest() { tool_.set_changelist("NEW home/a\n"); }
  std::string lock_file() const { return in_volume("vol1.lock.s1"); }
  testing_util::fake_glusterfind tool_;
};

TEST_F(CopyRunTest, RunEndsWithItsResultsInTheVolume) {
  ASSERT_EQ(scanner_->initiate_scan("s1"), success);
  EXPECT_TRUE(exists(working("home/home-s1.0")));
  EXPECT_EQ(read_file(working("home/home-s1.0")), "");
  EXPECT_FALSE(exists(out_));
  EXPECT_FALSE(exists(lock_file()));
}

TEST_F(CopyRunTest, FailedCopyEndsTheRunAndKeepsTheLocalFiles) {
  // The list is empty: made in the one call that fails.
  faults_.plan().fail(volume_call::open, 1, EIO, "home-s1.0");
  EXPECT_EQ(scanner_->initiate_scan("s1"), err(EFAULT));
  EXPECT_TRUE(
      log_.contains("[scanner::initiate_scan] Failed to copy collect files into gluster volume"));
  EXPECT_EQ(list_dir(out_), (std::vector<std::string>{".tarn_output_dir", "home-s1.0"}));
  EXPECT_FALSE(exists(working("home/home-s1.0")));
  EXPECT_FALSE(exists(lock_file()));
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
