#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "plist/value.h"

namespace sweeprun {

/// Conversions of the time of day that "DateFormat" must not hold: the
/// dated sub-folders are named by day.
extern const std::vector<std::string> kDateFormatTimeSpecifiers;

/// The shortest plain decimal text that reads back as the same double
/// (no exponent), as settings and condition expressions store numbers.
std::string shortestNumber(double value);

/// Checks |typed| as a value of the shared setting |key| (LogToFile,
/// LogFileName, LogLimit, DateFormat or MetricsFile), as typed on a command
/// line, and turns it into what is stored. False with the message in
/// |error| for a value a run could not use. |home| expands a leading "~".
bool settingValueFromText(std::string_view key, const std::string& typed, const std::string& home,
                          Value& value, std::string& error);

}  // namespace sweeprun
