#include "fs/mapped_appender.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace sweeprun {
namespace {

// Appends of every size, one larger than a whole window, land in order;
// while the appender works the file is its content followed by zeros only,
// which is what a killed process leaves behind.
TEST(MappedAppenderTest, AppendsAcrossWindowsAndCutsTheReserveOnFinish) {
  TempDir dir;
  const std::string path = dir.write("log", "before\n");
  std::string error;
  FileHandle file = FileHandle::openForUpdate(path, error);
  ASSERT_TRUE(file.isOpen()) << error;
  MappedAppender appender;
  constexpr size_t kWindow = 4096;
  ASSERT_TRUE(appender.start(file, 7, kWindow));

  std::string expected = "before\n";
  for (size_t size : std::vector<size_t>{1, 100, 4095, 4096, 3 * kWindow + 17, 5, 2000}) {
    const std::string piece(size, static_cast<char>('a' + size % 26));
    ASSERT_TRUE(appender.append(piece)) << size;
    expected += piece;
    const std::string onDisk = dir.read("log");
    ASSERT_GE(onDisk.size(), expected.size());
    EXPECT_EQ(expected, onDisk.substr(0, expected.size()));
    EXPECT_EQ(std::string::npos, onDisk.find_first_not_of('\0', expected.size()));
    uint64_t end = 0;
    ASSERT_TRUE(MappedAppender::contentEnd(file, end));
    EXPECT_EQ(expected.size(), end);
  }
  EXPECT_EQ(expected.size(), appender.end());
  ASSERT_TRUE(appender.finish());
  EXPECT_EQ(expected, dir.read("log"));
}

TEST(MappedAppenderTest, ContentEndsBeforeTheTrailingZeros) {
  struct Row {
    std::string bytes;
    uint64_t end;
  } rows[] = {
      {"", 0},
      {"abc\n", 4},
      {std::string("abc\0\0\0", 6), 3},
      {std::string(10, '\0'), 0},
      {std::string("a\0b", 3) + std::string(200000, '\0'), 3},  // zeros across pieces
  };
  for (const Row& row : rows) {
    TempDir dir;
    std::string error;
    FileHandle file = FileHandle::openForUpdate(dir.write("f", row.bytes), error);
    ASSERT_TRUE(file.isOpen()) << error;
    uint64_t end = 99;
    ASSERT_TRUE(MappedAppender::contentEnd(file, end));
    EXPECT_EQ(row.end, end) << row.bytes.size() << " bytes";
  }
}

}  // namespace
}  // namespace sweeprun
