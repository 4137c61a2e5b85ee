#pragma once

#include <string>

#include "log/terminal_text.h"  // the companion prints names as terminalText shows them
#include "plist/value.h"

namespace sweeprun {

/// |value| as JSON text, indented by two spaces, keys in the dictionary's
/// own order. None is null; dates are UTC texts "2026-01-02T10:00:00Z";
/// data and archive references, which the companion never prints, are
/// null. Texts are escaped as JSON asks; bytes that are not UTF-8 become
/// U+FFFD, so the output is always valid UTF-8.
std::string jsonText(const Value& value);

/// Sets |key| of |entry| to |text|, a name or path as the file system holds
/// it. When |text| is not UTF-8, jsonText can show it only with U+FFFD, so
/// "<key>Bytes" is set too: every byte of it, those outside printable ASCII
/// and "%" written as %XX, from which a script gets the exact bytes back.
void setFileText(Dictionary& entry, std::string_view key, std::string_view text);

}  // namespace sweeprun
