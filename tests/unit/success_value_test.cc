// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Every exported operation that succeeds returns tarn::success itself: value
// 0 in the generic category, as hosts compare it (a default error code is in
// the system category and compares unequal).
#include <sys/stat.h>

#include <list>

#include <gtest/gtest.h>

#include "core/platform.h"
#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::fake_glusterfind;
using testing_util::scoped_env;
using testing_util::temp_dir;
using testing_util::write_file;

#define EXPECT_SUCCESS(expr)                                                  \
  do {                                                                        \
    std::error_code ec_ = (expr);                                             \
    EXPECT_EQ(ec_, ::tarn::success) << #expr << ": " << ec_.value() << " "    \
                                    << ec_.category().name();                 \
  } while (0)

class SuccessValueTest : public ::testing::Test {
 protected:
  SuccessValueTest()
      : volume_root_("TARN_LOCAL_VOLUME_ROOT", root_.path()),
        volume_(root_.path("vol1")),
        out_(root_.path("out")) {
    mkdir(volume_.c_str(), 0755);
    mkdir(out_.c_str(), 0755);
  }

  temp_dir root_;
  scoped_env volume_root_;
  std::string volume_;
  std::string out_;
  fake_glusterfind tool_;
};

TEST_F(SuccessValueTest, ScannerOperations) {
  scanner s("vol1", out_, volume_);
  EXPECT_SUCCESS(s.create_recursive_directory(".tarn/working/scanner"));
  EXPECT_SUCCESS(s.create_recursive_directory(".tarn/working/scanner"));  // all exist
  EXPECT_SUCCESS(s.create_directory(".tarn/working/scanner/app"));
  EXPECT_SUCCESS(s.create_directory(".tarn/working/scanner/app"));  // EEXIST
  std::list<std::string> names;
  EXPECT_SUCCESS(s.read_directory(out_, names));

  write_file(out_ + "/empty-s1.0", "");
  write_file(out_ + "/app-s1.2", "a\nb\n");
  EXPECT_SUCCESS(s.file_copy(out_ + "/empty-s1.0", ".tarn/working/scanner/app/empty-s1.0"));
  EXPECT_SUCCESS(s.file_copy(out_ + "/app-s1.2", ".tarn/working/scanner/app/app-s1.2"));
  EXPECT_SUCCESS(s.copy_files_to_gluster());
}

TEST_F(SuccessValueTest, CoreLibraryOperations) {
  auto api = std::make_unique<tarn_api>();
  iopx_tree_cfg cfg;
  cfg.volume = "vol1";
  boost::shared_ptr<tarn_iopx> iopx = api->init(cfg);
  EXPECT_SUCCESS(api->mkdir(iopx, "d", 0777));
  boost::shared_ptr<tarn_file> f = api->open(iopx, "d/f", os::kOpenCreateForWrite);
  ASSERT_TRUE(f);
  EXPECT_SUCCESS(api->close(f));
  EXPECT_SUCCESS(api->rename(iopx, "d/f", "d/g"));
  std::string text;
  EXPECT_SUCCESS(api->read_file(iopx, "d/g", 16, &text));
  EXPECT_SUCCESS(api->unlink(iopx, "d/g"));
}

TEST_F(SuccessValueTest, SessionOperationsAndWholeRuns) {
  tool_.set_changelist("NEW app\nNEW app/a\nNEW .shard\n");
  write_file(volume_ + "/app/a", "x");
  scanner s("vol1", out_, volume_);
  s.set_scan_type(scanner::scan_full);
  EXPECT_SUCCESS(s.initiate_scan("s1"));
  s.set_scan_type(scanner::scan_incremental);
  EXPECT_SUCCESS(s.initiate_scan("s1"));

  mkdir(out_.c_str(), 0755);
  session* sess = s.get_sessionobj("s1");
  ASSERT_NE(sess, nullptr);
  std::string collect = out_ + "/s1-processed.1";
  EXPECT_SUCCESS(sess->savefilename(collect));
  std::string changes = out_ + "/changes";
  std::string filtered = out_ + "/filtered";
  write_file(changes, "NEW app/a\n");
  unsigned long count = 0;
  EXPECT_SUCCESS(sess->filter_new_and_modified(changes, filtered, count));

  std::vector<std::string> entries = {"app/a", "app/b"};
  std::vector<std::string> apps, shards, linked;
  EXPECT_SUCCESS(sess->distribute_basedon_application(entries, apps, shards));
  EXPECT_SUCCESS(sess->link_shard_to_app(apps, shards, linked));
  EXPECT_SUCCESS(sess->multithreaded_chunking(linked));
  EXPECT_SUCCESS(sess->multithreaded_chunking({}));
  EXPECT_SUCCESS(session::chunk_collectfile_wrapper(linked, 0, static_cast<int>(linked.size())));
  EXPECT_SUCCESS(session::chunk_collectfile_wrapper(linked, 0, 0));
  write_file(out_ + "/big-s1.3", "1\n2\n3\n");
  EXPECT_SUCCESS(session::chunk_collectfile(out_ + "/big-s1.3", 2));

  write_file(collect, "app/a\n");
  EXPECT_SUCCESS(sess->process_filtered_files(collect));
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
