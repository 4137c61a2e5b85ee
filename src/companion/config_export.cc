#include "companion/config_export.h"

#include <cctype>
#include <charconv>
#include <cmath>

#include "engine/rule_evaluation.h"
#include "model/record_keys.h"
#include "os/localization.h"
#include "os/process.h"
#include "plist/property_list.h"
#include "settings/condition_parser.h"
#include "settings/setting_values.h"

namespace sweeprun {

namespace {

// Unit words by "tune"; none for 6, which no condition can produce.
const char* unitWord(int64_t tune, bool one) {
  static const char* const kSingular[] = {"minute", "hour", "day", "week", "month", "year"};
  static const char* const kPlural[] = {"minutes", "hours", "days", "weeks", "months", "years"};
  if (tune >= 0 && tune <= 5) return one ? kSingular[tune] : kPlural[tune];
  if (tune == 7) return one ? "check" : "checks";
  return nullptr;
}

int64_t namePart(const TrashRule& rule) {
  int64_t part = rule.value(rule_key::kNamePart).asInteger();
  return part >= 1 && part <= 3 ? part : 0;  // any other value acts as 0
}

bool reversed(const TrashRule& rule) { return rule.value(rule_key::kReversed).asInteger() == 1; }

// Whether two rules test entries alike: the same kind and the values that
// kind reads.
bool sameTest(const TrashRule& a, const TrashRule& b) {
  const int64_t kind = a.value(rule_key::kKind).asInteger();
  if (kind != b.value(rule_key::kKind).asInteger()) return false;
  switch (kind) {
    case kAgeRule:
      return a.value(rule_key::kCount).asReal() == b.value(rule_key::kCount).asReal() &&
             a.value(rule_key::kUnit).asInteger() == b.value(rule_key::kUnit).asInteger();
    case kNameRule:
      return a.value(rule_key::kName).asText() == b.value(rule_key::kName).asText() &&
             namePart(a) == namePart(b) && reversed(a) == reversed(b);
    case kSizeRule:
      return a.value(rule_key::kSize).asReal() == b.value(rule_key::kSize).asReal() &&
             reversed(a) == reversed(b);
  }
  return false;
}

std::optional<std::string> draftExpression(const TrashRule& rule, std::string& why) {
  switch (rule.value(rule_key::kKind).asInteger()) {
    case kAgeRule: {
      if (reversed(rule)) {
        why = localized("an age condition cannot be reversed in a condition expression");
        return std::nullopt;
      }
      const double count = rule.value(rule_key::kCount).asReal();
      const char* unit = unitWord(rule.value(rule_key::kUnit).asInteger(), count == 1);
      if (!unit) {
        why = localized("its time unit has no condition word");
        return std::nullopt;
      }
      return "delay: " + shortestNumber(count) + " " + unit;
    }
    case kNameRule: {
      const std::string name(rule.value(rule_key::kName).asText());
      // Trailing blanks would read back, but nobody sees them in a file.
      if (!name.empty() && (std::isspace(static_cast<unsigned char>(name.front())) ||
                            std::isspace(static_cast<unsigned char>(name.back())))) {
        why = localized("its name begins or ends with a blank");
        return std::nullopt;
      }
      switch (namePart(rule)) {
        case 1:
          return (reversed(rule) ? "!name: *" : "name: *") + name + "*";
        case 2:
          return (reversed(rule) ? "!name: " : "name: ") + name + "*";
        case 3:
          return (reversed(rule) ? "!name: *" : "name: *") + name;
        default:
          return (reversed(rule) ? "!name: " : "name: ") + name;
      }
    }
    case kSizeRule:
      return (reversed(rule) ? "size: < " : "size: > ") +
             shortestNumber(rule.value(rule_key::kSize).asReal());
  }
  why = localized("its kind has no condition expression");
  return std::nullopt;
}

}  // namespace

std::optional<std::string> conditionExpression(const TrashRule& rule, std::string& why) {
  if (!rule.value(rule_key::kEnabled).asBool()) {
    why = localized("it is disabled, and a condition expression is always enabled");
    return std::nullopt;
  }
  std::optional<std::string> expression = draftExpression(rule, why);
  if (!expression) return std::nullopt;
  // Whatever the draft cannot carry (a ":" or blanks around a name, a "*"
  // that would read as a mark, a negative or non-finite number) shows up
  // when it is read back.
  TrashRule readBack;
  std::string ignored;
  if (!parseCondition(*expression, readBack, ignored) || !sameTest(rule, readBack)) {
    why = localized("'%@' would not read back as the same condition", {*expression});
    return std::nullopt;
  }
  return expression;
}

std::string exportConfiguration(const FolderList& folders, const std::string& dataFile,
                                std::vector<std::string>& warnings) {
  Array entries;
  entries.reserve(folders.size());
  for (const TrashFolder& folder : folders) {
    const std::string path(folder.path());
    Dictionary entry;
    // The reader expands "Path" as a pattern: quote what would be a wildcard.
    std::string quoted;
    for (char c : path) {
      if (c == '*' || c == '?' || c == '[' || c == '\\') quoted += '\\';
      quoted += c;
    }
    entry.set("Path", Value::text(quoted));
    switch (folder.value(folder_key::kAction).asInteger()) {
      case TrashFolder::kDeleteAction:
        entry.set("Action", Value::text("delete"));
        break;
      case TrashFolder::kMoveAction:
        entry.set(
            "Action",
            Value::text("moveto:" + std::string(folder.value(folder_key::kDestination).asText())));
        break;
      default:
        entry.set("Action", Value::text("trash"));
        break;
    }
    if (!folder.value(folder_key::kEnabled).asBool()) entry.set("Disabled", Value::boolean(true));
    if (folder.value(folder_key::kDatedFolder).asBool())
      entry.set("MoveWithDate", Value::boolean(true));
    if (folder.value(folder_key::kMayBeAbsent).asBool())
      entry.set("NetworkDisk", Value::boolean(true));
    entry.set("MeetAllConditions",
              Value::integer(folder.value(folder_key::kMatchAll).asInteger() == 1 ? 1 : 0));
    if (folder.value(folder_key::kReadMeName).isText()) {
      entry.set("ReadMeFileName", folder.value(folder_key::kReadMeName));
      if (folder.value(folder_key::kReadMeText).isText())
        entry.set("ReadMeText", folder.value(folder_key::kReadMeText));
    }
    if (folder.value(folder_key::kBudget).isNumber()) {
      entry.set("Budget", Value::unsignedInteger(folder.value(folder_key::kBudget).asUnsigned()));
      const double minimumAge = folder.value(folder_key::kBudgetMinimumAge).asReal();
      if (minimumAge > 0) entry.set("BudgetMinimumAge", Value::text(budgetAgeText(minimumAge)));
    }

    Array conditions;
    for (size_t i = 0; i < folder.rules().size(); ++i) {
      const TrashRule& rule = folder.rules()[i];
      std::string why;
      if (std::optional<std::string> expression = conditionExpression(rule, why)) {
        conditions.push_back(Value::text(*expression));
        continue;
      }
      TrashRule described(rule);
      described.setValue(folder_key::kEnabled, Value::boolean(true));
      std::string description = prepareWithLog(described, true, process().clock())
                                    .value_or(localized("(unknown condition)"));
      warnings.push_back(localized("folder '%@': condition %@ (%@) left out: %@",
                                   {path, std::to_string(i + 1), description, why}));
    }
    // An empty list means "no conditions": without the key the reader would
    // give the folder the default condition instead.
    entry.set("Conditions", Value::array(std::move(conditions)));
    entries.push_back(Value::dictionary(std::move(entry)));
  }

  Dictionary root;
  root.set("DataFile", Value::text(dataFile));
  root.set("Folders", Value::array(std::move(entries)));
  return writeXmlPropertyList(Value::dictionary(std::move(root)));
}

}  // namespace sweeprun
