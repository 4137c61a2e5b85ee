#include "engine/daily_schedule.h"

#include <string>

#include "fs/file_io.h"
#include "model/record_keys.h"

namespace sweeprun {

ScheduleAnswer canCheckToday(TrashFolder& folder, Date runStart) {
  if (!folder.value(folder_key::kEnabled).asBool()) return ScheduleAnswer::kNotEnabled;
  if (folder.value(folder_key::kMayBeAbsent).asBool() &&
      !directoryExists(std::string(folder.path()))) {
    return ScheduleAnswer::kNotPresent;
  }
  if (!folder.value(folder_key::kOnceADay).asBool()) return ScheduleAnswer::kCheckNow;

  // An absent "next" or "last" reads as the reference date, which is never
  // the day of a run.
  std::string today = dayStamp(runStart);
  if (dayStamp(folder.dateForKey(folder_key::kCheckAgainOn)) == today) {
    folder.data.remove(folder_key::kCheckAgainOn);
    return ScheduleAnswer::kCheckNow;
  }
  if (dayStamp(folder.dateForKey(folder_key::kLastCheck)) == today)
    return ScheduleAnswer::kAlreadyCheckedToday;
  return ScheduleAnswer::kCheckNow;
}

}  // namespace sweeprun
