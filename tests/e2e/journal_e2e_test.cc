// The run journal through both binaries: a run that trashes, moves into a
// dated sub-folder and deletes, then 'sweeply history' and 'sweeply undo';
// entries that changed or lost their place after the run; a run killed in
// the middle; and the trimming of old runs.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "e2e/run_program.h"
#include "log/run_journal.h"
#include "support/temp_dir.h"
#include "support/trash_tools.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

std::string sweeplyPath() { return fs::path(SWEEPRUN_TOOL_PATH).parent_path() / "sweeply"; }

unsigned modeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
  return st.st_mode & 07777;
}

// Every entry below |root| with its mode and size, but those below |skipped|
// (the home folder's stores).
std::map<std::string, std::string> snapshot(const std::string& root,
                                            const std::string& skipped = "\n") {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string path = entry.path();
    if (path.compare(0, skipped.size(), skipped) == 0) continue;
    if (path.find(".jsonl") != std::string::npos) continue;  // the journal itself
    std::string state = std::to_string(modeOf(path));
    if (entry.is_regular_file()) state += ":" + std::to_string(entry.file_size());
    entries[path] = state;
  }
  return entries;
}

class JournalEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& folder : {home, inbox, scratch, outbox, archive})
      fs::create_directories(folder);
  }

  ProgramResult run(const std::string& program, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), program);
    return runProgram(program, arguments, toolEnvironment(home, "alice", temp.path()), temp.path());
  }
  ProgramResult sweeply(std::vector<std::string> arguments) {
    return run(sweeplyPath(), std::move(arguments));
  }
  ProgramResult sweeprun() { return run(SWEEPRUN_TOOL_PATH, {}); }

  std::string journal() const { return home + "/Library/Logs/Sweeply-journal.jsonl"; }
  std::vector<JournalRun> runs() const {
    std::vector<JournalRecord> records;
    std::string error;
    EXPECT_TRUE(readJournal(journal(), records, error)) << error;
    return journalRuns(records);
  }
  std::string trash() const { return home + "/.local/share/Trash"; }

  /// trash-list as the desktop's tools see the user Trash, and no volume of
  /// the host's; none when the tools are not installed or cannot be shut in.
  std::optional<std::string> trashList() {
    if (!fs::exists("/usr/bin/trash-list")) return std::nullopt;
    const ProgramResult listed =
        runProgram(kHermeticTrashTool, {kHermeticTrashTool, "/usr/bin/trash-list"},
                   {"HOME=" + home, "PATH=/usr/bin:/bin", "LANG=C.UTF-8"}, temp.path());
    if (listed.exitStatus == 77) return std::nullopt;
    return listed.out;
  }

  /// A file with |text| and permission bits |mode|.
  std::string file(const std::string& path, const std::string& text, unsigned mode = 0644) {
    temp.write(path.substr(temp.path().size() + 1), text);
    fs::permissions(path, fs::perms(mode));
    return path;
  }

  TempDir temp;
  const std::string home = temp.file("home");
  const std::string inbox = temp.file("Inbox");      // trashes *.old
  const std::string scratch = temp.file("Scratch");  // deletes *.tmp
  const std::string outbox = temp.file("Outbox");    // moves *.done into Archive/<date>
  const std::string archive = temp.file("Archive");
};

TEST_F(JournalEndToEndTest, UndoPutsBackWhatARunTrashedAndMovedAndOnlyOnce) {
  ASSERT_EQ(0, sweeply({"add", inbox, "--condition", "name: *.old"}).exitStatus);
  ASSERT_EQ(
      0, sweeply({"add", scratch, "--action", "delete", "--condition", "name: *.tmp"}).exitStatus);
  ASSERT_EQ(0, sweeply({"add", outbox, "--action", "moveto:" + archive, "--dated", "--condition",
                        "name: *.done"})
                   .exitStatus);
  file(inbox + "/report.old", "an old report", 0640);
  fs::create_directories(inbox + "/photos.old");
  file(inbox + "/photos.old/one.jpg", "jpeg", 0600);
  fs::permissions(inbox + "/photos.old", fs::perms(0750));
  file(inbox + "/keep.txt", "kept");
  file(scratch + "/build.tmp", "scratch");
  file(outbox + "/invoice.done", "paid", 0604);
  const std::map<std::string, std::string> before = snapshot(temp.path(), home);

  const ProgramResult collected = sweeprun();
  ASSERT_EQ(0, collected.exitStatus) << collected.err;
  ASSERT_FALSE(fs::exists(inbox + "/report.old"));
  ASSERT_EQ(1u, runs().size());
  const std::string id = runs()[0].id;
  EXPECT_EQ(0600u, modeOf(journal()));

  const ProgramResult history = sweeply({"history"});
  ASSERT_EQ(0, history.exitStatus) << history.err;
  EXPECT_NE(std::string::npos, history.out.find(id)) << history.out;
  EXPECT_NE(std::string::npos, history.out.find(inbox + ": 2 trashed\n")) << history.out;
  EXPECT_NE(std::string::npos, history.out.find(scratch + ": 1 deleted\n")) << history.out;
  EXPECT_NE(std::string::npos, history.out.find(outbox + ": 1 moved\n")) << history.out;
  const ProgramResult entries = sweeply({"history", id, "--json"});
  ASSERT_EQ(0, entries.exitStatus) << entries.err;
  EXPECT_NE(std::string::npos, entries.out.find("\"original\": \"" + scratch + "/build.tmp\""));
  if (const auto listed = trashList()) {
    EXPECT_NE(std::string::npos, listed->find(inbox + "/report.old")) << *listed;
  }

  const std::map<std::string, std::string> afterRun = snapshot(temp.path());
  const ProgramResult dryRun = sweeply({"undo", "--dry-run"});
  EXPECT_EQ(0, dryRun.exitStatus) << dryRun.err;
  EXPECT_NE(std::string::npos, dryRun.out.find("would put back: " + inbox + "/report.old"))
      << dryRun.out;
  EXPECT_EQ(afterRun, snapshot(temp.path())) << "a dry run changes nothing";

  const ProgramResult undo = sweeply({"undo"});
  EXPECT_EQ(0, undo.exitStatus) << undo.out << undo.err;
  EXPECT_NE(std::string::npos, undo.out.find("not undoable (deleted): " + scratch + "/build.tmp"))
      << undo.out;
  EXPECT_NE(std::string::npos, undo.out.find("3 put back, 0 already put back, 1 deleted"))
      << undo.out;
  // Everything is as it was but the deleted entry, and the Trash and the
  // archive hold nothing of the run: no info file, no dated folder.
  std::map<std::string, std::string> expected = before;
  expected.erase(scratch + "/build.tmp");
  EXPECT_EQ(expected, snapshot(temp.path(), home));
  EXPECT_TRUE(fs::is_empty(trash() + "/files"));
  EXPECT_EQ("an old report", temp.read("Inbox/report.old"));
  EXPECT_EQ("jpeg", temp.read("Inbox/photos.old/one.jpg"));
  EXPECT_TRUE(fs::is_empty(archive));
  EXPECT_TRUE(fs::is_empty(trash() + "/info"));
  if (const auto listed = trashList()) {
    EXPECT_EQ("", *listed);
  }

  const std::map<std::string, std::string> undone = snapshot(temp.path());
  const ProgramResult again = sweeply({"undo"});
  EXPECT_EQ(0, again.exitStatus) << again.out << again.err;
  EXPECT_NE(std::string::npos, again.out.find("0 put back, 3 already put back")) << again.out;
  EXPECT_EQ(undone, snapshot(temp.path())) << "a second undo changes nothing";
  const ProgramResult shown = sweeply({"history"});
  EXPECT_NE(std::string::npos, shown.out.find("(3 put back)")) << shown.out;
}

// An entry restored by other means counts as back, so later undos stay
// clean; undo names the folder whose rules would take the entries again,
// and with --disable stops it.
TEST_F(JournalEndToEndTest, UndoCountsWhatIsBackAndNamesTheFolderThatWouldTakeItAgain) {
  ASSERT_EQ(0, sweeply({"add", inbox, "--condition", "name: *.old"}).exitStatus);
  file(inbox + "/a.old", "a");
  file(inbox + "/b.old", "b");
  ASSERT_EQ(0, sweeprun().exitStatus);
  fs::rename(trash() + "/files/a.old", inbox + "/a.old");  // as a desktop's restore does
  fs::remove(trash() + "/info/a.old.trashinfo");

  const ProgramResult undo = sweeply({"undo"});
  EXPECT_EQ(0, undo.exitStatus) << undo.out << undo.err;
  EXPECT_NE(std::string::npos, undo.out.find("1 put back, 1 already put back")) << undo.out;
  EXPECT_NE(std::string::npos, undo.out.find(inbox + " would take 1 of them again")) << undo.out;
  EXPECT_EQ(0, sweeply({"undo"}).exitStatus) << "a later undo stays clean";

  ASSERT_EQ(0, sweeprun().exitStatus);
  ASSERT_FALSE(fs::exists(inbox + "/a.old")) << "the rule took them again";
  const ProgramResult disabling = sweeply({"undo", "--disable"});
  EXPECT_EQ(0, disabling.exitStatus) << disabling.out << disabling.err;
  EXPECT_NE(std::string::npos,
            disabling.out.find("disabled " + inbox + ": its rules would take 2 of them again"))
      << disabling.out;
  ASSERT_EQ(0, sweeprun().exitStatus);
  EXPECT_TRUE(fs::exists(inbox + "/a.old") && fs::exists(inbox + "/b.old"));
}

TEST_F(JournalEndToEndTest, EntriesChangedOrDisplacedSinceTheRunAreLeftAlone) {
  ASSERT_EQ(0, sweeply({"add", inbox, "--condition", "name: *.old"}).exitStatus);
  file(inbox + "/changed.old", "first");
  file(inbox + "/displaced.old", "trashed");
  file(inbox + "/fine.old", "fine");
  ASSERT_EQ(0, sweeprun().exitStatus);
  // Another entry now holds the trashed entry's place, and a new file the
  // other's original path.
  // (made before the old one goes, so that it cannot get the same inode)
  file(trash() + "/files/new", "someone else's");
  fs::rename(trash() + "/files/new", trash() + "/files/changed.old");
  file(inbox + "/displaced.old", "new");

  // A dry run tells what the undo does.
  const ProgramResult told = sweeply({"undo", "--dry-run"});
  EXPECT_NE(std::string::npos, told.out.find("changed since: " + inbox + "/changed.old"))
      << told.out;
  EXPECT_NE(std::string::npos, told.out.find("original path taken: " + inbox + "/displaced.old"))
      << told.out;
  const ProgramResult undo = sweeply({"undo"});
  EXPECT_EQ(1, undo.exitStatus) << undo.out << undo.err;
  EXPECT_NE(std::string::npos, undo.out.find("changed since: " + inbox + "/changed.old"))
      << undo.out;
  EXPECT_NE(std::string::npos, undo.out.find("original path taken: " + inbox + "/displaced.old"))
      << undo.out;
  EXPECT_NE(std::string::npos, undo.out.find("1 put back")) << undo.out;
  EXPECT_FALSE(fs::exists(inbox + "/changed.old"));
  EXPECT_EQ("someone else's", temp.read("home/.local/share/Trash/files/changed.old"));
  EXPECT_EQ("new", temp.read("Inbox/displaced.old"));
  EXPECT_EQ("trashed", temp.read("home/.local/share/Trash/files/displaced.old"));
  EXPECT_TRUE(fs::exists(trash() + "/info/displaced.old.trashinfo"));
  EXPECT_EQ("fine", temp.read("Inbox/fine.old"));

  // Once the path is free again, a second undo puts that one back too.
  fs::remove(inbox + "/displaced.old");
  const ProgramResult retry = sweeply({"undo"});
  EXPECT_EQ(1, retry.exitStatus) << "the changed entry still stays";
  EXPECT_EQ("trashed", temp.read("Inbox/displaced.old"));
}

TEST_F(JournalEndToEndTest, ARunKilledInTheMiddleLeavesAJournalOfWhatItMoved) {
  constexpr int kEntries = 1500;
  ASSERT_EQ(0,
            sweeply({"add", outbox, "--action", "moveto:" + archive, "--condition", "name: *.done"})
                .exitStatus);
  // Once left alone: how long moving them all takes.
  for (int i = 0; i < kEntries; ++i) file(outbox + "/" + std::to_string(i) + ".done", "x");
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(0, sweeprun().exitStatus);
  const auto whole = std::chrono::steady_clock::now() - start;
  fs::remove(journal());
  for (const auto& entry : fs::directory_iterator(archive)) fs::remove(entry.path());

  bool killedMidway = false;
  for (int attempt = 1; attempt <= 5 && !killedMidway; ++attempt) {
    for (const auto& entry : fs::directory_iterator(archive)) fs::remove(entry.path());
    for (int i = 0; i < kEntries; ++i) file(outbox + "/" + std::to_string(i) + ".done", "x");
    fs::remove(journal());
    const std::vector<std::string> argv = {SWEEPRUN_TOOL_PATH};
    const int pid =
        startProgram(argv[0], argv, toolEnvironment(home, "alice", temp.path()), temp.path());
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(whole * attempt / 6);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);

    std::set<std::string> moved;
    for (const auto& entry : fs::directory_iterator(archive)) moved.insert(entry.path());
    std::set<std::string> journalled;
    const std::vector<JournalRun> found = runs();
    for (const JournalRun& run : found) {
      for (const JournalRecord& entry : run.entries) {
        EXPECT_TRUE(journalled.insert(entry.destination).second) << entry.destination;
        EXPECT_TRUE(moved.count(entry.destination)) << entry.destination << " is not there";
        EXPECT_FALSE(fs::exists(entry.original)) << entry.original;
      }
    }
    // The entry being moved when the kill came may be moved but not yet
    // recorded; every other one is recorded.
    EXPECT_LE(moved.size(), journalled.size() + 1) << "attempt " << attempt;
    // A kill between the first move and its record leaves no run to undo:
    // that attempt is not the middle of a run.
    killedMidway = !journalled.empty() && moved.size() < kEntries;
    if (!killedMidway) continue;

    // What the journal holds is put back; the one in flight stays.
    const ProgramResult undo = sweeply({"undo"});
    EXPECT_EQ(0, undo.exitStatus) << undo.err;
    const auto left = std::distance(fs::directory_iterator(archive), fs::directory_iterator());
    EXPECT_EQ(moved.size() - journalled.size(), static_cast<size_t>(left));
    // The space the killed run had reserved is cut by the undo's writer.
    std::ifstream kept(journal(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(kept)),
                           std::istreambuf_iterator<char>());
    EXPECT_EQ(std::string::npos, text.find('\0'));
  }
  if (!killedMidway) GTEST_SKIP() << "no kill landed in the middle of a run";
}

TEST_F(JournalEndToEndTest, TheJournalIsTrimmedToTheLogLimitButKeepsTenRuns) {
  ASSERT_EQ(0, sweeply({"add", inbox, "--condition", "name: *.old"}).exitStatus);
  ASSERT_EQ(0, sweeply({"prefs", "LogLimit", "3"}).exitStatus);
  // Twelve runs of a month ago and one of yesterday, by hand.
  std::string old;
  const Date now = Date::now();
  for (int i = 0; i < 13; ++i) {
    JournalRecord record;
    record.run = "old" + std::to_string(i);
    record.started = Date{now.seconds - (i < 12 ? 30 : 1) * 86400.0 + i};
    record.number = 1;
    record.mode = "user";
    record.folder = inbox;
    record.action = "delete";
    record.original = inbox + "/gone" + std::to_string(i);
    old += journalLine(record) + "\n";
  }
  fs::create_directories(fs::path(journal()).parent_path());
  file(journal(), old, 0600);
  file(inbox + "/a.old", "a");

  ASSERT_EQ(0, sweeprun().exitStatus);
  const std::vector<JournalRun> kept = runs();
  // Trimmed as the run opened the journal: the last ten runs before it
  // (yesterday's and nine old ones), and then this run.
  ASSERT_EQ(11u, kept.size());
  EXPECT_EQ("old3", kept.front().id);
  EXPECT_EQ(inbox + "/a.old", kept.back().entries.at(0).original);
  EXPECT_EQ(0600u, modeOf(journal()));
}

}  // namespace
}  // namespace sweeprun

namespace sweeprun {
namespace {

// No removal without its record: a run whose journal cannot be opened
// removes nothing, and one whose journal fills up stops removing before the
// first entry it could not record, ends the journal with an incomplete
// record, and fails. Every entry it held back stays, and is still tracked.
TEST_F(JournalEndToEndTest, ARunThatCannotKeepItsJournalRemovesNothing) {
  ASSERT_EQ(0, sweeply({"add", inbox, "--condition", "name: *.old"}).exitStatus);
  file(inbox + "/a.old", "a");
  // A journal with another hard link is never written through. (A link
  // there stops the run before anything is read.)
  fs::create_directories(fs::path(journal()).parent_path());
  const std::string elsewhere = file(temp.file("elsewhere"), "");
  fs::create_hard_link(elsewhere, journal());

  const ProgramResult collected = sweeprun();
  EXPECT_EQ(74, collected.exitStatus);
  EXPECT_NE(std::string::npos, collected.err.find("Unable to write the run journal"))
      << collected.err;
  EXPECT_EQ("a", temp.read("Inbox/a.old"));
  EXPECT_EQ("", temp.read("elsewhere"));
}

TEST_F(JournalEndToEndTest, ARunWhoseJournalFillsUpStopsRemovingAndSaysSo) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system";
  ASSERT_EQ(0, sweeply({"add", inbox, "--condition", "name: *.old"}).exitStatus);
  constexpr size_t kEntries = 400;  // lines for about 180 KB
  for (size_t i = 0; i < kEntries; ++i) file(inbox + "/entry-" + std::to_string(i) + ".old", "x");
  const std::string logs = fs::path(journal()).parent_path();
  fs::create_directories(logs);
  if (mount("none", logs.c_str(), "tmpfs", 0, "size=128k,mode=0755") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{logs};

  const ProgramResult collected = sweeprun();
  EXPECT_EQ(74, collected.exitStatus);
  size_t errors = 0;
  for (size_t at = 0;
       (at = collected.err.find("Unable to write the run journal", at)) != std::string::npos; ++at)
    ++errors;
  EXPECT_EQ(1u, errors) << "one error, not one per entry held back\n" << collected.err;
  EXPECT_NE(std::string::npos, collected.err.find("no space is left")) << collected.err;

  const std::vector<JournalRun> journalled = runs();
  ASSERT_EQ(1u, journalled.size());
  const size_t recorded = journalled[0].entries.size();
  EXPECT_GT(recorded, 0u);
  EXPECT_LT(recorded, kEntries);
  EXPECT_TRUE(journalled[0].incomplete);
  EXPECT_EQ(0u, journalled[0].unrecorded);
  size_t left = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(inbox)) ++left;
  EXPECT_EQ(kEntries - recorded, left) << "removed: exactly what the journal holds";

  EXPECT_NE(std::string::npos, sweeply({"history"}).out.find("journal incomplete"));
  const ProgramResult undone = sweeply({"undo"});
  EXPECT_EQ(0, undone.exitStatus) << undone.err;
  EXPECT_NE(std::string::npos, undone.err.find("journal incomplete")) << undone.err;
  left = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(inbox)) ++left;
  EXPECT_EQ(kEntries, left);
}

}  // namespace
}  // namespace sweeprun

namespace sweeprun {
namespace {

struct Unmount {
  std::string path;
  ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
};

TEST_F(JournalEndToEndTest, EntriesMovedToAnotherFileSystemComeBackAsCopies) {
  std::string why;
  if (!enterPrivateMounts(why)) GTEST_SKIP() << why;
  const std::string volume = temp.file("volume");
  fs::create_directories(volume);
  if (mount("none", volume.c_str(), "tmpfs", 0, "size=4m,mode=0755") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  Unmount unmount{volume};
  ASSERT_EQ(0, sweeply({"add", outbox, "--action", "moveto:" + volume, "--dated", "--condition",
                        "name: *.done"})
                   .exitStatus);
  file(outbox + "/invoice.done", "paid", 0640);
  fs::create_directories(outbox + "/album.done/inner");
  file(outbox + "/album.done/inner/photo.jpg", "jpeg", 0600);
  ASSERT_EQ(0, sweeprun().exitStatus);
  ASSERT_FALSE(fs::exists(outbox + "/invoice.done"));

  const ProgramResult undo = sweeply({"undo"});
  EXPECT_EQ(0, undo.exitStatus) << undo.out << undo.err;
  EXPECT_EQ("paid", temp.read("Outbox/invoice.done"));
  EXPECT_EQ(0640u, modeOf(outbox + "/invoice.done"));
  EXPECT_EQ("jpeg", temp.read("Outbox/album.done/inner/photo.jpg"));
  EXPECT_TRUE(fs::is_empty(volume)) << "the dated folder goes with its last entry";
}

}  // namespace
}  // namespace sweeprun

namespace sweeprun {
namespace {

// Replaces the file at |path| with a new file of |text| that got its inode
// number, made in |scratch| until the file system hands that number out.
bool rebornInPlace(const std::string& path, const std::string& scratch, const std::string& text) {
  struct stat old {};
  if (lstat(path.c_str(), &old) != 0) return false;
  fs::remove(path);
  for (int i = 0; i < 64; ++i) {
    const std::string made = scratch + "/" + std::to_string(i);
    std::ofstream(made) << text;
    struct stat now {};
    if (lstat(made.c_str(), &now) == 0 && now.st_ino == old.st_ino) {
      fs::rename(made, path);
      return true;
    }
  }
  return false;
}

// On ext4, which hands a freed inode number out again at once, and across
// file systems, where the move back is a copy that the check after it
// cannot tell from the entry.
TEST_F(JournalEndToEndTest, AnotherEntryAtTheDestinationIsNeverPutBack) {
  std::string why;
  if (!enterPrivateMounts(why)) GTEST_SKIP() << why;
  const std::string image = temp.file("volume.img"), volume = temp.file("volume");
  fs::create_directories(volume);
  const std::string make = "truncate -s 8M '" + image + "' && mkfs.ext4 -q -F '" + image +
                           "' && mount -o loop '" + image + "' '" + volume + "' 2>/dev/null";
  if (system(make.c_str()) != 0) GTEST_SKIP() << "cannot mount an ext4 image on a loop device";
  Unmount unmount{volume};
  const std::string shared = volume + "/shared", scratch = volume + "/scratch";
  fs::create_directories(shared);
  fs::permissions(shared, fs::perms(01777));
  fs::create_directories(scratch);
  ASSERT_EQ(0,
            sweeply({"add", outbox, "--action", "moveto:" + shared, "--condition", "name: *.done"})
                .exitStatus);
  const struct {
    const char* name;
    const char* label;
  } kRows[] = {
      {"mallory.done", "another account's file got its inode number"},
      {"reborn.done", "a new file of the same owner got its inode number"},
      {"replaced.done", "another file was renamed over it"},
  };
  for (const auto& row : kRows) file(outbox + "/" + row.name, "alice's", 0600);
  ASSERT_EQ(0, sweeprun().exitStatus);

  ASSERT_TRUE(rebornInPlace(shared + "/mallory.done", scratch, "someone else's"))
      << "ext4 did not hand the inode number out again";
  ASSERT_EQ(0, chown((shared + "/mallory.done").c_str(), 4302, 4302));
  ASSERT_TRUE(rebornInPlace(shared + "/reborn.done", scratch, "someone else's"));
  file(scratch + "/new", "someone else's", 0666);
  fs::rename(scratch + "/new", shared + "/replaced.done");

  const ProgramResult undo = sweeply({"undo"});
  EXPECT_EQ(1, undo.exitStatus) << undo.out << undo.err;
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.label);
    EXPECT_NE(std::string::npos, undo.out.find("changed since: " + outbox + "/" + row.name))
        << undo.out;
    EXPECT_FALSE(fs::exists(outbox + "/" + row.name));
    EXPECT_EQ("someone else's", temp.read("volume/shared/" + std::string(row.name)));
  }
}

}  // namespace
}  // namespace sweeprun
