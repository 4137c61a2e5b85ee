#include "fs/previous_copy.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

bool save(const std::string& path, const std::string& bytes) {
  std::string error;
  const bool saved = writeFileAtomicallyKeepingPrevious(
      path, [&bytes](ByteSink& sink) { return sink.append(bytes); }, error);
  EXPECT_TRUE(saved) << error;
  return saved;
}

TEST(PreviousCopyTest, EachSaveKeepsTheFileItReplacesWithItsOwnerAndMode) {
  TempDir dir;
  const std::string data = dir.file("db.data");
  ASSERT_TRUE(save(data, "first"));
  EXPECT_FALSE(fs::exists(data + ".previous")) << "nothing was replaced";

  ASSERT_EQ(0, ::chmod(data.c_str(), 0640));
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(0, ::chown(data.c_str(), 4321, 4321));
  }
  // A link planted at the copy's name is replaced, and its target untouched.
  const std::string victim = dir.write("victim", "victim");
  fs::create_symlink(victim, data + ".previous");
  ASSERT_TRUE(save(data, "second"));
  ASSERT_TRUE(save(data, "third"));

  EXPECT_EQ("third", dir.read("db.data"));
  EXPECT_EQ("second", dir.read("db.data.previous"));
  EXPECT_EQ("victim", dir.read("victim"));
  struct stat copy;
  ASSERT_EQ(0, ::lstat((data + ".previous").c_str(), &copy));
  EXPECT_TRUE(S_ISREG(copy.st_mode));
  EXPECT_EQ(0640u, copy.st_mode & 07777);
  EXPECT_EQ(root ? 4321u : ::geteuid(), copy.st_uid);
  EXPECT_EQ(1u, copy.st_nlink) << "the copy shares no inode with the database";
}

TEST(PreviousCopyTest, ASaveKilledBetweenItsRenamesLeavesNothingBehindTheNext) {
  TempDir dir;
  const std::string data = dir.file("db.data");
  ASSERT_TRUE(save(data, "one"));
  fs::create_hard_link(data, data + ".previous");  // copy made, database not yet replaced
  ASSERT_TRUE(save(data, "two"));
  EXPECT_EQ("one", dir.read("db.data.previous"));
  size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(dir.path())) entries += !entry.is_directory();
  EXPECT_EQ(2u, entries) << "no temporary name left";
}

TEST(PreviousCopyTest, RestoreRefusesACopyItCannotTrust) {
  const struct {
    const char* label;
    bool needsRoot;  // to give a file away
    void (*plant)(const TempDir& dir);
  } kCases[] = {
      {"a link to a file of the same owner", false,
       [](const TempDir& dir) {
         dir.write("elsewhere", "other");
         fs::create_symlink(dir.file("elsewhere"), dir.file("db.data.previous"));
       }},
      {"a copy others can write", false,
       [](const TempDir& dir) {
         dir.write("db.data.previous", "good");
         ::chmod(dir.file("db.data.previous").c_str(), 0620);
       }},
      {"a copy of another account", true,
       [](const TempDir& dir) {
         dir.write("db.data.previous", "good");
         ::chown(dir.file("db.data.previous").c_str(), 4321, 4321);
       }},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    if (c.needsRoot && ::geteuid() != 0) continue;
    TempDir dir;
    dir.write("db.data", "damaged");
    c.plant(dir);
    const std::string data = dir.file("db.data");
    std::string error;
    EXPECT_FALSE(restorePreviousCopy(data, *identityOfFile(data + ".previous"), error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ("damaged", dir.read("db.data"));
    EXPECT_FALSE(fs::exists(data + ".damaged"));
  }
}

}  // namespace
}  // namespace sweeprun
