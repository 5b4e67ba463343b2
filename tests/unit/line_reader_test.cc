// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Lines kept byte for byte, and a read error told from the end.
#include "core/platform.h"

#include <gtest/gtest.h>

#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::temp_dir;
using testing_util::write_file;

std::error_code read_all(const std::string& path, std::vector<std::string>* lines) {
  os::line_reader in;
  if (std::error_code ec = in.open(path)) return ec;
  std::string line;
  while (in.next(&line)) lines->push_back(line);
  return in.error();
}

TEST(LineReaderTest, SplitsAtLineFeedsWhateverTheBufferSize) {
  const std::string long_line(1000, 'x');
  struct row {
    std::string text;
    std::vector<std::string> lines;
  };
  const row rows[] = {
      {"", {}},
      {"\n", {""}},
      {"a", {"a"}},
      {"a\n", {"a"}},
      {"a\nbc", {"a", "bc"}},
      {"a\n\n b \n", {"a", "", " b "}},
      {std::string("n\0l\r\n", 5), {std::string("n\0l\r", 4)}},
      {long_line + "\n" + long_line, {long_line, long_line}},
  };
  temp_dir dir;
  for (const row& r : rows) {
    write_file(dir.path("in"), r.text);
    SCOPED_TRACE(::testing::Message() << "text of " << r.text.size() << " bytes");
    std::vector<std::string> lines;
    ASSERT_NO_ERROR(read_all(dir.path("in"), &lines));
    EXPECT_EQ(lines, r.lines);
  }
}

TEST(LineReaderTest, ReadErrorIsReturned) {
  temp_dir dir;
  std::vector<std::string> lines;
  // A directory opens for reading but cannot be read.
  EXPECT_EQ(read_all(dir.path(), &lines), std::error_code(EISDIR, std::generic_category()));
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
