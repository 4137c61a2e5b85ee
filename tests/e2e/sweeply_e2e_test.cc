// The companion command and the tool together, as a user drives them: both
// binaries spawned over one throw-away HOME.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "e2e/run_program.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

// sweeply is built beside sweeprun.
std::string sweeplyPath() { return fs::path(SWEEPRUN_TOOL_PATH).parent_path() / "sweeply"; }

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class SweeplyEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(home);
    fs::create_directories(inbox);
  }

  ProgramResult run(const std::string& program, std::vector<std::string> arguments,
                    const std::string& user = "alice") {
    arguments.insert(arguments.begin(), program);
    return runProgram(program, arguments,
                      toolEnvironment(home, user, temp.path(), "etc/sweeprun.plist"), temp.path());
  }
  ProgramResult sweeply(std::vector<std::string> arguments) {
    return run(sweeplyPath(), std::move(arguments));
  }
  ProgramResult sweeprun() { return run(SWEEPRUN_TOOL_PATH, {}); }

  std::string databasePath() const {
    return home + "/Library/Application Support/Sweeply/Sweeply.data";
  }
  std::string trash() const { return home + "/.local/share/Trash/files"; }

  TempDir temp;
  const std::string home = temp.file("home");
  const std::string inbox = temp.file("Inbox");
};

TEST_F(SweeplyEndToEndTest, AddPreviewRunAndListAgree) {
  ASSERT_EQ(0, sweeply({"add", inbox, "--condition", "name: *.tmp", "--condition",
                        "delay: 2 checks", "--any"})
                   .exitStatus);
  ASSERT_EQ(0, sweeply({"prefs", "LogToFile", "yes"}).exitStatus);
  ASSERT_EQ(0, sweeply({"prefs", "LogFileName", temp.file("run.log")}).exitStatus);
  temp.write("Inbox/report.pdf", "a report");
  temp.write("Inbox/notes.txt", "notes");
  ASSERT_EQ(0, sweeprun().exitStatus);
  // What the tools made lists the user's files: for the user only.
  for (const std::string& made :
       {databasePath(), home + "/Library/Preferences/org.sweeply.Sweeply.plist",
        temp.file("run.log")}) {
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write,
              fs::status(made).permissions() & fs::perms::mask)
        << made;
  }
  ASSERT_EQ(0, sweeprun().exitStatus);
  temp.write("Inbox/build.tmp", "scratch");
  temp.write("Inbox/new.txt", "fresh");
  fs::create_directories(trash());
  temp.write("home/.local/share/Trash/files/build.tmp", "an older one");
  fs::remove(temp.file("run.log"));

  // What a run now would do, entry by entry, as "verb name".
  ProgramResult preview = sweeply({"preview", inbox});
  ASSERT_EQ(0, preview.exitStatus) << preview.err;
  std::set<std::string> planned;
  for (const std::string& line : linesOf(preview.out)) {
    if (line.compare(0, 2, "  ") != 0 || line.find("would be removed") != std::string::npos)
      continue;
    std::istringstream words(line);
    std::string verb, name;
    words >> verb >> name;
    if (verb == "take") words >> name;  // "take in NAME"
    planned.insert(verb + " " + name);
  }
  EXPECT_EQ((std::set<std::string>{"keep notes.txt", "keep report.pdf", "trash build.tmp",
                                   "take new.txt"}),
            planned);
  EXPECT_TRUE(fs::exists(temp.file("Inbox/build.tmp"))) << "a preview touches nothing";
  EXPECT_NE(std::string::npos, preview.out.find(trash() + "/build copy 1.tmp"));

  // The run does exactly that: its log lines, and the Trash.
  ASSERT_EQ(0, sweeprun().exitStatus);
  std::ifstream logFile(temp.file("run.log"));
  std::stringstream log;
  log << logFile.rdbuf();
  std::set<std::string> done;
  for (const std::string& line : linesOf(log.str())) {
    if (line.compare(0, 2, "  ") == 0) done.insert("keep " + line.substr(2));
    if (line.compare(0, 2, "+ ") == 0) done.insert("take " + line.substr(2));
    if (line.compare(0, 2, "- ") == 0) done.insert("trash " + line.substr(2, line.find(" (") - 2));
  }
  EXPECT_EQ(planned, done) << log.str();
  EXPECT_TRUE(fs::exists(trash() + "/build copy 1.tmp"));

  // And list and show tell the same story.
  ProgramResult show = sweeply({"show", inbox, "--json"});
  ASSERT_EQ(0, show.exitStatus) << show.err;
  for (const char* expected :
       {"\"checks\": 3", "\"takenIn\": 4", "\"movedOut\": 1", "\"removedByLastCheck\": 1",
        "\"name\": \"new.txt\"", "\"name\": \"notes.txt\"", "\"expression\": \"delay: 2 checks\"",
        "\"description\": \"that survived more than 2 checks\""}) {
    EXPECT_NE(std::string::npos, show.out.find(expected)) << expected << "\n" << show.out;
  }
  EXPECT_EQ(std::string::npos, show.out.find("build.tmp"));
  ProgramResult list = sweeply({"list"});
  EXPECT_NE(std::string::npos, list.out.find("3 checks; 4 taken in, 1 moved out")) << list.out;
}

TEST_F(SweeplyEndToEndTest, ConditionsTakeSizeUnitsRefuseWhatCannotMeanTheirTextAndWarn) {
  ASSERT_EQ(0, sweeply({"add", inbox, "--condition", "size: > 1.5GB"}).exitStatus);
  ProgramResult show = sweeply({"show", inbox, "--json"});
  EXPECT_NE(std::string::npos, show.out.find("\"expression\": \"size: > 1500000000\"")) << show.out;
  temp.write("Inbox/small.txt", "six b");
  ProgramResult preview = sweeply({"preview", inbox});
  EXPECT_EQ(std::string::npos, preview.out.find("trash small.txt")) << preview.out;

  for (const char* refused : {"size: > 1.5 GX", "!size: > 1000000", "delay: 1e30 days"}) {
    SCOPED_TRACE(refused);
    ProgramResult result = sweeply({"edit", inbox, "--condition", refused});
    EXPECT_EQ(2, result.exitStatus);
    EXPECT_NE(std::string::npos, result.err.find("expected")) << result.err;
  }
  ProgramResult warned = sweeply({"edit", inbox, "--condition", "name: file?.txt"});
  EXPECT_EQ(0, warned.exitStatus) << warned.err;
  EXPECT_NE(std::string::npos,
            warned.err.find("sweeply edit: warning: condition 'name: file?.txt' matches"))
      << warned.err;
}

// A script must be able to act on any name the tool tracks, and a name must
// not be able to drive the terminal it is shown on.
TEST_F(SweeplyEndToEndTest, NamesThatAreNotTextStayExactInJsonAndHarmlessOnTheTerminal) {
  ASSERT_EQ(0, sweeply({"add", inbox, "--condition", "name: *.tmp"}).exitStatus);
  temp.write("Inbox/caf\xE9.txt", "x");
  temp.write("Inbox/\x1B[31mred", "x");
  ASSERT_EQ(0, sweeprun().exitStatus);
  ProgramResult json = sweeply({"show", inbox, "--json"});
  ASSERT_EQ(0, json.exitStatus) << json.err;
  EXPECT_NE(std::string::npos, json.out.find("\"nameBytes\": \"caf%E9.txt\"")) << json.out;
  ProgramResult text = sweeply({"show", inbox});
  EXPECT_EQ(std::string::npos, text.out.find('\x1B')) << text.out;
  EXPECT_NE(std::string::npos, text.out.find("\\x1b[31mred")) << text.out;
  EXPECT_NE(std::string::npos, text.out.find("caf\\xe9.txt")) << text.out;
}

// A sweeply change saved while a run is between its read and its save must
// survive the run's save: every folder added while runs go on is in the
// final database.
TEST_F(SweeplyEndToEndTest, EditsSavedDuringRunsAreNeverLost) {
  ASSERT_EQ(0, sweeply({"add", inbox, "--condition", "name: *.tmp"}).exitStatus);
  for (int i = 0; i < 3000; ++i) temp.write("Inbox/entry" + std::to_string(i), "");
  std::atomic<bool> adding{true};
  std::thread runs([&] {
    while (adding) {
      const ProgramResult result = sweeprun();
      EXPECT_EQ(0, result.exitStatus) << result.err;
    }
  });
  constexpr int kFolders = 20;
  for (int i = 0; i < kFolders; ++i) {
    const std::string folder = temp.file("Added" + std::to_string(i));
    fs::create_directories(folder);
    ASSERT_EQ(0, sweeply({"add", folder}).exitStatus) << "folder " << i;
  }
  adding = false;
  runs.join();
  ASSERT_EQ(0, sweeprun().exitStatus);
  const ProgramResult list = sweeply({"list", "--json"});
  for (int i = 0; i < kFolders; ++i) {
    EXPECT_NE(std::string::npos, list.out.find(temp.file("Added" + std::to_string(i)) + "\""))
        << "folder " << i << " was lost";
  }
}

TEST_F(SweeplyEndToEndTest, ImportThenExportGivesAFileCheckModeAccepts) {
  if (geteuid() != 0) GTEST_SKIP() << "check mode needs a root-owned configuration file";
  fs::create_directories(temp.file("etc"));
  fs::create_directories(temp.file("Users"));
  fs::create_directories(temp.file("Archive"));
  temp.write("given.plist",
             "<?xml version=\"1.0\"?><plist><dict><key>DataFile</key><string>" +
                 temp.file("db.data") +
                 "</string><key>Folders</key><array><dict><key>Path</key>"
                 "<string>" +
                 inbox + "</string><key>Action</key><string>moveto:" + temp.file("Archive") +
                 "</string><key>MoveWithDate</key><true/>"
                 "<key>Conditions</key><array><string>!name: Keep*</string><string>size: &lt; "
                 "100</string><string>delay: 3 weeks</string></array></dict></array></dict>"
                 "</plist>");
  ProgramResult imported = sweeply({"import", temp.file("given.plist")});
  ASSERT_EQ(0, imported.exitStatus) << imported.err;
  ASSERT_EQ(0, sweeply({"edit", inbox, "--readme", "READ ME"}).exitStatus);

  const std::string config = temp.file("etc/sweeprun.plist");
  ProgramResult exported =
      sweeply({"export", "--output", config, "--data-file", temp.file("db.data")});
  ASSERT_EQ(0, exported.exitStatus) << exported.err;
  EXPECT_EQ(rootHomeLine("sweeply", home), exported.err) << "every condition could be stated";

  // Check mode wants a read-only tool file and a root-owned private configuration.
  readOnlyDriverIn(temp.path());
  ASSERT_EQ(0, lchown(config.c_str(), 0, 0));
  ProgramResult check = run(temp.file("sweeprun"), {"-t"}, "root");
  EXPECT_EQ(0, check.exitStatus) << check.out << check.err;
  EXPECT_EQ(config + ": OK\n", check.out);

  // Importing the export again changes no setting and keeps the one folder.
  ProgramResult again = sweeply({"import", config});
  ASSERT_EQ(0, again.exitStatus) << again.err;
  EXPECT_NE(std::string::npos, again.out.find("1 folder updated")) << again.out;
  ProgramResult listed = sweeply({"list", "--json"});
  size_t folders = 0;
  for (size_t at = 0; (at = listed.out.find("\"path\":", at)) != std::string::npos; ++at) ++folders;
  EXPECT_EQ(1u, folders) << listed.out;
}

// A candidate configuration is checked before it is installed, by any user
// and wherever it lies; what check mode says of its place comes as notes.
TEST_F(SweeplyEndToEndTest, CheckConfigChecksACandidateFileAndNotesItsPlace) {
  const std::string file = temp.file("candidate.plist");
  const auto withCondition = [&](const std::string& condition) {
    return "<?xml version=\"1.0\"?><plist><dict><key>DataFile</key><string>" +
           temp.file("db.data") + "</string><key>Folders</key><array><dict><key>Path</key>" +
           "<string>" + inbox + "</string><key>Conditions</key><array><string>" + condition +
           "</string></array></dict></array></dict></plist>";
  };
  const std::string badCondition =
      "Unable to handle condition 'colour: red': expected 'delay:', 'size:' or 'name:' at the "
      "start.\nIn folder entry 1 (Path '" +
      inbox + "') of " + file + ".\n";
  const struct {
    const char* condition;
    unsigned mode;
    int status;
    std::string said;  // in the output, or for status 1 in the error
  } kCases[] = {
      {"name: *.tmp", 0600, 0, "Note: system mode reads only "},
      {"name: *.tmp", 0644, 0, "must not be accessible for other users (mode 600)\n"},
      {"name: a*b", 0600, 0, "Warning: condition 'name: a*b' matches 'a*b' as it is written"},
      {"colour: red", 0600, 1, "sweeply check-config: " + file + ": " + badCondition},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.condition);
    temp.write("candidate.plist", withCondition(c.condition));
    fs::permissions(file, fs::perms(c.mode));
    const ProgramResult checked = sweeply({"check-config", file});
    EXPECT_EQ(c.status, checked.exitStatus) << checked.out << checked.err;
    EXPECT_NE(std::string::npos, (c.status == 0 ? checked.out : checked.err).find(c.said))
        << checked.out << checked.err;
    if (c.status == 0) {
      EXPECT_EQ(checked.out.size() - file.size() - 5, checked.out.rfind(file + ": OK\n"));
    }
  }
  EXPECT_FALSE(fs::exists(temp.file("db.data"))) << "nothing is written";
  const ProgramResult imported = sweeply({"import", file});
  EXPECT_EQ(1, imported.exitStatus);
  EXPECT_NE(std::string::npos,
            imported.err.find("sweeply import: cannot import '" + file + "': " + badCondition))
      << imported.err;

  temp.write("candidate.plist",
             "<plist version=\"1.0\"><dict><key>Folders</key>\n<array>\n</dict>");
  const ProgramResult malformed = sweeply({"check-config", file});
  EXPECT_EQ(1, malformed.exitStatus);
  EXPECT_NE(std::string::npos,
            malformed.err.find(file + ": not a well-formed property list: line 3, column 1: "
                                      "expected </array> (for the <array> at line 2, column 1)"))
      << malformed.err;
}

TEST_F(SweeplyEndToEndTest, FoldersThatHoldTheToolsOwnFilesOrAreWatchedAlreadyAreRefused) {
  ASSERT_EQ(0, sweeply({"add", inbox}).exitStatus);
  fs::create_directory_symlink(inbox, temp.file("InboxLink"));
  const struct {
    std::string path, says;
  } rows[] = {
      {"/", "it is the root folder"},
      {home, "it is the home folder"},
      {home + "/Library", "it holds the folder database " + databasePath()},
      {temp.file("InboxLink"), "it is watched already as '" + inbox + "'"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    ProgramResult result = sweeply({"add", row.path, "--condition", "delay: 0 minutes"});
    EXPECT_EQ(1, result.exitStatus);
    EXPECT_NE(std::string::npos, result.err.find(row.says)) << result.err;
  }

  // A configuration file that names one such folder imports nothing.
  temp.write("given.plist", "<?xml version=\"1.0\"?><plist><dict><key>DataFile</key><string>" +
                                temp.file("db.data") +
                                "</string><key>Folders</key><array><dict><key>Path</key><string>" +
                                home + "/Library</string></dict></array></dict></plist>");
  ProgramResult imported = sweeply({"import", temp.file("given.plist")});
  EXPECT_EQ(1, imported.exitStatus);
  EXPECT_NE(std::string::npos, imported.err.find("holds the folder database")) << imported.err;
  ProgramResult listed = sweeply({"list", "--json"});
  EXPECT_EQ(std::string::npos, listed.out.find("\"path\": \"" + home + "/Library\"")) << listed.out;
  EXPECT_EQ(std::string::npos, listed.out.find("InboxLink")) << listed.out;
}

TEST_F(SweeplyEndToEndTest, RunSkipsRefusedFoldersOfAnOlderListAndListMarksThem) {
  // Folders that became refusable after they were added: the inbox now holds
  // the run log, and Alias is now a link to Other, watched earlier (as a
  // folder that may be absent, its stored record need not find it again).
  const std::string other = temp.file("Other"), alias = temp.file("Alias");
  fs::create_directories(other);
  fs::create_directories(alias);
  for (const std::string& folder : {inbox, other, alias}) {
    ASSERT_EQ(0,
              sweeply({"add", folder, "--condition", "delay: 0 minutes", "--network"}).exitStatus);
  }
  ASSERT_EQ(0, sweeply({"prefs", "LogToFile", "yes"}).exitStatus);
  ASSERT_EQ(0, sweeply({"prefs", "LogFileName", inbox + "/sweeprun.log"}).exitStatus);
  fs::remove(alias);
  fs::create_directory_symlink(other, alias);
  temp.write("Inbox/keep.txt", "kept");
  temp.write("Other/old.txt", "old");

  const std::string preview = sweeply({"preview"}).out;
  EXPECT_NE(std::string::npos, preview.find("runs do not check it: it holds the run log"))
      << preview;
  ProgramResult run = sweeprun();
  EXPECT_EQ(74, run.exitStatus);
  EXPECT_NE(std::string::npos, run.err.find("Not checking folder '" + inbox +
                                            "': it holds the run log " + inbox + "/sweeprun.log."))
      << run.err;
  EXPECT_NE(std::string::npos, run.err.find("Not checking folder '" + alias +
                                            "': it is watched already as '" + other + "'."))
      << run.err;
  EXPECT_TRUE(fs::exists(temp.file("Inbox/keep.txt")));
  EXPECT_TRUE(fs::exists(trash() + "/old.txt")) << "the other folders are still checked";

  const std::string list = sweeply({"list"}).out;
  EXPECT_NE(std::string::npos, list.find("refused: holds the run log; runs skip it")) << list;
  EXPECT_NE(std::string::npos, list.find("refused: is watched already as '" + other + "'")) << list;
  ProgramResult edited = sweeply({"edit", inbox, "--any"});
  EXPECT_EQ(1, edited.exitStatus);
  EXPECT_NE(std::string::npos, edited.err.find("it holds the run log")) << edited.err;
}

std::string contentOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// A keyed archive whose top holds no root: read without an exception, yet
// no folder list.
constexpr const char* kArchiveWithoutRoot =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
    "<key>$archiver</key><string>NSKeyedArchiver</string><key>$objects</key>"
    "<array><string>$null</string></array><key>$top</key><dict/>"
    "<key>$version</key><integer>100000</integer></dict></plist>";

TEST_F(SweeplyEndToEndTest, DamagedDatabaseIsNamedLeftAsItIsAndAWayOnGiven) {
  fs::create_directories(fs::path(databasePath()).parent_path());
  for (const std::string& damaged :
       {std::string("bplist00 damaged beyond reading"), std::string(kArchiveWithoutRoot)}) {
    { std::ofstream(databasePath(), std::ios::binary) << damaged; }
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"add", inbox},
                                                      {"edit", inbox, "--any"},
                                                      {"list"},
                                                      {"preview"},
                                                      {}}) {
      SCOPED_TRACE(damaged.substr(0, 8) + " " + (arguments.empty() ? "sweeprun" : arguments[0]));
      ProgramResult result = arguments.empty() ? sweeprun() : sweeply(arguments);
      EXPECT_EQ(1, result.exitStatus);
      for (const std::string& said :
           {"'" + databasePath() + "' cannot be read (", std::string("it was left as it is"),
            std::string("Run 'sweeply restore-previous'")}) {
        EXPECT_NE(std::string::npos, result.err.find(said)) << result.err;
      }
    }
    EXPECT_EQ(damaged, contentOf(databasePath()));
  }
}

TEST_F(SweeplyEndToEndTest, RestorePreviousShowsTheCopyThenPutsItBack) {
  const std::string previous = databasePath() + ".previous";
  ASSERT_EQ(0, sweeply({"add", inbox}).exitStatus);
  EXPECT_FALSE(fs::exists(previous)) << "the first save replaces nothing";
  ProgramResult none = sweeply({"restore-previous"});
  EXPECT_EQ(1, none.exitStatus);
  EXPECT_NE(std::string::npos, none.err.find("no copy '" + previous + "'")) << none.err;

  fs::create_directories(temp.file("Outbox"));
  ASSERT_EQ(0, sweeply({"add", temp.file("Outbox")}).exitStatus);
  ProgramResult readable = sweeply({"restore-previous", "--yes"});
  EXPECT_EQ(1, readable.exitStatus) << "a database that can be read is kept";
  EXPECT_NE(std::string::npos, readable.err.find("can be read")) << readable.err;

  const std::string damaged = "bplist00 damaged beyond reading";
  { std::ofstream(databasePath(), std::ios::binary) << damaged; }
  ProgramResult shown = sweeply({"restore-previous"});
  ASSERT_EQ(0, shown.exitStatus) << shown.err;
  EXPECT_NE(std::string::npos, shown.out.find("watches 1 folder:")) << shown.out;
  EXPECT_NE(std::string::npos, shown.out.find(inbox)) << shown.out;
  EXPECT_NE(std::string::npos, shown.out.find("Nothing was changed")) << shown.out;
  EXPECT_EQ(damaged, contentOf(databasePath()));

  ProgramResult restored = sweeply({"restore-previous", "--yes"});
  ASSERT_EQ(0, restored.exitStatus) << restored.err;
  EXPECT_EQ(damaged, contentOf(databasePath() + ".damaged"));
  EXPECT_FALSE(fs::exists(previous));
  ProgramResult listed = sweeply({"list"});
  ASSERT_EQ(0, listed.exitStatus) << listed.err;
  EXPECT_NE(std::string::npos, listed.out.find(inbox));
  EXPECT_EQ(std::string::npos, listed.out.find(temp.file("Outbox")));
  EXPECT_EQ(0, sweeprun().exitStatus);
}

}  // namespace
}  // namespace sweeprun
