#include "companion/folder_database.h"

#include <gtest/gtest.h>

#include "companion_test_env.h"
#include "fs/file_io.h"

namespace sweeprun {
namespace {

class FolderDatabaseTest : public CompanionTest {
 protected:
  // A database with two folders, one carrying keys only the companion
  // application knows.
  void writeTwoFolders() {
    FolderDatabase database(databasePath());
    std::string error;
    ASSERT_EQ(FolderDatabase::LoadStatus::kMissing, database.load(error));
    for (const char* name : {"A", "B"}) {
      TrashFolder folder = TrashFolder::folderWithPath();
      folder.setPath(folder_(name), process());
      database.folders().push_back(folder);
    }
    database.folders()[1].setValue("busy", Value::text("companion state"));
    database.folders()[1].setValue("hits", Value::unsignedInteger(41));
    ASSERT_TRUE(database.save(error)) << error;
  }
  std::string folder_(const char* name) { return folder(name); }
};

TEST_F(FolderDatabaseTest, CreatesItsFolderAndKeepsWhatItDoesNotChange) {
  writeTwoFolders();
  FolderDatabase database(databasePath());
  std::string error;
  ASSERT_EQ(FolderDatabase::LoadStatus::kLoaded, database.load(error)) << error;
  database.folders()[0].setValue("ison", Value::boolean(false));
  ASSERT_TRUE(database.save(error)) << error;

  const FolderList stored = storedFolders();
  ASSERT_EQ(2u, stored.size());
  EXPECT_FALSE(stored[0].value("ison").asBool());
  EXPECT_EQ("companion state", stored[1].value("busy").asText());
  EXPECT_EQ(Value::unsignedInteger(41), stored[1].value("hits"));
}

TEST_F(FolderDatabaseTest, DamagedFileIsReportedAndNeverWritten) {
  const std::string kDamaged[] = {
      "not a property list",
      std::string("bplist00\x00\x01", 10),
      "<?xml version=\"1.0\"?><plist><array><string>x</string></array></plist>",
      "<?xml version=\"1.0\"?><plist><dict><key>$top</key><dict/></dict></plist>",
  };
  for (const std::string& bytes : kDamaged) {
    SCOPED_TRACE(bytes);
    std::filesystem::create_directories(std::filesystem::path(databasePath()).parent_path());
    std::string error;
    ASSERT_TRUE(writeFileAtomically(databasePath(), bytes, error));
    FolderDatabase database(databasePath());
    EXPECT_EQ(FolderDatabase::LoadStatus::kDamaged, database.load(error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(database.folders().empty());
    EXPECT_FALSE(database.save(error));
    std::string after;
    ASSERT_TRUE(readFile(databasePath(), after, error));
    EXPECT_EQ(bytes, after);
  }
}

TEST_F(FolderDatabaseTest, ChangeSavedMeanwhileIsNotOverwritten) {
  writeTwoFolders();
  FolderDatabase mine(databasePath());
  FolderDatabase theirs(databasePath());
  std::string error;
  ASSERT_EQ(FolderDatabase::LoadStatus::kLoaded, mine.load(error));
  ASSERT_EQ(FolderDatabase::LoadStatus::kLoaded, theirs.load(error));
  theirs.folders().pop_back();
  ASSERT_TRUE(theirs.save(error)) << error;

  mine.folders()[0].setValue("gran", Value::integer(0));
  EXPECT_FALSE(mine.save(error));
  EXPECT_EQ(1u, storedFolders().size());
}

// A report reads the tracked entries of the folders it names only, and a
// database loaded for a report is never written back without them.
TEST_F(FolderDatabaseTest, AReportDecodesOnlyTheEntriesItShows) {
  writeTwoFolders();
  {
    FolderDatabase database(databasePath());
    std::string error;
    ASSERT_EQ(FolderDatabase::LoadStatus::kLoaded, database.load(error)) << error;
    for (TrashFolder& folder : database.folders()) {
      TrashItem item;
      item.setValue("path", Value::text(std::string(folder.path()) + "/entry"));
      folder.setItems(std::make_shared<ItemList>(ItemList{item}));
    }
    ASSERT_TRUE(database.save(error)) << error;
  }
  FolderDatabase database(databasePath());
  std::string error;
  const std::string shown = folder_("B");
  const auto onlyShown = [&](std::string_view path) { return path == shown; };
  ASSERT_EQ(FolderDatabase::LoadStatus::kLoaded, database.load(error, onlyShown)) << error;
  ASSERT_EQ(2u, database.folders().size());
  EXPECT_EQ(nullptr, database.folders()[0].items());
  ASSERT_NE(nullptr, database.folders()[1].items());
  EXPECT_EQ(shown + "/entry", database.folders()[1].items()->at(0).path());
  EXPECT_EQ("companion state", database.folders()[1].value("busy").asText());
  EXPECT_FALSE(database.save(error));
  ASSERT_EQ(2u, storedFolders().size());
  EXPECT_EQ(1u, storedFolders()[0].items()->size());
}

}  // namespace
}  // namespace sweeprun
