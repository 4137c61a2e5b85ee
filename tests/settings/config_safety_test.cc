// The refusals that keep a run away from the system's and its own files,
// through the parser as check mode uses it: the variants of paths and
// permission bits that also run as an ordinary user. Each kind of refusal
// with its exit status, and ownership by another user, are left to the
// end-to-end tests.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "settings/config_test_env.h"
#include "settings/trash_config_file_parser.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

std::string withDir(std::string text, const std::string& dir) {
  for (size_t at; (at = text.find("$DIR")) != std::string::npos;) text.replace(at, 4, dir);
  return text;
}

std::string entryWithPath(const std::string& path, const std::string& moreKeys = "") {
  return "<dict><key>Path</key><string>" + path + "</string>" + moreKeys + "</dict>";
}

std::string rootWith(const std::string& dataFile, const std::string& entries,
                     const std::string& moreKeys = "") {
  return "<dict><key>DataFile</key><string>" + dataFile + "</string>" + moreKeys +
         "<key>Folders</key><array>" + entries + "</array></dict>";
}

const std::string kLogging =
    "<key>LogToFile</key><true/><key>LogFileName</key><string>$DIR/logs/run.log</string>";

void chmodOrFail(const std::string& path, mode_t mode) {
  ASSERT_EQ(0, chmod(path.c_str(), mode)) << path;
}

TEST(ConfigSafetyTest, RefusesDangerousConfigurationsAndAcceptsTheirNeighbours) {
  const struct {
    const char* label;
    std::string config;
    std::function<void(const ConfigTestEnv&)> prepare;
    std::string message;  // empty: accepted
  } kCases[] = {
      {"moveto: with blanks only",
       configRoot(folderEntry("<key>Action</key><string>moveto: \t</string>")), nullptr,
       "Action 'moveto: \t' names no destination: give \"moveto:\" followed by the path of a "
       "folder."},
      {"the root folder by another name",
       configRoot(entryWithPath("$DIR/../../../../../../../..//.")), nullptr,
       "Path '$DIR/../../../../../../../..//.' gives the watched folder /, which is the root "
       "folder: watch a "
       "folder below it."},
      {"the accounts folder, not on disk", configRoot(entryWithPath("$DIR/./Users/x/..")), nullptr,
       "Path '$DIR/./Users/x/..' gives the watched folder $DIR/Users, which is the accounts "
       "folder: watch a folder below it."},
      {"a folder below the accounts folder", configRoot(entryWithPath("$DIR/Users/*")),
       [](const ConfigTestEnv& env) { env.makeDir("Users/alice"); }, ""},
      {"a folder that holds the DataFile",
       rootWith("$DIR/data/db/x.data", entryWithPath("$DIR/d*")),
       [](const ConfigTestEnv& env) { env.makeDir("data/db"); },
       "Path '$DIR/d*' gives the watched folder $DIR/data, which holds the DataFile "
       "$DIR/data/db/x.data: watch a folder that holds none of the tool's own files."},
      {"the folder of the run log", configRoot(entryWithPath("$DIR/l*"), kLogging),
       [](const ConfigTestEnv& env) { env.makeDir("logs"); },
       "Path '$DIR/l*' gives the watched folder $DIR/logs, which holds the log file "
       "$DIR/logs/run.log: watch a folder that holds none of the tool's own files."},
      {"the log folder while the run log is off",
       configRoot(entryWithPath("$DIR/logs"),
                  "<key>LogFileName</key><string>$DIR/logs/run.log</string>"),
       [](const ConfigTestEnv& env) { env.makeDir("logs"); }, ""},
      {"a DataFile that is a link", rootWith("$DIR/db.link", folderEntry()),
       [](const ConfigTestEnv& env) {
         fs::create_symlink(env.dir + "/db.data", env.dir + "/db.link");
       },
       "DataFile '$DIR/db.link' is not a regular file: it must name a plain file, or nothing "
       "yet."},
      {"a DataFile in a group-writable folder", rootWith("$DIR/data/db.data", folderEntry()),
       [](const ConfigTestEnv& env) { chmodOrFail(env.makeDir("data"), 0775); },
       "DataFile '$DIR/data/db.data' lies in $DIR/data, which users other than root can write: "
       "the folder must belong to root and be writable by root alone."},
      {"a DataFile in a sticky world-writable folder", rootWith("$DIR/data/db.data", folderEntry()),
       [](const ConfigTestEnv& env) { chmodOrFail(env.makeDir("data"), 01777); },
       "DataFile '$DIR/data/db.data' lies in $DIR/data, which users other than root can write: "
       "the folder must belong to root and be writable by root alone."},
      {"a DataFile below a world-writable folder",
       rootWith("$DIR/open/data/db.data", folderEntry()),
       [](const ConfigTestEnv& env) {
         env.makeDir("open/data");
         chmodOrFail(env.dir + "/open", 0777);
       },
       "DataFile '$DIR/open/data/db.data' lies below $DIR/open, which users other than root can "
       "change: every folder on the way must belong to root and be writable by root alone, or "
       "be sticky."},
      {"a DataFile below a sticky folder", rootWith("$DIR/open/data/db.data", folderEntry()),
       [](const ConfigTestEnv& env) {
         env.makeDir("open/data");
         chmodOrFail(env.dir + "/open", 01777);
       },
       ""},
      {"a run log in a world-writable folder", configRoot(folderEntry(), kLogging),
       [](const ConfigTestEnv& env) { chmodOrFail(env.makeDir("logs"), 0777); },
       "LogFileName '$DIR/logs/run.log' lies in $DIR/logs, which users other than root can "
       "write: the folder must belong to root and be writable by root alone."},
      {"a run log in a missing folder of a writable one",
       rootWith("$DIR/data/db.data", folderEntry(),
                "<key>LogToFile</key><true/>"
                "<key>LogFileName</key><string>$DIR/open/logs/run.log</string>"),
       [](const ConfigTestEnv& env) {
         env.makeDir("data");
         chmodOrFail(env.makeDir("open"), 0777);
       },
       "LogFileName '$DIR/open/logs/run.log' lies in $DIR/open, which users other than root can "
       "write: the folder must belong to root and be writable by root alone."},
      {"a run log in a private folder", configRoot(folderEntry(), kLogging),
       [](const ConfigTestEnv& env) { chmodOrFail(env.makeDir("logs"), 0755); }, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    ConfigTestEnv env;
    env.makeDir("watched");
    if (c.prepare) c.prepare(env);
    TrashConfigFileParser parser(env.context);
    const bool accepted = parser.parse(env.writeConfig(withDir(c.config, env.dir)));
    EXPECT_EQ(c.message.empty(), accepted);
    EXPECT_EQ(c.message.empty() ? "" : "Error: " + withDir(c.message, env.dir) + "\n",
              env.firstLine());
  }
}

// The root, the accounts folder and the folders of the tool's own files are
// refused by what they are, not only by their text: a link or a /proc path
// leading there opens the same folder a run would take in.
TEST(ConfigSafetyTest, RefusesGuardedFoldersReachedByAnotherPath) {
  const std::string kOwnFiles =
      kLogging + "<key>MetricsFile</key><string>$DIR/metrics/s.prom</string>";
  // "/proc/1/cwd" leads to the root where the test may read the first
  // process's links and that process works in the root, as init does.
  std::error_code unreadable;
  const bool initWorksInRoot = fs::equivalent("/", "/proc/1/cwd", unreadable);
  const struct {
    const char* label;
    std::string path;
    std::string message;  // $W: the watched folder; empty: accepted
    bool applies = true;
  } kCases[] = {
      {"a link to the root", "$DIR/link-to/root",
       "which is the root folder: watch a folder below it."},
      {"/proc/self/root", "/proc/self/root", "which is the root folder: watch a folder below it."},
      {"/proc/1/cwd", "/proc/1/cwd", "which is the root folder: watch a folder below it.",
       initWorksInRoot},
      {"a link to the accounts folder", "$DIR/link-to/Users",
       "which is the accounts folder: watch a folder below it."},
      {"a link to the folder of the configuration file", "$DIR/link-to/dir",
       "which holds the configuration file $DIR/config.plist: watch a folder that holds none of "
       "the tool's own files."},
      {"a link to the folder of the DataFile", "$DIR/link-to/data",
       "which holds the DataFile $DIR/data/db.data: watch a folder that holds none of the "
       "tool's own files."},
      {"a link to the folder of the run log", "$DIR/link-to/logs",
       "which holds the log file $DIR/logs/run.log: watch a folder that holds none of the tool's "
       "own files."},
      {"a link to the folder of the MetricsFile", "$DIR/link-to/metrics",
       "which holds the MetricsFile $DIR/metrics/s.prom: watch a folder that holds none of the "
       "tool's own files."},
      {"a link to the folder above the journal", "$DIR/link-to/journal-above",
       "which holds the journal $DIR/lib/sweeprun/journal.jsonl: watch a folder that holds none "
       "of the tool's own files."},
      {"a link to another folder", "$DIR/link-to/watched", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    if (!c.applies) continue;
    ConfigTestEnv env;
    for (const char* folder : {"watched", "Users", "data", "logs", "metrics", "lib/sweeprun"})
      env.makeDir(folder);
    env.context.systemDataFolder = env.dir + "/lib/sweeprun";
    const std::string links = env.makeDir("elsewhere/link-to");
    for (const auto& [name, target] :
         std::vector<std::pair<std::string, std::string>>{{"root", "/"},
                                                          {"Users", env.dir + "/Users"},
                                                          {"dir", env.dir},
                                                          {"data", env.dir + "/data"},
                                                          {"logs", env.dir + "/logs"},
                                                          {"metrics", env.dir + "/metrics"},
                                                          {"journal-above", env.dir + "/lib"},
                                                          {"watched", env.dir + "/watched"}}) {
      fs::create_symlink(target, links + "/" + name);
    }
    const std::string path = withDir(c.path, env.dir + "/elsewhere");
    TrashConfigFileParser parser(env.context);
    const bool accepted = parser.parse(env.writeConfig(
        rootWith("$DIR/data/db.data", entryWithPath(path), withDir(kOwnFiles, env.dir))));
    EXPECT_EQ(c.message.empty(), accepted);
    const std::string message =
        "Path '" + path + "' gives the watched folder " + path + ", " + withDir(c.message, env.dir);
    EXPECT_EQ(c.message.empty() ? "" : "Error: " + message + "\n", env.firstLine());
  }
}

// "MetricsFile" names a file each run replaces: by an absolute path, in a
// folder that is there (a run makes none), and outside every watched folder.
// What the name holds is the run's to find out.
TEST(ConfigSafetyTest, MetricsFileMustNameAFileInAnExistingFolder) {
  auto metrics = [](const std::string& value) { return "<key>MetricsFile</key>" + value; };
  const struct {
    const char* label;
    std::string config;
    std::function<void(const ConfigTestEnv&)> prepare;
    std::string message;  // empty: accepted
  } kCases[] = {
      {"a file in an existing folder",
       configRoot(folderEntry(), metrics("<string>$DIR/m/s.prom</string>")),
       [](const ConfigTestEnv& env) { env.makeDir("m"); }, ""},
      {"a number", configRoot(folderEntry(), metrics("<integer>1</integer>")), nullptr,
       "Value for key 'MetricsFile' is of incorrect type."},
      {"a relative path", configRoot(folderEntry(), metrics("<string>m/s.prom</string>")), nullptr,
       "MetricsFile 'm/s.prom' is not an absolute path."},
      {"an empty text", configRoot(folderEntry(), metrics("<string></string>")), nullptr,
       "MetricsFile '' is not an absolute path."},
      {"a missing folder", configRoot(folderEntry(), metrics("<string>$DIR/m/s.prom</string>")),
       nullptr, "MetricsFile '$DIR/m/s.prom' names no file in an existing folder."},
      {"a link (the run finds out when it writes)",
       configRoot(folderEntry(), metrics("<string>$DIR/m/s.prom</string>")),
       [](const ConfigTestEnv& env) {
         fs::create_symlink(env.dir + "/elsewhere", env.makeDir("m") + "/s.prom");
       },
       ""},
      {"in a watched folder",
       configRoot(entryWithPath("$DIR/m"), metrics("<string>$DIR/m/s.prom</string>")),
       [](const ConfigTestEnv& env) { env.makeDir("m"); },
       "Path '$DIR/m' gives the watched folder $DIR/m, which holds the MetricsFile $DIR/m/s.prom: "
       "watch a folder that holds none of the tool's own files."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    ConfigTestEnv env;
    env.makeDir("watched");
    if (c.prepare) c.prepare(env);
    TrashConfigFileParser parser(env.context);
    const bool accepted = parser.parse(env.writeConfig(withDir(c.config, env.dir)));
    EXPECT_EQ(c.message.empty(), accepted);
    EXPECT_EQ(c.message.empty() ? "" : "Error: " + withDir(c.message, env.dir) + "\n",
              env.firstLine());
    if (accepted) {
      EXPECT_EQ(withDir("$DIR/m/s.prom", env.dir), parser.stringForKey("MetricsFile"));
    }
  }
}

}  // namespace
}  // namespace sweeprun
