#include "log/run_journal.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace sweeprun {
namespace {

constexpr double kDay = 86400;
const Date kNow = Date::fromUnix(1796644800);  // 2026-12-07 12:00:00 UTC

JournalRecord entryOf(const std::string& run, Date started, uint64_t number) {
  JournalRecord record;
  record.run = run;
  record.started = started;
  record.number = number;
  record.mode = "user";
  record.folder = "/home/a/Downloads";
  record.action = "trash";
  record.original = "/home/a/Downloads/x" + std::to_string(number);
  record.destination = "/home/a/.local/share/Trash/files/x" + std::to_string(number);
  record.trashInfo = "/home/a/.local/share/Trash/info/x.trashinfo";
  record.type = "file";
  record.size = 12;
  record.device = 2049;
  record.inode = 77;
  record.modified = Date::fromUnix(1796640000);
  return record;
}

TEST(RunJournalTest, RecordsReadBackExactlyAlsoWithPathsThatAreNotUtf8) {
  JournalRecord record = entryOf("20261207T120000Z-42", kNow, 3);
  record.original = "/home/a/Downloads/caf\xe9 100%.txt";  // Latin-1, not UTF-8
  record.createdFolder = "/srv/out/\"quoted\" \\ line\nfeed\x01 \xc3\xa9";
  record.owner = 1000;
  record.birthTime = 1796640000123456789u;
  record.createdFolderDevice = 2050;
  record.createdFolderInode = 12;
  record.createdFolderOwner = 0;
  const std::string line = journalLine(record);
  EXPECT_EQ(std::string::npos, line.find('\n'));
  const std::optional<JournalRecord> back = parseJournalLine(line);
  ASSERT_TRUE(back);
  EXPECT_EQ(record.original, back->original);
  EXPECT_EQ(record.destination, back->destination);
  EXPECT_EQ(record.createdFolder, back->createdFolder);
  EXPECT_EQ("", back->createdFolderInfo);
  EXPECT_EQ(record.inode, back->inode);
  EXPECT_EQ(record.device, back->device);
  EXPECT_EQ(record.type, back->type);
  EXPECT_EQ(record.modified, back->modified);
  EXPECT_EQ(kNow, back->started);
  EXPECT_EQ(record.owner, back->owner);
  EXPECT_EQ(record.birthTime, back->birthTime);
  EXPECT_EQ(std::nullopt, back->changeTime);
  EXPECT_EQ(record.createdFolderDevice, back->createdFolderDevice);
  EXPECT_EQ(record.createdFolderInode, back->createdFolderInode);
  EXPECT_EQ(record.createdFolderOwner, back->createdFolderOwner);
  EXPECT_EQ(std::nullopt, back->createdFolderBirthTime);

  // A line of an older version, without them, still reads.
  const std::optional<JournalRecord> older = parseJournalLine(
      R"({"record":"entry","run":"r","started":"2026-12-07T12:00:00Z","mode":"user","entry":1,)"
      R"("folder":"/in","action":"move","original":"/in/a","destination":"/out/a",)"
      R"("type":"file","device":2049,"inode":77})");
  ASSERT_TRUE(older);
  EXPECT_EQ(77u, older->inode);
  EXPECT_FALSE(older->owner || older->birthTime || older->changeTime);

  JournalRecord undo;
  undo.kind = JournalRecord::Kind::kUndo;
  undo.run = record.run;
  undo.started = kNow;
  undo.number = 3;
  const std::optional<JournalRecord> undone = parseJournalLine(journalLine(undo));
  ASSERT_TRUE(undone);
  EXPECT_EQ(JournalRecord::Kind::kUndo, undone->kind);
  EXPECT_EQ(3u, undone->number);
}

// Every byte, at every place within and around an eight-byte stretch, and
// paths made of nothing but the bytes that take the most room written.
TEST(RunJournalTest, EveryByteOfAPathReadsBack) {
  JournalRecord record = entryOf("r", kNow, 1);
  for (int byte = 1; byte < 256; ++byte) {
    for (size_t at = 0; at < 10; ++at) {
      record.original = "/in/abcdefghijklmn";
      record.original[at + 1] = static_cast<char>(byte);
      const std::optional<JournalRecord> back = parseJournalLine(journalLine(record));
      ASSERT_TRUE(back) << byte << " at " << at;
      ASSERT_EQ(record.original, back->original) << byte << " at " << at;
    }
  }
  const std::string widest = "/" + std::string(2000, '\x01') + std::string(2000, '\xff');
  for (std::string* path : {&record.folder, &record.original, &record.destination,
                            &record.trashInfo, &record.createdFolder, &record.createdFolderInfo})
    *path = widest;
  const std::optional<JournalRecord> back = parseJournalLine(journalLine(record));
  ASSERT_TRUE(back);
  EXPECT_EQ(widest, back->folder);
  EXPECT_EQ(widest, back->createdFolderInfo);
}

// Each line of a run is written as the first would be, whichever one of the
// members it shares with the line before changed.
TEST(RunJournalTest, LinesWrittenInTurnEqualLinesWrittenAlone) {
  JournalRecord record = entryOf("r", kNow, 1);
  JournalRecord undo = entryOf("r", kNow, 2);
  undo.kind = JournalRecord::Kind::kUndo;
  const std::vector<std::function<void(JournalRecord&)>> changes = {
      [](JournalRecord&) {},
      [](JournalRecord& r) { r.number = 12345; },
      [](JournalRecord& r) { r.run = "s"; },
      [](JournalRecord& r) { r.started = Date{kNow.seconds + 1}; },
      [](JournalRecord& r) { r.mode = "system"; },
      [](JournalRecord& r) { r.folder = "/home/a/caf\xe9"; },
      [](JournalRecord& r) { r.action = "move"; },
      [](JournalRecord& r) { r.original = "/home/a/caf\xe9/y"; },
  };
  JournalLineWriter writer;
  std::string line;
  for (const auto& change : changes) {
    change(record);
    writer.write(record, line);
    EXPECT_EQ(journalLine(record), line);
    writer.write(undo, line);  // a record of another kind in between
    EXPECT_EQ(journalLine(undo), line);
  }
}

TEST(RunJournalTest, LinesThatAreNoRecordsAreSkipped) {
  const std::string whole = journalLine(entryOf("r", kNow, 1));
  // A date that does not exist, and so would not read back as written.
  std::string badDate = whole;
  badDate.replace(badDate.find("2026-12-07T"), 10, "2026-02-30");
  for (const std::string& line : {whole.substr(0, whole.size() / 2), std::string("[]"),
                                  std::string("{\"record\":\"entry\"}"), std::string(), badDate}) {
    EXPECT_FALSE(parseJournalLine(line)) << line;
  }
}

// Runs "r0".."r<count-1>", one record each, started |age| days before kNow.
std::string journalOf(int count, double ageDays, const std::string& prefix = "r") {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += journalLine(
                entryOf(prefix + std::to_string(i), Date{kNow.seconds - ageDays * kDay + i}, 1)) +
            "\n";
  }
  return text;
}

TEST(RunJournalTest, TrimmingKeepsRecentRunsAndTheLastTenWhateverTheirAge) {
  struct Row {
    int oldRuns;
    int recentRuns;
    double limitDays;
    size_t keptRuns;
  };
  for (const Row& row : std::vector<Row>{{3, 0, 7, 3},       // fewer than ten: all stay
                                         {14, 0, 7, 10},     // the last ten old ones
                                         {14, 12, 7, 12},    // the recent ones are enough
                                         {14, 4, 7, 10},     // six old ones make up ten
                                         {14, 4, 0, 18}}) {  // 0 keeps everything
    const std::string text =
        journalOf(row.oldRuns, 30) + journalOf(row.recentRuns, 1, "new") + "{cut short";
    std::vector<JournalRecord> records;
    const std::string kept = trimmedJournalText(text, kNow, row.limitDays, kJournalKeptRuns);
    for (size_t at = 0, end; (end = kept.find('\n', at)) != std::string::npos; at = end + 1)
      records.push_back(*parseJournalLine(kept.substr(at, end - at)));
    const std::vector<JournalRun> runs = journalRuns(records);
    ASSERT_EQ(row.keptRuns, runs.size()) << row.oldRuns << " old, " << row.recentRuns << " new";
    EXPECT_EQ(row.recentRuns > 0 ? "new" + std::to_string(row.recentRuns - 1)
                                 : "r" + std::to_string(row.oldRuns - 1),
              runs.back().id);
  }
}

TEST(RunJournalTest, WriterMakesAPrivateJournalAndUndoRecordsJoinTheirRun) {
  TempDir dir;
  const std::string path = dir.file("data/journal.jsonl");
  JournalWriter writer;
  std::string error;
  ASSERT_TRUE(writer.open(path, kNow, 7, std::chrono::milliseconds(0), error)) << error;
  ASSERT_TRUE(writer.append(entryOf("a", kNow, 1), error));
  ASSERT_TRUE(writer.append(entryOf("a", kNow, 2), error));
  JournalRecord undo;
  undo.kind = JournalRecord::Kind::kUndo;
  undo.run = "a";
  undo.started = kNow;
  undo.number = 2;
  ASSERT_TRUE(writer.append(undo, error));
  // A second writer waits for the first; here it gives up at once.
  JournalWriter other;
  EXPECT_FALSE(other.open(path, kNow, 7, std::chrono::milliseconds(0), error));
  ASSERT_TRUE(writer.close(error)) << error;

  struct stat st {};
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  ASSERT_EQ(0, stat(dir.file("data").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);

  std::vector<JournalRecord> records;
  ASSERT_TRUE(readJournal(path, records, error)) << error;
  const std::vector<JournalRun> runs = journalRuns(records);
  ASSERT_EQ(1u, runs.size());
  EXPECT_EQ(2u, runs[0].entries.size());
  EXPECT_FALSE(runs[0].isUndone(1));
  EXPECT_TRUE(runs[0].isUndone(2));
}

// A killed run leaves its reserved space as zeros after its last record,
// and maybe a record cut short: the next writer ends that line and cuts the
// zeros, so that its records stand on lines of their own.
TEST(RunJournalTest, TheNextWriterMendsWhatAKilledRunLeft) {
  const std::string whole = journalLine(entryOf("a", kNow, 1)) + "\n";
  const std::string cut = journalLine(entryOf("a", kNow, 2)).substr(0, 40);
  const std::string zeros(70000, '\0');
  struct Row {
    const char* name;
    std::string left;
    std::string mended;
  } rows[] = {
      {"zeros after a whole line", whole + zeros, whole},
      {"a cut line, then zeros", whole + cut + zeros, whole + cut + "\n"},
      {"nothing but zeros", zeros, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    const std::string path = dir.write("journal.jsonl", row.left);
    JournalWriter writer;
    std::string error;
    ASSERT_TRUE(writer.open(path, kNow, 0, std::chrono::milliseconds(0), error)) << error;
    ASSERT_TRUE(writer.append(entryOf("b", kNow, 1), error)) << error;
    ASSERT_TRUE(writer.close(error)) << error;
    EXPECT_EQ(row.mended + journalLine(entryOf("b", kNow, 1)) + "\n", dir.read("journal.jsonl"));
  }
}

TEST(RunJournalTest, AJournalBehindALinkIsRefused) {
  TempDir dir;
  dir.write("elsewhere", "");
  ASSERT_EQ(0, symlink(dir.file("elsewhere").c_str(), dir.file("journal.jsonl").c_str()));
  JournalWriter writer;
  std::string error;
  EXPECT_FALSE(
      writer.open(dir.file("journal.jsonl"), kNow, 7, std::chrono::milliseconds(0), error));
  EXPECT_EQ("", dir.read("elsewhere"));
}

}  // namespace
}  // namespace sweeprun

namespace sweeprun {
namespace {

// A run reads the journal beyond its first line, and rewrites it, only once
// its oldest run is a day past the limit: at most about once a day, however
// large the journal and however often the runs.
TEST(RunJournalTest, OpeningTrimsOnlyOnceTheOldestRunIsADayPastTheLimit) {
  struct Row {
    double oldestAgeDays;
    bool trimmed;
  };
  for (const Row& row : std::vector<Row>{{3, false}, {7.5, false}, {8.5, true}}) {
    SCOPED_TRACE(row.oldestAgeDays);
    TempDir dir;
    const std::string text = journalOf(12, row.oldestAgeDays, "old") + journalOf(10, 1, "new");
    const std::string path = dir.write("journal.jsonl", text);
    JournalWriter writer;
    std::string error;
    ASSERT_TRUE(writer.open(path, kNow, 7, std::chrono::milliseconds(0), error)) << error;
    ASSERT_TRUE(writer.close(error)) << error;
    EXPECT_EQ(row.trimmed ? journalOf(10, 1, "new") : text, dir.read("journal.jsonl"));
  }
}

}  // namespace
}  // namespace sweeprun

namespace sweeprun {
namespace {

// The journal on file systems that cannot give it a reserved window: one that
// cannot reserve at all (ramfs), one too full for the first window, and one
// with room for the first window only. Each line is then written instead; a
// full disk fails an append with a reason, never the process, and what was
// appended stays whole lines without the reserve's zeros.

// Detaches the file system mounted at |path| when the test leaves.
struct DetachOnExit {
  std::string path;
  ~DetachOnExit() { umount2(path.c_str(), MNT_DETACH); }
};

TEST(RunJournalTest, WithoutRoomToReserveLinesAreWrittenAndAFullDiskIsAnError) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system";
  struct Row {
    const char* type;
    const char* options;
    bool fillsUp;
    size_t leastBytes;  // what must have gone in before the disk was full
  } rows[] = {
      {"ramfs", "mode=0755", false, 0},
      {"tmpfs", "size=16k,mode=0755", true, 8 * 1024},
      // Past the first window, on with write().
      {"tmpfs", "size=320k,mode=0755", true, MappedAppender::kDefaultWindow + 32 * 1024},
  };
  constexpr uint64_t kRecords = 1500;  // about 600 KB of lines
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.type) + " " + row.options);
    TempDir dir;
    const std::string volume = dir.file("volume");
    ASSERT_EQ(0, mkdir(volume.c_str(), 0755));
    if (mount("none", volume.c_str(), row.type, 0, row.options) != 0)
      GTEST_SKIP() << "cannot mount a " << row.type << " here";
    const DetachOnExit unmount{volume};

    const std::string path = volume + "/journal.jsonl";
    JournalWriter writer;
    std::string error;
    ASSERT_TRUE(writer.open(path, kNow, 0, std::chrono::milliseconds(0), error)) << error;
    std::string expected;
    uint64_t appended = 0;
    for (uint64_t n = 1; n <= kRecords; ++n) {
      if (!writer.append(entryOf("r", kNow, n), error)) break;
      expected += journalLine(entryOf("r", kNow, n)) + "\n";
      ++appended;
    }
    std::string closeError;
    writer.close(closeError);
    if (row.fillsUp) {
      EXPECT_LT(appended, kRecords);
      EXPECT_NE("", error);
      EXPECT_GE(expected.size(), row.leastBytes);
    } else {
      EXPECT_EQ(kRecords, appended) << error;
    }
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A write cut short by the full disk may leave part of one more line.
    EXPECT_EQ(expected, text.substr(0, expected.size()));
    EXPECT_EQ(std::string::npos, text.find('\0'));
  }
}

}  // namespace
}  // namespace sweeprun

namespace sweeprun {
namespace {

// A line the journal said it could take always goes in, and once it says
// no, the room kept back still takes the incomplete record: on a disk too
// full for a whole window, and on one that fills up after several.
TEST(RunJournalTest, EveryLineItCouldTakeGoesInAndThenTheIncompleteRecord) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system";
  for (const char* size : {"size=80k", "size=600k"}) {
    SCOPED_TRACE(size);
    TempDir dir;
    const std::string volume = dir.file("volume");
    ASSERT_EQ(0, mkdir(volume.c_str(), 0755));
    if (mount("none", volume.c_str(), "tmpfs", 0, size) != 0)
      GTEST_SKIP() << "cannot mount a tmpfs here";
    const DetachOnExit unmount{volume};

    const std::string path = volume + "/journal.jsonl";
    JournalWriter writer;
    std::string error;
    ASSERT_TRUE(writer.open(path, kNow, 0, std::chrono::milliseconds(0), error)) << error;
    uint64_t appended = 0;
    while (writer.canTakeLine(error)) {
      ASSERT_TRUE(writer.append(entryOf("r", kNow, appended + 1), error)) << appended << error;
      ASSERT_LT(++appended, 10000u);
    }
    EXPECT_NE("", error);
    JournalRecord marker;
    marker.kind = JournalRecord::Kind::kIncomplete;
    marker.run = "r";
    marker.started = kNow;
    marker.mode = "user";
    marker.number = appended;
    EXPECT_TRUE(writer.append(marker, error)) << error;
    EXPECT_TRUE(writer.close(error)) << error;

    std::vector<JournalRecord> records;
    ASSERT_TRUE(readJournal(path, records, error)) << error;
    const std::vector<JournalRun> runs = journalRuns(records);
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ(appended, runs[0].entries.size());
    EXPECT_GT(appended, 0u);
    EXPECT_TRUE(runs[0].incomplete);
  }
}

}  // namespace
}  // namespace sweeprun
