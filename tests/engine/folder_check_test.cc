#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>

#include "engine/trash_collector.h"
#include "os/date_style.h"
#include "settings/trash_config_file_parser.h"
#include "support/engine_fixture.h"
#include "support/fs_tree.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

using Lines = std::vector<std::string>;

const char kCheckedInAtStart[] = "2026-12-07 12:00:00 +0000";

class FolderCheckTest : public EngineTest {
 public:
  FolderCheckTest() : inbox(at("inbox")) { makeFolder(inbox); }

  Lines check(TrashFolder& folder) { return check(collector, folder); }
  Lines check(TrashCollector& through, TrashFolder& folder) {
    through.checkFolder(folder);
    return newLogLines();
  }

  const std::string inbox;
  TrashCollector collector{context_, RunOptions()};
};

TEST_F(FolderCheckTest, TracksEntriesAcrossChecks) {
  writeText(inbox + "/a.txt", "a");
  writeText(inbox + "/b.txt", "b");
  writeText(inbox + "/c.txt", "c");
  TrashFolder folder = watching(inbox, {nameEndsWith(".old")});

  Lines lines = check(folder);
  EXPECT_EQ("Checking folder '" + inbox + "'.", lines.front());
  EXPECT_TRUE(contains(lines, "Searching for items whose name ends with '.old'"));
  EXPECT_EQ((Lines{"+ a.txt", "+ b.txt", "+ c.txt"}), entryLines(lines));
  EXPECT_EQ((Lines{"0 items were removed.", ""}), Lines(lines.end() - 2, lines.end()));
  EXPECT_EQ(3u, folder.value("ckin").asUnsigned());
  EXPECT_EQ(1u, folder.value("hits").asUnsigned());
  EXPECT_EQ(now(), folder.dateForKey("last"));

  advanceClock(3600);
  writeText(inbox + "/b.txt", "bigger");
  fs::remove(inbox + "/c.txt");
  writeText(inbox + "/d.txt", "d");
  lines = check(folder);
  EXPECT_EQ((Lines{"  a.txt", "+ d.txt", "= b.txt"}), entryLines(lines));
  EXPECT_FALSE(tracked(folder, "c.txt")) << "an entry no longer listed is dropped";
  EXPECT_EQ(1u, tracked(folder, "a.txt")->value("hits").asUnsigned());
  EXPECT_EQ(0u, tracked(folder, "b.txt")->value("hits").asUnsigned());
  EXPECT_EQ(now(), tracked(folder, "b.txt")->value("idat").asDate()) << "checked in anew";
  EXPECT_EQ(4u, folder.value("ckin").asUnsigned());
  EXPECT_EQ(2u, folder.value("hits").asUnsigned());

  // Same size, other modification date.
  advanceClock(3600);
  fs::last_write_time(inbox + "/d.txt",
                      fs::last_write_time(inbox + "/d.txt") - std::chrono::hours(1));
  lines = check(folder);
  EXPECT_EQ((Lines{"  a.txt", "  b.txt", "= d.txt"}), entryLines(lines));
  EXPECT_EQ(2u, tracked(folder, "a.txt")->value("hits").asUnsigned());
  EXPECT_EQ(3u, folder.items()->size());
}

// Lines are written in blocks; none may be lost, doubled or reordered
// around the removals between them.
TEST_F(FolderCheckTest, ManyEntriesKeepEveryLineInOrder) {
  constexpr int kEntries = 2500;  // well over one block of lines
  const std::string padding(40, 'n');
  for (int i = 0; i < kEntries; ++i) {
    writeText(inbox + "/" + std::to_string(i) + padding + (i % 1000 == 0 ? ".old" : ".txt"), "");
  }
  // The check lists the folder in the order the file system gives, as this does.
  Lines expected;
  for (const fs::directory_entry& entry : fs::directory_iterator(inbox)) {
    const std::string name = entry.path().filename().string();
    expected.push_back((name.size() > 4 && name.substr(name.size() - 4) == ".old" ? "- " : "+ ") +
                       name);
  }
  TrashFolder folder = watching(inbox, {nameEndsWith(".old")});
  const Lines lines = check(folder);

  ASSERT_GT(lines.size(), static_cast<size_t>(kEntries));
  EXPECT_EQ(expected, Lines(lines.begin() + 2, lines.begin() + 2 + kEntries));
  EXPECT_EQ((Lines{"3 items were removed.", ""}), Lines(lines.begin() + 2 + kEntries, lines.end()));
  EXPECT_EQ(static_cast<uint64_t>(kEntries), folder.value("ckin").asUnsigned());
}

// Names are any account's bytes; the run log, read with cat or less, shows
// them as sweeply does, and the rest of each line as ever.
TEST_F(FolderCheckTest, NamesAreLoggedEscapedAsSweeplyShowsThem) {
  const struct {
    std::string name, line;
  } kCases[] = {
      {"plain.txt", "+ plain.txt"},
      {"esc\x1B[31mred.tmp", "- esc\\x1b[31mred.tmp"},
      {"two\nSweeply started at 2001-01-01 00:00:00 +0000.",
       "+ two\\nSweeply started at 2001-01-01 00:00:00 +0000."},
      {"tab\there", "+ tab\\there"},
      {"caf\xE9.txt", "+ caf\\xe9.txt"},
  };
  Lines expected;
  for (const auto& c : kCases) {
    writeText(inbox + "/" + c.name, "");
    expected.push_back(c.line);
  }
  TrashFolder folder = watching(inbox, {nameEndsWith(".tmp")});
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, entryLines(check(folder)));
}

TEST_F(FolderCheckTest, ChangedEntryIsNotTestedInThatCheck) {
  writeText(inbox + "/kept.txt", "1");
  writeText(inbox + "/gone.txt", "1");
  TrashFolder folder = watching(inbox, {});
  check(folder);

  folder.setRules({nameEndsWith(".txt")});
  writeText(inbox + "/kept.txt", "22");
  const Lines lines = check(folder);
  EXPECT_EQ((Lines{"- gone.txt (checked in " + std::string(kCheckedInAtStart) + ")", "= kept.txt"}),
            entryLines(lines));
  EXPECT_TRUE(entryExists(inbox + "/kept.txt"));
  EXPECT_FALSE(entryExists(inbox + "/gone.txt"));
  EXPECT_TRUE(contains(lines, "1 item was removed."));
}

// One condemned new entry per row; each row sets up its own removal outcome.
TEST_F(FolderCheckTest, RemovalOutcomeDecidesLineAndTracking) {
  const struct {
    const char* label;
    int64_t action;
    std::function<void(FolderCheckTest&, TrashFolder&, const std::string& folderPath)> setUp;
    const char* line;
    bool error;
    bool stillTracked;
    bool needsLock = false;
  } kCases[] = {
      {"0 removed", TrashFolder::kDeleteAction, nullptr, "- x.old", false, false},
      {"2 no Trash known", TrashFolder::kTrashAction,
       [](FolderCheckTest& t, TrashFolder&, const std::string&) {
         t.context_.userTrashPath.reset();
       },
       "= x.old (not removed)", false, false},
      {"3 destination absent for now", TrashFolder::kMoveAction,
       [](FolderCheckTest& t, TrashFolder& f, const std::string&) {
         f.setValue("move", Value::text(t.at("unplugged")));
         f.setValue("temp", Value::boolean(true));
       },
       "> x.old", false, true},
      {"4 dated sub-folder name taken by a file", TrashFolder::kMoveAction,
       [](FolderCheckTest& t, TrashFolder& f, const std::string& folderPath) {
         const std::string target = folderPath + "-target";
         makeFolder(target);
         writeText(target + "/" + datedFolderName(t.now()), "");
         f.setValue("move", Value::text(target));
         f.setValue("datf", Value::boolean(true));
       },
       "= x.old (not removed)", false, false},
      {"5 Trash cannot be made", TrashFolder::kTrashAction,
       [](FolderCheckTest& t, TrashFolder&, const std::string& folderPath) {
         writeText(folderPath + "-file", "");
         t.context_.userTrashPath = folderPath + "-file/share/Trash/files";
       },
       "= x.old (not removed)", false, false},
      {"7 move fails: destination locked", TrashFolder::kMoveAction,
       [](FolderCheckTest&, TrashFolder& f, const std::string& folderPath) {
         const std::string target = folderPath + "-locked";
         makeFolder(target);
         setImmutable(target, true);
         f.setValue("move", Value::text(target));
       },
       "= x.old (not removed)", true, false, true},
  };
  writeText(at("probe"), "");
  const bool canLock = setImmutable(at("probe"), true) && setImmutable(at("probe"), false);
  const Process saved = context_;
  int row = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    if (c.needsLock && !canLock) continue;  // needs root and a file system with the flag
    const std::string folderPath = at("row" + std::to_string(row++));
    makeFolder(folderPath);
    writeText(folderPath + "/x.old", "x");
    TrashFolder folder = watching(folderPath, {nameEndsWith(".old")}, c.action);
    if (c.setUp) c.setUp(*this, folder, folderPath);

    const Lines lines = check(folder);
    EXPECT_EQ(Lines{c.line}, entryLines(lines));
    const auto error = std::find(lines.begin(), lines.end(), "Error: Unable to (re)move 'x.old'.");
    EXPECT_EQ(c.error, error != lines.end());
    if (error != lines.end()) {
      ASSERT_LT(error + 2, lines.end());
      EXPECT_EQ(0u, (error + 1)->rfind("Error: renameat2(", 0))
          << "the system's reason follows the error: " << *(error + 1);
      EXPECT_EQ(c.line, *(error + 2)) << "the error and its reason come just before the entry line";
    }
    EXPECT_EQ(c.stillTracked, tracked(folder, "x.old").has_value());
    EXPECT_EQ(1u, folder.value("ckin").asUnsigned());
    clearImmutableBelow(at(""));
    context_.userTrashPath = saved.userTrashPath;
  }
}

TEST_F(FolderCheckTest, DeferredRemovalKeepsCountingHits) {
  writeText(inbox + "/x.old", "x");
  const std::string target = at("unplugged");
  TrashFolder folder = watching(inbox, {}, TrashFolder::kMoveAction);
  folder.setValue("move", Value::text(target));
  folder.setValue("temp", Value::boolean(true));
  EXPECT_EQ(Lines{"+ x.old"}, entryLines(check(folder)));

  folder.setRules({nameEndsWith(".old")});
  for (uint64_t hits = 1; hits <= 2; ++hits) {
    EXPECT_EQ(Lines{"> x.old"}, entryLines(check(folder)));
    EXPECT_EQ(hits, tracked(folder, "x.old")->value("hits").asUnsigned());
  }

  makeFolder(target);
  const Lines lines = check(folder);
  EXPECT_EQ(Lines{"- x.old (checked in " + std::string(kCheckedInAtStart) + ")"},
            entryLines(lines));
  EXPECT_TRUE(contains(lines, "1 item was removed."));
  EXPECT_TRUE(entryExists(target + "/x.old"));
  EXPECT_FALSE(tracked(folder, "x.old"));
  EXPECT_EQ(1, folder.value("loud").asInteger());
  EXPECT_EQ(1u, folder.value("cout").asUnsigned());
}

TEST_F(FolderCheckTest, SummaryCountsRemovedEntries) {
  const struct {
    int condemned;
    const char* summary;
  } kCases[] = {
      {0, "0 items were removed."}, {1, "1 item was removed."}, {2, "2 items were removed."}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.summary);
    writeText(inbox + "/kept.txt", "");
    for (int i = 0; i < c.condemned; ++i) writeText(inbox + "/" + std::to_string(i) + ".old", "");
    TrashFolder folder = watching(inbox, {nameEndsWith(".old")});
    const Lines lines = check(folder);
    EXPECT_EQ((Lines{c.summary, ""}), Lines(lines.end() - 2, lines.end()));
    EXPECT_EQ(c.condemned, folder.value("loud").asInteger());
  }
}

// A folder that cannot be examined keeps what it tracks, yet counts as
// examined for the day.
TEST_F(FolderCheckTest, UnusableFolderOrDestinationKeepsTrackedEntries) {
  writeText(at("plain-file"), "");
  writeText(inbox + "/x.old", "");
  const struct {
    const char* label;
    std::string path;
    std::string move;
    std::string error;
  } kCases[] = {
      {"folder missing", at("missing"), "", "Error: No folder found at '" + at("missing") + "'."},
      {"folder is a file", at("plain-file"), "",
       "Error: No folder found at '" + at("plain-file") + "'."},
      {"move-to folder missing", inbox, at("missing"),
       "Error: Destination folder '" + at("missing") + "' is not accessible."},
      {"move-to folder is a file", inbox, at("plain-file"),
       "Error: Destination folder '" + at("plain-file") + "' is not accessible."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    TrashFolder folder = watching(inbox, {nameEndsWith(".old")});
    folder.setValue("path", Value::text(c.path));
    if (!c.move.empty()) {
      folder.setValue("play", Value::integer(TrashFolder::kMoveAction));
      folder.setValue("move", Value::text(c.move));
    }
    TrashItem known;
    known.setValue("path", Value::text(c.path + "/earlier"));
    folder.setItems(std::make_shared<ItemList>(ItemList{known}));

    const Lines lines = check(folder);
    EXPECT_EQ((Lines{"Checking folder '" + c.path + "'.", c.error, "0 items were removed.", ""}),
              lines);
    EXPECT_EQ(1u, folder.items()->size());
    EXPECT_EQ(1u, folder.value("hits").asUnsigned());
    EXPECT_EQ(now(), folder.dateForKey("last"));
    EXPECT_TRUE(entryExists(inbox + "/x.old"));
  }
}

// A watched folder that leads to a guarded one when the run opens it (here
// the accounts folder, through a link made after the configuration was
// read) is refused by the run itself, and nothing in it is touched.
TEST_F(FolderCheckTest, SystemModeRefusesAFolderThatLeadsToAGuardedOne) {
  makeFolder(context_.usersFolder);
  makeFolder(context_.usersFolder + "/alice");
  const std::string link = at("became-a-link");
  fs::create_symlink(context_.usersFolder, link);
  context_.systemMode = true;
  TrashConfigFileParser configuration(context_);
  RunOptions options;
  options.configuration = &configuration;
  TrashCollector guarded(context_, std::move(options));
  TrashFolder folder = watching(link, {nameEndsWith("alice")});

  EXPECT_EQ((Lines{"Checking folder '" + link + "'.",
                   "Error: Path '" + link + "' gives the watched folder " + link +
                       ", which is the accounts folder: watch a folder below it.",
                   "0 items were removed.", ""}),
            check(guarded, folder));
  EXPECT_TRUE(entryExists(context_.usersFolder + "/alice"));
}

TEST_F(FolderCheckTest, ReadMeIsRewrittenEachCheckAndNeverTracked) {
  const std::string readMe = inbox + "/About this folder.txt";
  const std::string outside = at("outside.txt");
  writeText(outside, "not yours");
  writeText(inbox + "/x", "");
  // Every entry is condemned and deleted, yet the read-me stays.
  TrashRule everything = TrashRule::trashRuleWithType(kNameRule);
  everything.setValue("oppo", Value::integer(1));
  TrashFolder folder = watching(inbox, {everything});
  folder.setValue("rfil", Value::text("~/elsewhere/About this folder.txt"));
  folder.setValue("rtxt", Value::text("Entries here go at once. – Ø"));

  const std::function<void()> kThingsInTheWay[] = {
      [] {},
      [&] {
        fs::permissions(readMe, fs::perms::owner_write, fs::perm_options::add);
        writeText(readMe, "edited");
      },
      [&] {
        fs::remove(readMe);
        makeLink(outside, readMe);
      },
  };
  for (const auto& putInTheWay : kThingsInTheWay) {
    putInTheWay();
    const Lines lines = check(folder);
    EXPECT_EQ(Lines{"- x"}, entryLines(lines));
    EXPECT_FALSE(isLink(readMe));
    EXPECT_EQ("Entries here go at once. – Ø", readText(readMe).value_or(""));
    EXPECT_EQ(fs::perms(0444), fs::status(readMe).permissions() & fs::perms::mask);
    EXPECT_EQ("not yours", readText(outside).value_or(""));
    EXPECT_EQ(0u, folder.items()->size());
    writeText(inbox + "/x", "");
  }
  fs::remove(inbox + "/x");

  fs::remove(readMe);
  makeFolder(readMe);
  const Lines lines = check(folder);
  EXPECT_TRUE(contains(
      lines,
      "Error: Unable to create 'About this folder.txt' as there is a directory with that name."));
  EXPECT_TRUE(fs::is_directory(readMe));
}

TEST_F(FolderCheckTest, DuplicateTrackedRecordsMatchOnce) {
  writeText(inbox + "/a", "");
  TrashFolder folder = watching(inbox, {});
  check(folder);
  TrashItem first = *tracked(folder, "a");
  TrashItem duplicate = first;
  duplicate.setValue("hits", Value::unsignedInteger(7));
  folder.setItems(std::make_shared<ItemList>(ItemList{first, duplicate}));

  EXPECT_EQ(Lines{"  a"}, entryLines(check(folder)));
  ASSERT_EQ(1u, folder.items()->size());
  EXPECT_EQ(1u, folder.items()->front().value("hits").asUnsigned()) << "the first record counts";
}

// A folder that holds its own destination never condemns it: moving the
// move-to folder into itself, or the Trash into the Trash, fails on every run.
TEST_F(FolderCheckTest, TheEntryHoldingTheMoveToFolderIsPassedOverAFolderHoldingTheTrashRefused) {
  makeFolder(inbox + "/Old");
  writeText(inbox + "/a.old", "a");
  TrashRule everything = TrashRule::trashRule();
  everything.setValue("teve", Value::real(0));
  TrashFolder moving = watching(inbox, {everything}, TrashFolder::kMoveAction);
  moving.setValue("move", Value::text(inbox + "/Old/Archive"));
  fs::create_directories(inbox + "/Old/Archive");
  EXPECT_EQ((Lines{"- a.old"}), entryLines(check(moving)));
  EXPECT_TRUE(fs::exists(inbox + "/Old/Archive/a.old"));

  // A folder that holds the user's Trash is not checked at all.
  context_.userTrashPath = inbox + "/.local/share/Trash/files";
  fs::create_directories(inbox + "/.local/share/Trash/files");
  TrashFolder trashing = watching(inbox, {everything}, TrashFolder::kTrashAction);
  const Lines lines = check(trashing);
  EXPECT_EQ(Lines{}, entryLines(lines));
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                   "Error: Not checking folder '" + inbox +
                                       "': it holds the Trash " + *context_.userTrashPath + "."));
  EXPECT_TRUE(fs::exists(inbox + "/Old"));
  EXPECT_EQ(1, collector.failures());
}

}  // namespace
}  // namespace sweeprun
