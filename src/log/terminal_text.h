#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sweeprun {

/// |text| as it may be printed to a terminal or written to a log read with
/// one: control characters (also line breaks and escape sequences) and bytes
/// that are not UTF-8 shown as \xHH, tab and line feed as \t and \n;
/// everything else as it is. Names and paths are bytes that any account may
/// choose; shown this way they can neither act on a terminal nor forge a
/// line, and the result is always UTF-8.
std::string terminalText(std::string_view text);

/// The length of the UTF-8 sequence at |i| of |s|, or 0 when none starts
/// there (a stray byte, an overlong form, a surrogate, past U+10FFFF, cut
/// short).
size_t utf8SequenceLength(std::string_view s, size_t i);

}  // namespace sweeprun
