#pragma once

#include <cstddef>
#include <string_view>

#include "os/date.h"

namespace sweeprun {

/// The text that begins every run's section, followed by the run's start date
/// in the standard date text and a full stop. Compared literally, never
/// localized, so that a log written under any language can be trimmed.
inline constexpr std::string_view kSectionMarker = "Sweeply started at ";

/// Where the kept part of a run log's |text| begins: the first section marker
/// line whose date is later than |now| less |limitDays| days plus 30 seconds.
/// Lines in front of it go with the older sections. 0 (nothing to cut) when
/// that line is the first marker line of the text, or when no section is
/// recent enough. A marker whose date cannot be read counts as older than the
/// cut-off.
size_t keptTextStart(std::string_view text, Date now, double limitDays);

/// True when |bytes| is well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

}  // namespace sweeprun
