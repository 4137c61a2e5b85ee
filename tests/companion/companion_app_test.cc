#include "companion/companion_app.h"

#include <gtest/gtest.h>

#include "companion_test_env.h"
#include "fs/file_io.h"
#include "settings/defaults_domain.h"
#include "settings/settings_keys.h"

namespace sweeprun {
namespace {

class CompanionAppTest : public CompanionTest {
 protected:
  std::string databaseBytes() const {
    std::string bytes, error;
    readFile(databasePath(), bytes, error);
    return bytes;
  }
};

TEST_F(CompanionAppTest, BadInputIsRefusedWithUsageOrFailureStatus) {
  const std::string inbox = folder("Inbox");
  const std::string missing = temp_.file("missing");
  const struct {
    std::vector<std::string> arguments;
    int status;
    const char* message;
  } kCases[] = {
      {{}, kCompanionUsage, "usage: sweeply COMMAND"},
      {{"frobnicate"}, kCompanionUsage, "'frobnicate' is not a command"},
      {{"add"}, kCompanionUsage, "missing argument"},
      {{"add", inbox, "--bogus"}, kCompanionUsage, "unknown option '--bogus'"},
      {{"add", inbox, "--condition", "colour: red"},
       kCompanionUsage,
       "Unable to handle condition 'colour: red': expected 'delay:', 'size:' or 'name:' at the "
       "start."},
      {{"add", inbox, "--condition", "name: *10:00*"}, kCompanionUsage, "cannot hold ':'"},
      {{"add", inbox, "--action", "recycle"}, kCompanionUsage, "unknown action 'recycle'"},
      {{"add", inbox, "--action", "moveto:"}, kCompanionUsage, "needs a destination"},
      {{"add", inbox, "--action", "moveto:" + inbox}, kCompanionUsage, "into itself"},
      {{"add", inbox, "--readme-text", "hi"}, kCompanionUsage, "needs '--readme NAME'"},
      {{"add", inbox, "--readme", "../x"}, kCompanionUsage, "plain file name"},
      {{"add", missing}, kCompanionFailure, "it does not exist"},
      {{"add", inbox, "--action", "moveto:" + missing}, kCompanionFailure, "cannot move entries"},
      {{"edit", inbox}, kCompanionUsage, "nothing to change"},
      {{"show", inbox}, kCompanionFailure, "no folder database"},
      {{"preview"}, kCompanionFailure, "no folder database"},
      {{"export"}, kCompanionFailure, "no folder database"},
      {{"import", missing}, kCompanionFailure, "cannot import"},
      {{"prefs", "Colour"}, kCompanionUsage, "not a shared setting"},
      {{"prefs", "LogLimit", "soon"}, kCompanionUsage, "number of days"},
      {{"prefs", "LogToFile", "maybe"}, kCompanionUsage, "yes or no"},
      {{"prefs", "LogFileName", "logs/run.log"}, kCompanionUsage, "absolute path"},
      {{"prefs", "DateFormat", "%F %H:%M"}, kCompanionUsage, "holds '%H'"},
      {{"prefs", "MetricsFile", "metrics.prom"}, kCompanionUsage, "in a folder that exists"},
      {{"prefs", "MetricsFile", missing + "/metrics.prom"},
       kCompanionUsage,
       "in a folder that exists"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.arguments.empty() ? "(none)" : c.arguments[0] + " " + c.message);
    EXPECT_EQ(c.status, sweeply(c.arguments));
    EXPECT_NE(std::string::npos, err().find(c.message)) << err();
    EXPECT_FALSE(fileExists(databasePath()));
  }
}

TEST_F(CompanionAppTest, WithoutAHomeFolderNothingIsWritten) {
  const std::string inbox = folder("Inbox");
  for (const char* home : {"", "relative/home"}) {
    SCOPED_TRACE(home);
    context_.homeDirectory = home;
    EXPECT_EQ(kCompanionFailure, sweeply({"add", inbox}));
    EXPECT_NE(std::string::npos, err().find("set HOME")) << err();
  }
  EXPECT_FALSE(std::filesystem::exists("/Library/Application Support/Sweeply"));
}

TEST_F(CompanionAppTest, AddKeepsTheDefaultConditionOrTakesTheGivenOnes) {
  const std::string plain = folder("Plain"), ruled = folder("Ruled"), archive = folder("Archive");
  ASSERT_EQ(0, sweeply({"add", plain})) << err();
  struct WorkingFolder {
    std::filesystem::path previous = std::filesystem::current_path();
    ~WorkingFolder() { std::filesystem::current_path(previous); }
  } restore;
  std::filesystem::current_path(temp_.path());
  ASSERT_EQ(0, sweeply({"add", "Ruled", "--condition", "name: *.dmg", "--condition",
                        "delay: 4 days", "--any", "--action", "MoveTo:Archive", "--dated",
                        "--readme", "READ ME", "--readme-text", "Tidied daily"}))
      << err();
  EXPECT_EQ(kCompanionFailure, sweeply({"add", plain}));
  EXPECT_NE(std::string::npos, err().find("watched already"));

  const FolderList stored = storedFolders();
  ASSERT_EQ(2u, stored.size());
  EXPECT_EQ(plain, stored[0].path());
  ASSERT_EQ(1u, stored[0].rules().size());
  EXPECT_EQ(TrashRule::trashRule().data, stored[0].rules()[0].data);
  EXPECT_TRUE(stored[0].aliasRecord());

  const TrashFolder& f = stored[1];
  EXPECT_EQ(ruled, f.path());
  ASSERT_EQ(2u, f.rules().size()) << "the given conditions replace the default one";
  EXPECT_TRUE(f.value("once").asBool()) << "an age over three days: once a day";
  EXPECT_EQ(0, f.value("gran").asInteger());
  EXPECT_EQ(TrashFolder::kMoveAction, f.value("play").asInteger());
  EXPECT_EQ(archive, f.value("move").asText()) << "made absolute, its case kept";
  EXPECT_TRUE(f.value("datf").asBool());
  EXPECT_EQ("READ ME", f.value("rfil").asText());
  EXPECT_EQ("Tidied daily", f.value("rtxt").asText());
}

TEST_F(CompanionAppTest, EditChangesOnlyWhatItIsAsked) {
  const std::string a = folder("A"), b = folder("B");
  ASSERT_EQ(0, sweeply({"add", a, "--condition", "delay: 2 weeks", "--dated"}));
  ASSERT_EQ(0, sweeply({"add", b}));
  {
    // History and keys only the companion application knows.
    FolderDatabase database(databasePath());
    std::string error;
    ASSERT_EQ(FolderDatabase::LoadStatus::kLoaded, database.load(error));
    for (TrashFolder& f : database.folders()) {
      f.setValue("hits", Value::unsignedInteger(9));
      f.setValue("zzzz", Value::text("unknown"));
    }
    ASSERT_TRUE(database.save(error)) << error;
  }

  ASSERT_EQ(0, sweeply({"edit", a, "--condition", "size: > 10", "--no-dated"})) << err();
  FolderList stored = storedFolders();
  ASSERT_EQ(2u, stored[0].rules().size()) << "appended to the folder's own";
  EXPECT_FALSE(stored[0].value("datf").asBool());
  EXPECT_TRUE(stored[0].value("once").asBool());
  for (const TrashFolder& f : stored) {
    EXPECT_EQ(Value::unsignedInteger(9), f.value("hits"));
    EXPECT_EQ("unknown", f.value("zzzz").asText());
  }

  ASSERT_EQ(0, sweeply({"edit", a, "--clear-conditions"}));
  stored = storedFolders();
  EXPECT_TRUE(stored[0].rules().empty());
  EXPECT_TRUE(stored[0].value("once").isNone()) << "no age condition left";

  const std::string before = databaseBytes();
  ASSERT_EQ(0, sweeply({"edit", b, "--all"}));
  EXPECT_NE(std::string::npos, out().find("nothing changed"));
  EXPECT_EQ(before, databaseBytes()) << "an edit that changes nothing does not save";
}

TEST_F(CompanionAppTest, StateCommandsChangeOneKey) {
  const std::string daily = folder("Daily"), every = folder("Every");
  ASSERT_EQ(0, sweeply({"add", daily, "--condition", "delay: 1 week"}));
  ASSERT_EQ(0, sweeply({"add", every, "--condition", "name: x"}));

  ASSERT_EQ(0, sweeply({"disable", every}));
  EXPECT_FALSE(storedFolders()[1].value("ison").asBool());
  ASSERT_EQ(0, sweeply({"disable", every}));
  EXPECT_NE(std::string::npos, out().find("already disabled"));
  ASSERT_EQ(0, sweeply({"enable", every}));
  EXPECT_TRUE(storedFolders()[1].value("ison").asBool());

  ASSERT_EQ(0, sweeply({"check-now", daily}));
  EXPECT_EQ(now_, storedFolders()[0].dateForKey("next"));
  ASSERT_EQ(0, sweeply({"check-now", every}));
  EXPECT_TRUE(storedFolders()[1].value("next").isNone()) << "checked on every run anyway";

  ASSERT_EQ(0, sweeply({"remove", daily}));
  EXPECT_EQ(1u, storedFolders().size());
  EXPECT_TRUE(std::filesystem::is_directory(daily)) << "the folder itself stays";
  EXPECT_EQ(kCompanionFailure, sweeply({"remove", daily}));
}

TEST_F(CompanionAppTest, DamagedDatabaseIsReportedAndLeftAsItWas) {
  const std::string inbox = folder("Inbox");
  const std::string damaged = "bplist00 this is not a database";
  std::filesystem::create_directories(std::filesystem::path(databasePath()).parent_path());
  std::string error;
  ASSERT_TRUE(writeFileAtomically(databasePath(), damaged, error));
  const std::string config =
      temp_.write("c.plist", "<plist><dict><key>DataFile</key><string>" + temp_.file("d") +
                                 "</string><key>Folders</key><array><dict><key>Path</key><string>" +
                                 inbox + "</string></dict></array></dict></plist>");
  const std::vector<std::string> kCommands[] = {
      {"add", inbox},       {"edit", inbox, "--any"},
      {"remove", inbox},    {"disable", inbox},
      {"check-now", inbox}, {"list"},
      {"show", inbox},      {"preview"},
      {"import", config},   {"export"},
  };
  for (const auto& command : kCommands) {
    SCOPED_TRACE(command[0]);
    EXPECT_EQ(kCompanionFailure, sweeply(command));
    EXPECT_NE(std::string::npos, err().find("cannot be read")) << err();
    EXPECT_EQ(damaged, databaseBytes());
  }
}

TEST_F(CompanionAppTest, PrefsStoreWhatRunsRead) {
  ASSERT_EQ(0, sweeply({"prefs", "LogToFile", "on"}));
  ASSERT_EQ(0, sweeply({"prefs", "LogLimit", "14"}));
  ASSERT_EQ(0, sweeply({"prefs", "DateFormat", "%d.%m.%Y"}));
  ASSERT_EQ(0, sweeply({"prefs", "MetricsFile", "~/sweeprun.prom"}));
  Dictionary companion;
  std::string error;
  ASSERT_EQ(DomainReadStatus::kRead,
            readDefaultsDomain(context_.homeDirectory, kCompanionDomain, companion, error));
  EXPECT_EQ(Value::text("YES"), companion.get("LogToFile"));
  EXPECT_EQ(Value::text("14"), companion.get("LogLimit"));
  EXPECT_EQ(Value::text("~/sweeprun.prom"), companion.get("MetricsFile"));

  ASSERT_EQ(0, sweeply({"prefs"}));
  EXPECT_NE(std::string::npos, out().find("LogToFile   YES  (companion)")) << out();
  EXPECT_NE(std::string::npos, out().find("LogFileName ~/Library/Logs/Sweeply.log  (default)"));

  ASSERT_EQ(0, sweeply({"prefs", "--unset", "DateFormat"}));
  ASSERT_EQ(0, sweeply({"prefs", "DateFormat"}));
  EXPECT_NE(std::string::npos, out().find("(not set)"));
}

}  // namespace
}  // namespace sweeprun
