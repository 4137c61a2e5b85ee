#include "model/folder_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "model/trash_application.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

// The paths below are absolute: no home folder, no account is read.
const RunWorld kWorld;

// Writes a database of |count| folders at |path| through a store of its own.
void writeFolders(const std::string& path, size_t count) {
  FolderStore store(path, kWorld);
  TrashApplication application;
  std::string error;
  store.load(application, nullptr, error);
  for (size_t i = 0; i < count; ++i) {
    application.trashFolderList()->push_back(TrashFolder::folderWithPath());
  }
  ASSERT_TRUE(store.save(application, error)) << error;
}

TEST(FolderStoreTest, ReadsWhatItSavedAndSavesAgainAfterItsOwnSave) {
  TempDir dir;
  const std::string path = dir.file("Folders.data");
  writeFolders(path, 2);

  FolderStore store(path, kWorld);
  TrashApplication application;
  std::string error;
  ASSERT_EQ(FolderStore::LoadStatus::kLoaded, store.load(application, nullptr, error)) << error;
  EXPECT_EQ(2u, application.countOfTrashFolderList());
  application.trashFolderList()->pop_back();
  ASSERT_TRUE(store.save(application, error)) << error;
  // Its own save is the version it knows now.
  application.trashFolderList()->pop_back();
  ASSERT_TRUE(store.save(application, error)) << error;
}

// Whoever wrote the file behind the store's back (a program that took no
// lock, an editor, a restore from backup), their file wins.
TEST(FolderStoreTest, NeverSavesOverAFileThatChangedOrVanishedSinceTheRead) {
  const struct {
    const char* what;
    void (*change)(const TempDir& dir, const std::string& path);
  } kChanges[] = {
      {"replaced", [](const TempDir&, const std::string& path) { writeFolders(path, 1); }},
      {"emptied", [](const TempDir& dir, const std::string&) { dir.write("Folders.data", ""); }},
  };
  for (const auto& row : kChanges) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    const std::string path = dir.file("Folders.data");
    writeFolders(path, 3);
    FolderStore store(path, kWorld);
    TrashApplication application;
    std::string error;
    ASSERT_EQ(FolderStore::LoadStatus::kLoaded, store.load(application, nullptr, error));
    row.change(dir, path);
    const std::string before = dir.read("Folders.data");
    EXPECT_FALSE(store.save(application, error));
    EXPECT_NE(std::string::npos, error.find("changed on disk")) << error;
    EXPECT_EQ(before, dir.read("Folders.data"));
  }
}

// The store keeps its own record of a failed read, whichever list the
// caller hands it later.
TEST(FolderStoreTest, AFileItCouldNotReadIsReportedAndKept) {
  TempDir dir;
  const std::string path = dir.file("Folders.data");
  ASSERT_EQ(0, mkdir(path.c_str(), 0755));
  FolderStore store(path, kWorld);
  TrashApplication application;
  std::string error;
  EXPECT_EQ(FolderStore::LoadStatus::kDamaged, store.load(application, nullptr, error));
  EXPECT_NE(std::string::npos, error.find(path)) << error;
  application.setTrashFolderList(FolderList());
  EXPECT_FALSE(store.save(application, error));
  EXPECT_NE(std::string::npos, error.find("could not be read")) << error;
}

}  // namespace
}  // namespace sweeprun
