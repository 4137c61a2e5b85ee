#pragma once

#include <string>

#include "model/trash_folder.h"
#include "os/date.h"
#include "plist/value.h"

namespace sweeprun {

/// The state of |folder| for "list" and "show", as a dictionary with stable
/// keys: "path", "name", "enabled", "action" ("trash", "delete" or
/// "moveto"), "destination", "dated", "network", "onceADay", "matchAll",
/// "lastCheck", "checkRequestedFor", "checks", "takenIn", "movedOut",
/// "removedByLastCheck", "budget" ({"bytes", "minimumAgeSeconds",
/// "sizeAtLastCheck" or null} or null), "readMe" ({"name", "text"} or null) and "rules"
/// (each {"description", "expression", "enabled"}: the phrase of rule
/// evaluation at |now|, the condition expression or null, and whether the
/// rule takes part). With |withItems|, "items" follows: each tracked entry
/// as {"name", "path", "checkedIn", "ageSeconds", "hits", "size"}.
/// "refused" is |refused|, why runs do not check the folder ("holds the
/// folder database"), or null when they do.
Value folderSummary(const TrashFolder& folder, Date now, bool withItems,
                    const std::string& refused = std::string());

/// The same summary as text for people, several lines, each ending in "\n".
std::string folderSummaryText(const Value& summary, Date now);

/// "1 <one>" or "<n> <many>": countText(3, "folder", "folders") is
/// "3 folders".
std::string countText(uint64_t n, const char* one, const char* many);

/// A span of seconds in the largest unit that keeps it readable ("45
/// seconds", "3 hours", "12 days").
std::string ageText(double seconds);

}  // namespace sweeprun
