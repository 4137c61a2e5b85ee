#include "settings/trash_config_file_parser.h"

#include <gtest/gtest.h>

#include "settings/config_test_env.h"

namespace sweeprun {
namespace {

TEST(TrashConfigFileParserTest, StartsWithTheSystemModeDefaults) {
  const RunWorld world;
  TrashConfigFileParser settings(world);
  EXPECT_EQ("%F", settings.stringForKey("DateFormat"));
  EXPECT_EQ(Value::boolean(true), settings.objectForKey("UseGrowl"));
  EXPECT_EQ("/var/log/sweeply.log", settings.stringForKey("LogFileName"));
  EXPECT_FALSE(settings.boolForKey("LogToFile"));
  EXPECT_EQ(Value::text("0"), settings.objectForKey("LogLimit"));
  EXPECT_EQ(0, settings.objectForKey("LogLimit").numericReading());
  // User mode registers these; the parser never consults user defaults.
  EXPECT_TRUE(settings.objectForKey("LogApp").isNone());
  EXPECT_EQ(std::nullopt, settings.stringForKey("UseGrowl"));  // not a text

  settings.setBool(true, "ison");
  EXPECT_EQ(Value::boolean(true), settings.objectForKey("ison"));
  EXPECT_TRUE(settings.boolForKey("ison"));
}

TEST(TrashConfigFileParserTest, MinimalFileYieldsOneNewFolderAndKeepsTheDefaults) {
  ConfigTestEnv env;
  const std::string watched = env.makeDir("watched");
  TrashConfigFileParser parser(env.context);
  ASSERT_TRUE(parser.parse(env.writeConfig(configRoot(folderEntry()))));
  EXPECT_EQ("", env.out.str());

  EXPECT_EQ(env.dir + "/db.data", parser.dbPath());
  EXPECT_EQ(std::nullopt, parser.globalIgnoreList());
  EXPECT_EQ("/var/log/sweeply.log", parser.stringForKey("LogFileName"));
  ASSERT_TRUE(parser.folders());
  ASSERT_EQ(1u, parser.folders()->size());
  const TrashFolder& folder = parser.folders()->front();
  EXPECT_EQ(watched, folder.path());
  EXPECT_TRUE(folder.value("data.glob").isNone());
  const TrashFolder fresh = TrashFolder::folderWithPath();
  for (const char* key : {"play", "move", "datf", "ison", "temp", "gran"}) {
    EXPECT_EQ(fresh.value(key), folder.value(key)) << key;
  }
  EXPECT_TRUE(folder.value("once").isNone());
  ASSERT_EQ(1u, folder.rules().size());
  EXPECT_EQ(TrashRule::trashRule().data, folder.rules()[0].data);
}

// Every fault the reader reports, each as the first fault of its file.
TEST(TrashConfigFileParserTest, ReportsTheFirstFaultInCheckMode) {
  const std::string kRoot = "<key>DataFile</key><string>$DIR/db.data</string>";
  const struct {
    const char* label;
    std::string config;
    std::string message;
  } kCases[] = {
      {"vocabulary key at the wrong level (root)",
       configRoot(folderEntry(), "<key>Path</key><string>/x</string>"),
       "Not a valid key at level 1: Path."},
      {"vocabulary key at the wrong level (folder entry)",
       configRoot(folderEntry("<key>LogToFile</key><true/>")),
       "Not a valid key at level 3: LogToFile."},
      {"unknown key at the root", configRoot(folderEntry(), "<key>Foo</key><string/>"),
       "Not a valid key: Foo."},
      {"unknown key in a folder entry",
       configRoot(folderEntry("<key>Foo</key><integer>1</integer>")), "Not a valid key: Foo."},
      {"two faults: the first in the file is reported",
       configRoot(folderEntry(), "<key>Bar</key><true/><key>Foo</key><true/>"),
       "Not a valid key: Bar."},
      {"text where a number belongs",
       configRoot(folderEntry(), "<key>LogToFile</key><string>YES</string>"),
       "Value for key 'LogToFile' is of incorrect type."},
      {"date where a number belongs",
       configRoot(folderEntry("<key>NetworkDisk</key><date>2020-01-01T00:00:00Z</date>")),
       "Value for key 'NetworkDisk' is of incorrect type."},
      {"text as a folder entry", configRoot("<string>/tmp</string>"),
       "Value for key 'Folders' is of incorrect type."},
      {"number as an ignored name",
       configRoot(folderEntry(), "<key>FilesToIgnore</key><array><integer>3</integer></array>"),
       "Value for key 'FilesToIgnore' is of incorrect type."},
      {"Condition given as an array",
       configRoot(folderEntry("<key>Condition</key><array><string>size: &gt; 1</string></array>")),
       "Not a valid key at level 4: Condition."},
      {"unknown action", configRoot(folderEntry("<key>Action</key><string>recycle</string>")),
       "Unrecognised action: recycle."},
      {"folder entry without Path",
       configRoot("<dict><key>Action</key><string>delete</string></dict>"),
       "Required key missing: Path."},
      {"no DataFile", "<dict><key>Folders</key><array>" + folderEntry() + "</array></dict>",
       "Required key missing: DataFile."},
      {"no DataFile comes before empty Folders", "<dict><key>Folders</key><array/></dict>",
       "Required key missing: DataFile."},
      {"DataFile in a missing folder",
       "<dict><key>DataFile</key><string>$DIR/nonexistent/dir/x.data</string>"
       "<key>Folders</key><array>" +
           folderEntry() + "</array></dict>",
       "Directory not found: $DIR/nonexistent/dir ."},
      {"empty Folders", configRoot(""), "Folders missing or empty."},
      {"no Folders", "<dict>" + kRoot + "</dict>", "Folders missing or empty."},
      {"condition that does not parse",
       configRoot(folderEntry("<key>Conditions</key><array><string>size: &lt; 1</string>"
                              "<string>colour: red</string></array>")),
       "Unable to handle condition 'colour: red': expected 'delay:', 'size:' or 'name:' at the "
       "start."},
      {"root that is not a dictionary", "<array>" + folderEntry() + "</array>",
       "The configuration root must be a dictionary."},
      {"root that is a text", "<string>hello</string>",
       "The configuration root must be a dictionary."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    ConfigTestEnv env;
    env.makeDir("watched");
    TrashConfigFileParser parser(env.context);
    EXPECT_FALSE(parser.parse(env.writeConfig(c.config)));
    std::string expected = c.message;
    if (size_t at = expected.find("$DIR"); at != std::string::npos)
      expected.replace(at, 4, env.dir);
    EXPECT_EQ("Error: " + expected + "\n", env.firstLine());
  }
}

TEST(TrashConfigFileParserTest, UnreadableOrMalformedFileIsReported) {
  ConfigTestEnv env;
  TrashConfigFileParser missing(env.context);
  EXPECT_FALSE(missing.parse(env.dir + "/absent.plist"));
  EXPECT_NE(std::string::npos, env.out.str().find(env.dir + "/absent.plist")) << env.out.str();

  env.out.str("");
  TrashConfigFileParser malformed(env.context);
  EXPECT_FALSE(malformed.parse(env.writeBytes("<plist><dict><key>DataFile", "bad.plist")));
  EXPECT_EQ(0u, env.out.str().rfind("Error: ", 0)) << env.out.str();
  EXPECT_GT(env.out.str().size(), std::string("Error: \n").size());
}

TEST(TrashConfigFileParserTest, SystemModeReportsToTheSystemLog) {
  ConfigTestEnv env;
  env.context.checkMode = false;
  env.context.systemMode = true;
  env.makeDir("watched");
  TrashConfigFileParser parser(env.context);
  EXPECT_FALSE(parser.parse(env.writeConfig(configRoot(""))));
  EXPECT_EQ("", env.out.str());
  EXPECT_EQ("Error parsing config file: Folders missing or empty.\n", env.err.str());
}

TEST(TrashConfigFileParserTest, RootKeysBecomeSettings) {
  ConfigTestEnv env;
  env.makeDir("watched");
  TrashConfigFileParser parser(env.context);
  parser.setBool(true, "ison");
  ASSERT_TRUE(parser.parse(env.writeConfig(configRoot(
      folderEntry(),
      "<key>Description</key><string>comment</string>"
      "<key>Disabled</key><true/><key>LogToFile</key><integer>1</integer>"
      "<key>LogLimit</key><real>2.5</real><key>LogFileName</key><string>/var/log/x.log</string>"
      "<key>FilesToIgnore</key><array><string>.DS_Store</string><string>Icon</string></array>"))));
  EXPECT_FALSE(parser.boolForKey("ison"));
  EXPECT_TRUE(parser.boolForKey("LogToFile"));
  EXPECT_EQ(2.5, parser.objectForKey("LogLimit").numericReading());
  EXPECT_EQ("/var/log/x.log", parser.stringForKey("LogFileName"));
  EXPECT_EQ((NameList{".DS_Store", "Icon"}), parser.globalIgnoreList());
  EXPECT_TRUE(parser.objectForKey("Description").isNone());
  // A disabled run leaves its folders enabled: only "ison" of the settings says no.
  EXPECT_TRUE(parser.folders()->front().value("ison").asBool());
}

TEST(TrashConfigFileParserTest, FolderEntryKeysFillTheFolderRecord) {
  const struct {
    const char* label;
    std::string keys;
    Dictionary expected;
  } kCases[] = {
      {"Delete",
       "<key>Action</key><string>Delete</string>",
       {{"play", Value::integer(1)}, {"move", Value::text("")}}},
      {"MoveTo keeps the destination's case",
       "<key>Action</key><string>MoveTo:/Volumes/Archive/Old</string>",
       {{"play", Value::integer(2)}, {"move", Value::text("/Volumes/Archive/Old")}}},
      {"Trash changes nothing",
       "<key>Action</key><string>Trash</string>",
       {{"play", Value::integer(0)}, {"move", Value::text("")}}},
      {"numbers are kept as written",
       "<key>MoveWithDate</key><integer>1</integer><key>NetworkDisk</key><true/>"
       "<key>MeetAllConditions</key><real>0</real>",
       {{"datf", Value::integer(1)}, {"temp", Value::boolean(true)}, {"gran", Value::real(0)}}},
      {"read-me file",
       "<key>ReadMeFileName</key><string>READ ME</string><key>ReadMeText</key><string>Hi</string>",
       {{"rfil", Value::text("READ ME")}, {"rtxt", Value::text("Hi")}}},
      {"Disabled", "<key>Disabled</key><integer>2</integer>", {{"ison", Value::boolean(false)}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    ConfigTestEnv env;
    env.makeDir("watched");
    TrashConfigFileParser parser(env.context);
    ASSERT_TRUE(parser.parse(env.writeConfig(configRoot(folderEntry(c.keys))))) << env.out.str();
    const TrashFolder& folder = parser.folders()->front();
    for (const auto& [key, value] : c.expected)
      EXPECT_EQ(value, folder.value(key.text())) << key.str();
  }
}

TEST(TrashConfigFileParserTest, ConditionsBecomeTheRuleListAndDecideOnce) {
  const struct {
    const char* label;
    std::string keys;
    std::vector<int64_t> ruleKinds;
    Value once;
  } kCases[] = {
      {"no conditions: the default rule", "", {0}, Value()},
      {"empty Conditions: no rules", "<key>Conditions</key><array/>", {}, Value()},
      {"Conditions as one text", "<key>Conditions</key><string>name: *.dmg</string>", {1}, Value()},
      {"Condition",
       "<key>Condition</key><string>delay: 4 days</string>",
       {0},
       Value::boolean(true)},
      {"in order; the last age condition decides once",
       "<key>Conditions</key><array><string>delay: 4 days</string><string>size: &gt; 10</string>"
       "<string>delay: 72 hours</string></array>",
       {0, 2, 0},
       Value::boolean(false)},
      {"check counts are not a day apart",
       "<key>Condition</key><string>delay: 5 checks</string>",
       {0},
       Value::boolean(false)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    ConfigTestEnv env;
    env.makeDir("watched");
    TrashConfigFileParser parser(env.context);
    ASSERT_TRUE(parser.parse(env.writeConfig(configRoot(folderEntry(c.keys))))) << env.out.str();
    const TrashFolder& folder = parser.folders()->front();
    std::vector<int64_t> kinds;
    for (const TrashRule& rule : folder.rules()) kinds.push_back(rule.value("type").asInteger());
    EXPECT_EQ(c.ruleKinds, kinds);
    EXPECT_EQ(c.once, folder.value("once"));
  }
}

}  // namespace
}  // namespace sweeprun
