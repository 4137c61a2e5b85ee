#include "model/trash_application.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <utility>
#include <vector>

#include "os/exception.h"
#include "os/process.h"
#include "support/test_process.h"

namespace sweeprun {
namespace {

class RecordingObserver : public TrashFolderListObserver {
 public:
  explicit RecordingObserver(const TrashApplication& app) : app_(app) {}
  void willChangeTrashFolderList(size_t oldCount) override {
    calls.push_back("will " + std::to_string(oldCount) + " at " + count());
  }
  void didChangeTrashFolderList(size_t oldCount) override {
    calls.push_back("did " + std::to_string(oldCount) + " at " + count());
  }
  std::vector<std::string> calls;

 private:
  std::string count() const { return std::to_string(app_.countOfTrashFolderList()); }
  const TrashApplication& app_;
};

class FakeMerger : public FolderListMerger {
 public:
  void merge(FolderList* stored) override {
    merged.push_back(stored ? static_cast<int>(stored->size()) : -1);
    if (stored) stored->push_back(TrashFolder::folderWithPath());
  }
  std::optional<NameList> globalIgnoreList() const override { return NameList{".DS_Store"}; }
  std::vector<int> merged;
};

// A well-formed keyed archive whose top holds no root object.
constexpr std::string_view kArchiveWithoutRoot = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>$archiver</key><string>NSKeyedArchiver</string>
<key>$version</key><integer>100000</integer>
<key>$top</key><dict/>
<key>$objects</key><array><string>$null</string></array>
</dict></plist>
)";

class TrashApplicationTest : public ::testing::Test {
 protected:
  TrashFolder folderAt(const std::string& name) {
    const std::string path = test_.dir().file(name);
    EXPECT_EQ(0, mkdir(path.c_str(), 0755));
    TrashFolder folder = TrashFolder::folderWithPath();
    folder.setPath(path, test_.context);
    return folder;
  }

  TestProcess test_;
};

TEST_F(TrashApplicationTest, ReplacingTheListNotifiesTheOldCountBeforeAndAfter) {
  TrashApplication app;
  RecordingObserver observer(app);
  app.addObserver(&observer);
  app.setTrashFolderList(FolderList(2));
  app.setTrashFolderList(std::nullopt);
  EXPECT_EQ((std::vector<std::string>{"will 0 at 0", "did 0 at 2", "will 2 at 2", "did 2 at 0"}),
            observer.calls);
  EXPECT_EQ(nullptr, app.trashFolderList());
}

TEST_F(TrashApplicationTest, FileRoundTripKeepsUnknownKeysKindsItemsAndAliases) {
  TrashFolder first = folderAt("Inbox");
  first.setValue("xtra", Value::array({Value::unsignedInteger(1), Value::data("\x01\x02")}));
  first.setDate(Date{12345.5}, "last");
  first.incrForKey("hits");
  TrashItem item = TrashItem::withAttributes(test_.dir().file("Inbox/a.txt"), nullptr, Date{99.25});
  item.setValue("cdat", Value::date(Date{-5}));
  first.setItems(std::make_shared<ItemList>(ItemList{item}));
  TrashRule rule(kNameRule);
  rule.setValue("zzzz", Value::real(0.1));
  first.rules().push_back(rule);
  TrashFolder second = folderAt("Other");
  second.setValue("temp", Value::boolean(true));

  TrashApplication app;
  FolderList folders;
  folders.push_back(std::move(first));  // a copy would turn "no items" into an empty list
  folders.push_back(std::move(second));
  app.setTrashFolderList(std::move(folders));
  const std::string database = test_.dir().file("db.data");
  std::string archiveError;
  ASSERT_TRUE(app.archiveToFile(database, archiveError));

  TrashApplication back;
  back.unarchiveWithFile(database, test_.context, nullptr);
  ASSERT_EQ(2u, back.countOfTrashFolderList());
  const FolderList& original = *app.trashFolderList();
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const TrashFolder& folder = back.objectInTrashFolderListAtIndex(i);
    EXPECT_EQ(original[i].data, folder.data);
    EXPECT_EQ(original[i].aliasRecord(), folder.aliasRecord());
    ASSERT_EQ(original[i].rules().size(), folder.rules().size());
    for (size_t r = 0; r < folder.rules().size(); ++r)
      EXPECT_EQ(original[i].rules()[r].data, folder.rules()[r].data);
  }
  ASSERT_TRUE(back.objectInTrashFolderListAtIndex(0).items());
  EXPECT_EQ(item.dictionary(), back.objectInTrashFolderListAtIndex(0).items()->at(0).dictionary());
  EXPECT_FALSE(back.objectInTrashFolderListAtIndex(1).items());  // none stays none
  EXPECT_EQ("", test_.err());
}

TEST_F(TrashApplicationTest, DatabaseThatYieldedNoListIsNeverReplaced) {
  const std::string withoutRoot = test_.dir().write("noroot.data", kArchiveWithoutRoot);
  const std::string unreadable = test_.dir().file("folder.data");
  ASSERT_EQ(0, mkdir(unreadable.c_str(), 0755));

  for (const std::string& path : {withoutRoot, unreadable}) {
    SCOPED_TRACE(path);
    TrashApplication app;
    app.unarchiveWithFile(path, test_.context, nullptr);
    EXPECT_EQ(nullptr, app.trashFolderList());
    std::string archiveError;
    EXPECT_FALSE(app.archiveToFile(path, archiveError));
    EXPECT_TRUE(app.archiveToFile(test_.dir().file("elsewhere.data"), archiveError));
  }
  EXPECT_EQ(kArchiveWithoutRoot, test_.dir().read("noroot.data"));
  struct stat st;
  ASSERT_EQ(0, stat(unreadable.c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(TrashApplicationTest, ContentThatIsNotAKeyedArchiveThrows) {
  const std::string path = test_.dir().write("text.data", "just some text");
  TrashApplication app;
  EXPECT_THROW(app.unarchiveWithFile(path, test_.context, nullptr), PlatformException);
}

TEST_F(TrashApplicationTest, MergerJoinsTheListThatWasReadAndGivesTheIgnoreList) {
  TrashApplication stored;
  stored.setTrashFolderList(FolderList{folderAt("Inbox")});
  const std::string database = test_.dir().file("db.data");
  std::string archiveError;
  ASSERT_TRUE(stored.archiveToFile(database, archiveError));

  FakeMerger merger;
  TrashApplication fromFile;
  fromFile.unarchiveWithFile(database, test_.context, &merger);
  EXPECT_EQ(2u, fromFile.countOfTrashFolderList());
  EXPECT_EQ(NameList{".DS_Store"}, fromFile.globalIgnoreList());

  TrashApplication withoutFile;
  EXPECT_FALSE(withoutFile.globalIgnoreList());
  withoutFile.unarchiveWithFile(std::nullopt, test_.context, &merger);
  EXPECT_EQ(1u, withoutFile.countOfTrashFolderList());
  EXPECT_EQ((std::vector<int>{1, 0}), merger.merged);
}

}  // namespace
}  // namespace sweeprun
