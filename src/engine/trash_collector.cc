#include "engine/trash_collector.h"

#include "engine/daily_schedule.h"
#include "engine/loggable_text.h"
#include "engine/removal.h"
#include "fs/file_io.h"
#include "fs/path.h"
#include "log/trash_log.h"
#include "model/folder_store.h"
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

  logLine(process().runLog, localized("Sweeply started at %@.", {standardDateText(start)}));
  logLine(process().runLog, localized("Version %@\n", {versionText()}));
  if (!dryRun_) repairDateFormat();
  // Held from the read to the save, so that a change sweeply saves in
  // between is never overwritten (a dry run saves nothing and takes none).
  store_.reset();
  if (!dryRun_ && !lockDatabase()) {
    logLine(process().runLog,
            localized("Sweeply finished at %@.", {standardDateText(context.clock())}));
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
          logLine(process().runLog, localized("Not checking folder '%@' (not enabled).\n", {path}));
          break;
        case ScheduleAnswer::kAlreadyCheckedToday:
          logLine(process().runLog,
                  localized("Not checking folder '%@' (already checked today).\n", {path}));
          break;
        case ScheduleAnswer::kNotPresent:
          logLine(process().runLog, localized("Not checking folder '%@' (not present).\n", {path}));
          break;
        default:
          checkFolder(folder);
          break;
      }
    }
    result = true;
  }

  if (!dryRun_) saveDB();
  logLine(process().runLog,
          localized("Sweeply finished at %@.", {standardDateText(context.clock())}));
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
    TrashLog::err(process().runLog,
                  localized("%@ contains the time string '%@'; reverting to the format '%@'.",
                            {"DateFormat", specifier, "%F"}));
    return;
  }
}

std::string TrashCollector::databasePath() const {
  if (process().systemMode) {
    TrashConfigFileParser* parser = configuration_;
    return parser && parser->dbPath() ? *parser->dbPath() : std::string();
  }
  return FolderStore::userDatabasePath(process().homeDirectory);
}

bool TrashCollector::lockDatabase() {
  store_.emplace(databasePath(), process());
  const std::string& path = store_->path();
  // No folder for the database: there is nothing to read, and nothing will
  // be saved.
  if (path.empty() || !directoryExists(deletingLastPathComponent(path))) return true;
  std::string error;
  switch (store_->lock(kLockWait, error)) {
    case DatabaseLock::Status::kLocked:
      return true;
    case DatabaseLock::Status::kBusy:
      TrashLog::err(
          process().runLog,
          localized(
              "The folder database '%@' is being changed by another program; nothing was checked.",
              {path}));
      break;
    case DatabaseLock::Status::kFailed:
      TrashLog::err(process().runLog,
                    localized("Unable to lock the folder database '%@'.", {path}));
      TrashLog::err(process().runLog, error);
      break;
  }
  ++failures_;
  return false;
}

void TrashCollector::readDB() {
  if (!store_) store_.emplace(databasePath(), process());
  FolderListMerger* merger = process().systemMode ? configuration_ : nullptr;
  if (store_->path().empty()) {
    safe->unarchiveWithFile(std::nullopt, process(), merger);
    return;
  }
  std::string ignored;  // a file that yields no list is reported at the save
  if (store_->load(*safe, merger, ignored) == FolderStore::LoadStatus::kMissing &&
      !process().systemMode) {
    reportError(localizedString(
        "No folder database exists. Use 'sweeply add FOLDER' to watch a folder and create one."));
  }
}

bool TrashCollector::mayRemove() const {
  if (dryRun_) return true;
  for (RunObserver* observer : observers_) {
    if (!observer->mayRemove()) return false;
  }
  return true;
}

void TrashCollector::reportError(std::string_view message) const {
  if (!dryRun_) TrashLog::err(process().runLog, message);
}

void TrashCollector::saveDB() {
  if (!store_ || store_->path().empty()) return;
  const std::string& path = store_->path();
  // A user-mode run without a database has nothing to keep, and an empty
  // database saved here would only hide from the next run that none exists.
  if (!process().systemMode && store_->status() == FolderStore::LoadStatus::kMissing) return;
  // Without a folder for the database there is nothing to save into.
  if (!directoryExists(deletingLastPathComponent(path))) return;
  std::string error;
  if (!store_->save(*safe, error)) {
    ++failures_;
    TrashLog::err(process().runLog,
                  localized("Unable to save the folder database to '%@'.", {path}));
    if (!error.empty()) TrashLog::err(process().runLog, error);
  }
}

}  // namespace sweeprun
