// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Lines split across buffer refills, and a read error told from the end.
#include "scanner/line_reader.h"

#include <gtest/gtest.h>

#include "unit/test_util.h"

namespace tarn {
namespace scanner {
namespace {

using testing_util::temp_dir;
using testing_util::write_file;

std::error_code read_all(const std::string& path, std::size_t buffer_size,
                         std::vector<std::string>* lines) {
  os::file in;
  if (std::error_code ec = os::file::open_for_read(path, &in)) return ec;
  line_reader reader(in, buffer_size);
  for (;;) {
    std::string line;
    bool found = false;
    if (std::error_code ec = reader.next(&line, &found)) return ec;
    if (!found) return std::error_code();
    lines->push_back(line);
  }
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
    for (std::size_t size : {1, 2, 3, 7, 65536}) {
      SCOPED_TRACE(::testing::Message()
                   << "text of " << r.text.size() << " bytes, buffer " << size);
      std::vector<std::string> lines;
      ASSERT_NO_ERROR(read_all(dir.path("in"), size, &lines));
      EXPECT_EQ(lines, r.lines);
    }
  }
}

TEST(LineReaderTest, ReadErrorIsReturned) {
  temp_dir dir;
  std::vector<std::string> lines;
  // A directory opens for reading but cannot be read.
  EXPECT_EQ(read_all(dir.path(), 16, &lines), std::error_code(EISDIR, std::generic_category()));
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
