#pragma once

#include <string>
#include <string_view>

namespace sweeprun {

/// The text lower-cased by the Unicode rules of no particular locale (so
/// "MOVETO:/Ärger" gives "moveto:/ärger" wherever the tool runs). Bytes
/// that are not UTF-8 come back as U+FFFD.
std::string lowercaseText(std::string_view text);

}  // namespace sweeprun
