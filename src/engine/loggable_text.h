#pragma once

#include <string>
#include <string_view>

#include "log/terminal_text.h"

namespace sweeprun {

/// |text| as it goes into the run log and the system log, one line each:
/// escaped as terminalText escapes it, as sweeply shows names. Names and
/// paths are bytes that any account may choose, while the run log is UTF-8
/// text (one that is not is never trimmed again) of one entry per line, read
/// with cat or less: a line break could forge lines (such as a run's opening
/// line), an escape sequence would act on the reader's terminal.
inline std::string loggableText(std::string_view text) { return terminalText(text); }

}  // namespace sweeprun
