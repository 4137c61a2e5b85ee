#include "log/terminal_text.h"

namespace sweeprun {

size_t utf8SequenceLength(std::string_view s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = byte(i);
  size_t length = b < 0x80           ? 1
                  : (b >> 5) == 0x6  ? 2
                  : (b >> 4) == 0xE  ? 3
                  : (b >> 3) == 0x1E ? 4
                                     : 0;
  if (length == 0 || i + length > s.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
  const unsigned char next = byte(i + 1);
  if (length == 2 && b < 0xC2) return 0;
  if (length == 3 && ((b == 0xE0 && next < 0xA0) || (b == 0xED && next >= 0xA0))) return 0;
  if (length == 4 && ((b == 0xF0 && next < 0x90) || b > 0xF4 || (b == 0xF4 && next >= 0x90))) {
    return 0;
  }
  return length;
}

std::string terminalText(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string shown;
  size_t copied = 0;  // bytes of |text| accounted for in |shown|
  const auto escape = [&](unsigned char c) { shown += {'\\', 'x', kHex[c >> 4], kHex[c & 0xF]}; };
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {  // printable ASCII, nearly every byte of a name
      ++i;
      continue;
    }
    const size_t length = c < 0x80 ? 1 : utf8SequenceLength(text, i);
    // C1 controls, U+0080-U+009F: terminals act on them too.
    const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (c >= 0x80 && length > 0 && !c1) {
      i += length;
      continue;
    }
    shown.append(text.substr(copied, i - copied));
    if (c == '\t') {
      shown += "\\t";
    } else if (c == '\n') {
      shown += "\\n";
    } else {
      escape(c);
      if (c1) escape(static_cast<unsigned char>(text[i + 1]));
    }
    i += c1 ? 2 : 1;
    copied = i;
  }
  if (copied == 0) return std::string(text);
  return shown.append(text.substr(copied));
}

}  // namespace sweeprun
