#include "companion/companion_app.h"

#include <algorithm>
#include <iostream>
#include <ostream>

#include "companion/folder_options.h"
#include "fs/dir_handle.h"
#include "os/localization.h"
#include "fs/path.h"
#include "os/process.h"
#include "os/process_info.h"
#include "os/version.h"
#include "settings/user_stores.h"

namespace sweeprun {

namespace {

constexpr std::string_view kFolderOptionsHelp =
    "  --action ACTION     what happens to an entry the conditions condemn: trash\n"
    "                      (the default), delete, or moveto:DIR\n"
    "  --dated             move into a sub-folder named after the date\n"
    "  --condition EXPR    one condition, in the configuration file's syntax;\n"
    "                      repeat for more: 'delay: 2 weeks', 'delay: 5 checks',\n"
    "                      'size: > 1000000', 'name: *.dmg', '!name: Keep*'\n"
    "  --all, --any        an entry goes when all conditions hold (the default),\n"
    "                      or when any one does\n"
    "  --network           the folder (and its destination) may be absent, as\n"
    "                      on a volume that is not always mounted\n"
    "  --readme NAME       keep a read-only read-me file NAME in the folder\n"
    "  --readme-text TEXT  the text of that read-me file\n"
    "  --disabled          keep the folder in the list without checking it\n"
    "  --budget SIZE       after the conditions, remove the oldest entries until\n"
    "                      the folder holds no more than SIZE ('20 GB', '500MiB')\n"
    "  --budget-min-age AGE  never remove for the budget what was first seen\n"
    "                      within AGE ('2 days')\n";

const std::string kAddHelp =
    std::string(
        "usage: sweeply add PATH [options]\n"
        "\n"
        "Watches the folder PATH. Without --condition the folder gets the default\n"
        "condition (entries checked in more than 13 weeks ago). PATH must be an\n"
        "existing folder unless --network is given. Creates the folder database\n"
        "when there is none.\n"
        "\n"
        "Options:\n") +
    std::string(kFolderOptionsHelp);

const std::string kEditHelp =
    std::string(
        "usage: sweeply edit PATH [options]\n"
        "\n"
        "Changes the settings of a watched folder; what is not named stays as it\n"
        "is. --condition adds conditions after the folder's own; with\n"
        "--clear-conditions they replace them. A folder left without conditions\n"
        "removes nothing.\n"
        "\n"
        "Options (those of add, and):\n") +
    std::string(kFolderOptionsHelp) +
    "  --clear-conditions  drop the folder's conditions first\n"
    "  --enabled           check the folder again (see also enable/disable)\n"
    "  --no-dated, --no-network, --no-readme, --no-budget\n"
    "                      undo --dated, --network, --readme, --budget\n";

const CompanionCommand kCommands[] = {
    {"add", "watch a folder", kAddHelp, runAdd},
    {"edit", "change a watched folder's settings and conditions", kEditHelp, runEdit},
    {"remove", "stop watching a folder (its files are not touched)",
     "usage: sweeply remove PATH\n"
     "\n"
     "Removes the folder from the folder database, with its history. Nothing in\n"
     "the folder itself is touched.\n",
     runRemove},
    {"enable", "check a watched folder again",
     "usage: sweeply enable PATH\n\nLets runs check the folder again.\n", runEnable},
    {"disable", "keep a watched folder without checking it",
     "usage: sweeply disable PATH\n\nKeeps the folder and its history, but runs skip it.\n",
     runDisable},
    {"check-now", "ask for an extra check of a once-a-day folder today",
     "usage: sweeply check-now PATH\n"
     "\n"
     "A folder with an age condition over three days is checked once a day. This\n"
     "asks for one more check today: the next run checks it even if it was\n"
     "checked today already.\n",
     runCheckNow},
    {"list", "the watched folders with their state and conditions",
     "usage: sweeply list [--json]\n"
     "\n"
     "Shows every watched folder: enabled, action, once a day, last check,\n"
     "checks, entries taken in and moved out, entries removed by the last check,\n"
     "and its conditions as runs describe them.\n"
     "\n"
     "  --json  for scripts: {\"database\": PATH, \"folders\": [FOLDER...]}, each\n"
     "          FOLDER with the keys path, name, enabled, action (trash, delete,\n"
     "          moveto), destination, dated, network, onceADay, matchAll,\n"
     "          lastCheck, checkRequestedFor, checks, takenIn, movedOut,\n"
     "          removedByLastCheck, budget ({bytes, minimumAgeSeconds,\n"
     "          sizeAtLastCheck} or null), readMe ({name, text} or null) and rules\n"
     "          ([{description, expression, enabled}]). Dates are UTC texts such\n"
     "          as \"2026-01-02T10:00:00Z\", or null.\n",
     runList},
    {"show", "one watched folder with its tracked entries",
     "usage: sweeply show PATH [--json]\n"
     "\n"
     "Shows what list shows for one folder, and the entries it tracks with their\n"
     "check-in date, age and checks survived.\n"
     "\n"
     "  --json  the folder as list --json gives it, with \"items\": [{name, path,\n"
     "          checkedIn, ageSeconds, hits, size}]\n",
     runShow},
    {"preview", "what a run now would do, touching nothing",
     "usage: sweeply preview [PATH] [--json] [--system]\n"
     "\n"
     "Runs the collector in a dry run: every folder (or only PATH) is decided as\n"
     "a run now would decide it, but nothing is moved, deleted or written, and\n"
     "the folder database is not saved. Each entry is kept, taken in, started\n"
     "over (it changed), removed (trash, delete or move, and to where),\n"
     "deferred (the destination is absent for now) or not removed (and why).\n"
     "\n"
     "  --json    for scripts: {\"folders\": [{path, checked, reason, entries:\n"
     "            [{name, decision, action, destination, target, reason, budget,\n"
     "            hits}]}]}; budget is true for an entry the size budget takes\n"
     "  --system  as root: what 'sweeprun -s' would do now, from /etc/sweeprun.plist\n"
     "            and its DataFile; a trashed entry goes to its owner's Trash\n",
     runPreview, true},
    {"import", "add or update folders from a configuration file",
     "usage: sweeply import FILE\n"
     "\n"
     "Reads FILE as the configuration file of system mode is read (the same\n"
     "keys, checks and condition expressions; \"DataFile\" must name a file in an\n"
     "existing folder) and merges its folders into the user's folder database:\n"
     "a folder already watched takes the file's settings and keeps its history,\n"
     "a new one is added, and the other watched folders stay as they are.\n"
     "Settings keys in the file (LogToFile, ...) are not imported: see prefs.\n",
     runImport},
    {"check-config", "check a configuration file before it is installed",
     "usage: sweeply check-config FILE\n"
     "\n"
     "Checks FILE as 'sweeprun -t' checks /etc/sweeprun.plist (its syntax,\n"
     "keys, conditions and folders), by any user and wherever it lies. What\n"
     "check mode would refuse about the file's own place, owner and mode is\n"
     "told as notes. Prints the warnings and \"FILE: OK\" (status 0), or the\n"
     "error (status 1). Nothing is read but the file and what it names.\n",
     runCheckConfig, true},
    {"export", "write the watched folders as a configuration file",
     "usage: sweeply export [--output FILE] [--data-file PATH]\n"
     "\n"
     "Writes the watched folders as a configuration file that 'sweeprun -t'\n"
     "accepts, on standard output or into FILE (created 0600). A condition that\n"
     "no expression can state (a disabled one, for instance) is left out with a\n"
     "warning.\n"
     "\n"
     "  --output FILE     write into FILE instead of standard output\n"
     "  --data-file PATH  the file's DataFile (default: the user's folder\n"
     "                    database)\n",
     runExport},
    {"prefs", "read and set the shared settings",
     "usage: sweeply prefs [KEY [VALUE]]\n"
     "       sweeply prefs --unset KEY\n"
     "\n"
     "Without KEY shows the shared settings as runs read them, and where\n"
     "each comes from. KEY alone shows one. KEY VALUE stores it in the\n"
     "companion's preferences (org.sweeply.Sweeply):\n"
     "  LogToFile    yes or no: keep a run log\n"
     "  LogFileName  the run log's path (a leading ~ is the home folder)\n"
     "  LogLimit     days of run log to keep; 0 keeps everything\n"
     "  DateFormat   an strftime format without a time of day, such as %F\n"
     "  MetricsFile  the metrics file each run replaces (a leading ~ is the\n"
     "               home folder; its folder must exist)\n",
     runPrefs},
    {"history", "what recent runs removed, from the run journal",
     "usage: sweeply history [--json] [--limit N] [--system]\n"
     "       sweeply history RUN [--json] [--system]\n"
     "\n"
     "Lists the recent runs that trashed, moved or deleted anything, newest\n"
     "first: when, the mode, and per watched folder how many entries each action\n"
     "took. With RUN (its identifier, or a prefix only it has) lists every entry\n"
     "of that run: the action, where it was and where it went. A run that stopped\n"
     "removing because its journal could take no more is marked incomplete.\n"
     "\n"
     "  --limit N  at most N runs (default 10)\n"
     "  --system   the journal of system mode (as root)\n"
     "  --json     for scripts: {\"journal\": PATH, \"runs\": [{run, started, mode,\n"
     "             entries, putBack, incomplete, unrecorded, folders: [{path,\n"
     "             trash, move, delete}]}]};\n"
     "             with RUN the run itself, with \"entries\": [{entry, action,\n"
     "             folder, original, destination, trashInfo, type, size, device,\n"
     "             inode, modified, putBack}]\n",
     runHistory, true},
    {"undo", "put back what a run trashed or moved",
     "usage: sweeply undo [RUN] [--dry-run] [--disable] [--json] [--system]\n"
     "\n"
     "Puts back every entry that the run RUN (default: the last run that removed\n"
     "anything) trashed or moved, newest first. An entry goes back only while the\n"
     "place it went still holds that same entry, and never over an entry at its\n"
     "original path: either is reported and left where it is. A trashed entry's\n"
     "Trash info file goes with it, and a dated sub-folder the run made goes when\n"
     "it is empty again. Deleted entries are reported as not undoable. What was\n"
     "put back is recorded in the journal, so a second undo leaves it alone; an\n"
     "entry already back at its original path (restored by other means) counts\n"
     "as already put back. Entries put back are new entries to the next run:\n"
     "their age starts again, and a rule by name or size takes them again at\n"
     "once. The undo names each folder whose rules would do so.\n"
     "A journal line whose paths do not hang together (not from a run of this\n"
     "mode, a trashed entry outside a Trash, an info file or folder that is not\n"
     "the entry's) is refused and touches nothing. A run whose journal is\n"
     "incomplete is named in a warning. Exit status 1 when any entry could not\n"
     "be put back, or the run removed one that its journal does not hold.\n"
     "\n"
     "  --dry-run  only tell what would be done\n"
     "  --disable  also disable the folders that would take entries again\n"
     "  --system   the journal of system mode (as root)\n"
     "  --json     for scripts: {run, dryRun, incomplete, unrecorded, entries:\n"
     "             [{entry, action, original, destination, outcome, detail,\n"
     "             note}], removedFolders, foreignFolders, takenAgainBy:\n"
     "             [{folder, entries}], disabled}\n",
     runUndo, true},
    {"restore-previous", "go back to the copy of the folder database the last save kept",
     "usage: sweeply restore-previous [--yes]\n"
     "\n"
     "Every save keeps the folder database it replaces as '<database>.previous'.\n"
     "This shows what that copy holds (its date, and its folders as list shows\n"
     "them) and, with --yes, puts it back in place of a database that cannot be\n"
     "read (or is missing); the damaged file is kept as '<database>.damaged'. A\n"
     "database that can be read is left as it is: move it away first to go back\n"
     "anyway. Without --yes nothing is changed.\n"
     "\n"
     "  --yes  put the copy back\n",
     runRestorePrevious},
};

void printOverview(std::ostream& out) {
  out << "usage: sweeply COMMAND [ARGUMENTS]\n"
         "\n"
         "Sets up and inspects the folders that 'sweeprun' keeps tidy.\n"
         "\n"
         "Commands:\n";
  size_t width = 0;
  for (const CompanionCommand& command : kCommands) width = std::max(width, command.name.size());
  for (const CompanionCommand& command : kCommands) {
    std::string name(command.name);
    name.resize(width + 2, ' ');
    out << "  " << name << command.summary << "\n";
  }
  out << "\n"
         "'sweeply COMMAND --help' tells more about one command. Exit status: 0 done,\n"
         "1 failed (nothing changed), 2 wrong usage.\n";
}

const CompanionCommand* commandNamed(std::string_view name) {
  for (const CompanionCommand& command : kCommands) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

std::string usageLine(const CompanionCommand& command) {
  const std::string_view help = command.help;
  return std::string(help.substr(0, help.find('\n')));
}

}  // namespace

std::ostream& companionOut() { return process().out ? *process().out : std::cout; }
std::ostream& companionErr() { return process().err ? *process().err : std::cerr; }

int runCompanion(const std::vector<std::string>& arguments) {
  if (arguments.size() < 2) {
    printOverview(companionErr());
    return kCompanionUsage;
  }
  const std::string& name = arguments[1];
  if (name == "-h" || name == "--help" || name == "help") {
    if (arguments.size() > 2) {
      if (const CompanionCommand* command = commandNamed(arguments[2])) {
        companionOut() << command->help;
        return kCompanionSuccess;
      }
    }
    printOverview(companionOut());
    return kCompanionSuccess;
  }
  if (name == "--version") {
    companionOut() << localized("sweeply %@\n", {versionText()});
    return kCompanionSuccess;
  }
  const CompanionCommand* command = commandNamed(name);
  if (!command) {
    companionErr() << localized("sweeply: '%@' is not a command. See 'sweeply --help'.\n", {name});
    return kCompanionUsage;
  }
  if (process().homeDirectory.empty() || process().homeDirectory[0] != '/') {
    // Every store lies below the home folder; without one there is none.
    return failure(*command, localizedString("no home folder is known; set HOME"));
  }
  if (!command->checksStoresItself && !useUserStores(*command)) return kCompanionFailure;
  const std::vector<std::string> rest(arguments.begin() + 2, arguments.end());
  return command->run(*command, rest);
}

bool parseCommandArguments(const CompanionCommand& command,
                           const std::vector<std::string>& arguments,
                           const std::vector<OptionDefinition>& definitions, size_t maxOperands,
                           size_t minOperands, ParsedArguments& parsed, int& status) {
  std::string error;
  if (!parseArguments(arguments, definitions, maxOperands, parsed, error)) {
    status = usageError(command, error);
    return false;
  }
  if (parsed.help) {
    companionOut() << command.help;
    status = kCompanionSuccess;
    return false;
  }
  if (parsed.operands.size() < minOperands) {
    status = usageError(command, localizedString("missing argument"));
    return false;
  }
  return true;
}

int usageError(const CompanionCommand& command, const std::string& message) {
  companionErr() << "sweeply " << command.name << ": " << message << "\n"
                 << usageLine(command) << "\n";
  return kCompanionUsage;
}

int failure(const CompanionCommand& command, const std::string& message) {
  companionErr() << "sweeply " << command.name << ": " << message << "\n";
  return kCompanionFailure;
}

void warning(const CompanionCommand& command, const std::string& message) {
  companionErr() << "sweeply " << command.name << ": " << localized("warning: %@", {message})
                 << "\n";
}

bool useUserStores(const CompanionCommand& command) {
  const unsigned user = effectiveUserId();
  companionErr() << foreignHomeWarning(process(), "sweeply", user);
  std::string error;
  if (userStoresAreOwned(process().homeDirectory, user, error)) return true;
  failure(command, localized("%@; user-mode commands use only files that belong to the user "
                             "running them and that no one else can write; nothing was read or "
                             "changed",
                             {error}));
  return false;
}

bool loadDatabase(const CompanionCommand& command, FolderDatabase& database, bool mustExist,
                  const TrashFolder::ItemSelection& withItems) {
  std::string error;
  switch (database.load(error, withItems)) {
    case FolderDatabase::LoadStatus::kLoaded:
      return true;
    case FolderDatabase::LoadStatus::kMissing:
      if (!mustExist) return true;
      failure(command, localized("no folder database at '%@' yet; add a folder with 'sweeply add "
                                 "PATH'",
                                 {database.path()}));
      return false;
    case FolderDatabase::LoadStatus::kDamaged:
      failure(command, FolderStore::damagedText(database.path(), error, false));
      return false;
  }
  return false;
}

bool loadDatabaseForChange(const CompanionCommand& command, FolderDatabase& database,
                           bool mustExist) {
  // The lock file lives beside the database; a first "add" makes its folder.
  std::string error;
  DirHandle folder;
  if (DirHandle::createDirectories(deletingLastPathComponent(database.path()), folder, error) !=
      OpenStatus::kOpened) {
    failure(command, localized("cannot make the folder of '%@': %@", {database.path(), error}));
    return false;
  }
  switch (database.lock(kChangeLockWait, error)) {
    case DatabaseLock::Status::kLocked:
      return loadDatabase(command, database, mustExist);
    case DatabaseLock::Status::kBusy:
      failure(command, localized("a run is in progress and keeps the folder database '%@'; nothing "
                                 "was changed, try again when it has ended",
                                 {database.path()}));
      return false;
    case DatabaseLock::Status::kFailed:
      break;
  }
  failure(command, localized("cannot lock the folder database '%@': %@", {database.path(), error}));
  return false;
}

bool saveDatabase(const CompanionCommand& command, FolderDatabase& database) {
  std::string error;
  if (database.save(error)) return true;
  failure(command, localized("cannot save the folder database '%@': %@", {database.path(), error}));
  return false;
}

TrashFolder* findFolder(const CompanionCommand& command, FolderDatabase& database,
                        const std::string& typed) {
  if (TrashFolder* folder = database.find(userPath(typed))) return folder;
  // A stored path that is not in standard form can still be named as it is.
  if (TrashFolder* folder = database.find(typed)) return folder;
  failure(command, localized("'%@' is not a watched folder (see 'sweeply list')", {typed}));
  return nullptr;
}

}  // namespace sweeprun
