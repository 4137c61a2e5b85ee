#pragma once

#include <chrono>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "companion/command_line.h"
#include "companion/folder_database.h"
#include "fs/database_lock.h"

namespace sweeprun {

/// Exit statuses of the companion command.
enum CompanionStatus : int {
  kCompanionSuccess = 0,
  kCompanionFailure = 1,  // the command could not be done; nothing was changed
  kCompanionUsage = 2,    // the command line itself is wrong
};

/// Runs one "sweeply" command line over the process context: |arguments| is
/// argv, the program name first. Results go to process().out, messages to
/// process().err. Returns a CompanionStatus.
int runCompanion(const std::vector<std::string>& arguments);

// Shared by the commands.

/// One command: its name, a one-line summary, and its help text (usage
/// line first).
struct CompanionCommand {
  std::string_view name;
  std::string_view summary;
  std::string_view help;
  int (*run)(const CompanionCommand& command, const std::vector<std::string>& arguments);
  /// The command decides itself whether it uses the user-mode stores: one
  /// that takes "--system" (the stores of system mode) calls useUserStores
  /// once its arguments are read, when that is not given; check-config
  /// uses none. Every other command works on the user-mode stores, checked
  /// before it starts.
  bool checksStoresItself = false;
};

std::ostream& companionOut();
std::ostream& companionErr();

/// Parses the command's arguments; on failure prints the message and the
/// usage line and returns false with |status| kCompanionUsage. With "--help"
/// prints the help and returns false with |status| kCompanionSuccess.
bool parseCommandArguments(const CompanionCommand& command,
                           const std::vector<std::string>& arguments,
                           const std::vector<OptionDefinition>& definitions, size_t maxOperands,
                           size_t minOperands, ParsedArguments& parsed, int& status);

/// "sweeply <command>: <message>" with the usage line; kCompanionUsage.
int usageError(const CompanionCommand& command, const std::string& message);
/// "sweeply <command>: <message>"; kCompanionFailure.
int failure(const CompanionCommand& command, const std::string& message);
/// "sweeply <command>: <message>" for something the user should know.
void warning(const CompanionCommand& command, const std::string& message);

/// Before a command reads or changes a user-mode store: tells when root runs
/// over a home folder not its own, and checks that every store and the
/// folders on the way belong to the effective user and that no one else can
/// write them (userStoresAreOwned). False after reporting the first that
/// fails.
bool useUserStores(const CompanionCommand& command);

/// Loads the user's folder database. False, after reporting why, when it is
/// damaged, or when it is missing and |mustExist|. |withItems| as
/// FolderDatabase::load takes it: given, the load is for a report only.
bool loadDatabase(const CompanionCommand& command, FolderDatabase& database, bool mustExist,
                  const TrashFolder::ItemSelection& withItems = nullptr);
/// Takes the database's lock (waiting up to kChangeLockWait for a run to
/// save), then loads it as loadDatabase does. False, after reporting why,
/// when a run kept the lock all that time or the lock could not be taken.
/// The lock is held as long as |database| lives.
bool loadDatabaseForChange(const CompanionCommand& command, FolderDatabase& database,
                           bool mustExist);
/// How long a command that changes the database waits for a run.
constexpr std::chrono::seconds kChangeLockWait{30};
/// Saves it; false after reporting why.
bool saveDatabase(const CompanionCommand& command, FolderDatabase& database);
/// The watched folder the user named (any spelling of its path), or null
/// after reporting that there is none.
TrashFolder* findFolder(const CompanionCommand& command, FolderDatabase& database,
                        const std::string& typed);

// The commands.
int runAdd(const CompanionCommand&, const std::vector<std::string>&);
int runEdit(const CompanionCommand&, const std::vector<std::string>&);
int runRemove(const CompanionCommand&, const std::vector<std::string>&);
int runEnable(const CompanionCommand&, const std::vector<std::string>&);
int runDisable(const CompanionCommand&, const std::vector<std::string>&);
int runCheckNow(const CompanionCommand&, const std::vector<std::string>&);
int runList(const CompanionCommand&, const std::vector<std::string>&);
int runShow(const CompanionCommand&, const std::vector<std::string>&);
int runPreview(const CompanionCommand&, const std::vector<std::string>&);
int runImport(const CompanionCommand&, const std::vector<std::string>&);
int runCheckConfig(const CompanionCommand&, const std::vector<std::string>&);
int runExport(const CompanionCommand&, const std::vector<std::string>&);
int runPrefs(const CompanionCommand&, const std::vector<std::string>&);
int runHistory(const CompanionCommand&, const std::vector<std::string>&);
int runUndo(const CompanionCommand&, const std::vector<std::string>&);
int runRestorePrevious(const CompanionCommand&, const std::vector<std::string>&);

}  // namespace sweeprun
