#include "engine/rule_evaluation.h"

#include <charconv>
#include <cmath>

#include "model/record_keys.h"
#include "os/localization.h"

namespace sweeprun {

namespace {

// The stored size in its plain decimal form: 524288, 1.5, 1000000 (never
// the shorter 1e+06, which reads as a different kind of number to people).
std::string plainNumber(double value) {
  char buffer[400];  // the longest fixed form of a double has 309 digits before the point
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  return std::string(buffer, result.ptr);
}

// A whole number of checks, its fraction dropped; out-of-range values are
// clamped rather than converted with undefined behaviour.
std::string wholeNumber(double value) {
  if (std::isnan(value)) return "0";
  if (value >= 9.2e18) return "9223372036854775807";
  if (value <= -9.2e18) return "-9223372036854775808";
  return std::to_string(static_cast<int64_t>(value));
}

struct NamePhrases {
  uint32_t options;
  const char* plain;
  const char* reversed;
};

NamePhrases namePhrases(int64_t part) {
  switch (part) {
    case 1:
      return {kLiteral, "whose name contains '%@'", "whose name does not contain '%@'"};
    case 2:
      return {kLiteral | kAnchored, "whose name starts with '%@'",
              "whose name does not start with '%@'"};
    case 3:
      return {kLiteral | kAnchored | kBackwards, "whose name ends with '%@'",
              "whose name does not end with '%@'"};
    default:
      return {kWholeName, "whose name is '%@'", "whose name is not '%@'"};
  }
}

bool nameFound(std::string_view name, std::string_view pattern, uint32_t options) {
  if (options == kWholeName) return name == pattern;
  // A search for nothing finds nothing.
  if (pattern.empty() || pattern.size() > name.size()) return false;
  if (options & kAnchored) {
    if (options & kBackwards) return name.substr(name.size() - pattern.size()) == pattern;
    return name.substr(0, pattern.size()) == pattern;
  }
  return name.find(pattern) != std::string_view::npos;
}

// The last component of an entry's path, as lastPathComponent gives it,
// without making a string of it.
std::string_view entryName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path == "/") return path;
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool matches(const PreparedRules::Rule& rule, const TrashItem& item) {
  switch (rule.kind) {
    case kSizeRule: {
      const double size = static_cast<double>(item.size());
      return rule.invert ? size < rule.limit : size >= rule.limit;
    }
    case kNameRule: {
      // A record's name is what follows the last "/" of its path; only a
      // path that ends in "/" needs the longer reading.
      const std::string_view name = item.name();
      const bool found = name.empty()
                             ? nameFound(entryName(item.path()), rule.pattern, rule.nameOpt)
                             : nameFound(name, rule.pattern, rule.nameOpt);
      return rule.invert ? !found : found;
    }
    case kAgeRule:
      if (rule.timeValue <= 0) return true;
      if (rule.limit >= 0) {
        // An unprepared rule has no cut-off and condemns nothing.
        return rule.bestDate && *rule.bestDate > item.checkedIn();
      }
      return static_cast<double>(item.hits()) > rule.timeValue;
    default:
      return false;
  }
}

}  // namespace

std::optional<std::string> prepareWithLog(TrashRule& rule, bool describe, Date now) {
  if (!rule.value(rule_key::kEnabled).asBool()) return std::nullopt;
  std::string text;
  switch (rule.value(rule_key::kKind).asInteger()) {
    case kSizeRule:
      rule.invert = rule.value(rule_key::kReversed).asInteger() == 1;
      if (describe) {
        text = localized(
            rule.invert ? "whose size is smaller than %@ bytes" : "whose size is at least %@ bytes",
            {plainNumber(rule.value(rule_key::kSize).asReal())});
      }
      break;
    case kNameRule: {
      rule.invert = rule.value(rule_key::kReversed).asInteger() == 1;
      NamePhrases phrases = namePhrases(rule.value(rule_key::kNamePart).asInteger());
      rule.nameOpt = phrases.options;
      if (describe) {
        text = localized(rule.invert ? phrases.reversed : phrases.plain,
                         {rule.value(rule_key::kName).asText()});
      }
      break;
    }
    case kAgeRule:
      if (rule.limit >= 0) {
        rule.bestDate = Date{now.seconds - rule.limit};
        if (describe) {
          text = localized("that were checked in before %@", {standardDateText(*rule.bestDate)});
        }
      } else {
        rule.bestDate.reset();
        if (describe) {
          text = rule.timeValue == 1 ? localizedString("that survived more than 1 check")
                                     : localized("that survived more than %d checks",
                                                 {wholeNumber(rule.timeValue)});
        }
      }
      break;
    default:
      text = localizedString("(unknown condition)");
      break;
  }
  if (!describe) return std::nullopt;
  return text;
}

bool trash(const TrashRule& rule, const TrashItem& item) {
  if (!rule.value(rule_key::kEnabled).asBool()) return false;
  return matches(PreparedRules::Rule(rule), item);
}

std::optional<std::string> prepareWithLog(TrashFolder& folder, bool describe, Date now) {
  std::string joined;
  bool any = false;
  std::string conjunction;
  for (TrashRule& rule : folder.rules()) {
    std::optional<std::string> text = prepareWithLog(rule, describe, now);
    if (!text) continue;
    if (any) {
      if (conjunction.empty()) {
        conjunction = localizedString(
            folder.value(folder_key::kMatchAll).asInteger() == 0 ? " or " : " and ");
      }
      joined += conjunction;
    }
    joined += *text;
    any = true;
  }
  if (!describe) return std::nullopt;
  // With no enabled rule there is nothing to describe; say so rather than
  // leave a dangling "Searching for items".
  if (!any) return localizedString("Searching for items: no enabled conditions.");
  return localizedString("Searching for items ") + joined;
}

PreparedRules::Rule::Rule(const TrashRule& rule)
    : rule(&rule),
      kind(rule.value(rule_key::kKind).asInteger()),
      invert(rule.invert),
      nameOpt(rule.nameOpt),
      pattern(rule.value(rule_key::kName).asText()),
      limit(rule.limit),
      timeValue(rule.timeValue),
      bestDate(rule.bestDate) {}

PreparedRules::PreparedRules(const TrashFolder& folder)
    : all_(folder.value(folder_key::kMatchAll).asInteger() == 1) {
  for (const TrashRule& rule : folder.rules()) {
    if (rule.value(rule_key::kEnabled).asBool()) rules_.emplace_back(rule);
  }
}

const TrashRule* PreparedRules::violatedBy(const TrashItem& item) const {
  const TrashRule* last = nullptr;
  for (const Rule& rule : rules_) {
    const bool matched = matches(rule, item);
    if (all_) {
      if (!matched) return nullptr;
      last = rule.rule;
    } else if (matched) {
      return rule.rule;
    }
  }
  return last;
}

const TrashRule* ruleViolatedBy(const TrashFolder& folder, const TrashItem& item) {
  return PreparedRules(folder).violatedBy(item);
}

}  // namespace sweeprun
