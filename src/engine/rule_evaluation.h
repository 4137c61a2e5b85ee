#pragma once

#include <optional>
#include <string>

#include "model/trash_folder.h"
#include "model/trash_item.h"
#include "model/trash_rule.h"
#include "platform/date.h"

namespace sweeprun {

/// Search options of name rules (the platform's string-search bits).
enum NameSearch : uint32_t {
  kWholeName = 0,
  kLiteral = 2,
  kBackwards = 4,
  kAnchored = 8,
};

/// Fixes what stays constant during one folder check (the age cut-off
/// |bestDate| = now - limit, the name search options, the reversal flag) on
/// an enabled rule, and returns its description when |describe|. A disabled
/// rule is left as it was and yields nothing.
std::optional<std::string> prepareWithLog(TrashRule& rule, bool describe, Date now);

/// True when the entry matches the prepared rule. Disabled rules and rules of
/// unknown kinds never match.
bool trash(const TrashRule& rule, const TrashItem& item);

/// Prepares every rule of the folder in list order. When |describe|, returns
/// the folder's description line: "Searching for items " followed by the
/// enabled rules' phrases joined with " and " (or " or " when "gran" is 0).
std::optional<std::string> prepareWithLog(TrashFolder& folder, bool describe, Date now);

/// The rule that condemns the entry, or null. "gran" 1: every enabled rule
/// must match, and the last one is returned; any other value: the first
/// enabled rule that matches. A folder without enabled rules condemns nothing.
const TrashRule* ruleViolatedBy(const TrashFolder& folder, const TrashItem& item);

}  // namespace sweeprun
