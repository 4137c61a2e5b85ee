#pragma once

#include <string>

#include "os/date.h"

namespace sweeprun {

/// The locale that dates are written in, from the environment as the C
/// library orders it: LC_ALL, else LC_TIME, else LANG. The codeset and
/// modifier are dropped ("fr_FR.UTF-8" gives "fr_FR"); unset, "C" or
/// "POSIX" give "en_US_POSIX".
std::string timeLocaleFromEnvironment();

/// |date| in the medium date style of |localeId| (an ICU locale id), without
/// a time, in the local time zone (TZ honoured). 'Dec 7, 2026' in en_US.
std::string mediumDateText(Date date, const std::string& localeId);

/// The name of the dated sub-folder for a move at |date|: the medium date in
/// the locale of the environment, every "/" replaced by "-" so that it stays
/// one path component ('2026/12/07' gives '2026-12-07').
std::string datedFolderName(Date date);

}  // namespace sweeprun
