#include "engine/daily_schedule.h"

#include <string>

#include "fs/file_io.h"

namespace sweeprun {

ScheduleAnswer canCheckToday(TrashFolder& folder, Date runStart) {
  if (!folder.value("ison").asBool()) return ScheduleAnswer::kNotEnabled;
  if (folder.value("temp").asBool() && !directoryExists(std::string(folder.path()))) {
    return ScheduleAnswer::kNotPresent;
  }
  if (!folder.value("once").asBool()) return ScheduleAnswer::kCheckNow;

  // An absent "next" or "last" reads as the reference date, which is never
  // the day of a run.
  std::string today = dayStamp(runStart);
  if (dayStamp(folder.dateForKey("next")) == today) {
    folder.data.remove("next");
    return ScheduleAnswer::kCheckNow;
  }
  if (dayStamp(folder.dateForKey("last")) == today) return ScheduleAnswer::kAlreadyCheckedToday;
  return ScheduleAnswer::kCheckNow;
}

}  // namespace sweeprun
