#pragma once

#include <string>

#include "platform/value.h"

namespace sweeprun {

/// |value| as JSON text, indented by two spaces, keys in the dictionary's
/// own order. None is null; dates are UTC texts "2026-01-02T10:00:00Z";
/// data and archive references, which the companion never prints, are
/// null. Texts are escaped as JSON asks; bytes that are not UTF-8 become
/// U+FFFD, so the output is always valid UTF-8.
std::string jsonText(const Value& value);

}  // namespace sweeprun
