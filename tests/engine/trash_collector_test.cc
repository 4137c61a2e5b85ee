#include "engine/trash_collector.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "fs/path.h"
#include "os/exception.h"
#include "settings/settings.h"
#include "support/engine_fixture.h"
#include "support/fs_tree.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

using Lines = std::vector<std::string>;

// Settings held in memory; remembers which kind of write stored a value.
class FakeSettings : public Settings {
 public:
  Value objectForKey(std::string_view key) const override {
    auto found = values.find(std::string(key));
    return found == values.end() ? Value::none() : found->second;
  }
  std::optional<std::string> stringForKey(std::string_view key) const override {
    Value value = objectForKey(key);
    if (!value.isText()) return std::nullopt;
    return std::string(value.asText());
  }
  void setObject(const Value& value, std::string_view key) override {
    values[std::string(key)] = value;
    ++inMemoryWrites;
  }
  bool setCompanionValue(const Value& value, std::string_view key) override {
    values[std::string(key)] = value;
    ++companionWrites;
    return true;
  }

  std::map<std::string, Value> values;
  int inMemoryWrites = 0;
  int companionWrites = 0;
};

class CollectorTest : public EngineTest {
 public:
  CollectorTest()
      : database(home() + "/Library/Application Support/Sweeply/Sweeply.data"),
        inbox(home() + "/Inbox") {
    makeFolder(inbox);
  }

  void makeDatabaseFolder() { fs::create_directories(fs::path(database).parent_path()); }

  void saveDatabase(FolderList folders) {
    makeDatabaseFolder();
    TrashApplication application;
    application.setTrashFolderList(std::move(folders));
    std::string archiveError;
    ASSERT_TRUE(application.archiveToFile(database, archiveError));
  }

  FolderList loadDatabase() {
    TrashApplication application;
    application.unarchiveWithFile(database, process(), nullptr);
    return application.trashFolderList() ? *application.trashFolderList() : FolderList();
  }

  bool run() {
    TrashApplication application;
    RunOptions options;
    options.application = &application;
    options.settings = &settings;
    TrashCollector collector(context_, std::move(options));
    return collector.run();
  }

  static std::string startedLine(double unixSeconds) {
    return "Sweeply started at " + standardDateText(Date::fromUnix(unixSeconds)) + ".";
  }

  FakeSettings settings;
  const std::string database;
  const std::string inbox;
};

// A run never makes a user database: an empty one would hide from every
// later run that nothing is watched, and the error names the command that
// makes one.
TEST_F(CollectorTest, WithoutDatabaseReportsItAndCreatesNone) {
  for (const bool folderExists : {false, true}) {
    SCOPED_TRACE(folderExists ? "database folder exists" : "no database folder");
    if (folderExists) makeDatabaseFolder();
    EXPECT_FALSE(run());
    Lines lines = newLogLines();
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ("Version " SWEEPRUN_VERSION, lines[1].substr(0, lines[1].find(' ', 8)));
    lines.erase(lines.begin(), lines.begin() + 3);
    EXPECT_EQ((Lines{"Error: No folder database exists. Use 'sweeply add FOLDER' to watch a "
                     "folder and create one.",
                     "Sweeply finished at 2026-12-07 12:00:00 +0000."}),
              lines);
    EXPECT_FALSE(entryExists(database));
  }
}

TEST_F(CollectorTest, DamagedDatabaseStopsTheRunAndSurvives) {
  makeDatabaseFolder();
  writeText(database, "bplist00 but not really");
  EXPECT_THROW(run(), PlatformException);
  EXPECT_EQ("bplist00 but not really", readText(database).value_or(""));
}

TEST_F(CollectorTest, TimeOfDayInDateFormatIsRepaired) {
  const struct {
    const char* format;
    const char* found;  // none: left alone
  } kCases[] = {
      {"%Y-%m-%d %H:%M", "%H"}, {"%M past %H", "%H"}, {"100%%Happy", "%H"},
      {"%d.%m.%Y", nullptr},    {"%F %s", "%s"},      {"%x %X", "%X"},
  };
  for (bool systemMode : {false, true}) {
    for (const auto& c : kCases) {
      SCOPED_TRACE(std::string(c.format) + (systemMode ? " (system mode)" : ""));
      context_.systemMode = systemMode;
      settings = FakeSettings();
      settings.values["DateFormat"] = Value::text(c.format);
      run();
      const Lines lines = newLogLines();
      if (c.found) {
        EXPECT_TRUE(contains(lines, std::string("Error: DateFormat contains the time string '") +
                                        c.found + "'; reverting to the format '%F'."));
      } else {
        for (const std::string& line : lines) EXPECT_EQ(std::string::npos, line.find("DateFormat"));
      }
      EXPECT_EQ(c.found ? "%F" : c.format, settings.stringForKey("DateFormat").value_or(""));
      EXPECT_EQ(c.found && !systemMode ? 1 : 0, settings.companionWrites);
      EXPECT_EQ(c.found && systemMode ? 1 : 0, settings.inMemoryWrites);
    }
  }
}

TEST_F(CollectorTest, FoldersNotDueAreNamedAndSkipped) {
  TrashFolder disabled = watching(inbox, {});
  disabled.setValue("ison", Value::boolean(false));
  const std::string unplugged = home() + "/Unplugged";
  makeFolder(unplugged);
  TrashFolder absent = watching(unplugged, {});
  absent.setValue("temp", Value::boolean(true));
  TrashFolder checkedToday = watching(inbox, {});
  checkedToday.setValue("once", Value::boolean(true));
  checkedToday.setDate(Date{now().seconds - 60}, "last");
  saveDatabase({disabled, absent, checkedToday});
  fs::remove(unplugged);

  EXPECT_TRUE(run());
  const Lines lines = newLogLines();
  const Lines expected = {"Not checking folder '" + inbox + "' (not enabled).\n",
                          "Not checking folder '" + unplugged + "' (not present).\n",
                          "Not checking folder '" + inbox + "' (already checked today).\n"};
  // Each line ends in a line feed of its own, leaving an empty line after it.
  Lines skipped;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i].rfind("Not checking", 0) == 0) skipped.push_back(lines[i] + "\n" + lines[i + 1]);
  }
  EXPECT_EQ(expected, skipped);
  EXPECT_EQ(3u, loadDatabase().size());
}

TEST_F(CollectorTest, ExtraCheckIsUsedOnce) {
  TrashFolder folder = watching(inbox, {});
  folder.setValue("once", Value::boolean(true));
  folder.setDate(Date{now().seconds - 3600}, "last");
  folder.setDate(now(), "next");
  saveDatabase({folder});

  EXPECT_TRUE(run());
  EXPECT_TRUE(contains(newLogLines(), "Checking folder '" + inbox + "'."));
  const TrashFolder stored = loadDatabase().at(0);
  EXPECT_TRUE(stored.value("next").isNone());
  EXPECT_EQ(now(), stored.dateForKey("last"));

  advanceClock(3600);
  run();
  EXPECT_TRUE(
      contains(newLogLines(), "Not checking folder '" + inbox + "' (already checked today)."));

  advanceClock(86400);
  run();
  EXPECT_TRUE(contains(newLogLines(), "Checking folder '" + inbox + "'."));
}

TEST_F(CollectorTest, CountersAndTrackedEntriesSurviveInTheDatabase) {
  writeText(inbox + "/a.txt", "");
  writeText(inbox + "/b.old", "");
  for (const std::string& name : TrashCollector::kBuiltInIgnoreNames)
    writeText(inbox + "/" + name, "");
  saveDatabase({watching(inbox, {nameEndsWith(".old")}, TrashFolder::kTrashAction)});

  EXPECT_TRUE(run());
  EXPECT_EQ((Lines{"+ a.txt", "- b.old"}), entryLines(newLogLines()));
  TrashFolder stored = loadDatabase().at(0);
  EXPECT_EQ(2u, stored.value("ckin").asUnsigned());
  EXPECT_EQ(1u, stored.value("hits").asUnsigned());
  EXPECT_EQ(1, stored.value("loud").asInteger());
  EXPECT_EQ(1u, stored.value("cout").asUnsigned());
  EXPECT_EQ(now(), stored.dateForKey("last"));
  EXPECT_TRUE(entryExists(trashFiles() + "/b.old"));

  advanceClock(86400);
  EXPECT_TRUE(run());
  EXPECT_EQ((Lines{"  a.txt"}), entryLines(newLogLines()));
  stored = loadDatabase().at(0);
  EXPECT_EQ(2u, stored.value("ckin").asUnsigned());
  EXPECT_EQ(2u, stored.value("hits").asUnsigned());
  EXPECT_EQ(0, stored.value("loud").asInteger());
  EXPECT_EQ(1u, stored.value("cout").asUnsigned());
  ASSERT_EQ(1u, stored.items()->size());
  EXPECT_EQ(1u, stored.items()->front().value("hits").asUnsigned());
  EXPECT_EQ(Date::fromUnix(kStartUnixSeconds), stored.items()->front().value("idat").asDate());
}

// Names here are bytes, not always UTF-8 (an old archive unpacked, a disk
// from elsewhere); the entry must still be tracked across runs, and the run
// log must stay UTF-8 text, or it could never be trimmed again.
TEST_F(CollectorTest, NameThatIsNotUtf8IsTrackedAndLoggedAsText) {
  const std::string name = "caf\xE9 \xFF.txt";
  writeText(inbox + "/" + name, "");
  saveDatabase({watching(inbox, {nameEndsWith(".old")})});

  EXPECT_TRUE(run());
  EXPECT_EQ(Lines{"+ caf\\xe9 \\xff.txt"}, entryLines(newLogLines()));
  advanceClock(86400);
  EXPECT_TRUE(run());
  EXPECT_EQ(Lines{"  caf\\xe9 \\xff.txt"}, entryLines(newLogLines()));
  EXPECT_EQ(name, lastPathComponent(loadDatabase().at(0).items()->at(0).path()));
}

}  // namespace
}  // namespace sweeprun
