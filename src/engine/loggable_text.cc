#include "engine/loggable_text.h"

#include <unicode/utf8.h>

#include <cstdint>

namespace sweeprun {

std::string loggableText(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const int64_t length = static_cast<int64_t>(text.size());
  std::string shown;
  int64_t copied = 0;  // bytes of |text| accounted for in |shown|
  for (int64_t i = 0; i < length;) {
    const int64_t start = i;
    UChar32 c;
    if (bytes[i] < 0x80) {
      c = bytes[i++];
      if (c != '\n' && c != '\r') continue;
    } else {
      U8_NEXT(bytes, i, length, c);
      if (c >= 0) continue;
    }
    shown.append(text.substr(static_cast<size_t>(copied), static_cast<size_t>(start - copied)))
        .append("\xEF\xBF\xBD");
    copied = i;
  }
  if (copied == 0) return std::string(text);
  return shown.append(text.substr(static_cast<size_t>(copied)));
}

}  // namespace sweeprun
