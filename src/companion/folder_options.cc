#include "companion/folder_options.h"

#include <filesystem>
#include <system_error>

#include "fs/path.h"
#include "model/record_keys.h"
#include "os/localization.h"
#include "os/process.h"
#include "os/text_case.h"
#include "settings/condition_parser.h"

namespace sweeprun {

namespace {

bool readAction(const std::string& text, FolderChanges& changes, std::string& error) {
  // The words of the configuration file's "Action", compared without regard
  // to case; the destination keeps its own case.
  constexpr std::string_view kMoveTo = "moveto:";
  const std::string lower = lowercaseText(text);
  if (lower == "trash") {
    changes.action = TrashFolder::kTrashAction;
  } else if (lower == "delete") {
    changes.action = TrashFolder::kDeleteAction;
  } else if (lower.compare(0, kMoveTo.size(), kMoveTo) == 0) {
    const std::string destination = text.substr(kMoveTo.size());
    if (destination.empty()) {
      error = localized("'moveto:' needs a destination folder, as in 'moveto:~/Archive'");
      return false;
    }
    changes.action = TrashFolder::kMoveAction;
    changes.destination = userPath(destination);
  } else {
    error = localized("unknown action '%@' (use trash, delete or moveto:DIR)", {text});
    return false;
  }
  return true;
}

bool isPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

// For a pair of options that set and unset one flag, the last one given wins.
std::optional<bool> flag(const ParsedArguments& arguments, std::string_view on,
                         std::string_view off) {
  std::optional<bool> value;
  for (const auto& option : arguments.options) {
    if (option.first == on) value = true;
    if (!off.empty() && option.first == off) value = false;
  }
  return value;
}

}  // namespace

bool FolderChanges::empty() const {
  return !action && !destination && !dated && !network && !enabled && !matchAll && !readMeName &&
         !readMeText && !removeReadMe && !budget && !budgetMinimumAge && !removeBudget &&
         !clearConditions && rules.empty();
}

const std::vector<OptionDefinition>& addOptionDefinitions() {
  static const std::vector<OptionDefinition> definitions = {
      {"action", true},    {"dated", false},   {"condition", true},      {"any", false},
      {"all", false},      {"network", false}, {"readme", true},         {"readme-text", true},
      {"disabled", false}, {"budget", true},   {"budget-min-age", true},
  };
  return definitions;
}

const std::vector<OptionDefinition>& editOptionDefinitions() {
  static const std::vector<OptionDefinition> definitions = [] {
    std::vector<OptionDefinition> all = addOptionDefinitions();
    all.insert(all.end(), {{"clear-conditions", false},
                           {"no-dated", false},
                           {"no-network", false},
                           {"no-readme", false},
                           {"no-budget", false},
                           {"enabled", false}});
    return all;
  }();
  return definitions;
}

bool readFolderChanges(const ParsedArguments& arguments, bool editing, FolderChanges& changes,
                       std::string& error) {
  changes = FolderChanges();
  if (std::optional<std::string> action = arguments.last("action")) {
    if (!readAction(*action, changes, error)) return false;
  }
  changes.dated = flag(arguments, "dated", editing ? "no-dated" : "");
  changes.network = flag(arguments, "network", editing ? "no-network" : "");
  if (std::optional<bool> disabled = flag(arguments, "disabled", editing ? "enabled" : "")) {
    changes.enabled = !*disabled;
  }
  if (std::optional<bool> any = flag(arguments, "any", "all")) changes.matchAll = !*any;

  changes.readMeName = arguments.last("readme");
  changes.readMeText = arguments.last("readme-text");
  changes.removeReadMe = arguments.has("no-readme");
  if (changes.readMeName && !isPlainFileName(*changes.readMeName)) {
    error = localized("the read-me name '%@' must be a plain file name", {*changes.readMeName});
    return false;
  }
  if (changes.removeReadMe && (changes.readMeName || changes.readMeText)) {
    error = localized("'--no-readme' cannot be combined with '--readme' or '--readme-text'");
    return false;
  }
  if (!editing && changes.readMeText && !changes.readMeName) {
    error = localized("'--readme-text' needs '--readme NAME'");
    return false;
  }

  changes.removeBudget = arguments.has("no-budget");
  if (std::optional<std::string> budget = arguments.last("budget")) {
    uint64_t bytes = 0;
    if (!parseBudgetSize(*budget, bytes, error)) return false;
    changes.budget = bytes;
  }
  if (std::optional<std::string> age = arguments.last("budget-min-age")) {
    double seconds = 0;
    if (!parseBudgetAge(*age, seconds, error)) return false;
    changes.budgetMinimumAge = seconds;
  }
  if (changes.removeBudget && (changes.budget || changes.budgetMinimumAge)) {
    error = localized("'--no-budget' cannot be combined with '--budget' or '--budget-min-age'");
    return false;
  }
  if (!editing && changes.budgetMinimumAge && !changes.budget) {
    error = localized("'--budget-min-age' needs '--budget SIZE'");
    return false;
  }

  changes.clearConditions = arguments.has("clear-conditions");
  for (const std::string& expression : arguments.all("condition")) {
    TrashRule rule;
    std::string warning;
    if (!parseCondition(expression, rule, error, &warning)) return false;
    if (!warning.empty()) changes.warnings.push_back(std::move(warning));
    if (rule.value(rule_key::kKind).asInteger() == kAgeRule) changes.once = rule.checkOnce();
    changes.rules.push_back(std::move(rule));
  }
  return true;
}

void applyFolderChanges(const FolderChanges& changes, TrashFolder& folder) {
  if (changes.action) {
    folder.setValue(folder_key::kAction, Value::integer(*changes.action));
    folder.setValue(folder_key::kDestination, Value::text(changes.destination.value_or("")));
  }
  if (changes.dated) folder.setValue(folder_key::kDatedFolder, Value::boolean(*changes.dated));
  if (changes.network) folder.setValue(folder_key::kMayBeAbsent, Value::boolean(*changes.network));
  if (changes.enabled) folder.setEnabled(*changes.enabled);
  if (changes.matchAll)
    folder.setValue(folder_key::kMatchAll, Value::integer(*changes.matchAll ? 1 : 0));
  if (changes.removeReadMe) {
    folder.data.remove(folder_key::kReadMeName);
    folder.data.remove(folder_key::kReadMeText);
  }
  if (changes.readMeName)
    folder.setValue(folder_key::kReadMeName, Value::text(*changes.readMeName));
  if (changes.readMeText)
    folder.setValue(folder_key::kReadMeText, Value::text(*changes.readMeText));

  if (changes.removeBudget) {
    folder.data.remove(folder_key::kBudget);
    folder.data.remove(folder_key::kBudgetMinimumAge);
    folder.data.remove(folder_key::kSizeAtLastCheck);
  }
  if (changes.budget) folder.setValue(folder_key::kBudget, Value::unsignedInteger(*changes.budget));
  if (changes.budgetMinimumAge) {
    folder.setValue(folder_key::kBudgetMinimumAge, Value::real(*changes.budgetMinimumAge));
  }

  if (changes.clearConditions) {
    folder.setRules({});
    folder.data.remove(folder_key::kOnceADay);
  }
  for (const TrashRule& rule : changes.rules) folder.rules().push_back(rule);
  if (changes.once) folder.setValue(folder_key::kOnceADay, Value::boolean(*changes.once));
}

std::string userPath(std::string_view typed) {
  if (typed.empty() || typed[0] == '/' || typed[0] == '~') {
    return standardizePath(typed, process().homeDirectory);
  }
  std::error_code failed;
  const std::filesystem::path here = std::filesystem::current_path(failed);
  return standardizePath(joinPath(failed ? std::string("/") : here.string(), typed),
                         process().homeDirectory);
}

}  // namespace sweeprun
