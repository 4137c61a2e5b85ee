#include <gtest/gtest.h>

#include "settings/config_test_env.h"
#include "settings/trash_config_file_parser.h"

namespace sweeprun {
namespace {

std::vector<std::string> pathsOf(const FolderList& folders) {
  std::vector<std::string> paths;
  for (const TrashFolder& folder : folders) paths.emplace_back(folder.path());
  return paths;
}

// A record as the folder database holds it, with some history.
TrashFolder storedFolder(const std::string& path, uint64_t hits) {
  TrashFolder folder = TrashFolder::folderWithPath();
  folder.setValue("data.path", Value::text(path));
  folder.setValue("data.hits", Value::unsignedInteger(hits));
  return folder;
}

class ConfigMergeTest : public testing::Test {
 protected:
  // Parses a file whose folder entries have the given "Path" texts (with
  // "$DIR" for the scratch folder) and the given extra keys.
  void parseEntries(const std::vector<std::string>& paths, const std::string& keys = "") {
    std::string entries;
    for (const std::string& path : paths)
      entries += "<dict><key>Path</key><string>" + path + "</string>" + keys + "</dict>";
    ASSERT_TRUE(parser.parse(env.writeConfig(configRoot(entries)))) << env.out.str();
  }

  ConfigTestEnv env;
  TrashConfigFileParser parser{env.context};
};

TEST_F(ConfigMergeTest, WildcardPathGivesOneConfiguredFolderPerMatchInOrder) {
  for (const char* user : {"carol", "alice", "bob"})
    env.makeDir(std::string("Users/") + user + "/Downloads");
  env.makeDir("Users/.hidden/Downloads");
  env.makeDir("Users/dave");
  parseEntries({"$DIR/Users/*/Downloads"},
               "<key>Action</key><string>delete</string>"
               "<key>Conditions</key><array><string>size: &gt; 10</string></array>");

  const FolderList& folders = *parser.folders();
  const std::string users = env.dir + "/Users/";
  EXPECT_EQ((std::vector<std::string>{users + "alice/Downloads", users + "bob/Downloads",
                                      users + "carol/Downloads"}),
            pathsOf(folders));
  for (const TrashFolder& folder : folders) {
    EXPECT_EQ(1, folder.value("play").asInteger());
    EXPECT_TRUE(folder.value("glob").isNone());
    ASSERT_EQ(1u, folder.rules().size());
    EXPECT_EQ(10, folder.rules()[0].limit);
  }
}

TEST_F(ConfigMergeTest, PathMatchingNothingBecomesAPatternFolder) {
  env.makeDir("Downloads");  // "~" is not expanded, so this is not found
  parseEntries({"$DIR/Volumes/Backup/Inbox", "~/Downloads", "$DIR/Volumes/*/Inbox"});
  const FolderList& folders = *parser.folders();
  ASSERT_EQ(3u, folders.size());
  EXPECT_EQ(env.dir + "/Volumes/Backup/Inbox", folders[0].path());
  EXPECT_EQ(Value::text(env.dir + "/Volumes/Backup/Inbox"), folders[0].value("glob"));
  EXPECT_EQ(Value::text("~/Downloads"), folders[1].value("glob"));
  EXPECT_EQ(Value::text(env.dir + "/Volumes/*/Inbox"), folders[2].value("glob"));
}

TEST_F(ConfigMergeTest, ConfiguredFoldersTakeTheHistoryOfStoredOnes) {
  env.makeDir("watched");
  env.makeDir("fresh");
  parseEntries({"$DIR/watched", "$DIR/fresh", "$DIR/Volumes/Backup/Inbox", "$DIR/Gone/*"});
  FolderList stored = {storedFolder(env.dir + "/old", 1),
                       storedFolder(env.dir + "/Volumes/Backup/Inbox", 2),
                       storedFolder(env.dir + "/watched", 3)};
  parser.merge(&stored);

  // The exact path first; "/old" is dropped, and so is the pattern folder
  // "Gone/*" that took nothing. "fresh" is added without history.
  EXPECT_EQ((std::vector<std::string>{env.dir + "/watched", env.dir + "/fresh",
                                      env.dir + "/Volumes/Backup/Inbox"}),
            pathsOf(stored));
  EXPECT_EQ(3u, stored[0].value("hits").asUnsigned());
  EXPECT_TRUE(stored[1].value("hits").isNone());
  EXPECT_EQ(1u, stored[1].rules().size());
  EXPECT_EQ(nullptr, stored[1].items());
  EXPECT_EQ(2u, stored[2].value("hits").asUnsigned());
  EXPECT_EQ(std::nullopt, parser.folders());
}

TEST_F(ConfigMergeTest, PatternFolderTakesEveryStoredFolderItMatches) {
  parseEntries({"$DIR/Volumes/*/Inbox"}, "<key>Action</key><string>delete</string>");
  const std::string volumes = env.dir + "/Volumes/";
  FolderList stored = {storedFolder(volumes + "A/Inbox", 1), storedFolder(volumes + "B/Inbox", 2),
                       storedFolder(volumes + "A/Sub/Inbox", 3),
                       storedFolder(volumes + ".hidden/Inbox", 4),
                       storedFolder(volumes + "C/Inbox", 5)};
  parser.merge(&stored);

  EXPECT_EQ(
      (std::vector<std::string>{volumes + "A/Inbox", volumes + "B/Inbox", volumes + "C/Inbox"}),
      pathsOf(stored));
  const uint64_t kHits[] = {1, 2, 5};
  for (size_t i = 0; i < stored.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(kHits[i], stored[i].value("hits").asUnsigned());
    EXPECT_EQ(1, stored[i].value("play").asInteger());
    EXPECT_EQ(Value::text(volumes + "*/Inbox"), stored[i].value("glob"));
  }
}

TEST_F(ConfigMergeTest, TwoEntriesWithOnePathShareNoHistory) {
  env.makeDir("watched");
  parseEntries({"$DIR/watched", "$DIR/watched"});
  FolderList stored = {storedFolder(env.dir + "/watched", 9)};
  parser.merge(&stored);
  ASSERT_EQ(2u, stored.size());
  EXPECT_EQ(9u, stored[0].value("hits").asUnsigned());
  EXPECT_TRUE(stored[1].value("hits").isNone());
}

TEST_F(ConfigMergeTest, NoListOrNoConfiguredFoldersChangesNothing) {
  env.makeDir("watched");
  parseEntries({"$DIR/watched"});
  parser.merge(nullptr);
  ASSERT_TRUE(parser.folders());

  FolderList stored = {storedFolder(env.dir + "/other", 1)};
  TrashConfigFileParser unparsed(env.context);
  unparsed.merge(&stored);
  EXPECT_EQ(1u, stored.size());
}

TEST_F(ConfigMergeTest, PatternThatLooksAtTooManyEntriesIsRefused) {
  for (const char* folder : {"watched/a", "watched/b", "watched/c"}) env.makeDir(folder);
  env.context.maxPatternEntriesVisited = 3;
  EXPECT_FALSE(parser.parse(
      env.writeConfig(configRoot("<dict><key>Path</key><string>$DIR/w*/*</string></dict>"))));
  EXPECT_EQ("Error: Path '" + env.dir +
                "/w*/*' matches too many entries: more than 3 were looked at. Give a narrower "
                "pattern.\n",
            env.firstLine());
}

}  // namespace
}  // namespace sweeprun
