#include "log/log_trimming.h"

#include <unicode/utf8.h>

#include <cstdint>
#include <optional>

namespace sweeprun {

size_t keptTextStart(std::string_view text, Date now, double limitDays) {
  const double cutOff = now.seconds - limitDays * 86400 + 30;
  bool firstMarker = true;
  size_t start = 0;
  for (;;) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    if (line.substr(0, kSectionMarker.size()) == kSectionMarker) {
      std::string_view dateText = line.substr(kSectionMarker.size());
      if (!dateText.empty()) {
        dateText.remove_suffix(1);  // the marker line's full stop
        const std::optional<Date> started = parseStandardDateText(dateText);
        // The first marker line being recent leaves nothing older to cut,
        // not even stray lines in front of it.
        if (started && cutOff < started->seconds) return firstMarker ? 0 : start;
      }
      firstMarker = false;
    }
    if (end == text.size()) return 0;
    start = end + 1;
  }
}

bool isValidUtf8(std::string_view bytes) {
  const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
  const int64_t length = static_cast<int64_t>(bytes.size());
  int64_t i = 0;
  while (i < length) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) return false;
  }
  return true;
}

}  // namespace sweeprun
