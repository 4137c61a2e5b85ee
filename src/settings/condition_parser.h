#pragma once

#include <string>
#include <string_view>

#include "model/trash_rule.h"

namespace sweeprun {

/// Reads one condition expression of the configuration file into |rule|:
///   "delay:" a number >= 0 and a unit word ("minute" ... "year", "check";
///            the unit word need only begin with the unit's name),
///   "size:"  "<" or ">" and a number >= 0 (what follows is ignored),
///   "name:"  a pattern whose leading and trailing "*" choose the mode.
/// A "!" as the very first character negates a name condition and is
/// ignored by the others. Blanks (horizontal white space, not line breaks)
/// may stand before each token. Numbers are plain decimals: optional sign,
/// digits, optional fraction and exponent; hexadecimal forms, "nan" and
/// "inf" are refused.
///
/// True with |rule| made from the defaults of its kind and updated; false
/// with "Unable to handle condition '<text without its leading !>'." in
/// |error|, |rule| unchanged. A name pattern that is empty once its marks
/// are removed ("*", "**") is refused: it would match no name at all (or,
/// negated, every name), never what its writer meant.
bool parseCondition(std::string_view text, TrashRule& rule, std::string& error);

}  // namespace sweeprun
