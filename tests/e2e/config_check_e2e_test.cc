// Check mode and system mode refuse a configuration that would turn a run
// as root against the system or against the tool's own files, each with the
// same message: check mode prints it, system mode logs it, followed by a
// line naming the folder entry that holds the fault, when one does.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "e2e/driver_test.h"
#include "e2e/run_program.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 1;
constexpr int kConfigInvalid = 112;

class ConfigCheckEndToEndTest : public DriverTest {
 protected:
  ProgramResult run(const std::string& option, const std::string& patternBound) {
    std::vector<std::string> environment =
        toolEnvironment(temp.file("home"), "root", temp.path(), "etc/sweeprun.plist");
    if (!patternBound.empty()) environment.push_back("SWEEPRUN_TEST_PATTERN_BOUND=" + patternBound);
    return runProgram(driver(), {driver(), option}, environment, temp.path());
  }

  /// A root-owned 0600 configuration file with |entries| in its root
  /// dictionary, "$T" standing for the scratch folder.
  void writeConfig(std::string entries) {
    for (size_t at; (at = entries.find("$T")) != std::string::npos;)
      entries.replace(at, 2, temp.path());
    temp.write("etc/sweeprun.plist",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" +
                   entries + "</dict></plist>\n");
    fs::permissions(config(), fs::perms(0600));
  }
  std::string config() const { return temp.file("etc/sweeprun.plist"); }

  /// A folder below the scratch folder with |owner| and |mode|.
  void makeFolder(const std::string& relative, uid_t owner, mode_t mode) {
    const std::string folder = temp.file(relative);
    fs::create_directories(folder);
    ASSERT_EQ(0, chown(folder.c_str(), owner, 0));
    ASSERT_EQ(0, chmod(folder.c_str(), mode));
  }

  TempDir temp;
};

std::string folders(const std::string& path, const std::string& keys = "") {
  return "<key>Folders</key><array><dict><key>Path</key><string>" + path + "</string>" + keys +
         "</dict></array>";
}
const std::string kDataFile = "<key>DataFile</key><string>$T/db.data</string>";
const std::string kDelete = "<key>Action</key><string>delete</string>";
/// The line after an error that says which folder entry holds it.
std::string inEntry(int entry, const std::string& path) {
  return "In folder entry " + std::to_string(entry) + " (Path '" + path +
         "') of $T/etc/sweeprun.plist.";
}
std::string logTo(const std::string& path) {
  return "<key>LogToFile</key><true/><key>LogFileName</key><string>" + path + "</string>";
}

TEST_F(ConfigCheckEndToEndTest, RefusesDangerousConfigurationsInCheckAndSystemMode) {
  if (geteuid() != 0) GTEST_SKIP() << "the configuration file must belong to root";
  const std::string kWatched = folders("$T/watched");
  const struct {
    const char* label;
    std::string entries;
    std::function<void()> prepare;
    std::string message;  // empty: accepted
    std::string patternBound = "";
    bool checkOnly = false;  // a system run goes on (and finds out when it writes)
    std::string place = "";  // the folder entry that holds the fault
  } kCases[] = {
      {"a normal folder", kDataFile + kWatched, nullptr, ""},
      {"a run log in a root-owned 0755 folder", kDataFile + kWatched + logTo("$T/logs/run.log"),
       [&] { makeFolder("logs", 0, 0755); }, ""},
      {"moveto: without a destination",
       kDataFile + folders("$T/watched", "<key>Action</key><string>moveto:</string>"), nullptr,
       "Action 'moveto:' names no destination: give \"moveto:\" followed by the path of a "
       "folder.",
       "", false, inEntry(1, "$T/watched")},
      {"a mistyped key in an entry before its Path",
       kDataFile + "<key>Folders</key><array><dict><key>Acton</key><string>delete</string>"
                   "<key>Path</key><string>$T/watched</string></dict></array>",
       nullptr, "Not a valid key: Acton.", "", false, inEntry(1, "$T/watched")},
      {"a mistyped key at the top", kDataFile + kWatched + "<key>Acton</key><string>x</string>",
       nullptr, "Not a valid key: Acton."},
      {"a mistyped action",
       kDataFile + folders("$T/watched", "<key>Action</key><string>trsh</string>"), nullptr,
       "Unrecognised action: trsh.", "", false, inEntry(1, "$T/watched")},
      {"a bad condition in the second of two entries",
       kDataFile + "<key>Folders</key><array><dict><key>Path</key><string>$T/watched</string>"
                   "</dict><dict><key>Path</key><string>$T/other</string><key>Condition</key>"
                   "<string>size bigger 3 parsecs</string></dict></array>",
       nullptr, "Unable to handle condition 'size bigger 3 parsecs': expected ':' after 'size'.",
       "", false, inEntry(2, "$T/other")},
      {"an entry without a Path",
       kDataFile +
           "<key>Folders</key><array><dict><key>Path</key><string>$T/watched</string>"
           "</dict><dict>" +
           kDelete + "</dict></array>",
       nullptr, "Required key missing: Path.", "", false,
       "In folder entry 2 (no Path) of $T/etc/sweeprun.plist."},
      {"the root folder with delete", kDataFile + folders("/", kDelete), nullptr,
       "Path '/' gives the watched folder /, which is the root folder: watch a folder below it.",
       "", false, inEntry(1, "/")},
      {"the accounts folder with delete", kDataFile + folders("$T/Users/", kDelete),
       [&] { makeFolder("Users", 0, 0755); },
       "Path '$T/Users/' gives the watched folder $T/Users, which is the accounts folder: watch "
       "a folder below it.",
       "", false, inEntry(1, "$T/Users/")},
      {"the folder of the configuration file, after an entry that gives two folders",
       kDataFile + "<key>Folders</key><array><dict><key>Path</key><string>$T/[lw]*</string>"
                   "</dict><dict><key>Path</key><string>$T/e*</string></dict></array>",
       [&] { makeFolder("logs", 0, 0755); },
       "Path '$T/e*' gives the watched folder $T/etc, which holds the configuration file "
       "$T/etc/sweeprun.plist: watch a folder that holds none of the tool's own files.",
       "", false, inEntry(2, "$T/e*")},
      {"a DataFile that is a folder", "<key>DataFile</key><string>$T/watched</string>" + kWatched,
       nullptr,
       "DataFile '$T/watched' is not a regular file: it must name a plain file, or nothing yet."},
      {"a DataFile in a folder of another user",
       "<key>DataFile</key><string>$T/data/db.data</string>" + kWatched,
       [&] { makeFolder("data", kOtherUser, 0755); },
       "DataFile '$T/data/db.data' lies in $T/data, which users other than root can write: the "
       "folder must belong to root and be writable by root alone."},
      {"a DataFile below a folder of another user",
       "<key>DataFile</key><string>$T/theirs/data/db.data</string>" + kWatched,
       [&] {
         makeFolder("theirs/data", 0, 0755);
         makeFolder("theirs", kOtherUser, 0755);
       },
       "DataFile '$T/theirs/data/db.data' lies below $T/theirs, which users other than root can "
       "change: every folder on the way must belong to root and be writable by root alone, or "
       "be sticky."},
      {"a run log in a folder of another user", kDataFile + kWatched + logTo("$T/logs/run.log"),
       [&] { makeFolder("logs", kOtherUser, 0755); },
       "LogFileName '$T/logs/run.log' lies in $T/logs, which users other than root can write: "
       "the folder must belong to root and be writable by root alone."},
      {"a run log in a sticky world-writable folder",
       kDataFile + kWatched + logTo("$T/logs/run.log"), [&] { makeFolder("logs", 0, 01777); },
       "LogFileName '$T/logs/run.log' lies in $T/logs, which users other than root can write: "
       "the folder must belong to root and be writable by root alone."},
      {"a metrics file in a folder of the exporter's account",
       kDataFile + kWatched + "<key>MetricsFile</key><string>$T/data/sweeprun.prom</string>",
       [&] {
         fs::permissions(temp.path(), fs::perms(0755));  // the exporter reaches its folder
         makeFolder("data", kOtherUser, 0755);
       },
       ""},
      {"a metrics file in a missing folder",
       kDataFile + kWatched + "<key>MetricsFile</key><string>$T/data/sweeprun.prom</string>",
       nullptr, "MetricsFile '$T/data/sweeprun.prom' names no file in an existing folder.", "",
       true},
      {"a pattern that looks at too many entries", kDataFile + folders("$T/watched/*"),
       [&] {
         for (const char* name : {"a", "b", "c"})
           makeFolder(std::string("watched/") + name, 0, 0755);
       },
       "Path '$T/watched/*' matches too many entries: more than 2 were looked at. Give a "
       "narrower pattern.",
       "2", false, inEntry(1, "$T/watched/*")},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    for (const char* folder : {"data", "theirs", "logs", "Users", "watched"})
      fs::remove_all(temp.file(folder));
    fs::create_directories(temp.file("watched"));
    fs::create_directories(temp.file("etc"));
    if (c.prepare) c.prepare();
    writeConfig(c.entries);
    std::string message = c.message;
    std::string place = c.place.empty() ? "" : c.place + "\n";
    for (std::string* text : {&message, &place}) {
      for (size_t at; (at = text->find("$T")) != std::string::npos;)
        text->replace(at, 2, temp.path());
    }

    const ProgramResult checked = run("-t", c.patternBound);
    EXPECT_EQ(message.empty() ? 0 : kConfigInvalid, checked.exitStatus);
    EXPECT_EQ(message.empty() ? config() + ": OK\n" : "Error: " + message + "\n" + place,
              checked.out);
    if (message.empty() || c.checkOnly) continue;
    const ProgramResult system = run("-s", c.patternBound);
    EXPECT_EQ(kConfigInvalid, system.exitStatus);
    EXPECT_EQ("", system.out);
    EXPECT_EQ("sweeprun: Error parsing config file: " + message + "\n" +
                  (place.empty() ? "" : "sweeprun: " + place),
              system.err);
  }
}

// Whatever another account leaves at the metrics file's name, in its own
// folder (the exporter's), is its business: the check passes, and a system
// run tidies as ever, reports the metrics write as failed with the reason,
// keeps its status and leaves what it found untouched.
TEST_F(ConfigCheckEndToEndTest, NothingAtTheMetricsFileNameStopsASystemRun) {
  if (geteuid() != 0) GTEST_SKIP() << "the configuration file must belong to root";
  const std::string metrics = temp.file("exporter/sweeprun.prom");
  const struct {
    const char* label;
    std::function<void()> plant;
    std::string reason;         // the line after "Unable to write ..."; empty: any
    bool checkRefuses = false;  // what the administrator can mend: the check says so
  } kCases[] = {
      {"a link", [&] { fs::create_symlink(temp.file("victim"), metrics); },
       "'" + metrics + "' is a symbolic link, not a regular file."},
      {"a FIFO", [&] { ASSERT_EQ(0, mkfifo(metrics.c_str(), 0644)); },
       "'" + metrics + "' is not a regular file."},
      {"a folder", [&] { fs::create_directory(metrics); },
       "'" + metrics + "' is a folder, not a regular file."},
      {"another user's file",
       [&] {
         temp.write("exporter/sweeprun.prom", "theirs");
         ASSERT_EQ(0, chown(metrics.c_str(), kOtherUser, kOtherUser));
       },
       "'" + metrics + "' belongs to user 1, not to the user the run works as."},
      {"no folder (removed by its owner)", [&] { fs::remove_all(temp.file("exporter")); }, "",
       true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    for (const char* folder : {"exporter", "watched", "etc"}) fs::remove_all(temp.file(folder));
    fs::create_directories(temp.file("etc"));
    makeFolder("exporter", kOtherUser, 0755);
    fs::create_directories(temp.file("watched"));
    temp.write("watched/a.old", "old");
    temp.write("victim", "victim");
    writeConfig(
        kDataFile +
        folders("$T/watched", kDelete + "<key>Condition</key><string>name: *.old</string>") +
        "<key>MetricsFile</key><string>" + metrics + "</string>");
    c.plant();
    struct stat before {};
    const bool planted = lstat(metrics.c_str(), &before) == 0;

    EXPECT_EQ(c.checkRefuses ? kConfigInvalid : 0, run("-t", "").exitStatus);
    const ProgramResult system = run("-s", "");
    EXPECT_EQ(0, system.exitStatus) << system.out << system.err;
    EXPECT_FALSE(fs::exists(temp.file("watched/a.old"))) << "the folder was tidied";
    EXPECT_NE(std::string::npos, system.err.find("Unable to write the metrics file '" + metrics +
                                                 "'.\nsweeprun: " + c.reason))
        << system.err;
    EXPECT_EQ("victim", temp.read("victim"));
    struct stat after {};
    EXPECT_EQ(planted, lstat(metrics.c_str(), &after) == 0);
    if (planted) {
      EXPECT_EQ(before.st_ino, after.st_ino) << "left as it was";
      EXPECT_EQ(before.st_mode, after.st_mode);
    }
  }
}

}  // namespace
}  // namespace sweeprun
