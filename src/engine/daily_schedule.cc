#include "engine/daily_schedule.h"

#include <string>

#include "fs/file_io.h"

namespace sweeprun {

int canCheckToday(TrashFolder& folder, Date runStart) {
  if (!folder.value("ison").asBool()) return kNotEnabled;
  if (folder.value("temp").asBool() && !directoryExists(std::string(folder.path()))) {
    return kNotPresent;
  }
  if (!folder.value("once").asBool()) return kCheckNow;

  // An absent "next" or "last" reads as the reference date, which is never
  // the day of a run.
  std::string today = dayStamp(runStart);
  if (dayStamp(folder.dateForKey("next")) == today) {
    folder.data.remove("next");
    return kCheckNow;
  }
  if (dayStamp(folder.dateForKey("last")) == today) return kAlreadyCheckedToday;
  return kCheckNow;
}

}  // namespace sweeprun
