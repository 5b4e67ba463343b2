// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Attribute values of any length and files read at offsets, through
// core/platform.h.
#include "core/platform.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::temp_dir;
using testing_util::write_file;

// A call that failed without setting errno must not read as success.
TEST(PlatformTest, AFailureThatLeftErrnoAtZeroIsEIO) {
  errno = 0;
  EXPECT_EQ(os::last_error(), std::error_code(EIO, std::generic_category()));
  errno = ENOSPC;
  EXPECT_EQ(os::last_error(), std::error_code(ENOSPC, std::generic_category()));
}

bool is_open_fd(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

// Each descriptor is closed exactly once: by close(), which reports, or by
// whichever owner holds it last.
TEST(PlatformTest, AnOwnedHandleIsClosedOnceByItsLastOwner) {
  const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  {
    os::unique_fd first(fd);
    os::unique_fd second(std::move(first));
    EXPECT_FALSE(first);
    os::unique_fd third;
    third = std::move(second);
    EXPECT_EQ(third.get(), fd);
    EXPECT_TRUE(is_open_fd(fd));
  }
  EXPECT_FALSE(is_open_fd(fd));

  os::unique_fd closed(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  const int again = closed.get();
  EXPECT_EQ(closed.close(), std::error_code(0, std::generic_category()));
  EXPECT_FALSE(closed);
  EXPECT_FALSE(is_open_fd(again));
  EXPECT_EQ(closed.close(), std::error_code(0, std::generic_category()));  // nothing held
  // A close that fails says so, and the handle is gone all the same.
  os::unique_fd stale(again);
  EXPECT_EQ(stale.close(), std::error_code(EBADF, std::generic_category()));
  EXPECT_FALSE(stale);
}

TEST(PlatformTest, AttributeValuesAreReadWholeWhateverTheirLength) {
  temp_dir dir;
  const std::string file = dir.path("f");
  write_file(file, "");
  // Longer than the first read takes, and one ending in NUL as GlusterFS's
  // path attributes do.
  for (const std::string& value : {std::string(3000, 'p'), std::string("/app2/big.bin\0", 14),
                                   std::string()}) {
    if (setxattr(file.c_str(), "trusted.tarn_test", value.data(), value.size(), 0) != 0) {
      GTEST_SKIP() << "trusted attributes cannot be set here";
    }
    std::string read = "old";
    ASSERT_NO_ERROR(os::get_xattr_value(file, "trusted.tarn_test", &read));
    EXPECT_EQ(read, value);
  }
  std::string read;
  EXPECT_EQ(os::get_xattr_value(file, "trusted.tarn_none", &read).value(), ENODATA);
  EXPECT_EQ(os::get_xattr_value(dir.path("gone"), "trusted.tarn_test", &read).value(), ENOENT);
}

// A read past the end gives 0 bytes, not an error; truncate and sync work on
// the descriptor, and a link is no regular file.
TEST(PlatformTest, ReadsAtOffsetsAndSetsSizes) {
  temp_dir dir;
  write_file(dir.path("f"), "0123456789");
  os::file f;
  ASSERT_NO_ERROR(os::file::open(dir.path("f"), O_RDWR, 0, &f));
  char buffer[8];
  std::size_t got = 0;
  ASSERT_NO_ERROR(f.pread(buffer, sizeof buffer, 6, &got));
  EXPECT_EQ(std::string(buffer, got), "6789");
  ASSERT_NO_ERROR(f.pread(buffer, sizeof buffer, 10, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(f.pread(buffer, sizeof buffer, -1, &got).value(), EINVAL);
  ASSERT_NO_ERROR(f.truncate(3));
  ASSERT_NO_ERROR(f.sync());
  std::int64_t size = 0;
  ASSERT_NO_ERROR(f.size(&size));
  EXPECT_EQ(size, 3);
  ASSERT_NO_ERROR(f.close());
  ASSERT_NO_ERROR(os::sync_directory(dir.path()));
  ASSERT_EQ(symlink("f", dir.path("link").c_str()), 0);
  bool regular = false;
  ASSERT_NO_ERROR(os::lstat_regular(dir.path("f"), &regular));
  EXPECT_TRUE(regular);
  ASSERT_NO_ERROR(os::lstat_regular(dir.path("link"), &regular));
  EXPECT_FALSE(regular);
  EXPECT_EQ(os::lstat_regular(dir.path("gone"), &regular).value(), ENOENT);
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
