// The commands that change the folder list: add, edit, remove, enable,
// disable, check-now.
#include <ostream>

#include "companion/companion_app.h"
#include "companion/folder_options.h"
#include "companion/folder_report.h"
#include "companion/watch_checks.h"
#include "fs/dir_handle.h"
#include "model/record_keys.h"
#include "os/date.h"
#include "os/localization.h"
#include "os/process.h"

namespace sweeprun {

namespace {

// Whether runs could list |path| now, as the folder check opens it; the
// reason in |why| when not.
bool openable(const std::string& path, std::string& why) {
  DirHandle dir;
  switch (DirHandle::openDirectory(path, dir, why)) {
    case OpenStatus::kOpened:
      return true;
    case OpenStatus::kMissing:
      why = localizedString("it does not exist");
      return false;
    case OpenStatus::kNotDirectory:
      why = localizedString("it is not a folder (or a link runs would not follow)");
      return false;
    case OpenStatus::kFailed:
      return false;
  }
  return false;
}

// Refuses a watched folder or destination that runs could not use, unless
// the folder may be absent. |what| names the role in the message.
bool checkUsable(const CompanionCommand& command, const std::string& path, bool mayBeAbsent,
                 const char* what, int& status) {
  std::string why;
  if (openable(path, why)) return true;
  if (mayBeAbsent) return true;
  status = failure(command, localized(what, {path, why}));
  return false;
}

bool sameRules(const std::vector<TrashRule>& a, const std::vector<TrashRule>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].data != b[i].data) return false;
  }
  return true;
}

void printSummary(const TrashFolder& folder) {
  const Date now = process().clock();
  companionOut() << folderSummaryText(folderSummary(folder, now, false), now);
}

// enable and disable.
int setEnabled(const CompanionCommand& command, const std::vector<std::string>& arguments,
               bool enabled) {
  ParsedArguments parsed;
  int status = kCompanionSuccess;
  if (!parseCommandArguments(command, arguments, {}, 1, 1, parsed, status)) return status;
  FolderDatabase database(FolderDatabase::userDatabasePath());
  if (!loadDatabaseForChange(command, database, true)) return kCompanionFailure;
  TrashFolder* folder = findFolder(command, database, parsed.operands[0]);
  if (!folder) return kCompanionFailure;
  const std::string path(folder->path());
  if (folder->value(folder_key::kEnabled).asBool() == enabled) {
    companionOut() << localized(
        enabled ? "'%@' is already enabled.\n" : "'%@' is already disabled.\n", {path});
    return kCompanionSuccess;
  }
  folder->setEnabled(enabled);
  if (!saveDatabase(command, database)) return kCompanionFailure;
  companionOut() << localized(enabled ? "Enabled '%@'.\n" : "Disabled '%@'.\n", {path});
  return kCompanionSuccess;
}

}  // namespace

int runAdd(const CompanionCommand& command, const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  int status = kCompanionSuccess;
  if (!parseCommandArguments(command, arguments, addOptionDefinitions(), 1, 1, parsed, status)) {
    return status;
  }
  FolderChanges changes;
  std::string error;
  if (!readFolderChanges(parsed, false, changes, error)) return usageError(command, error);
  for (const std::string& warning : changes.warnings) {
    companionErr() << "sweeply " << command.name << ": " << localized("warning: %@", {warning})
                   << "\n";
  }
  const std::string path = userPath(parsed.operands[0]);
  if (path.empty()) return usageError(command, localizedString("the folder path is empty"));
  if (changes.destination && *changes.destination == path) {
    return usageError(command, localizedString("a folder cannot move its entries into itself"));
  }
  const bool network = changes.network.value_or(false);
  if (!checkUsable(command, path, network,
                   "cannot watch '%@': %@ (use --network for a folder that may be absent)",
                   status)) {
    return status;
  }
  if (changes.destination &&
      !checkUsable(command, *changes.destination, network,
                   "cannot move entries to '%@': %@ (use --network for a destination that may "
                   "be absent)",
                   status)) {
    return status;
  }

  FolderDatabase database(FolderDatabase::userDatabasePath());
  if (!loadDatabaseForChange(command, database, false)) return kCompanionFailure;
  if (database.find(path)) {
    return failure(command,
                   localized("'%@' is watched already; change it with 'sweeply edit'", {path}));
  }
  std::vector<std::string> paths = folderPaths(database.folders());
  paths.push_back(path);
  if (const std::optional<WatchRefusal> refusal = watchRefusals(paths).back()) {
    return failure(command, localized("cannot watch '%@': %@; watch a folder that holds none of "
                                      "the tool's own files, and each folder once",
                                      {path, refusal->text()}));
  }
  TrashFolder folder = TrashFolder::folderWithPath(path);
  folder.setPath(path, process());
  // Conditions given replace the default one.
  if (!changes.rules.empty()) changes.clearConditions = true;
  applyFolderChanges(changes, folder);
  database.folders().push_back(folder);
  if (!saveDatabase(command, database)) return kCompanionFailure;
  companionOut() << localized("Watching '%@'.\n", {path});
  printSummary(folder);
  return kCompanionSuccess;
}

int runEdit(const CompanionCommand& command, const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  int status = kCompanionSuccess;
  if (!parseCommandArguments(command, arguments, editOptionDefinitions(), 1, 1, parsed, status)) {
    return status;
  }
  FolderChanges changes;
  std::string error;
  if (!readFolderChanges(parsed, true, changes, error)) return usageError(command, error);
  for (const std::string& warning : changes.warnings) {
    companionErr() << "sweeply " << command.name << ": " << localized("warning: %@", {warning})
                   << "\n";
  }
  if (changes.empty()) return usageError(command, localizedString("nothing to change"));

  FolderDatabase database(FolderDatabase::userDatabasePath());
  if (!loadDatabaseForChange(command, database, true)) return kCompanionFailure;
  TrashFolder* folder = findFolder(command, database, parsed.operands[0]);
  if (!folder) return kCompanionFailure;
  const std::string path(folder->path());
  const size_t index = static_cast<size_t>(folder - database.folders().data());
  if (const std::optional<WatchRefusal> refusal =
          watchRefusals(folderPaths(database.folders()))[index]) {
    return failure(command, localized("runs do not check '%@': %@; stop watching it with "
                                      "'sweeply remove'",
                                      {path, refusal->text()}));
  }
  if (changes.readMeText && !changes.readMeName &&
      !folder->value(folder_key::kReadMeName).isText()) {
    return usageError(command, localizedString("'--readme-text' needs '--readme NAME'"));
  }
  if (changes.budgetMinimumAge && !changes.budget && folder->value(folder_key::kBudget).isNone()) {
    return usageError(command, localizedString("'--budget-min-age' needs '--budget SIZE'"));
  }
  if (changes.destination && *changes.destination == path) {
    return usageError(command, localizedString("a folder cannot move its entries into itself"));
  }
  const bool network = changes.network.value_or(folder->value(folder_key::kMayBeAbsent).asBool());
  if (changes.destination &&
      !checkUsable(command, *changes.destination, network,
                   "cannot move entries to '%@': %@ (use --network for a destination that may "
                   "be absent)",
                   status)) {
    return status;
  }

  const TrashFolder before(*folder);
  applyFolderChanges(changes, *folder);
  if (folder->data == before.data && sameRules(folder->rules(), before.rules())) {
    companionOut() << localized("'%@' already has these settings; nothing changed.\n", {path});
    return kCompanionSuccess;
  }
  if (!saveDatabase(command, database)) return kCompanionFailure;
  std::string why;
  if (!network && !openable(path, why)) {
    warning(command, localized("runs will report '%@' as missing: %@", {path, why}));
  }
  companionOut() << localized("Changed '%@'.\n", {path});
  printSummary(*folder);
  return kCompanionSuccess;
}

int runRemove(const CompanionCommand& command, const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  int status = kCompanionSuccess;
  if (!parseCommandArguments(command, arguments, {}, 1, 1, parsed, status)) return status;
  FolderDatabase database(FolderDatabase::userDatabasePath());
  if (!loadDatabaseForChange(command, database, true)) return kCompanionFailure;
  TrashFolder* folder = findFolder(command, database, parsed.operands[0]);
  if (!folder) return kCompanionFailure;
  const std::string path(folder->path());
  database.folders().erase(database.folders().begin() + (folder - database.folders().data()));
  if (!saveDatabase(command, database)) return kCompanionFailure;
  companionOut() << localized("No longer watching '%@'; nothing in it was touched.\n", {path});
  return kCompanionSuccess;
}

int runEnable(const CompanionCommand& command, const std::vector<std::string>& arguments) {
  return setEnabled(command, arguments, true);
}

int runDisable(const CompanionCommand& command, const std::vector<std::string>& arguments) {
  return setEnabled(command, arguments, false);
}

int runCheckNow(const CompanionCommand& command, const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  int status = kCompanionSuccess;
  if (!parseCommandArguments(command, arguments, {}, 1, 1, parsed, status)) return status;
  FolderDatabase database(FolderDatabase::userDatabasePath());
  if (!loadDatabaseForChange(command, database, true)) return kCompanionFailure;
  TrashFolder* folder = findFolder(command, database, parsed.operands[0]);
  if (!folder) return kCompanionFailure;
  const std::string path(folder->path());
  if (!folder->value(folder_key::kOnceADay).asBool()) {
    // The schedule looks at "next" only for once-a-day folders.
    companionOut() << localized("'%@' is checked on every run; no extra check is needed.\n",
                                {path});
    return kCompanionSuccess;
  }
  const Date now = process().clock();
  if (!folder->value(folder_key::kCheckAgainOn).isNone() &&
      dayStamp(folder->dateForKey(folder_key::kCheckAgainOn)) == dayStamp(now)) {
    companionOut() << localized("An extra check of '%@' is already requested for today.\n", {path});
    return kCompanionSuccess;
  }
  folder->setDate(now, folder_key::kCheckAgainOn);
  if (!saveDatabase(command, database)) return kCompanionFailure;
  if (!folder->value(folder_key::kEnabled).asBool()) {
    warning(command, localized("'%@' is disabled: enable it for the check to happen", {path}));
  }
  companionOut() << localized("The next run today checks '%@' again.\n", {path});
  return kCompanionSuccess;
}

}  // namespace sweeprun
