#include "log/trash_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>

#include "os/date.h"
#include "os/process.h"
#include "plist/value.h"
#include "settings/settings.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

constexpr double kDay = 86400;

class FixedSettings : public Settings {
 public:
  Value objectForKey(std::string_view key) const override { return data.get(key); }
  std::optional<std::string> stringForKey(std::string_view key) const override {
    const Value& value = data.get(key);
    if (!value.isText()) return std::nullopt;
    return std::string(value.asText());
  }
  void setObject(const Value& value, std::string_view key) override { data.set(key, value); }

  Dictionary data;
};

class TrashLogTest : public ::testing::Test {
 protected:
  TrashLogTest() : scope_(context) {
    context.homeDirectory = dir.path();
    context.usersFolder = dir.file("Users");
    context.configPath = dir.file("sweeprun.plist");
    context.executableDirectory = dir.path();
    context.clock = [this] { return now; };
    context.err = &errors;
    settings.setObject(Value::text("2"), "LogLimit");
  }

  static std::string marker(Date start) {
    return "Sweeply started at " + standardDateText(start) + ".";
  }
  Date daysAgo(double days) const { return Date{now.seconds - days * kDay}; }

  /// A finished section of an earlier run, as close() leaves it.
  std::string section(Date start, const std::string& body = "Checking folder ~/Downloads") const {
    return marker(start) + "\n" + body + "\n\n";
  }

  /// One run: opens the log, writes the marker and a line, closes it. Returns
  /// the text this run added.
  std::string run() {
    TrashLog log(context);
    log.open(logPath, settings.objectForKey("LogLimit").numericReading());
    context.runLog = &log;
    log.log(marker(now));
    logLine(context.runLog, "Saved the folder list.");
    log.close();
    context.runLog = nullptr;
    return marker(now) + "\nSaved the folder list.\n\n";
  }

  TempDir dir;
  FixedSettings settings;
  Process context;
  std::ostringstream errors;
  Date now = *parseStandardDateText("2026-12-07 10:00:00 +0000");
  std::string logPath = dir.file("Sweeply.log");

 private:
  ScopedProcess scope_;
};

TEST_F(TrashLogTest, ANewFileStartsWithTheFirstSection) {
  const std::string added = run();
  EXPECT_EQ(added, dir.read("Sweeply.log"));

  dir.write("Sweeply.log", "");  // an existing empty file is no different
  const std::string again = run();
  EXPECT_EQ(again, dir.read("Sweeply.log"));
}

TEST_F(TrashLogTest, OpeningKeepsTheRunsOfTheLastLogLimitDays) {
  const std::string kept = section(daysAgo(1));
  dir.write("Sweeply.log", section(daysAgo(5)) + section(daysAgo(3)) + kept);
  const std::string added = run();
  // The file ends exactly where the new section ends: no old bytes remain.
  EXPECT_EQ(kept + "\n" + added, dir.read("Sweeply.log"));
}

TEST_F(TrashLogTest, WhatOpeningCuts) {
  const Date cutOff{now.seconds - 2 * kDay + 30};
  const std::string recent = section(daysAgo(1));
  const std::string old = section(daysAgo(3));
  const struct {
    const char* label;
    std::string file;
    Value limit;
    bool systemMode;
    std::string kept;  // what stays before the new section
  } kCases[] = {
      {"limit 0: the log only grows", old + recent, Value::text("0"), false, old + recent},
      {"negative limit", old + recent, Value::real(-1), false, old + recent},
      {"no limit at all", old + recent, Value(), false, old + recent},
      {"numeric limit", old + recent, Value::integer(2), false, recent},
      {"system mode never trims", old + recent, Value::text("2"), true, old + recent},
      {"every section too old", section(daysAgo(5)) + old, Value::text("2"), false,
       section(daysAgo(5)) + old},
      {"the first section is recent", recent + section(now), Value::text("2"), false,
       recent + section(now)},
      {"marker exactly at the cut-off is cut", section(cutOff) + recent, Value::text("2"), false,
       recent},
      {"one second after the cut-off stays", section(Date{cutOff.seconds + 1}) + recent,
       Value::text("2"), false, section(Date{cutOff.seconds + 1}) + recent},
      {"lines before the first marker go with old sections", "stray\nlines\n" + old + recent,
       Value::text("2"), false, recent},
      {"lines before a recent first marker stay", "stray\n" + recent, Value::text("2"), false,
       "stray\n" + recent},
      {"an unreadable marker date counts as old",
       "Sweeply started at yesterday.\nx\n" + section(daysAgo(1.5)) + recent, Value::text("2"),
       false, section(daysAgo(1.5)) + recent},
      {"a marker without a date", "Sweeply started at \n" + recent, Value::text("2"), false,
       recent},
      {"a localized marker is not a marker", "Sweeply a démarré\n" + recent, Value::text("2"),
       false, "Sweeply a démarré\n" + recent},
      {"invalid UTF-8 is only appended to", "\xff\xfe\n" + old + recent, Value::text("2"), false,
       "\xff\xfe\n" + old + recent},
      {"no final newline", old + "Sweeply started at " + standardDateText(daysAgo(1)) + ".",
       Value::text("2"), false, "Sweeply started at " + standardDateText(daysAgo(1)) + "."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    settings.setObject(c.limit, "LogLimit");
    context.systemMode = c.systemMode;
    dir.write("Sweeply.log", c.file);
    const std::string added = run();
    EXPECT_EQ(c.kept + "\n" + added, dir.read("Sweeply.log"));
  }
}

TEST_F(TrashLogTest, ALimitOfZeroCutsNothing) {
  settings.setObject(Value::text("0"), "LogLimit");
  const std::string file = section(daysAgo(5)) + section(daysAgo(1));
  dir.write("Sweeply.log", file);
  const std::string added = run();
  EXPECT_EQ(file + "\n" + added, dir.read("Sweeply.log"));
}

TEST_F(TrashLogTest, TrimmingAndLinesReachTheFileAtOnce) {
  const std::string kept = section(daysAgo(1));
  dir.write("Sweeply.log", section(daysAgo(5), std::string(4000, 'x')) + kept);
  TrashLog log(context);
  log.open(logPath, 2);
  // A run that dies now leaves the kept text, not the old sections' bytes.
  EXPECT_EQ(kept + "\n", dir.read("Sweeply.log"));
  log.log("Checking 50%s of %@");
  EXPECT_EQ(kept + "\nChecking 50%s of %@\n", dir.read("Sweeply.log"));
}

// Sections larger than what trimming reads at a time: the log is read only
// as far as it must be, replaced (keeping its mode) only when something goes.
TEST_F(TrashLogTest, ALargeLogIsReplacedOnlyWhenSomethingGoes) {
  const std::string body(150000, 'x');
  const std::string kept = section(daysAgo(1), body) + section(daysAgo(0.5), body);
  const auto fileOf = [this] {
    struct stat st {};
    ::stat(logPath.c_str(), &st);
    return std::make_pair(st.st_ino, st.st_mode & 07777);
  };
  dir.write("Sweeply.log", kept);
  ::chmod(logPath.c_str(), 0600);
  auto before = fileOf();
  std::string added = run();
  EXPECT_EQ(kept + "\n" + added, dir.read("Sweeply.log"));
  EXPECT_EQ(before, fileOf()) << "nothing to cut: appended to in place";

  dir.write("Sweeply.log", section(daysAgo(5), body) + section(daysAgo(3), body) + kept);
  before = fileOf();
  added = run();
  EXPECT_EQ(kept + "\n" + added, dir.read("Sweeply.log"));
  EXPECT_NE(before.first, fileOf().first) << "cut: replaced by a new file";
  EXPECT_EQ(0600u, fileOf().second);

  // A byte that is not UTF-8 far behind the cut still keeps the log whole.
  const std::string damaged = section(daysAgo(5)) + kept + "\xff" + body + "\n";
  dir.write("Sweeply.log", damaged);
  added = run();
  EXPECT_EQ(damaged + "\n" + added, dir.read("Sweeply.log"));
}

TEST_F(TrashLogTest, AClosingLineIsWrittenVerbatimAndABadListIsSkipped) {
  const std::string section = marker(now) + "\nSaved the folder list.\n";
  dir.write("log.plist",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><array>"
            "<string>100% tidy: %@ %s %n</string></array></plist>\n");
  run();
  EXPECT_EQ(section + "100% tidy: %@ %s %n\n\n", dir.read("Sweeply.log"));

  for (const char* list :
       {"not a property list", "<plist><dict/></plist>", "<plist><array/></plist>"}) {
    SCOPED_TRACE(list);
    dir.write("log.plist", list);
    dir.write("Sweeply.log", "");
    run();
    EXPECT_EQ(section + "\n", dir.read("Sweeply.log"));
  }
}

TEST_F(TrashLogTest, ErrorsGoToTheSystemLogAndToAnOpenRunLog) {
  TrashLog::err(context.runLog, "first %@");
  logLine(context.runLog, "dropped: no run log is open");
  EXPECT_EQ("first %@\n", errors.str());

  TrashLog log(context);
  log.open(logPath);
  context.runLog = &log;
  TrashLog::err(context.runLog, "Unable to read ~/Downloads");
  context.runLog = nullptr;
  log.close();
  EXPECT_EQ("first %@\nUnable to read ~/Downloads\n", errors.str());
  EXPECT_EQ("Error: Unable to read ~/Downloads\n\n", dir.read("Sweeply.log"));
}

TEST_F(TrashLogTest, AFileThatCannotBeOpenedMakesEveryWriteANoOp) {
  namespace fs = std::filesystem;
  const std::string target = dir.write("target", "not a log");
  fs::create_symlink(target, dir.file("link.log"));
  fs::create_directory(dir.file("folder.log"));
  context.systemMode = true;  // where a missing log folder is not created
  for (const std::string& path :
       {dir.file("missing/Sweeply.log"), dir.file("link.log"), dir.file("folder.log")}) {
    SCOPED_TRACE(path);
    TrashLog log(context);
    log.open(path);
    EXPECT_FALSE(log.isOpen());
    context.runLog = &log;
    log.log("line");
    TrashLog::err(context.runLog, "still reported");
    log.close();
    context.runLog = nullptr;
  }
  EXPECT_EQ("not a log", dir.read("target"));
  EXPECT_FALSE(fs::exists(dir.file("missing")));
  EXPECT_EQ("still reported\nstill reported\nstill reported\n", errors.str());
}

TEST_F(TrashLogTest, AUserLogFolderIsCreatedWhenMissing) {
  logPath = dir.file("Library/Logs/Sweeply.log");
  const std::string added = run();
  EXPECT_EQ(added, dir.read("Library/Logs/Sweeply.log"));
}

}  // namespace
}  // namespace sweeprun
