// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The reference consumer on a local-directory volume: manifests oldest
// first, only the byte ranges they name, lists removed once no manifest names
// them, and a consumer killed between its copy and the manifest's removal.
#include "tools/tarn-scan/consume.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "unit/test_util.h"

namespace tarn {
namespace {

using testing_util::exists;
using testing_util::read_file;
using testing_util::scoped_env;
using testing_util::temp_dir;
using testing_util::write_file;

const std::string kImage = "11111111-2222-3333-4444-555555555555";
const std::string kGone = "66666666-7777-8888-9999-000000000000";

class ConsumeTest : public ::testing::Test {
 protected:
  ConsumeTest() : root_env_("TARN_LOCAL_VOLUME_ROOT", root_.path()), top_(root_.path("vol1")) {
    EXPECT_EQ(system(("mkdir -p " + top_ + "/app " + top_ + "/.tarn/working/scanner/app " +
                      runs_()).c_str()),
              0);
    // A file of three 8-byte blocks, reached through .gfid as on a mount.
    write_file(top_ + "/app/img", "AAAAAAAABBBBBBBBCCCCCCCC");
    mkdir((top_ + "/.gfid").c_str(), 0755);
    EXPECT_EQ(symlink("../app/img", (top_ + "/.gfid/" + kImage).c_str()), 0);
    EXPECT_TRUE(testing_util::set_gfid(top_ + "/app/img", kImage));
    // One list: a run's piece and a gone owner's, bytes a failed run
    // appended (in no manifest), then a later run's path line.
    const std::string first = ".shard/" + kImage + ".1\n.shard/" + kGone + ".3\n";
    const std::string failed = ".shard/" + kImage + ".2\n";
    write_file(top_ + "/" + list_, first + failed + "app/img\n");
    const std::size_t a = first.size(), b = a + failed.size(), c = b + 8;
    manifest("20261209T010000.000Z.json", 0, a);
    manifest("20261209T020000.000Z.json", b, c);
    request_.volume = "vol1";
    request_.top = top_;
    request_.session = "s";
    request_.mirror = root_.path("mirror");
    request_.block_size = 8;
  }

  void manifest(const std::string& name, std::size_t offset, std::size_t end) {
    write_file(runs_() + name,
               "{\"schema\": 1, \"lists\": [{\"path\": \"" + list_ +
                   "\", \"application\": \"app\", \"appended\": " + (offset ? "true" : "false") +
                   ", \"offset\": " + std::to_string(offset) + ", \"end\": " +
                   std::to_string(end) + "}]}\n");
  }
  std::string runs_() const { return top_ + "/.tarn/working/runs/s/"; }
  std::string mirror() const { return read_file(request_.mirror + "/" + kImage); }

  temp_dir root_;
  scoped_env root_env_;
  std::string top_;
  const std::string list_ = ".tarn/working/scanner/app/app-s.3";
  tarn_scan::consume_request request_;
};

TEST_F(ConsumeTest, ManifestsOldestFirstAndOnlyTheirByteRanges) {
  std::vector<bool> list_there;
  request_.before_removal = [&](const std::string&) {
    list_there.push_back(exists(top_ + "/" + list_));
    return true;
  };
  tarn_scan::consume_result r;
  ASSERT_FALSE(tarn_scan::consume(request_, &r)) << r.failed;
  EXPECT_EQ(r.manifests, (std::vector<std::string>{"20261209T010000.000Z.json",
                                                   "20261209T020000.000Z.json"}));
  // Block 1 from the piece, block 0 from the path line; block 2 was listed
  // only by the failed run: the size is the file's, the bytes are not taken.
  EXPECT_EQ(mirror(), std::string("AAAAAAAABBBBBBBB") + std::string(8, '\0'));
  EXPECT_EQ(r.pieces, 2u);
  EXPECT_EQ(r.files, 1u);
  EXPECT_EQ(r.owners_gone, 1u);
  // The list stayed while the later manifest named it, and went with it.
  EXPECT_EQ(list_there, (std::vector<bool>{true, true}));
  EXPECT_FALSE(exists(top_ + "/" + list_));
  EXPECT_FALSE(exists(runs_() + "20261209T020000.000Z.json"));
  EXPECT_FALSE(exists(top_ + "/vol1.lock.s"));
}

TEST_F(ConsumeTest, AConsumerKilledBeforeRemovingAManifestTakesItAgain) {
  request_.before_removal = [](const std::string&) { return false; };
  tarn_scan::consume_result r;
  EXPECT_EQ(tarn_scan::consume(request_, &r).value(), EINTR);
  EXPECT_TRUE(r.manifests.empty());
  EXPECT_TRUE(exists(runs_() + "20261209T010000.000Z.json"));
  EXPECT_EQ(mirror(), std::string(8, '\0') + "BBBBBBBB" + std::string(8, '\0'));
  EXPECT_FALSE(exists(top_ + "/vol1.lock.s"));

  // A scan holds the lock: nothing is taken.
  write_file(top_ + "/vol1.lock.s", "");
  request_.before_removal = nullptr;
  EXPECT_EQ(tarn_scan::consume(request_, &r).value(), EEXIST) << r.failed;
  ASSERT_EQ(unlink((top_ + "/vol1.lock.s").c_str()), 0);

  // The file changed meanwhile: the run again takes its bytes of now.
  write_file(top_ + "/app/img", "aaaaaaaabbbbbbbbcccc");
  r = tarn_scan::consume_result();
  ASSERT_FALSE(tarn_scan::consume(request_, &r)) << r.failed;
  EXPECT_EQ(r.manifests.size(), 2u);
  EXPECT_EQ(mirror(), std::string("aaaaaaaabbbbbbbb") + std::string(4, '\0'));
}

// A manifest that names a file outside the lists is refused: the consumer
// removes what it names.
TEST_F(ConsumeTest, AManifestNamingAFileOutsideTheListsIsRefused) {
  write_file(root_.path("precious"), "keep\n");
  write_file(runs_() + "20261209T000000.000Z.json",
             "{\"lists\": [{\"path\": \".tarn/working/scanner/../../../../precious\", "
             "\"offset\": 0, \"end\": 5}]}");
  tarn_scan::consume_result r;
  EXPECT_EQ(tarn_scan::consume(request_, &r).value(), EINVAL);
  EXPECT_NE(r.failed.find("names a list outside .tarn/working/scanner/"), std::string::npos);
  EXPECT_EQ(read_file(root_.path("precious")), "keep\n");
  EXPECT_TRUE(r.manifests.empty());
}

}  // namespace
}  // namespace tarn
