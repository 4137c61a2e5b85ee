#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/trash_folder.h"
#include "model/trash_item.h"
#include "model/trash_rule.h"
#include "os/date.h"

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

/// A folder's enabled rules as prepared for one check, with everything a test
/// needs read out of the rule records once, so that testing an entry costs
/// one comparison per rule. Valid while the folder's rules are neither
/// changed nor prepared again.
class PreparedRules {
 public:
  /// |folder| must have been prepared (prepareWithLog) for this check.
  explicit PreparedRules(const TrashFolder& folder);
  /// As ruleViolatedBy.
  const TrashRule* violatedBy(const TrashItem& item) const;

  /// One enabled rule's prepared fields and stored values.
  struct Rule {
    explicit Rule(const TrashRule& rule);
    const TrashRule* rule;
    int64_t kind;
    bool invert;
    uint32_t nameOpt;
    std::string_view pattern;  // the rule's "name"
    double limit;
    double timeValue;
    std::optional<Date> bestDate;
  };

 private:
  std::vector<Rule> rules_;
  bool all_;
};

/// The rule that condemns the entry, or null. "gran" 1: every enabled rule
/// must match, and the last one is returned; any other value: the first
/// enabled rule that matches. A folder without enabled rules condemns nothing.
const TrashRule* ruleViolatedBy(const TrashFolder& folder, const TrashItem& item);

}  // namespace sweeprun
