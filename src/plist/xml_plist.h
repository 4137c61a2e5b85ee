#pragma once

#include <string>
#include <string_view>

#include "plist/value.h"

namespace sweeprun {

/// Reads an XML property list (through libplist). False, with a short
/// description in |error|, when the text is not a well-formed property list
/// or nests deeper than kMaxPlistDepth. Integers read as signed unless they
/// exceed 2^63-1; dates keep whole seconds; a dictionary of the single key
/// "CF$UID" stays a dictionary (the keyed-archive reader converts it).
bool readXmlPropertyList(std::string_view bytes, Value& out, std::string& error);

}  // namespace sweeprun
