#include "fs/trash_finder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/fs_tree.h"
#include "support/test_process.h"

namespace sweeprun {
namespace {

// In system mode root opens the Trash of each entry's owner, in folders that
// owner (or anyone) may have made. Every folder on the way must be the
// owner's own, or root's where the layout allows it (on the way to a home
// Trash); one of anyone else is refused however private its mode.
TEST(TrashFinderTest, TrashFoldersOfTheWrongOwnerAreRefused) {
  if (!runningAsRoot()) GTEST_SKIP() << "needs root to give folders to other users";
  constexpr uid_t kUser = 4301, kOther = 4302;
  const struct {
    const char* label;
    bool inHome;         // in the user's home, else at the top of the file system
    const char* folder;  // made with mode 0700, the folders above it the user's
    uid_t owner;
    bool used;
  } kCases[] = {
      {"home: .local of another user", true, ".local", kOther, false},
      {"home: Trash of another user", true, ".local/share/Trash", kOther, false},
      {"home: Trash/files of another user", true, ".local/share/Trash/files", kOther, false},
      {"home: .local of root", true, ".local", 0, true},
      {"home: Trash of the user", true, ".local/share/Trash", kUser, true},
      {"top: .Trash-4301 of root", false, ".Trash-4301", 0, false},
      {"top: .Trash-4301 of another user", false, ".Trash-4301", kOther, false},
      {"top: .Trash-4301 of the user", false, ".Trash-4301", kUser, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    TestProcess process;
    const std::string top = process.dir().file("volume"), home = top + "/home";
    const std::string watched = top + "/watched";
    for (const std::string& path : {top, home, watched}) makeFolder(path);
    ASSERT_EQ(0, chown(home.c_str(), kUser, kUser));
    writeText(watched + "/old", "");
    ASSERT_EQ(0, chown((watched + "/old").c_str(), kUser, kUser));
    std::string path = c.inHome ? home : top;
    for (std::string rest = c.folder; !rest.empty();) {
      const size_t slash = rest.find('/');
      path += "/" + rest.substr(0, slash);
      rest = slash == std::string::npos ? "" : rest.substr(slash + 1);
      makeFolder(path, 0700);
      ASSERT_EQ(0, chown(path.c_str(), rest.empty() ? c.owner : kUser, kUser));
    }
    process.context.systemMode = true;
    process.context.accountOf = [&](unsigned user) {
      return c.inHome && user == kUser ? std::optional<UserAccount>(UserAccount{home, kUser})
                                       : std::nullopt;
    };
    process.context.mountPointOf = [&](uint64_t, const std::string&) {
      return c.inHome ? std::nullopt : std::optional<std::string>(top);
    };

    DirHandle folder;
    std::string notes, error;
    ASSERT_EQ(OpenStatus::kOpened, DirHandle::openDirectory(watched, folder, error)) << error;
    UserTrash trash;
    const TrashFinder finder(std::nullopt, process.context.accountOf, process.context.mountPointOf);
    const OpenStatus status = finder.openTrashFor(folder, "old", trash, notes, error);
    EXPECT_EQ(c.used, status == OpenStatus::kOpened) << error;
    if (!c.used) {
      EXPECT_NE(std::string::npos, error.find("owned by")) << error;
    }
  }
}

}  // namespace
}  // namespace sweeprun
