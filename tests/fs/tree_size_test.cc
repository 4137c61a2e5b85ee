#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "fs/dir_handle.h"
#include "support/fs_tree.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

// A folder's size is its regular files on its own file system: a link is
// not followed and a mount below is not entered, however much lies behind.
TEST(TreeSizeTest, CountsRegularFilesOnTheFoldersFileSystemOnly) {
  TempDir temp;
  for (const char* folder : {"tree", "tree/deep", "tree/deep/mounted"})
    makeFolder(temp.file(folder));
  writeText(temp.file("tree/a"), std::string(60, 'a'));
  writeText(temp.file("tree/deep/b"), std::string(40, 'b'));
  writeText(temp.file("elsewhere"), std::string(5000, 'x'));
  ASSERT_EQ(0, symlink(temp.file("elsewhere").c_str(), temp.file("tree/deep/link").c_str()));
  ScopedTmpfs mount(temp.file("tree/deep/mounted"), "size=64k");
  if (mount.mounted()) writeText(temp.file("tree/deep/mounted/c"), std::string(3000, 'c'));

  DirHandle dir;
  std::string error;
  ASSERT_EQ(OpenStatus::kOpened, DirHandle::openDirectory(temp.path(), dir, error)) << error;
  uint64_t bytes = 0;
  EXPECT_TRUE(dir.treeSize("tree", std::chrono::seconds(60), bytes, error)) << error;
  EXPECT_EQ(100u, bytes);
}

}  // namespace
}  // namespace sweeprun
