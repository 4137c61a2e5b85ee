#include "fs/temporary_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "fs/file_io.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

// Sets the modification time of |path| itself (a link is not followed).
void age(const std::string& path, int64_t seconds) {
  struct timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= seconds;
  times[1] = times[0];
  ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW)) << path;
}

TEST(TemporaryFileTest, ASaveRemovesOnlyItsOwnAbandonedLeftovers) {
  TempDir dir;
  const bool root = geteuid() == 0;
  const struct {
    const char* name;
    const char* kind;  // "file", "folder", "link", "stranger" (another user's file)
    int64_t ageSeconds;
    bool removed;
  } kCases[] = {
      {".Sweeply.data.tmp-abcd1234", "file", 2 * 3600, true},
      {".Sweeply.data.tmp-0123zyxw", "file", 3601, true},
      {".Sweeply.data.tmp-fresh123", "file", 60, false},  // a writer may still be at work
      {".Sweeply.data.tmp-ABCD1234", "file", 2 * 3600, false},
      {".Sweeply.data.tmp-abcd123", "file", 2 * 3600, false},
      {".Sweeply.data.tmp-abcd12345", "file", 2 * 3600, false},
      {".Other.data.tmp-abcd1234", "file", 2 * 3600, false},
      {"Sweeply.data.tmp-abcd1234", "file", 2 * 3600, false},
      {".Sweeply.data.tmp-folder12", "folder", 2 * 3600, false},
      {".Sweeply.data.tmp-link1234", "link", 2 * 3600, false},
      {".Sweeply.data.tmp-strange1", "stranger", 2 * 3600, false},
  };
  for (const auto& c : kCases) {
    const std::string path = dir.file(c.name);
    const std::string kind = c.kind;
    if (kind == "folder") {
      fs::create_directory(path);
    } else if (kind == "link") {
      fs::create_symlink(dir.write("link-target", "kept"), path);
    } else {
      dir.write(c.name, "left over");
      if (kind == "stranger") {
        if (!root) continue;
        ASSERT_EQ(0, chown(path.c_str(), 1, 1));
      }
    }
    age(path, c.ageSeconds);
  }
  std::string error;
  ASSERT_TRUE(writeFileAtomically(dir.file("Sweeply.data"), "saved", error)) << error;
  for (const auto& c : kCases) {
    if (std::string(c.kind) == "stranger" && !root) continue;
    EXPECT_EQ(!c.removed, fs::exists(fs::symlink_status(dir.file(c.name)))) << c.name;
  }
  EXPECT_EQ("saved", dir.read("Sweeply.data"));
  EXPECT_EQ("kept", dir.read("link-target"));
}

TEST(TemporaryFileTest, WithoutAMinimumAgeEveryLeftoverGoes) {
  TempDir dir;
  dir.write(".Sweeply.data.tmp-abcd1234", "left over");
  dir.write(".Sweeply.data.tmp-efgh5678", "left over");
  DirHandle folder;
  std::string error;
  ASSERT_EQ(OpenStatus::kOpened, DirHandle::openDirectory(dir.path(), folder, error)) << error;
  EXPECT_EQ(0, removeAbandonedTemporaries(folder, "Sweeply.data", kAbandonedTemporaryAgeSeconds));
  EXPECT_EQ(2, removeAbandonedTemporaries(folder, "Sweeply.data", 0));
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
}  // namespace sweeprun
