#include "settings/setting_values.h"

#include <charconv>
#include <cmath>

#include "fs/file_io.h"
#include "fs/path.h"
#include "os/localization.h"
#include "os/text_case.h"
#include "settings/settings_keys.h"

namespace sweeprun {

std::string shortestNumber(double value) {
  char buffer[400];  // room for the fixed form of any double
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  return std::string(buffer, result.ptr);
}

const std::vector<std::string> kDateFormatTimeSpecifiers = {
    "%c", "%H", "%I", "%k", "%l", "%M", "%R", "%r", "%S", "%s", "%T", "%X", "%+",
};

bool settingValueFromText(std::string_view key, const std::string& typed, const std::string& home,
                          Value& value, std::string& error) {
  if (key == kLogToFile) {
    const std::string word = lowercaseText(typed);
    if (word == "yes" || word == "true" || word == "on" || word == "1") {
      value = Value::text("YES");
    } else if (word == "no" || word == "false" || word == "off" || word == "0") {
      value = Value::text("NO");
    } else {
      error = localized("LogToFile takes yes or no, not '%@'", {typed});
      return false;
    }
    return true;
  }
  if (key == kLogLimit) {
    double days = 0;
    const char* end = typed.data() + typed.size();
    auto parsed = std::from_chars(typed.data(), end, days);
    if (typed.empty() || parsed.ec != std::errc() || parsed.ptr != end || !std::isfinite(days) ||
        days < 0) {
      error = localized("LogLimit takes a number of days, 0 or more, not '%@'", {typed});
      return false;
    }
    // Kept as text, the kind the companion application stores it in.
    value = Value::text(shortestNumber(days));
    return true;
  }
  if (key == kLogFileName) {
    if (typed.empty() || (typed[0] != '/' && typed[0] != '~')) {
      error = localized("LogFileName takes an absolute path or one that starts with '~', not '%@'",
                        {typed});
      return false;
    }
    value = Value::text(typed);
    return true;
  }
  if (key == kMetricsFile) {
    // A run replaces the file through its folder and makes no folder.
    if (typed.empty() || (typed[0] != '/' && typed[0] != '~') ||
        !directoryExists(deletingLastPathComponent(standardizePath(typed, home)))) {
      error = localized(
          "MetricsFile takes an absolute path or one that starts with '~', in a folder that "
          "exists, not '%@'",
          {typed});
      return false;
    }
    value = Value::text(typed);
    return true;
  }
  // DateFormat: a run would replace a format that holds a time of day.
  if (typed.empty()) {
    error = localizedString("DateFormat cannot be empty; use --unset to remove it");
    return false;
  }
  for (const std::string& specifier : kDateFormatTimeSpecifiers) {
    if (typed.find(specifier) != std::string::npos) {
      error =
          localized("DateFormat must hold no time of day, but '%@' holds '%@'", {typed, specifier});
      return false;
    }
  }
  value = Value::text(typed);
  return true;
}

}  // namespace sweeprun
