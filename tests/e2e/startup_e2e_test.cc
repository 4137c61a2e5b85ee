// The start-up as a user meets it: the shipped binary (options that end
// before anything is touched, user mode in a throw-away HOME) and the test
// driver, which differs only in taking the configuration path, the account
// folder and the pause from the environment.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "e2e/driver_test.h"
#include "e2e/run_program.h"
#include "os/version.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 1;

bool isRoot() { return geteuid() == 0; }

void setOwnerAndMode(const std::string& path, uid_t owner, fs::perms mode) {
  ASSERT_EQ(0, lchown(path.c_str(), owner, 0)) << path;
  fs::permissions(path, mode);
}

class StartupEndToEndTest : public DriverTest {
 protected:
  void SetUp() override {
    fs::create_directories(home);
    fs::create_directories(temp.file("etc"));
    fs::create_directories(temp.file("Users"));
    fs::create_directories(temp.file("watched"));
  }

  /// Runs |program| with |arguments| after the program name |name| (the
  /// program's path when empty), as |user| (USER unset when null).
  ProgramResult run(const std::string& program, std::vector<std::string> arguments,
                    const char* user = "root", std::string name = "") {
    arguments.insert(arguments.begin(), name.empty() ? program : name);
    return runProgram(program, arguments,
                      toolEnvironment(home, user ? user : "", temp.path(), "etc/sweeprun.plist"),
                      temp.path());
  }

  /// A root-owned 0600 configuration file with |entries| in its root dictionary.
  void writeConfig(const std::string& entries) {
    temp.write("etc/sweeprun.plist",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" +
                   entries + "</dict></plist>\n");
    setOwnerAndMode(config, 0, fs::perms(0600));
  }
  std::string validEntries() const {
    return "<key>DataFile</key><string>" + temp.file("db.data") +
           "</string><key>Folders</key><array><dict><key>Path</key><string>" +
           temp.file("watched") + "</string></dict></array>";
  }
  std::string loggingEntries() const {
    return "<key>LogToFile</key><true/><key>LogFileName</key><string>" + runLog() + "</string>";
  }
  std::string runLog() const { return temp.file("run.log"); }

  TempDir temp;
  const std::string home = temp.file("home");
  const std::string config = temp.file("etc/sweeprun.plist");
};

#define SKIP_UNLESS_ROOT() \
  if (!isRoot()) GTEST_SKIP() << "ownership tests need root"

TEST_F(StartupEndToEndTest, VersionEndsTheRunWhereverItStands) {
  const std::vector<std::string> kCases[] = {
      {"-v"}, {"-s", "-v"}, {"-v", "-s"}, {"-t", "other", "-v", "-s"}};
  for (const auto& arguments : kCases) {
    SCOPED_TRACE(arguments.front());
    ProgramResult result = run(SWEEPRUN_TOOL_PATH, arguments, "nobody-in-particular");
    EXPECT_EQ(0, result.exitStatus);
    EXPECT_EQ("Version " + versionText() + "\n", result.out);
  }
}

TEST_F(StartupEndToEndTest, ArgumentsThatAreNotOptionsRunUserMode) {
  const std::vector<std::string> kCases[] = {
      {}, {"hello"}, {"-LogLimit", "3"}, {"hello", "-LogToFile", "NO"}};
  for (const auto& arguments : kCases) {
    SCOPED_TRACE(arguments.empty() ? "(none)" : arguments.front());
    ProgramResult result = run(SWEEPRUN_TOOL_PATH, arguments, "alice");
    EXPECT_EQ(1, result.exitStatus) << "no folder database: no folders";
    EXPECT_EQ("", result.out);
  }
}

// An option the tool does not know (a user trying "-n" for a dry run, a
// mistyped "-sv") must never start a run that removes files.
TEST_F(StartupEndToEndTest, UnknownOptionsAreRefusedBeforeAnythingIsRead) {
  const std::vector<std::string> kCases[] = {{"-sv"},       {"-S"},        {"--t"},
                                             {"-v2"},       {"-s "},       {"-n"},
                                             {"--dry-run"}, {"-LogLimit"}, {"-t", "-x"}};
  for (const auto& arguments : kCases) {
    SCOPED_TRACE(arguments.back());
    ProgramResult result = run(SWEEPRUN_TOOL_PATH, arguments, "alice");
    EXPECT_EQ(64, result.exitStatus);
    EXPECT_EQ("", result.out);
    EXPECT_EQ("sweeprun: unknown option '" + arguments.back() +
                  "'\nusage: sweeprun [-s | -t | -v | -h] [-SETTING VALUE ...]\n",
              result.err);
    EXPECT_FALSE(fs::exists(home + "/Library")) << "nothing read or made";
  }
}

// A setting for one run is checked as sweeply checks it, before anything
// is read: "-LogLimit abc" once ran with no limit at all.
TEST_F(StartupEndToEndTest, BadSettingValuesAreRefusedBeforeAnythingIsRead) {
  const struct {
    std::vector<std::string> arguments;
    const char* error;
  } kCases[] = {
      {{"-LogLimit", "abc"}, "LogLimit takes a number of days, 0 or more, not 'abc'"},
      {{"-LogLimit", "-5"}, "LogLimit takes a number of days, 0 or more, not '-5'"},
      {{"-LogToFile", "maybe"}, "LogToFile takes yes or no, not 'maybe'"},
      {{"-LogFileName", "run.log"},
       "LogFileName takes an absolute path or one that starts with '~', not 'run.log'"},
      {{"-DateFormat", "%F %H"}, "DateFormat must hold no time of day, but '%F %H' holds '%H'"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.arguments.front());
    ProgramResult result = run(SWEEPRUN_TOOL_PATH, c.arguments, "alice");
    EXPECT_EQ(64, result.exitStatus);
    EXPECT_EQ("sweeprun: " + std::string(c.error) +
                  "\nusage: sweeprun [-s | -t | -v | -h] [-SETTING VALUE ...]\n",
              result.err);
    EXPECT_FALSE(fs::exists(home + "/Library")) << "nothing read or made";
  }
}

TEST_F(StartupEndToEndTest, HelpAndVersionEndAtOnce) {
  const std::vector<std::string> kCases[] = {{"-h"}, {"--help"}, {"-s", "--help"}, {"--version"}};
  for (const auto& arguments : kCases) {
    SCOPED_TRACE(arguments.back());
    ProgramResult result = run(SWEEPRUN_TOOL_PATH, arguments, "alice");
    EXPECT_EQ(0, result.exitStatus);
    if (arguments.back() == "--version") {
      EXPECT_EQ("Version " + versionText() + "\n", result.out);
    } else {
      EXPECT_EQ(0u, result.out.rfind("usage: sweeprun", 0)) << result.out;
      EXPECT_NE(std::string::npos, result.out.find("/etc/sweeprun.plist")) << result.out;
      EXPECT_NE(std::string::npos, result.out.find("See sweeprun(8).")) << result.out;
    }
  }
}

TEST_F(StartupEndToEndTest, PrivilegeMessageNamesTheLastModeOption) {
  const struct {
    std::vector<std::string> arguments;
    const char* option;
  } kCases[] = {
      {{"-t"}, "-t"}, {{"-s", "-t"}, "-t"}, {{"-t", "x", "-s"}, "-s"}, {{"-s", "-s"}, "-s"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.arguments.back());
    ProgramResult result = run(driver(), c.arguments, "alice");
    EXPECT_EQ(119, result.exitStatus);
    EXPECT_EQ(std::string("Error: You must be root for ") + c.option + " (you are 'alice').\n",
              result.out);
  }
}

TEST_F(StartupEndToEndTest, UnsetUserPassesThePrivilegeTest) {
  ProgramResult result = run(driver(), {"-t"}, nullptr);
  EXPECT_EQ(std::string::npos, result.out.find("You must be root"));
  if (isRoot()) {
    EXPECT_EQ(116, result.exitStatus);
    EXPECT_EQ("Error: Config file not found: " + config + " .\n", result.out);
  }
}

TEST_F(StartupEndToEndTest, ToolFileMustBeRootOwnedAndReadOnly) {
  SKIP_UNLESS_ROOT();
  fs::create_directories(home + "/bin");
  const std::string copy = home + "/bin/sweeprun";
  fs::copy_file(driver(), copy);
  const struct {
    const char* label;
    uid_t owner;
    unsigned mode;
    std::string name;  // argv[0]
    int status;
    std::string out;
  } kCases[] = {
      {"owned by another user", kOtherUser, 0555, copy, 118,
       "Error: root must own " + copy + " for -s.\n"},
      {"named through ~", kOtherUser, 0555, "~/bin/sweeprun", 118,
       "Error: root must own ~/bin/sweeprun for -s.\n"},
      {"owner-writable", 0, 0755, copy, 117, "Error: " + copy + " must not be writable for -s.\n"},
      {"writable by others", 0, 0557, copy, 117,
       "Error: " + copy + " must not be writable for -s.\n"},
      {"read-only for all", 0, 0555, copy, 116, "Error: Config file not found: " + config + " .\n"},
      {"a bare name not in the working folder", kOtherUser, 0777, "sweeprun", 116,
       "Error: Config file not found: " + config + " .\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    setOwnerAndMode(copy, c.owner, fs::perms(c.mode));
    ProgramResult result = run(copy, {"-s"}, "root", c.name);
    EXPECT_EQ(c.status, result.exitStatus);
    EXPECT_EQ(c.out, result.out);
  }
}

TEST_F(StartupEndToEndTest, ConfigurationFileMustBeARootOwnedPrivateRegularFile) {
  SKIP_UNLESS_ROOT();
  const std::string accessible = "Error: " + config + " must not be accessible for other users.\n";
  const std::string notRegular = "Error: " + config + " must be a regular file.\n";
  const struct {
    const char* label;
    std::function<void()> make;
    int status;
    std::string out;
  } kCases[] = {
      {"missing", [] {}, 116, "Error: Config file not found: " + config + " .\n"},
      {"a link to nothing", [&] { fs::create_symlink(temp.file("nothing"), config); }, 116,
       "Error: Config file not found: " + config + " .\n"},
      {"owned by another user",
       [&] {
         writeConfig(validEntries());
         setOwnerAndMode(config, kOtherUser, fs::perms(0600));
       },
       115, "Error: root must own " + config + " .\n"},
      {"0640",
       [&] {
         writeConfig(validEntries());
         fs::permissions(config, fs::perms(0640));
       },
       114, accessible},
      {"0604",
       [&] {
         writeConfig(validEntries());
         fs::permissions(config, fs::perms(0604));
       },
       114, accessible},
      {"a link to a good file (the link's own bits)",
       [&] {
         temp.write("good.plist", "<plist><dict/></plist>");
         setOwnerAndMode(temp.file("good.plist"), 0, fs::perms(0600));
         fs::create_symlink(temp.file("good.plist"), config);
       },
       114, accessible},
      {"a folder",
       [&] {
         fs::create_directory(config);
         fs::permissions(config, fs::perms(0700));
       },
       113, notRegular},
      {"a pipe", [&] { ASSERT_EQ(0, mkfifo(config.c_str(), 0600)); }, 113, notRegular},
      {"0600", [&] { writeConfig(validEntries()); }, 0, config + ": OK\n"},
      {"0700",
       [&] {
         writeConfig(validEntries());
         fs::permissions(config, fs::perms(0700));
       },
       0, config + ": OK\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(config);
    c.make();
    ProgramResult result = run(driver(), {"-t"});
    EXPECT_EQ(c.status, result.exitStatus);
    EXPECT_EQ(c.out, result.out);
  }
}

TEST_F(StartupEndToEndTest, CheckModeAndDisabledSystemModeEndBeforeTheRun) {
  SKIP_UNLESS_ROOT();
  const struct {
    const char* label;
    std::vector<std::string> arguments;
    std::string entries;
    std::string out;
  } kCases[] = {
      {"check and system mode", {"-s", "-t"}, validEntries() + loggingEntries(), config + ": OK\n"},
      {"disabled",
       {"-s"},
       validEntries() + loggingEntries() + "<key>Disabled</key><true/>",
       config + ": Disabled\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    writeConfig(c.entries);
    ProgramResult result = run(driver(), c.arguments);
    EXPECT_EQ(0, result.exitStatus);
    EXPECT_EQ(c.out, result.out);
    EXPECT_FALSE(fs::exists(runLog())) << "the run log is not opened";
  }
}

TEST_F(StartupEndToEndTest, InvalidConfigurationEndsWith112) {
  SKIP_UNLESS_ROOT();
  writeConfig(validEntries() + "<key>NoSuchKey</key><string>x</string>");
  ProgramResult result = run(driver(), {"-t"});
  EXPECT_EQ(112, result.exitStatus);
  EXPECT_EQ(0u, result.out.rfind("Error: ", 0)) << result.out;
}

// Conditions as check mode reads them: sizes with units, the refused forms
// with what was expected (a configuration error, status 112), and a name
// pattern that is taken as written, with a warning.
TEST_F(StartupEndToEndTest, CheckModeReadsSizeUnitsAndRefusesWhatCannotMeanItsText) {
  SKIP_UNLESS_ROOT();
  const auto withCondition = [&](const std::string& condition) {
    return "<key>DataFile</key><string>" + temp.file("db.data") +
           "</string><key>Folders</key><array><dict><key>Path</key><string>" +
           temp.file("watched") + "</string><key>Conditions</key><array><string>" + condition +
           "</string></array></dict></array>";
  };
  const struct {
    const char* condition;
    int status;
    const char* out;  // after the configuration path or "Error: "
  } kCases[] = {
      {"size: &gt; 1.5GB", 0, ": OK\n"},
      {"size: &lt; 2 KiB", 0, ": OK\n"},
      {"size: &gt;5000000 bytes", 0, ": OK\n"},
      {"size: &gt; 1.5 GX", 112, "Unable to handle condition 'size: > 1.5 GX': expected '<' or"},
      {"!size: &gt; 1000000", 112,
       "Unable to handle condition '!size: > 1000000': expected no '!'"},
      {"delay: 99999999999999999999 days", 112,
       "Unable to handle condition 'delay: 99999999999999999999 days': expected a number no "
       "larger"},
      {"name: *10:00*", 112,
       "Unable to handle condition 'name: *10:00*': expected a name without ':'"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.condition);
    writeConfig(withCondition(c.condition));
    ProgramResult result = run(driver(), {"-t"});
    EXPECT_EQ(c.status, result.exitStatus);
    const std::string expected = c.status == 0 ? config + c.out : std::string("Error: ") + c.out;
    EXPECT_EQ(0u, result.out.rfind(expected, 0)) << result.out;
  }

  writeConfig(withCondition("name: a*b"));
  ProgramResult warned = run(driver(), {"-t"});
  EXPECT_EQ(0, warned.exitStatus);
  EXPECT_EQ(
      "Warning: condition 'name: a*b' matches 'a*b' as it is written: only a '*' at either "
      "end is a wildcard; '*', '?' and '[' elsewhere are plain characters.\n" +
          config + ": OK\n",
      warned.out);
}

// What passes the check but is wrong in all likelihood is said before "OK":
// a Path that matches nothing (runs pass it over without a word), and a
// metrics file no exporter but root may read.
TEST_F(StartupEndToEndTest, CheckModeWarnsOfPathsMatchingNothingAndMetricsOnlyRootReads) {
  SKIP_UNLESS_ROOT();
  fs::permissions(temp.path(), fs::perms(0755));
  fs::create_directories(temp.file("watched"));
  for (const auto& [folder, mode] : {std::pair{"open", 0755}, {"closed", 0700}}) {
    fs::create_directories(temp.file(folder));
    fs::permissions(temp.file(folder), fs::perms(mode));
  }
  const auto entries = [&](const std::string& path, const std::string& metricsFolder) {
    return "<key>DataFile</key><string>" + temp.file("db.data") +
           "</string><key>MetricsFile</key><string>" + temp.file(metricsFolder) +
           "/sweeprun.prom</string><key>Folders</key><array><dict><key>Path</key><string>" +
           temp.file(path) + "</string></dict></array>";
  };
  const struct {
    const char* path;
    const char* metricsFolder;
    std::string warning;  // empty: none
  } kCases[] = {
      {"watched", "open", ""},
      {"inbx", "open",
       "Warning: Path '" + temp.file("inbx") + "' matches no folder now; runs pass it over"},
      {"*/Drop", "open",
       "Warning: Path '" + temp.file("*/Drop") + "' matches no folder now; runs pass it over"},
      {"watched", "closed",
       "Warning: MetricsFile '" + temp.file("closed/sweeprun.prom") +
           "': only root may read the folder '" + temp.file("closed") + "'"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path + std::string(" ") + c.metricsFolder);
    writeConfig(entries(c.path, c.metricsFolder));
    const ProgramResult result = run(driver(), {"-t"});
    EXPECT_EQ(0, result.exitStatus);
    const std::string ok = config + ": OK\n";
    if (c.warning.empty()) {
      EXPECT_EQ(ok, result.out);
    } else {
      EXPECT_EQ(0u, result.out.rfind(c.warning, 0)) << result.out;
      EXPECT_EQ(result.out.size() - ok.size(), result.out.find('\n') + 1) << "one line, then OK";
    }
  }
}

TEST_F(StartupEndToEndTest, SystemModeRunWritesTheConfiguredRunLog) {
  SKIP_UNLESS_ROOT();
  writeConfig(validEntries() + loggingEntries());
  ProgramResult result = run(driver(), {"-s"});
  EXPECT_EQ("", result.out);
  ASSERT_TRUE(fs::is_regular_file(runLog()));
  // It names other users' files: root and the administrators' group only.
  struct stat st {};
  ASSERT_EQ(0, stat(runLog().c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  if (const group* adm = getgrnam("adm")) {
    EXPECT_EQ(adm->gr_gid, st.st_gid);
  }
}

TEST_F(StartupEndToEndTest, UserModeRunLogFollowsPreferencesAndArguments) {
  const std::string preferences =
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>LogToFile</key><true/>"
      "<key>LogFileName</key><string>~/Logs/../companion.log</string></dict></plist>";
  const struct {
    const char* label;
    std::string domainFile;  // below ~/Library/Preferences
    std::vector<std::string> arguments;
    std::string log;  // below HOME
  } kCases[] = {
      {"companion preferences", "org.sweeply.Sweeply.plist", {}, "companion.log"},
      {"own preferences", "sweeprun.plist", {}, "companion.log"},
      {"arguments", "", {"-LogToFile", "YES", "-LogFileName", "~/argument.log"}, "argument.log"},
      {"arguments over preferences",
       "org.sweeply.Sweeply.plist",
       {"-LogFileName", "~/argument.log"},
       "argument.log"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(home);
    fs::create_directories(home + "/Library/Preferences");
    if (!c.domainFile.empty()) temp.write("home/Library/Preferences/" + c.domainFile, preferences);
    ProgramResult result = run(SWEEPRUN_TOOL_PATH, c.arguments, "alice");
    EXPECT_EQ(1, result.exitStatus);
    EXPECT_EQ("", result.out);
    const std::string log = temp.read("home/" + c.log);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ('\n', log.back()) << "the section was closed";
  }
}

}  // namespace
}  // namespace sweeprun
