// The counts behind the summary record and the metrics file, fed the
// decisions a run tells its observers, and the metrics text read back by
// the format's grammar.
#include "engine/run_tally.h"

#include <gtest/gtest.h>

#include "engine/metrics_text.h"
#include "os/process.h"
#include "support/metrics_grammar.h"

namespace sweeprun {
namespace {

constexpr double kStart = 1796644800;  // 2026-12-07 12:00:00 UTC

class RunTallyTest : public ::testing::Test {
 protected:
  RunTallyTest() {
    context_.clock = [this] { return now_; };
    scope_.emplace(context_);
  }

  static TrashFolder folderAt(const std::string& path, bool enabled = true) {
    TrashFolder folder = TrashFolder::folderWithPath();
    folder.setValue("path", Value::text(path));
    folder.setValue("ison", Value::boolean(enabled));
    return folder;
  }
  static EntryDecision decision(EntryDecision::Kind kind, RemovalResult result = {},
                                std::string reason = {}) {
    RemovalPlan plan;
    plan.result = result;
    plan.reason = std::move(reason);
    return {kind, nullptr, nullptr, plan};
  }

  Date now_ = Date::fromUnix(kStart);
  Process context_;
  std::optional<ScopedProcess> scope_;
};

TEST_F(RunTallyTest, CountsEachDecisionWhereItBelongs) {
  const struct {
    const char* label;
    EntryDecision decision;
    uint64_t takenIn, removed, failed, tracked;
  } kCases[] = {
      {"new and kept", decision(EntryDecision::kTakenIn), 1, 0, 0, 1},
      {"tracked and unchanged", decision(EntryDecision::kKept), 0, 0, 0, 1},
      {"changed: tracked anew", decision(EntryDecision::kRestarted), 0, 0, 0, 1},
      {"removed", decision(EntryDecision::kRemoved), 0, 1, 0, 0},
      {"destination away for now",
       decision(EntryDecision::kDeferred, RemovalResult::kDestinationAbsentNow), 0, 0, 0, 1},
      {"a move that failed",
       decision(EntryDecision::kNotRemoved, RemovalResult::kMoveFailed, "renameat2(x): EIO"), 0, 0,
       1, 0},
      {"a Trash refused with a reason",
       decision(EntryDecision::kNotRemoved, RemovalResult::kNoTrash, "owned by another user"), 0, 0,
       1, 0},
      {"not deletable by the running user: left, not failed",
       decision(EntryDecision::kNotRemoved, RemovalResult::kNotDeletable), 0, 0, 0, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    RunTally tally(context_.clock);
    const TrashFolder folder = folderAt("/srv/drop");
    tally.folderChecked(folder, true);
    tally.entryDecided(folder, "x", c.decision);
    tally.runFinished(0);
    ASSERT_EQ(1u, tally.folders().size());
    const FolderTally& counted = tally.folders()[0];
    EXPECT_EQ(1u, counted.seen);
    EXPECT_EQ(c.takenIn, counted.takenIn);
    EXPECT_EQ(c.removed, counted.removed);
    EXPECT_EQ(c.failed, counted.failed);
    EXPECT_EQ(c.tracked, counted.tracked);
  }
}

// A folder the schedule passed over, or one that was not there, keeps what it
// tracked and, for the alert on stale folders, the time of its last check.
TEST_F(RunTallyTest, FoldersNotExaminedKeepTheirTrackedEntriesAndLastCheck) {
  TrashFolder skipped = folderAt("/srv/skipped");
  skipped.setItems(std::make_shared<ItemList>(3));
  skipped.setDate(Date::fromUnix(kStart - 3600), "last");
  TrashFolder gone = folderAt("/srv/gone");
  gone.setItems(std::make_shared<ItemList>(2));
  const TrashFolder never = folderAt("/srv/never", false);

  RunTally tally(context_.clock);
  tally.folderSkipped(skipped, ScheduleAnswer::kAlreadyCheckedToday);
  now_.seconds += 5;
  tally.folderChecked(gone, false);
  tally.folderSkipped(never, ScheduleAnswer::kNotEnabled);
  now_.seconds += 2.5;
  tally.runFinished(0);

  ASSERT_EQ(3u, tally.folders().size());
  EXPECT_EQ(3u, tally.folders()[0].tracked);
  EXPECT_EQ(Date::fromUnix(kStart - 3600), tally.folders()[0].lastCheck);
  EXPECT_FALSE(tally.folders()[0].checked);
  EXPECT_EQ(2u, tally.folders()[1].tracked);
  EXPECT_EQ(Date::fromUnix(kStart + 5), tally.folders()[1].lastCheck);
  EXPECT_TRUE(tally.folders()[1].checked);
  EXPECT_FALSE(tally.folders()[2].lastCheck.has_value());
  EXPECT_FALSE(tally.folders()[2].enabled);
  EXPECT_EQ(1u, tally.foldersChecked());
  EXPECT_DOUBLE_EQ(7.5, tally.durationSeconds());
}

TEST_F(RunTallyTest, MetricsTextFollowsTheFormatAndCarriesTheRun) {
  // A path with every character a label value must escape.
  const std::string odd = "/srv/a \"quoted\" \\ name";
  TrashFolder drop = folderAt("/srv/drop");
  TrashFolder strange = folderAt(odd, false);

  RunTally tally(context_.clock);
  tally.folderChecked(drop, true);
  tally.entryDecided(drop, "a", decision(EntryDecision::kTakenIn));
  tally.entryDecided(drop, "b", decision(EntryDecision::kRemoved));
  tally.entryDecided(drop, "c",
                     decision(EntryDecision::kNotRemoved, RemovalResult::kDeletionFailed));
  tally.folderSkipped(strange, ScheduleAnswer::kNotEnabled);
  now_.seconds += 0.25;
  tally.runFinished(1);

  const std::string text = metricsText(tally, 74);
  const ParsedMetrics parsed = parseMetricsText(text);
  ASSERT_EQ("", parsed.error) << text;
  EXPECT_TRUE(parsed.timestamps.empty()) << "the textfile collector refuses timestamps";
  for (const auto& [name, type] : parsed.types) {
    EXPECT_EQ("gauge", type) << name;
    EXPECT_EQ(0u, name.rfind("sweeprun_", 0)) << name;
  }
  const struct {
    std::string series;
    double value;
  } kExpected[] = {
      {seriesKey("sweeprun_folder_enabled", "folder", "/srv/drop"), 1},
      {seriesKey("sweeprun_folder_enabled", "folder", odd), 0},
      {seriesKey("sweeprun_folder_last_run_checked", "folder", odd), 0},
      {seriesKey("sweeprun_folder_last_run_entries_seen", "folder", "/srv/drop"), 3},
      {seriesKey("sweeprun_folder_last_run_entries_taken_in", "folder", "/srv/drop"), 1},
      {seriesKey("sweeprun_folder_last_run_entries_removed", "folder", "/srv/drop"), 1},
      {seriesKey("sweeprun_folder_last_run_entries_failed", "folder", "/srv/drop"), 1},
      {seriesKey("sweeprun_folder_tracked_entries", "folder", "/srv/drop"), 1},
      {seriesKey("sweeprun_folder_last_check_timestamp_seconds", "folder", "/srv/drop"), kStart},
      {seriesKey("sweeprun_folder_last_check_timestamp_seconds", "folder", odd), 0},
      {"sweeprun_last_run_start_timestamp_seconds", kStart},
      {"sweeprun_last_run_duration_seconds", 0.25},
      {"sweeprun_last_run_exit_status", 74},
  };
  for (const auto& e : kExpected) {
    const auto found = parsed.samples.find(e.series);
    ASSERT_NE(parsed.samples.end(), found) << e.series << "\n" << text;
    EXPECT_DOUBLE_EQ(e.value, found->second) << e.series;
  }
  EXPECT_EQ(9u * 2 + 3, parsed.samples.size()) << text;
}

// The grammar the test reads by must itself refuse what a scraper refuses,
// or the test above would prove nothing.
TEST(MetricsGrammarTest, RefusesWhatAScraperRefuses) {
  const struct {
    const char* label;
    const char* text;
  } kCases[] = {
      {"no final line feed", "a 1"},
      {"a value that is no number", "a one\n"},
      {"an unclosed label set", "a{x=\"1\" 1\n"},
      {"an unknown escape", "a{x=\"\\t\"} 1\n"},
      {"a series twice", "a{x=\"1\"} 1\na{x=\"1\"} 2\n"},
      {"a family split", "a 1\nb 1\na{x=\"1\"} 1\n"},
      {"TYPE after samples", "a 1\n# TYPE a gauge\n"},
      {"_total on a gauge", "# TYPE a_total gauge\na_total 1\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_NE("", parseMetricsText(c.text).error);
  }
  EXPECT_EQ("", parseMetricsText("# TYPE a_total counter\na_total{x=\"\\\"\\n\"} 1e3 17\n").error);
}

}  // namespace
}  // namespace sweeprun
