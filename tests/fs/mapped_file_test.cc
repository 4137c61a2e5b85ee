#include "fs/mapped_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

TEST(MappedFileTest, ReadsRegularFilesOnly) {
  TempDir dir;
  const std::string content(3 * 4096 + 5, 'm');
  dir.write("data", content);
  dir.write("empty", "");
  fs::create_directory(dir.file("folder"));
  ASSERT_EQ(0, mkfifo(dir.file("pipe").c_str(), 0600));

  std::string error;
  MappedFile file;
  ASSERT_TRUE(file.open(dir.file("data"), error)) << error;
  EXPECT_TRUE(file.bytes() == content);
  file.releasePages();
  EXPECT_TRUE(file.bytes() == content);  // read again from the file
  EXPECT_FALSE(file.damaged());

  MappedFile empty;
  ASSERT_TRUE(empty.open(dir.file("empty"), error)) << error;
  EXPECT_TRUE(empty.bytes().empty());

  const struct {
    const char* name;
    const char* error;
  } kRefused[] = {
      {"folder", "read(%): Is a directory"},
      {"pipe", "read(%): Invalid argument"},  // and the open does not hang
      {"nothing", "open(%): No such file or directory"},
  };
  for (const auto& c : kRefused) {
    SCOPED_TRACE(c.name);
    MappedFile refused;
    EXPECT_FALSE(refused.open(dir.file(c.name), error));
    std::string expected = c.error;
    expected.replace(expected.find('%'), 1, dir.file(c.name));
    EXPECT_EQ(expected, error);
    EXPECT_TRUE(refused.bytes().empty());
  }
}

TEST(MappedFileTest, CutShortReadsZerosInsteadOfEndingTheProcess) {
  TempDir dir;
  const std::string path = dir.write("data", std::string(4 * 4096, 'x'));
  std::string error;
  MappedFile file;
  ASSERT_TRUE(file.open(path, error)) << error;
  EXPECT_EQ('x', file.bytes()[3 * 4096]);
  fs::resize_file(path, 4096);
  EXPECT_EQ('x', file.bytes()[10]);
  EXPECT_EQ('\0', file.bytes()[3 * 4096]);
  EXPECT_TRUE(file.damaged());
}

}  // namespace
}  // namespace sweeprun
