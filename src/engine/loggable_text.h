#pragma once

#include <string>
#include <string_view>

namespace sweeprun {

/// |text| as it goes into the run log and the system log. Names and paths
/// here are bytes, while the run log is UTF-8 text (one that is not is never
/// trimmed again): every byte that does not belong to a valid UTF-8 sequence
/// is shown as U+FFFD. Valid text comes back unchanged.
std::string loggableText(std::string_view text);

}  // namespace sweeprun
