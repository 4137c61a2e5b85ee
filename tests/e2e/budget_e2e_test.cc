// A watched folder kept under a size budget, through the companion and the
// tool (the test driver, whose clock a test sets off to give entries
// first-seen dates days apart): what goes, what the minimum age protects,
// what preview, the run log, show, the metrics file, history and undo say,
// and the values both the configuration check and sweeply refuse.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "e2e/driver_test.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

constexpr int kDay = 86400;

class BudgetEndToEndTest : public DriverTest {
 protected:
  void SetUp() override {
    fs::create_directories(home);
    fs::create_directories(inbox);
    fs::create_directories(temp.file("etc"));
  }

  /// The driver as |program| ("sweeprun" or "sweeply"), its clock |offset|
  /// seconds off, in user mode or, with |system|, as root.
  ProgramResult run(const std::string& program, std::vector<std::string> arguments, int offset = 0,
                    bool system = false) {
    arguments.insert(arguments.begin(), program);
    std::vector<std::string> environment =
        toolEnvironment(home, system ? "root" : "alice", temp.path(), "etc/sweeprun.plist");
    environment.push_back("SWEEPRUN_TEST_CLOCK_OFFSET=" + std::to_string(offset));
    return runProgram(driver(), arguments, environment, temp.path());
  }

  void writeConfig(const std::string& entry) {
    temp.write("etc/sweeprun.plist",
               "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>DataFile</key><string>" +
                   temp.file("system.data") + "</string>" + entry + "</dict></plist>");
    fs::permissions(temp.file("etc/sweeprun.plist"), fs::perms(0600));
  }

  TempDir temp;
  const std::string home = temp.file("home");
  const std::string inbox = temp.file("Inbox");
  const std::string archive = inbox + "/Archive";  // a destination inside the folder
};

// The names a preview would remove, "*" marking those taken for the budget.
std::set<std::string> plannedRemovals(const std::string& preview) {
  std::set<std::string> planned;
  std::istringstream lines(preview);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string verb, name;
    words >> verb >> name;
    if (verb != "trash" && verb != "delete" && verb != "move") continue;
    planned.insert(name + (line.find("(for the budget)") != std::string::npos ? "*" : ""));
  }
  return planned;
}

// Four entries of 100 bytes each, first seen three, two and one day ago and
// now: old.bin, a folder whose tree holds 100 bytes (and a link to 10 kB
// outside, which must not count), mid.bin and new.bin. The budget takes the
// oldest until the folder fits, passing over the young.
TEST_F(BudgetEndToEndTest, TakesTheOldestUntilTheFolderFitsAndSparesTheYoung) {
  const struct {
    const char* label;
    bool system;
    std::vector<std::string> settings;  // sweeply add options, or plist keys in system mode
    std::set<std::string> gone;         // "*": for the budget
    uint64_t after;
    std::string logged;  // a line the run log holds
  } kCases[] = {
      {"a file fits the budget",
       false,
       {"--budget", "350 B"},
       {"old.bin*"},
       300,
       "- old.bin (for the budget; first seen"},
      {"a folder counts its tree, no link",
       false,
       {"--action", "delete", "--budget", "0.25KB"},
       {"old.bin*", "dir*"},
       200,
       "Budget 250 B: 400 B before, 200 B after."},
      {"moved",
       false,
       {"--action", "moveto:" + archive, "--budget", "250"},
       {"old.bin*", "dir*"},
       200,
       ""},
      {"the minimum age protects",
       false,
       {"--budget", "50", "--budget-min-age", "2 hours"},
       {"old.bin*", "dir*", "mid.bin*"},
       100,
       "Over the budget of 50 B by 50 B: the rest was first seen within 2 hours."},
      {"a rule condemns first",
       false,
       {"--any", "--condition", "name: old.bin", "--budget", "250"},
       {"old.bin", "dir*"},
       200,
       "- old.bin (checked in"},
      {"system mode",
       true,
       {"<key>Action</key><string>delete</string><key>Budget</key><integer>250</integer>"
        "<key>BudgetMinimumAge</key><string>1 minute</string>"},
       {"old.bin*", "dir*"},
       200,
       "- dir (for the budget; first seen"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    if (c.system && geteuid() != 0) continue;  // system mode runs as root
    fs::remove_all(home);
    fs::remove_all(inbox);
    SetUp();
    temp.write("big", std::string(10000, 'x'));
    if (!c.system && c.settings[1] == "moveto:" + archive) fs::create_directories(archive);
    const std::string log = temp.file("run.log"), metrics = temp.file("run.prom");
    fs::remove(log);
    // The budget and the rules of the row come once every entry was seen:
    // earlier runs would apply them already.
    const auto configure = [&](const std::string& keys) {
      writeConfig("<key>LogToFile</key><true/><key>LogFileName</key><string>" + log +
                  "</string><key>MetricsFile</key><string>" + metrics +
                  "</string><key>Folders</key><array><dict><key>Path</key><string>" + inbox +
                  "</string>" + keys + "</dict></array>");
    };
    if (c.system) {
      configure("");
    } else {
      ASSERT_EQ(0, run("sweeply", {"add", inbox, "--condition", "name: *.tmp"}).exitStatus);
      ASSERT_EQ(0, run("sweeply", {"prefs", "LogToFile", "yes"}).exitStatus);
      ASSERT_EQ(0, run("sweeply", {"prefs", "LogFileName", log}).exitStatus);
      ASSERT_EQ(0, run("sweeply", {"prefs", "MetricsFile", metrics}).exitStatus);
    }
    const std::vector<std::string> tool =
        c.system ? std::vector<std::string>{"-s"} : std::vector<std::string>{};
    const auto firstSeen = [&](const std::string& name, int daysAgo) {
      ASSERT_EQ(0, run("sweeprun", tool, -daysAgo * kDay, c.system).exitStatus) << name;
    };
    temp.write("Inbox/old.bin", std::string(100, 'o'));
    firstSeen("old.bin", 3);
    fs::create_directories(inbox + "/dir/b");
    temp.write("Inbox/dir/a", std::string(60, 'a'));
    temp.write("Inbox/dir/b/c", std::string(40, 'c'));
    fs::create_symlink(temp.file("big"), inbox + "/dir/b/link");
    firstSeen("dir", 2);
    temp.write("Inbox/mid.bin", std::string(100, 'm'));
    firstSeen("mid.bin", 1);
    temp.write("Inbox/new.bin", std::string(100, 'n'));
    if (c.system) {
      configure(c.settings[0]);
    } else {
      std::vector<std::string> edit = {"edit", inbox};
      edit.insert(edit.end(), c.settings.begin(), c.settings.end());
      ASSERT_EQ(0, run("sweeply", edit).exitStatus);
    }

    const ProgramResult preview = c.system ? run("sweeply", {"preview", "--system"}, 0, true)
                                           : run("sweeply", {"preview", inbox});
    ASSERT_EQ(0, preview.exitStatus) << preview.err;
    EXPECT_EQ(c.gone, plannedRemovals(preview.out)) << preview.out;

    const auto goneNow = [&] {
      std::set<std::string> gone;
      for (const std::string name : {"old.bin", "dir", "mid.bin", "new.bin"}) {
        if (!fs::exists(inbox + "/" + name))
          gone.insert(name + (c.gone.count(name + "*") ? "*" : ""));
      }
      return gone;
    };
    ASSERT_EQ(0, run("sweeprun", tool, 0, c.system).exitStatus);
    EXPECT_EQ(c.gone, goneNow()) << "the run does what the preview said";
    // A second run finds the folder within its budget or protected by the
    // minimum age (the destination in it, which the budget filled, does not
    // count), and takes nothing more.
    ASSERT_EQ(0, run("sweeprun", tool, 60, c.system).exitStatus);
    EXPECT_EQ(c.gone, goneNow());
    if (!c.logged.empty()) {
      EXPECT_NE(std::string::npos, temp.read("run.log").find(c.logged)) << temp.read("run.log");
    }
    EXPECT_NE(std::string::npos, temp.read("run.prom")
                                     .find("sweeprun_folder_size_bytes{folder=\"" + inbox + "\"} " +
                                           std::to_string(c.after)))
        << temp.read("run.prom");
    if (!c.system && c.settings[1] == "moveto:" + archive) {
      EXPECT_TRUE(fs::exists(archive + "/dir/b/c"));
    }
    if (c.system || c.settings[0] != "--budget") continue;

    const ProgramResult show = run("sweeply", {"show", inbox, "--json"});
    EXPECT_NE(std::string::npos, show.out.find("\"sizeAtLastCheck\": " + std::to_string(c.after)))
        << show.out;
    // Trashed for the budget: history says so, and undo puts it back.
    std::istringstream runs(run("sweeply", {"history"}).out);
    std::string date, time, zone, lastRun;
    runs >> date >> time >> zone >> lastRun;
    const ProgramResult history = run("sweeply", {"history", lastRun});
    EXPECT_NE(std::string::npos, history.out.find(inbox + "/old.bin -> ")) << history.out;
    EXPECT_NE(std::string::npos, history.out.find("(for the budget)")) << history.out;
    ASSERT_EQ(0, run("sweeply", {"undo", lastRun}).exitStatus);
    EXPECT_EQ(std::string(100, 'o'), temp.read("Inbox/old.bin"));
  }
}

TEST_F(BudgetEndToEndTest, BadValuesAreRefusedByTheCheckAndBySweeply) {
  const struct {
    const char* budget;
    const char* minimumAge;  // none: left out
    std::string message;
  } kCases[] = {
      {"20 parsecs", nullptr, "Unable to handle budget '20 parsecs': expected a number above 0"},
      {"0 GB", nullptr, "Unable to handle budget '0 GB': expected a number above 0"},
      {"1e30", nullptr, "a size no larger than 9007199254740992 bytes"},
      {"20 GB", "2 checks",
       "Unable to handle minimum age '2 checks': expected a unit of time: minutes, hours, days"},
      {"20 GB", "2 Days", "expected the unit in lower case: 'days'"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.budget + std::string(" / ") + (c.minimumAge ? c.minimumAge : "-"));
    std::vector<std::string> add = {"add", inbox, "--budget", c.budget};
    if (c.minimumAge) add.insert(add.end(), {"--budget-min-age", c.minimumAge});
    const ProgramResult refused = run("sweeply", add);
    EXPECT_EQ(2, refused.exitStatus);
    EXPECT_NE(std::string::npos, refused.err.find(c.message)) << refused.err;

    if (geteuid() != 0) continue;  // the check wants a root-owned file
    writeConfig("<key>Folders</key><array><dict><key>Path</key><string>" + inbox +
                "</string><key>Budget</key><string>" + c.budget + "</string>" +
                (c.minimumAge ? "<key>BudgetMinimumAge</key><string>" + std::string(c.minimumAge) +
                                    "</string>"
                              : "") +
                "</dict></array>");
    const ProgramResult checked = run("sweeprun", {"-t"}, 0, true);
    EXPECT_NE(0, checked.exitStatus);
    EXPECT_NE(std::string::npos, checked.out.find(c.message)) << checked.out;
  }
  // A minimum age alone means nothing: refused in both.
  EXPECT_EQ(2, run("sweeply", {"add", inbox, "--budget-min-age", "2 days"}).exitStatus);
  if (geteuid() != 0) return;
  writeConfig("<key>Folders</key><array><dict><key>Path</key><string>" + inbox +
              "</string><key>BudgetMinimumAge</key><string>2 days</string></dict></array>");
  EXPECT_NE(std::string::npos,
            run("sweeprun", {"-t"}, 0, true).out.find("BudgetMinimumAge needs a Budget"));
}

// The settings survive an export and import, and "--no-budget" drops them; a
// database written before budgets existed reads as one without.
TEST_F(BudgetEndToEndTest, SettingsTravelAndAnEarlierDatabaseHasNoBudget) {
  fs::create_directories(fs::path(home) / "Library/Application Support/Sweeply");
  fs::copy_file(std::string(SWEEPRUN_SOURCE_DIR) + "/tests/fixtures/databases/mixed-folders.plist",
                home + "/Library/Application Support/Sweeply/Sweeply.data");
  const ProgramResult earlier = run("sweeply", {"list", "--json"});
  ASSERT_EQ(0, earlier.exitStatus) << earlier.err;
  EXPECT_NE(std::string::npos, earlier.out.find("\"budget\": null")) << earlier.out;
  EXPECT_EQ(std::string::npos, earlier.out.find("\"budget\": {")) << earlier.out;

  ASSERT_EQ(0, run("sweeply", {"add", inbox, "--budget", "20 GB", "--budget-min-age", "36 hours"})
                   .exitStatus);
  const ProgramResult exported = run("sweeply", {"export"});
  ASSERT_EQ(0, exported.exitStatus) << exported.err;
  EXPECT_NE(std::string::npos, exported.out.find("<integer>20000000000</integer>")) << exported.out;
  EXPECT_NE(std::string::npos, exported.out.find("<string>36 hours</string>")) << exported.out;
  ASSERT_EQ(0, run("sweeply", {"edit", inbox, "--no-budget"}).exitStatus);
  temp.write("exported.plist", exported.out);
  ASSERT_EQ(0, run("sweeply", {"import", temp.file("exported.plist")}).exitStatus);
  const ProgramResult shown = run("sweeply", {"show", inbox});
  EXPECT_NE(std::string::npos,
            shown.out.find("keeps under a budget of 20 GB, never removing what was first seen "
                           "within 36 hours"))
      << shown.out;
}

}  // namespace
}  // namespace sweeprun
