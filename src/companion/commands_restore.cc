// restore-previous: puts back the copy of the folder database that the last
// save kept, after showing what it holds.
#include <ostream>

#include "companion/companion_app.h"
#include "companion/folder_report.h"
#include "fs/previous_copy.h"
#include "os/localization.h"
#include "os/process.h"

namespace sweeprun {

namespace {

const std::vector<OptionDefinition> kRestoreOptions = {{"yes", false}};

}  // namespace

int runRestorePrevious(const CompanionCommand& command, const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  int status = kCompanionSuccess;
  if (!parseCommandArguments(command, arguments, kRestoreOptions, 0, 0, parsed, status)) {
    return status;
  }
  FolderDatabase database(FolderDatabase::userDatabasePath());
  const std::string previous = database.path() + kPreviousCopySuffix;
  const std::optional<FileIdentity> shown = identityOfFile(previous);
  if (!shown) {
    return failure(command, localized("there is no copy '%@' to go back to: the first save of the "
                                      "folder database makes one; nothing was changed",
                                      {previous}));
  }
  // Held until the copy is back, so that no run or command saves meanwhile.
  std::string error;
  switch (database.lock(kChangeLockWait, error)) {
    case DatabaseLock::Status::kLocked:
      break;
    case DatabaseLock::Status::kBusy:
      return failure(command, localized("a run is in progress and keeps the folder database '%@'; "
                                        "nothing was changed, try again when it has ended",
                                        {database.path()}));
    case DatabaseLock::Status::kFailed:
      return failure(command, localized("cannot lock the folder database '%@': %@",
                                        {database.path(), error}));
  }
  const FolderDatabase::LoadStatus current = database.load(error);
  const bool damaged = current == FolderDatabase::LoadStatus::kDamaged;
  if (current == FolderDatabase::LoadStatus::kLoaded) {
    return failure(command,
                   localized("the folder database '%@' can be read, so it is kept; to go back to "
                             "'%@' anyway, move the database away first; nothing was changed",
                             {database.path(), previous}));
  }
  FolderDatabase copy(previous);
  if (copy.load(error) != FolderDatabase::LoadStatus::kLoaded) {
    return failure(command, localized("the copy '%@' cannot be read either (%@); nothing was changed",
                                      {previous, error}));
  }

  const Date now = process().clock();
  const Date saved = Date::fromUnix(static_cast<double>(shown->modifiedNanoseconds) / 1e9);
  std::ostream& out = companionOut();
  out << localized("The copy '%@', saved %@, watches %@:\n",
                   {previous, standardDateText(saved),
                    countText(copy.folders().size(), "folder", "folders")});
  for (const TrashFolder& folder : copy.folders()) {
    out << "\n" << folderSummaryText(folderSummary(folder, now, false), now);
  }
  out << "\n";
  if (!parsed.has("yes")) {
    out << localizedString("Nothing was changed. 'sweeply restore-previous --yes' puts it back.\n");
    return kCompanionSuccess;
  }
  if (!restorePreviousCopy(database.path(), *shown, error)) {
    return failure(command, localized("cannot put back '%@': %@; nothing was changed",
                                      {previous, error}));
  }
  out << localized("Put back as '%@'.", {database.path()});
  if (damaged) {
    out << localized(" The damaged file is kept as '%@'.",
                     {database.path() + kReplacedCopySuffix});
  }
  out << "\n";
  return kCompanionSuccess;
}

}  // namespace sweeprun
