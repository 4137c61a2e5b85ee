// Root in user mode over stores that another account owns or can write (a
// root shell that kept a user's HOME): both binaries refuse before anything
// is read or changed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "e2e/run_program.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherAccount = 65534;  // "nobody" on Debian

// Every entry below |root|: its kind, owner, mode, modification time and bytes.
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    struct stat st {};
    const std::string path = entry.path();
    lstat(path.c_str(), &st);
    std::string state = std::to_string(st.st_mode) + ":" + std::to_string(st.st_uid) + ":" +
                        std::to_string(st.st_mtim.tv_sec) + "." +
                        std::to_string(st.st_mtim.tv_nsec);
    if (S_ISREG(st.st_mode)) {
      std::ifstream in(path, std::ios::binary);
      state += ":" + std::string(std::istreambuf_iterator<char>(in), {});
    }
    entries[path] = state;
  }
  return entries;
}

TEST(StoreOwnerEndToEndTest, StoresAnotherAccountControlsStopEveryUserModeCommand) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give files to another account";
  const std::string sweeply = fs::path(SWEEPRUN_TOOL_PATH).parent_path() / "sweeply";
  const std::string database = "Library/Application Support/Sweeply/Sweeply.data";
  const std::string journal = "Library/Logs/Sweeply-journal.jsonl";
  const struct {
    const char* label;
    std::string named;  // below the home folder; empty for the home folder itself
    std::function<void(const std::string& home)> change;
    std::string says;
  } kCases[] = {
      {"the home folder of another account", "",
       [](const std::string& home) { lchown(home.c_str(), kOtherAccount, -1); },
       "belongs to nobody, not to root"},
      {"a database another account owns", database,
       [&](const std::string& home) { lchown((home + "/" + database).c_str(), kOtherAccount, -1); },
       "belongs to nobody, not to root"},
      {"a database lock the group can write", database + ".lock",
       [&](const std::string& home) { chmod((home + "/" + database + ".lock").c_str(), 0620); },
       "(owner root) can be written by other accounts (mode 0620)"},
      {"the tool's preferences of another account", "Library/Preferences/sweeprun.plist",
       [](const std::string& home) {
         lchown((home + "/Library/Preferences/sweeprun.plist").c_str(), kOtherAccount, -1);
       },
       "belongs to nobody"},
      {"companion preferences others can write", "Library/Preferences/org.sweeply.Sweeply.plist",
       [](const std::string& home) {
         chmod((home + "/Library/Preferences/org.sweeply.Sweeply.plist").c_str(), 0602);
       },
       "(owner root) can be written by other accounts (mode 0602)"},
      {"a journal another account owns", journal,
       [&](const std::string& home) { lchown((home + "/" + journal).c_str(), kOtherAccount, -1); },
       "belongs to nobody"},
      {"a journal lock another account owns", journal + ".lock",
       [&](const std::string& home) {
         lchown((home + "/" + journal + ".lock").c_str(), kOtherAccount, -1);
       },
       "belongs to nobody"},
      {"a sticky world-writable folder on the way", "Library/Logs",
       [](const std::string& home) { chmod((home + "/Library/Logs").c_str(), 01777); },
       "(owner root) can be written by other accounts (mode 1777)"},
      {"a link on the way", "Library/Application Support",
       [](const std::string& home) {
         fs::rename(home + "/Library/Application Support", home + "/Library/Elsewhere");
         fs::create_directory_symlink("Elsewhere", home + "/Library/Application Support");
       },
       "is a symbolic link (owner root)"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    TempDir temp;
    const std::string home = temp.file("home");
    const std::string inbox = temp.file("Inbox");
    fs::create_directories(home);
    fs::create_directories(inbox);
    const auto run = [&](const std::string& program, std::vector<std::string> arguments) {
      arguments.insert(arguments.begin(), program);
      return runProgram(program, arguments, toolEnvironment(home, "root", temp.path()),
                        temp.path());
    };
    // A run trashed one entry (what undo would put back) and would trash another.
    ASSERT_EQ(0, run(sweeply, {"add", inbox, "--condition", "name: *.tmp"}).exitStatus);
    ASSERT_EQ(0, run(sweeply, {"prefs", "LogToFile", "no"}).exitStatus);
    temp.write(
        "home/Library/Preferences/sweeprun.plist",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict/></plist>\n");
    chmod((home + "/Library/Preferences/sweeprun.plist").c_str(), 0600);
    temp.write("Inbox/a.tmp", "trashed");
    ASSERT_EQ(0, run(SWEEPRUN_TOOL_PATH, {}).exitStatus);
    ASSERT_TRUE(fs::exists(home + "/" + journal + ".lock"));
    temp.write("Inbox/b.tmp", "due");
    c.change(home);
    const auto before = snapshot(temp.path());

    const std::string named = c.named.empty() ? home : home + "/" + c.named;
    for (const auto& [program, arguments] :
         std::vector<std::pair<std::string, std::vector<std::string>>>{
             {SWEEPRUN_TOOL_PATH, {}},
             {sweeply, {"undo"}},
             {sweeply, {"history"}},
             {sweeply, {"list"}},
             {sweeply, {"add", temp.path()}}}) {
      SCOPED_TRACE(fs::path(program).filename().string() + " " +
                   (arguments.empty() ? "" : arguments[0]));
      const ProgramResult result = run(program, arguments);
      EXPECT_EQ(1, result.exitStatus);
      const std::string said = fs::path(program).filename().string();
      EXPECT_EQ(0u, result.err.find(rootHomeLine(said, home))) << result.err;
      EXPECT_NE(std::string::npos, result.err.find(named + " " + c.says)) << result.err;
      EXPECT_NE(std::string::npos, result.err.find("nothing was read or changed")) << result.err;
    }
    EXPECT_EQ(before, snapshot(temp.path()));
  }
}

}  // namespace
}  // namespace sweeprun
