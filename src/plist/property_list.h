#pragma once

#include <string>
#include <string_view>

#include "plist/value.h"

namespace sweeprun {

/// Reads a property list, binary ("bplist00") or XML. False, with the
/// reader's description of the fault in |error|, when the bytes are not a
/// well-formed property list. Every count, offset and nesting depth of a
/// binary list is checked against the input's size.
bool readPropertyList(std::string_view bytes, Value& out, std::string& error);

/// Writes a binary property list, in time linear in the size of the value.
/// Equal texts, data and numbers are written once; unsigned numbers take the
/// 16-byte form so that they read back unsigned; texts with bytes that are
/// not UTF-8 read back byte for byte. None values inside arrays and
/// dictionaries are left out, and a none root is written as an empty
/// dictionary.
std::string writeBinaryPropertyList(const Value& root);

/// Writes an XML property list, with the same treatment of none values.
/// Dates keep whole seconds.
std::string writeXmlPropertyList(const Value& root);

}  // namespace sweeprun
