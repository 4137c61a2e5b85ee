#pragma once

#include "model/trash_folder.h"
#include "os/date.h"

namespace sweeprun {

/// Answers of canCheckToday.
enum class ScheduleAnswer {
  kCheckNow = 0,
  kNotEnabled = 1,
  kAlreadyCheckedToday = 2,
  kNotPresent = 3,
};

/// Whether |folder| is due in the run that started at |runStart|: not when
/// disabled, not when it may be absent ("temp") and is not an existing
/// directory, and, for once-a-day folders, not when "last" falls on the run's
/// local calendar day, unless "next" asks for an extra check that day. A
/// used "next" is removed from the record.
ScheduleAnswer canCheckToday(TrashFolder& folder, Date runStart);

}  // namespace sweeprun
