#pragma once

#include <string>
#include <string_view>

namespace sweeprun {

/// |text| as it goes into the run log and the system log, one line each.
/// Names and paths here are bytes, while the run log is UTF-8 text (one that
/// is not is never trimmed again) of one entry per line (a name holding a
/// line break could forge lines, such as a run's opening line). Every byte
/// that does not belong to a valid UTF-8 sequence, and every carriage return
/// and line feed, is shown as U+FFFD; other text comes back unchanged.
std::string loggableText(std::string_view text);

}  // namespace sweeprun
