#include "engine/trash_collector.h"

#include "engine/daily_schedule.h"
#include "engine/loggable_text.h"
#include "engine/removal.h"
#include "fs/database_lock.h"
#include "fs/file_io.h"
#include "fs/path.h"
#include "fs/temporary_file.h"
#include "log/trash_log.h"
#include "os/localization.h"
#include "os/process.h"
#include "os/version.h"
#include "settings/settings.h"
#include "settings/trash_config_file_parser.h"

namespace sweeprun {

const std::vector<std::string> TrashCollector::kBuiltInIgnoreNames = {
    "Icon\r",     ".DS_Store", ".localized", ".Spotlight-V100", ".com.apple.timemachine.supported",
    ".fseventsd",
};

const std::vector<std::string> TrashCollector::kTimeSpecifiers = {
    "%c", "%H", "%I", "%k", "%l", "%M", "%R", "%r", "%S", "%s", "%T", "%X", "%+",
};

namespace {

constexpr const char* kUserDatabase = "~/Library/Application Support/Sweeply/Sweeply.data";

}  // namespace

bool TrashCollector::run() {
  Process& context = process();
  start = context.clock();
  planned_.clear();

  vips = kBuiltInIgnoreNames;
  if (context.systemMode) {
    if (TrashConfigFileParser* parser = configuration_) {
      if (std::optional<NameList> names = parser->globalIgnoreList()) {
        vips.insert(vips.end(), names->begin(), names->end());
      }
    }
  }

  logLine(localized("Sweeply started at %@.", {standardDateText(start)}));
  logLine(localized("Version %@\n", {versionText()}));
  if (!dryRun_) repairDateFormat();
  // Held from the read to the save, so that a change sweeply saves in
  // between is never overwritten (a dry run saves nothing and takes none).
  DatabaseLock lock;
  if (!dryRun_ && !lockDatabase(lock)) {
    logLine(localized("Sweeply finished at %@.", {standardDateText(context.clock())}));
    for (RunObserver* observer : observers_) observer->runFinished(failures_);
    return true;  // nothing was read, so nothing is checked: a failure, not an empty list
  }
  readDB();
  // The removals of the run share the folders they go to.
  RemovalSession removals;

  bool result = false;
  if (safe->countOfTrashFolderList() > 0) {
    // The count is taken again after every folder.
    for (size_t index = 0; index < safe->countOfTrashFolderList(); ++index) {
      TrashFolder& folder = safe->objectInTrashFolderListAtIndex(index);
      const std::string path = loggableText(folder.path());
      const ScheduleAnswer answer = canCheckToday(folder, start);
      if (answer != ScheduleAnswer::kCheckNow) {
        for (RunObserver* observer : observers_) observer->folderSkipped(folder, answer);
      }
      switch (answer) {
        case ScheduleAnswer::kNotEnabled:
          logLine(localized("Not checking folder '%@' (not enabled).\n", {path}));
          break;
        case ScheduleAnswer::kAlreadyCheckedToday:
          logLine(localized("Not checking folder '%@' (already checked today).\n", {path}));
          break;
        case ScheduleAnswer::kNotPresent:
          logLine(localized("Not checking folder '%@' (not present).\n", {path}));
          break;
        default:
          checkFolder(folder);
          break;
      }
    }
    result = true;
  }

  if (!dryRun_) saveDB();
  logLine(localized("Sweeply finished at %@.", {standardDateText(context.clock())}));
  for (RunObserver* observer : observers_) observer->runFinished(failures_);
  return result;
}

void TrashCollector::repairDateFormat() {
  Settings* settings = settings_;
  if (!settings) return;
  std::optional<std::string> format = settings->stringForKey("DateFormat");
  if (!format) return;
  for (const std::string& specifier : kTimeSpecifiers) {
    if (format->find(specifier) == std::string::npos) continue;
    Value replacement = Value::text("%F");
    if (process().systemMode) {
      settings->setObject(replacement, "DateFormat");
    } else {
      settings->setCompanionValue(replacement, "DateFormat");
    }
    TrashLog::err(localized("%@ contains the time string '%@'; reverting to the format '%@'.",
                            {"DateFormat", specifier, "%F"}));
    return;
  }
}

std::string TrashCollector::databasePath() const {
  if (process().systemMode) {
    TrashConfigFileParser* parser = configuration_;
    return parser && parser->dbPath() ? *parser->dbPath() : std::string();
  }
  return standardizePath(kUserDatabase, process().homeDirectory);
}

bool TrashCollector::lockDatabase(DatabaseLock& lock) {
  const std::string path = databasePath();
  // No folder for the database: there is nothing to read, and nothing will
  // be saved.
  if (path.empty() || !directoryExists(deletingLastPathComponent(path))) return true;
  std::string error;
  switch (DatabaseLock::acquire(path, kLockWait, lock, error)) {
    case DatabaseLock::Status::kLocked:
      return true;
    case DatabaseLock::Status::kBusy:
      TrashLog::err(localized(
          "The folder database '%@' is being changed by another program; nothing was checked.",
          {path}));
      break;
    case DatabaseLock::Status::kFailed:
      TrashLog::err(localized("Unable to lock the folder database '%@'.", {path}));
      TrashLog::err(error);
      break;
  }
  ++failures_;
  return false;
}

void TrashCollector::readDB() {
  std::string path = databasePath();
  FolderListMerger* merger = process().systemMode ? configuration_ : nullptr;
  databaseExisted_ = !path.empty() && fileExists(path);
  if (databaseExisted_) {
    safe->unarchiveWithFile(path, merger);
  } else if (!process().systemMode) {
    reportError(localizedString(
        "No folder database exists. Use 'sweeply add FOLDER' to watch a folder and create one."));
  } else {
    safe->unarchiveWithFile(std::nullopt, merger);
  }
}

void TrashCollector::reportError(std::string_view message) const {
  if (!dryRun_) TrashLog::err(message);
}

void TrashCollector::saveDB() {
  std::string path = databasePath();
  if (path.empty()) return;
  // A user-mode run without a database has nothing to keep, and an empty
  // database saved here would only hide from the next run that none exists.
  if (!process().systemMode && !databaseExisted_) return;
  // Without a folder for the database there is nothing to save into.
  if (!directoryExists(deletingLastPathComponent(path))) return;
  // The lock is held: no other save of this database runs, so whatever
  // temporary file is beside it was left by a killed one.
  removeAbandonedTemporariesOf(path, 0);
  std::string error;
  if (!safe->archiveToFile(path, error)) {
    ++failures_;
    TrashLog::err(localized("Unable to save the folder database to '%@'.", {path}));
    if (!error.empty()) TrashLog::err(error);
  }
}

}  // namespace sweeprun
