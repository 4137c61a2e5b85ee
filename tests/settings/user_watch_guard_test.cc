// The folders user mode will not watch, each judged by its path and by a
// link to it; the root, the home folder, the database and the run log are
// left to the end-to-end tests of sweeply.
#include "settings/user_watch_guard.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

TEST(UserWatchGuardTest, RefusesTheTrashAndFoldersHoldingTheToolsFiles) {
  TempDir temp;
  RunWorld world;
  world.homeDirectory = temp.file("home");
  world.userTrashPath = temp.file("home/.local/share/Trash/files");
  for (const char* folder : {"home/Library/Preferences", "home/Library/Logs", "home/Mail",
                             "home/.local/share/Trash/files"}) {
    fs::create_directories(temp.file(folder));
  }
  const struct {
    const char* folder;
    const char* says;  // empty: may be watched
  } rows[] = {
      {"home/Library/Preferences", "holds the preferences"},
      {"home/Library/Logs", "holds the journal"},
      {"home/.local/share/Trash/files", "is the Trash"},
      {"home/.local", "holds the Trash"},
      {"home/Mail", ""},
  };
  for (const auto& row : rows) {
    const std::string path = temp.file(row.folder);
    const std::string link = temp.file("link");
    fs::remove(link);
    fs::create_directory_symlink(path, link);
    for (const std::string& watched : {path, link}) {
      SCOPED_TRACE(watched);
      const std::optional<WatchRefusal> refusal =
          userWatchRefusal(userWatchGuard(world, nullptr), watched, folderIdentity(watched));
      EXPECT_EQ(row.says, refusal ? refusal->reason : std::string());
    }
  }
}

}  // namespace
}  // namespace sweeprun
