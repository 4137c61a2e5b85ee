#include "companion/config_import.h"

#include <gtest/gtest.h>

#include "companion_test_env.h"
#include "model/trash_item.h"

namespace sweeprun {
namespace {

class ConfigImportTest : public CompanionTest {
 protected:
  TrashFolder stored(const std::string& path, uint64_t hits) {
    TrashFolder folder = TrashFolder::folderWithPath();
    folder.setPath(path);
    folder.setValue("hits", Value::unsignedInteger(hits));
    folder.setValue("busy", Value::text("kept"));
    auto items = std::make_shared<ItemList>();
    items->push_back(TrashItem::withAttributes(path + "/old.txt", nullptr, now_));
    folder.setItems(items);
    return folder;
  }

  // Parses a configuration file whose "Folders" array holds |entries|.
  void parse(TrashConfigFileParser& parser, const std::string& entries) {
    const std::string file = temp_.write(
        "import.plist", "<?xml version=\"1.0\"?><plist><dict><key>DataFile</key><string>" +
                            temp_.file("db.data") + "</string><key>Folders</key><array>" + entries +
                            "</array></dict></plist>");
    ASSERT_TRUE(parser.parse(file)) << err();
  }
  static std::string entry(const std::string& path, const std::string& more = "") {
    return "<dict><key>Path</key><string>" + path + "</string>" + more + "</dict>";
  }
};

TEST_F(ConfigImportTest, KeepsHistoryAndTheFoldersTheFileDoesNotName) {
  const std::string a = folder("A"), b = folder("B"), c = folder("C");
  FolderList list = {stored(a, 3), stored(b, 7)};
  TrashConfigFileParser parser(context_);
  parse(parser, entry(c) + entry(b, "<key>Action</key><string>delete</string>"));

  ImportOutcome outcome = importConfiguredFolders(parser, list);
  EXPECT_EQ(1u, outcome.updated);
  EXPECT_EQ(1u, outcome.added);
  EXPECT_TRUE(outcome.warnings.empty());
  ASSERT_EQ(3u, list.size());
  EXPECT_EQ(a, list[0].path());
  EXPECT_EQ(Value::unsignedInteger(3), list[0].value("hits"));
  EXPECT_EQ(b, list[1].path()) << "an updated folder keeps its place";
  EXPECT_EQ(TrashFolder::kDeleteAction, list[1].value("play").asInteger());
  EXPECT_EQ(Value::unsignedInteger(7), list[1].value("hits"));
  EXPECT_EQ("kept", list[1].value("busy").asText());
  ASSERT_TRUE(list[1].items());
  EXPECT_EQ(1u, list[1].items()->size());
  EXPECT_EQ(c, list[2].path());
  EXPECT_TRUE(list[2].value("hits").isNone());
}

TEST_F(ConfigImportTest, PatternsThatFindNothingAreReported) {
  const std::string offline = temp_.file("Volumes/Backup/Inbox");
  const std::string pattern = temp_.file("Volumes/*/Nothing");
  FolderList list;
  TrashConfigFileParser parser(context_);
  parse(parser,
        entry(offline, "<key>NetworkDisk</key><true/>") + entry(pattern) + entry(offline + "2"));

  ImportOutcome outcome = importConfiguredFolders(parser, list);
  ASSERT_EQ(1u, list.size()) << "an absent network folder is still a folder to watch";
  EXPECT_EQ(offline, list[0].path());
  EXPECT_FALSE(list[0].value("glob").isText());
  ASSERT_EQ(2u, outcome.warnings.size());
  EXPECT_NE(std::string::npos, outcome.warnings[0].find(pattern));
  EXPECT_NE(std::string::npos, outcome.warnings[1].find(offline + "2"));
}

}  // namespace
}  // namespace sweeprun
