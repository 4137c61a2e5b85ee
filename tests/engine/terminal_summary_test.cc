// What a person at a terminal sees of a run: a progress line on a long run,
// rewritten in place and gone before the summary of each checked folder.
#include "engine/terminal_summary.h"

#include <gtest/gtest.h>

#include <sstream>

namespace sweeprun {
namespace {

TrashFolder folderAt(const std::string& path) {
  TrashFolder folder = TrashFolder::folderWithPath();
  folder.setValue("path", Value::text(path));
  return folder;
}

TEST(TerminalSummaryTest, ALongRunShowsProgressInPlaceThenOneLinePerCheckedFolder) {
  std::ostringstream out;
  double now = 0;
  TerminalSummary summary(out, [&now] { return Date{now += 1}; });
  const TrashFolder later = folderAt("/srv/later"), inbox = folderAt("/srv/inbox"),
                    gone = folderAt("/srv/gone");
  summary.folderSkipped(later, ScheduleAnswer::kAlreadyCheckedToday);
  summary.folderChecked(inbox, true);
  const EntryDecision takenIn{EntryDecision::kTakenIn, nullptr, nullptr, {}};
  for (uint64_t i = 0; i < TerminalSummary::kProgressAfter; ++i)
    summary.entryDecided(inbox, "x", takenIn);
  EXPECT_EQ("", out.str()) << "no progress on a short run";

  for (int i = 0; i < 1000; ++i) summary.entryDecided(inbox, "x", takenIn);
  RemovalPlan failedMove;
  failedMove.result = RemovalResult::kMoveFailed;
  summary.entryDecided(inbox, "x", {EntryDecision::kNotRemoved, nullptr, nullptr, failedMove});
  summary.entryDecided(inbox, "x", {EntryDecision::kRemoved, nullptr, nullptr, {}});
  summary.folderChecked(gone, false);
  summary.runFinished(1);

  const std::string text = out.str();
  const std::string lastProgress = "/srv/inbox: 5888 entries so far";
  EXPECT_NE(std::string::npos, text.find(lastProgress + "\r")) << text;
  const size_t summaryStart = text.rfind('\r') + 1;
  EXPECT_EQ(std::string::npos, text.substr(0, summaryStart).find('\n'))
      << "progress stays on one line";
  const size_t blanksStart = text.rfind('\r', summaryStart - 2) + 1;
  const std::string blanks = text.substr(blanksStart, summaryStart - 1 - blanksStart);
  EXPECT_EQ(std::string(lastProgress.size(), ' '), blanks)
      << "the last progress line is blanked out";
  EXPECT_EQ(
      "/srv/inbox: 6002 seen, 6000 taken in, 1 removed, 1 failed\n"
      "/srv/gone: not checked\n",
      text.substr(summaryStart));
}

}  // namespace
}  // namespace sweeprun
