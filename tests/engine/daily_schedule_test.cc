#include "engine/daily_schedule.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace sweeprun {
namespace {

// Runs the test in a fixed time zone, restoring the old one afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    if (old) old_ = old;
    had_ = old != nullptr;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

// 2026-12-07 12:00:00 UTC.
const Date kRun = Date::fromUnix(1796644800);
const Date kEarlierToday{kRun.seconds - 3600};
const Date kYesterday{kRun.seconds - 86400};

TrashFolder onceADayFolder() {
  TrashFolder folder = TrashFolder::folderWithPath();
  folder.setValue("once", Value::boolean(true));
  return folder;
}

TEST(DailyScheduleTest, AnswersInOrder) {
  ScopedTimeZone utc("UTC");
  TrashFolder disabledAbsent = TrashFolder::folderWithPath();
  disabledAbsent.setValue("ison", Value::boolean(false));
  disabledAbsent.setValue("temp", Value::boolean(true));
  disabledAbsent.setValue("path", Value::text("/nonexistent/inbox"));
  EXPECT_EQ(ScheduleAnswer::kNotEnabled, canCheckToday(disabledAbsent, kRun));

  TrashFolder networkFile = TrashFolder::folderWithPath();
  networkFile.setValue("temp", Value::boolean(true));
  networkFile.setValue("path", Value::text("/etc/hostname"));
  EXPECT_EQ(ScheduleAnswer::kNotPresent, canCheckToday(networkFile, kRun));

  TrashFolder networkDir = onceADayFolder();
  networkDir.setValue("temp", Value::boolean(true));
  networkDir.setValue("path", Value::text("/"));
  networkDir.setDate(kEarlierToday, "last");
  EXPECT_EQ(ScheduleAnswer::kAlreadyCheckedToday, canCheckToday(networkDir, kRun));

  TrashFolder missingNotTemp = TrashFolder::folderWithPath();
  missingNotTemp.setValue("path", Value::text("/nonexistent/inbox"));
  EXPECT_EQ(ScheduleAnswer::kCheckNow, canCheckToday(missingNotTemp, kRun));

  TrashFolder everyRun = TrashFolder::folderWithPath();
  everyRun.setDate(kEarlierToday, "last");
  EXPECT_EQ(ScheduleAnswer::kCheckNow, canCheckToday(everyRun, kRun));
}

TEST(DailyScheduleTest, NextIsAOneDayRequestConsumedWhenUsed) {
  ScopedTimeZone utc("UTC");
  TrashFolder folder = onceADayFolder();
  EXPECT_EQ(ScheduleAnswer::kCheckNow, canCheckToday(folder, kRun));  // neither "last" nor "next"

  folder.setDate(kEarlierToday, "last");
  folder.setDate(kYesterday, "next");
  EXPECT_EQ(ScheduleAnswer::kAlreadyCheckedToday, canCheckToday(folder, kRun));
  EXPECT_TRUE(folder.data.contains("next"));

  folder.setDate(kEarlierToday, "next");
  EXPECT_EQ(ScheduleAnswer::kCheckNow, canCheckToday(folder, kRun));
  EXPECT_FALSE(folder.data.contains("next"));
  EXPECT_EQ(ScheduleAnswer::kAlreadyCheckedToday, canCheckToday(folder, kRun));
}

TEST(DailyScheduleTest, CalendarDaysFollowTheLocalTimeZone) {
  // 2025-12-31 23:30 and 2026-01-01 00:10 in UTC: different days.
  const Date lastCheck = Date::fromUnix(1767223800);
  const Date run = Date::fromUnix(1767226200);
  TrashFolder folder = onceADayFolder();
  folder.setDate(lastCheck, "last");
  {
    ScopedTimeZone utc("UTC");
    EXPECT_EQ(ScheduleAnswer::kCheckNow, canCheckToday(folder, run));
  }
  {
    // Two hours west both moments fall on 31 December.
    ScopedTimeZone west("America/Noronha");
    EXPECT_EQ(ScheduleAnswer::kAlreadyCheckedToday, canCheckToday(folder, run));
  }
}

}  // namespace
}  // namespace sweeprun
