#pragma once

#include <string>
#include <vector>

namespace sweeprun {

/// Values the start-up returns when it ends the process before a run. The
/// exit status is the low 8 bits (119 down to 112).
enum StartupFailure : int {
  kNotRoot = -7049,
  kToolNotOwnedByRoot = -7050,
  kToolWritable = -7051,
  kConfigMissing = -7052,
  kConfigNotOwnedByRoot = -7053,
  kConfigAccessibleByOthers = -7054,
  kConfigNotRegularFile = -7055,
  kConfigInvalid = -7056,
};

/// Exit statuses of a start-up that ran, or refused its command line.
enum RunStatus : int {
  /// An entry could not be removed, moved or trashed, or the folder
  /// database could not be saved (sysexits' EX_IOERR).
  kRunFailures = 74,
  /// An unknown option; nothing was read or changed (EX_USAGE).
  kUsageError = 64,
};

struct RunWorld;

/// Fills the values that come from the running process itself: the home
/// folder (HOME, else the account database), the executable's folder, the
/// standard streams, and the system's account database and mount table.
/// The fixed paths are left as they are.
void fillRunningProcess(RunWorld& context);

/// One start of the tool over the current process context (process()):
/// scans the options of |arguments| (argv, the program name first), runs the
/// privilege and permission tests of system and check mode, installs the
/// settings object of the mode, opens the run log when "LogToFile" is on,
/// runs the collection, closes the run log and, after a system-mode run,
/// pauses. Messages go to process().out; an exception is reported as "Died
/// with exception: <reason>" to the system log and returns 1. Returns 0 or 1
/// after a run or a version/check/disabled ending, or a StartupFailure.
/// The settings object and run log it installs are gone when it returns.
int startup(const std::vector<std::string>& arguments);

/// The process exit status for a value returned by startup().
inline int exitStatusOf(int returned) { return returned & 0xff; }

}  // namespace sweeprun
