#include "fs/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "fs/entry_attributes.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

fs::perms permissionsOf(const std::string& path) {
  return fs::symlink_status(path).permissions() & fs::perms::mask;
}

size_t entriesIn(const std::string& directory) {
  size_t count = 0;
  for (auto it = fs::directory_iterator(directory); it != fs::directory_iterator(); ++it) ++count;
  return count;
}

TEST(FileIoTest, AtomicReplaceKeepsTheOldModeAndNewFilesGetTheGivenOne) {
  TempDir dir;
  const std::string old = dir.write("Sweeply.data", "old");
  const fs::perms kept = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(old, kept);
  std::string error;
  ASSERT_TRUE(writeFileAtomically(old, "new content", error)) << error;
  EXPECT_EQ("new content", dir.read("Sweeply.data"));
  EXPECT_EQ(kept, permissionsOf(old));

  const std::string fresh = dir.file("fresh.plist");
  ASSERT_TRUE(writeFileAtomically(fresh, "x", error, 0640)) << error;
  EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
            permissionsOf(fresh));
  EXPECT_EQ(2u, entriesIn(dir.path()));  // no temporary file left behind
}

TEST(FileIoTest, FailedReplaceLeavesTheOldEntryAndNoTemporaryFile) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(writeFileAtomically(dir.file("missing/file"), "x", error));
  EXPECT_NE(std::string::npos, error.find("missing/")) << error;

  // A folder where the file should be cannot be replaced by a file.
  fs::create_directory(dir.file("folder"));
  dir.write("folder/keep", "kept");
  error.clear();
  EXPECT_FALSE(writeFileAtomically(dir.file("folder"), "x", error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ("kept", dir.read("folder/keep"));
  EXPECT_EQ(1u, entriesIn(dir.path()));
}

TEST(FileIoTest, ReplacingALinkReplacesTheLinkNotItsTarget) {
  TempDir dir;
  const std::string target = dir.write("target", "target content");
  fs::create_symlink(target, dir.file("link"));
  std::string error;
  ASSERT_TRUE(writeFileAtomically(dir.file("link"), "new", error)) << error;
  EXPECT_EQ("target content", dir.read("target"));
  EXPECT_FALSE(fs::is_symlink(dir.file("link")));
  EXPECT_EQ("new", dir.read("link"));
}

TEST(FileIoTest, ReadFileReportsTheFailedOperation) {
  TempDir dir;
  std::string bytes, error;
  const std::string binary("a\0b\xff", 4);
  dir.write("data", binary);
  ASSERT_TRUE(readFile(dir.file("data"), bytes, error));
  EXPECT_EQ(binary, bytes);

  EXPECT_FALSE(readFile(dir.file("nothing"), bytes, error));
  EXPECT_EQ("open(" + dir.file("nothing") + "): No such file or directory", error);
  EXPECT_FALSE(readFile(dir.path(), bytes, error));
  EXPECT_EQ("read(" + dir.path() + "): Is a directory", error);
}

TEST(FileIoTest, StreamedReplaceTakesAppendedAndPlacedBytes) {
  TempDir dir;
  const std::string path = dir.write("Sweeply.data", "old");
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  // More than the write buffer, in pieces small and large, with a tail put
  // in place before the bytes in front of it are appended.
  std::string expected;
  for (int i = 0; i < 300000; ++i) expected += static_cast<char>('a' + i % 26);
  expected += std::string(3 << 20, 'L') + "tail";
  std::string error;
  ASSERT_TRUE(writeFileAtomicallyFrom(
      path,
      [&](ByteSink& sink) {
        const size_t body = expected.size() - 4;
        bool ok = sink.writeAt(body, "tail");
        for (size_t i = 0; i < 300000; i += 7)
          ok = ok &&
               sink.append(std::string_view(expected).substr(i, std::min<size_t>(7, 300000 - i)));
        ok = ok && sink.append(std::string(3 << 20, 'L'));
        return ok;
      },
      error))
      << error;
  EXPECT_TRUE(dir.read("Sweeply.data") == expected);
  EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write, permissionsOf(path));
  EXPECT_EQ(1u, entriesIn(dir.path()));
}

TEST(FileIoTest, StreamedReplaceThatFailsKeepsTheOldFile) {
  TempDir dir;
  const std::string path = dir.write("Sweeply.data", "old");
  std::string error;
  EXPECT_FALSE(writeFileAtomicallyFrom(
      path, [](ByteSink& sink) { return sink.append("half") && false; }, error));
  EXPECT_NE(std::string::npos, error.find("could not be made")) << error;
  EXPECT_THROW(writeFileAtomicallyFrom(
                   path,
                   [](ByteSink& sink) -> bool {
                     sink.append(std::string(2 << 20, 'x'));
                     throw std::runtime_error("records changed");
                   },
                   error),
               std::runtime_error);
  EXPECT_EQ("old", dir.read("Sweeply.data"));
  EXPECT_EQ(1u, entriesIn(dir.path()));  // no temporary file left behind
}

TEST(FileIoTest, ExistenceTestsFollowAFinalLink) {
  TempDir dir;
  dir.write("file", "");
  fs::create_directory(dir.file("folder"));
  fs::create_directory_symlink(dir.file("folder"), dir.file("link"));
  fs::create_symlink(dir.file("gone"), dir.file("dangling"));
  EXPECT_TRUE(fileExists(dir.file("file")));
  EXPECT_FALSE(directoryExists(dir.file("file")));
  EXPECT_TRUE(directoryExists(dir.file("link")));
  EXPECT_FALSE(fileExists(dir.file("dangling")));
  EXPECT_FALSE(fileExists(dir.file("gone")));
}

TEST(FileIoTest, FileHandleRefusesLinksFoldersAndHardLinkedFiles) {
  TempDir dir;
  const std::string target = dir.write("target", "secret");
  fs::create_symlink(target, dir.file("link"));
  fs::create_directory(dir.file("folder"));
  // Writing to one name of a file with several would change it wherever its
  // other names lie.
  fs::create_hard_link(target, dir.file("hard-link"));
  std::string error;
  for (const char* name : {"link", "folder", "hard-link"}) {
    EXPECT_FALSE(FileHandle::openForUpdate(dir.file(name), error).isOpen()) << name;
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ("secret", dir.read("target"));

  FileHandle created = FileHandle::openForUpdate(dir.file("new.log"), error);
  ASSERT_TRUE(created.isOpen()) << error;
  EXPECT_TRUE(created.write("abcdef"));
  EXPECT_TRUE(created.seekTo(2));
  EXPECT_TRUE(created.truncateAtPosition());
  std::string content;
  EXPECT_TRUE(created.readAll(content));
  EXPECT_EQ("ab", content);
  created.close();
  EXPECT_FALSE(created.write("x"));
}

TEST(FileIoTest, AttributesDescribeTheEntryItself) {
  TempDir dir;
  const std::string file = dir.write("file", "12345");
  fs::create_symlink(file, dir.file("link"));
  const auto attributes = attributesOfItemAtPath(file);
  ASSERT_TRUE(attributes.has_value());
  EXPECT_TRUE(attributes->isRegularFile());
  EXPECT_EQ(5u, attributes->size);
  ASSERT_TRUE(attributes->modificationDate.has_value());
  const double sinceModified = Date::now().seconds - attributes->modificationDate->seconds;
  EXPECT_GT(sinceModified, -5.0);
  EXPECT_LT(sinceModified, 3600.0);

  const auto link = attributesOfItemAtPath(dir.file("link"));
  ASSERT_TRUE(link.has_value());
  EXPECT_TRUE(link->isSymbolicLink());
  EXPECT_NE(attributes->fileNumber, link->fileNumber);
  EXPECT_EQ(attributes->device, link->device);

  EXPECT_FALSE(attributesOfItemAtPath(dir.file("nothing")).has_value());
  EXPECT_FALSE(attributesOfItemAtPath("").has_value());
}

}  // namespace
}  // namespace sweeprun
