// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Attribute values of any length, read through core/platform.h.
#include "core/platform.h"

#include <sys/xattr.h>

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

}  // namespace
}  // namespace scanner
}  // namespace tarn
