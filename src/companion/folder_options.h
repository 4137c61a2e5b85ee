#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "companion/command_line.h"
#include "model/trash_folder.h"
#include "model/trash_rule.h"

namespace sweeprun {

/// What "add" and "edit" were asked to set on a folder. Unset fields leave
/// the folder's value as it is.
struct FolderChanges {
  std::optional<int64_t> action;           // "play"
  std::optional<std::string> destination;  // "move", for the move action
  std::optional<bool> dated;               // "datf"
  std::optional<bool> network;             // "temp"
  std::optional<bool> enabled;             // "ison"
  std::optional<bool> matchAll;            // "gran" 1, or 0 for any
  std::optional<std::string> readMeName;   // "rfil"
  std::optional<std::string> readMeText;   // "rtxt"
  bool removeReadMe = false;
  std::optional<uint64_t> budget;          // "bdgt", bytes
  std::optional<double> budgetMinimumAge;  // "bage", seconds
  bool removeBudget = false;               // drops both
  bool clearConditions = false;
  /// One rule per condition expression, in the order given.
  std::vector<TrashRule> rules;
  /// The once-a-day flag the last age condition asks for, as the
  /// configuration reader sets it; none without age conditions.
  std::optional<bool> once;
  /// Warnings about conditions that were taken, but may not mean what their
  /// writer meant ("name: a*b" is matched as written).
  std::vector<std::string> warnings;

  bool empty() const;
};

/// The options of "add"; "edit" takes them too, with the ones that undo.
const std::vector<OptionDefinition>& addOptionDefinitions();
const std::vector<OptionDefinition>& editOptionDefinitions();

/// Reads the options of "add" or "edit" (|editing|). False, with the message
/// in |error|, for input that cannot be used: an unknown action, a condition
/// expression that does not parse, a read-me name that is not a plain file
/// name, contradicting options.
bool readFolderChanges(const ParsedArguments& arguments, bool editing, FolderChanges& changes,
                       std::string& error);

/// Applies |changes| to |folder|. Conditions are appended to the folder's
/// rules, after clearing them when asked; clearing leaves no rule at all, so
/// that nothing is removed until a condition is given again.
void applyFolderChanges(const FolderChanges& changes, TrashFolder& folder);

/// A path as the user typed it, made absolute (a leading "~" is the home
/// folder, a relative path starts at the working folder) and standardized.
std::string userPath(std::string_view typed);

}  // namespace sweeprun
