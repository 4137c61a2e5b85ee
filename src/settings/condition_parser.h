#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/trash_rule.h"

namespace sweeprun {

/// Reads one condition expression of the configuration file into |rule|:
///   "delay:" a number >= 0 and a unit word ("minute" ... "year", "check";
///            the unit word need only begin with the unit's name),
///   "size:"  "<" or ">", a number >= 0 and an optional byte unit (B, byte,
///            bytes; K/KB, M/MB, G/GB, T/TB in powers of 1000; KiB, MiB,
///            GiB, TiB in powers of 1024; any case), then nothing more,
///   "name:"  a pattern whose leading and trailing "*" choose the mode; it
///            cannot hold ":" (the stored form would end it there).
/// A "!" as the very first character negates a name condition; before a
/// delay or size condition it is refused, since it cannot mean what its
/// writer meant. Blanks (horizontal white space, not line breaks) may stand
/// before each token. Numbers are plain decimals: optional sign, digits,
/// optional fraction and exponent; hexadecimal forms, "nan", "inf" and
/// values beyond 2^53 (also in bytes, once the unit is applied) are refused.
///
/// True with |rule| made from the defaults of its kind and updated; false
/// with "Unable to handle condition '<text as typed>': expected <what>." in
/// |error| (a missing ":" or sign, a unit in the wrong case, an unknown
/// keyword or unit, a name holding ":"), |rule| unchanged. A name pattern that is empty once its
/// marks are removed ("*",
/// "**") is refused: it would match no name at all (or, negated, every
/// name), never what its writer meant. |warning|, when given, receives a
/// warning for a name pattern that is matched as written but reads like a
/// shell pattern ("a*b", "file?.txt", "[ab]*"), else stays as it is.
bool parseCondition(std::string_view text, TrashRule& rule, std::string& error,
                    std::string* warning = nullptr);

/// Reads a folder's size budget: a number above 0 and an optional byte unit,
/// as a size condition takes them ("20 GB", "500MiB"), into whole bytes.
/// False with "Unable to handle budget '<text>': expected <what>." in |error|.
bool parseBudgetSize(std::string_view text, uint64_t& bytes, std::string& error);
/// Reads a budget's minimum age: a number of at least 0 and a time unit word
/// as a delay condition takes them ("2 days"; checks are no age), into
/// seconds. False with "Unable to handle minimum age '<text>': expected
/// <what>." in |error|.
bool parseBudgetAge(std::string_view text, double& seconds, std::string& error);

/// A byte count as parseBudgetSize reads it back: in the largest unit that
/// holds it whole ("20 GB", "500 MiB", "1234 B"), else in decimal units
/// with one decimal ("1.3 GB").
std::string byteCountText(uint64_t bytes);
/// Seconds as parseBudgetAge reads them back: in the largest unit that holds
/// them whole ("2 days", "90 minutes"), else in minutes with decimals (in
/// years beyond 2^53 minutes).
std::string budgetAgeText(double seconds);

}  // namespace sweeprun
