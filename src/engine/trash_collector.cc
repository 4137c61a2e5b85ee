#include "engine/trash_collector.h"

#include <algorithm>

#include "engine/daily_schedule.h"
#include "engine/folder_check.h"
#include "engine/loggable_text.h"
#include "fs/file_io.h"
#include "fs/path.h"
#include "log/trash_log.h"
#include "model/folder_store.h"
#include "model/trash_application.h"
#include "os/localization.h"
#include "os/version.h"
#include "settings/setting_values.h"
#include "settings/settings.h"
#include "settings/trash_config_file_parser.h"

namespace sweeprun {

const std::vector<std::string> TrashCollector::kBuiltInIgnoreNames = {
    "Icon\r",     ".DS_Store", ".localized", ".Spotlight-V100", ".com.apple.timemachine.supported",
    ".fseventsd",
};

namespace {

std::vector<RunObserver*> withoutNull(std::vector<RunObserver*> observers) {
  observers.erase(std::remove(observers.begin(), observers.end(), nullptr), observers.end());
  return observers;
}

}  // namespace

TrashCollector::TrashCollector(const RunWorld& world, RunOptions options)
    : world_(world), options_(std::move(options)) {
  options_.observers = withoutNull(std::move(options_.observers));
}

bool TrashCollector::run() {
  start_ = world_.clock();

  passedOver_ = kBuiltInIgnoreNames;
  if (world_.systemMode && options_.configuration) {
    if (std::optional<NameList> names = options_.configuration->globalIgnoreList()) {
      passedOver_.insert(passedOver_.end(), names->begin(), names->end());
    }
  }

  logLine(world_.runLog, localized("Sweeply started at %@.", {standardDateText(start_)}));
  logLine(world_.runLog, localized("Version %@\n", {versionText()}));
  if (!options_.dryRun) repairDateFormat();
  // Held from the read to the save, so that a change sweeply saves in
  // between is never overwritten (a dry run saves nothing and takes none).
  store_.reset();
  if (!options_.dryRun && !lockDatabase()) {
    logLine(world_.runLog,
            localized("Sweeply finished at %@.", {standardDateText(world_.clock())}));
    for (RunObserver* observer : options_.observers) observer->runFinished(failures_);
    return true;  // nothing was read, so nothing is checked: a failure, not an empty list
  }
  readDB();
  // The checks of the run share one Remover, and so the folders entries go to.
  FolderCheck checks(world_, options_, passedOver_);

  TrashApplication& application = *options_.application;
  bool result = false;
  if (application.countOfTrashFolderList() > 0) {
    // The count is taken again after every folder.
    for (size_t index = 0; index < application.countOfTrashFolderList(); ++index) {
      checkIfDue(application.objectInTrashFolderListAtIndex(index), checks);
    }
    result = true;
  }
  failures_ += checks.failures();

  if (!options_.dryRun) saveDB();
  logLine(world_.runLog, localized("Sweeply finished at %@.", {standardDateText(world_.clock())}));
  for (RunObserver* observer : options_.observers) observer->runFinished(failures_);
  return result;
}

void TrashCollector::checkIfDue(TrashFolder& folder, FolderCheck& checks) {
  const ScheduleAnswer answer = canCheckToday(folder, start_);
  if (answer == ScheduleAnswer::kCheckNow) {
    checks.check(folder);
    return;
  }
  for (RunObserver* observer : options_.observers) observer->folderSkipped(folder, answer);
  const std::string path = loggableText(folder.path());
  switch (answer) {
    case ScheduleAnswer::kNotEnabled:
      logLine(world_.runLog, localized("Not checking folder '%@' (not enabled).\n", {path}));
      break;
    case ScheduleAnswer::kAlreadyCheckedToday:
      logLine(world_.runLog,
              localized("Not checking folder '%@' (already checked today).\n", {path}));
      break;
    case ScheduleAnswer::kNotPresent:
      logLine(world_.runLog, localized("Not checking folder '%@' (not present).\n", {path}));
      break;
    case ScheduleAnswer::kCheckNow:
      break;
  }
}

void TrashCollector::checkFolder(TrashFolder& folder) {
  FolderCheck check(world_, options_, passedOver_);
  check.check(folder);
  failures_ += check.failures();
}

void TrashCollector::repairDateFormat() {
  Settings* settings = options_.settings;
  if (!settings) return;
  std::optional<std::string> format = settings->stringForKey("DateFormat");
  if (!format) return;
  for (const std::string& specifier : kDateFormatTimeSpecifiers) {
    if (format->find(specifier) == std::string::npos) continue;
    Value replacement = Value::text("%F");
    if (world_.systemMode) {
      settings->setObject(replacement, "DateFormat");
    } else {
      settings->setCompanionValue(replacement, "DateFormat");
    }
    TrashLog::err(world_.runLog,
                  localized("%@ contains the time string '%@'; reverting to the format '%@'.",
                            {"DateFormat", specifier, "%F"}));
    return;
  }
}

std::string TrashCollector::databasePath() const {
  if (world_.systemMode) {
    TrashConfigFileParser* parser = options_.configuration;
    return parser && parser->dbPath() ? *parser->dbPath() : std::string();
  }
  return FolderStore::userDatabasePath(world_.homeDirectory);
}

std::string TrashCollector::damagedDatabase() const {
  return store_ && store_->status() == FolderStore::LoadStatus::kDamaged ? store_->path()
                                                                        : std::string();
}

bool TrashCollector::lockDatabase() {
  store_.emplace(databasePath(), world_);
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
          world_.runLog,
          localized(
              "The folder database '%@' is being changed by another program; nothing was checked.",
              {path}));
      break;
    case DatabaseLock::Status::kFailed:
      TrashLog::err(world_.runLog, localized("Unable to lock the folder database '%@'.", {path}));
      TrashLog::err(world_.runLog, error);
      break;
  }
  ++failures_;
  return false;
}

void TrashCollector::readDB() {
  if (!store_) store_.emplace(databasePath(), world_);
  FolderListMerger* merger = world_.systemMode ? options_.configuration : nullptr;
  if (store_->path().empty()) {
    options_.application->unarchiveWithFile(std::nullopt, world_, merger);
    return;
  }
  std::string reason;
  switch (store_->load(*options_.application, merger, reason)) {
    case FolderStore::LoadStatus::kMissing:
      if (!world_.systemMode) {
        reportError(localizedString(
            "No folder database exists. Use 'sweeply add FOLDER' to watch a folder and create "
            "one."));
      }
      break;
    case FolderStore::LoadStatus::kDamaged:
      reportError(FolderStore::damagedText(store_->path(), reason, world_.systemMode));
      break;
    case FolderStore::LoadStatus::kLoaded:
      break;
  }
}

void TrashCollector::reportError(std::string_view message) const {
  if (!options_.dryRun) TrashLog::err(world_.runLog, message);
}

void TrashCollector::saveDB() {
  if (!store_ || store_->path().empty()) return;
  const std::string& path = store_->path();
  // A user-mode run without a database has nothing to keep, and an empty
  // database saved here would only hide from the next run that none exists.
  if (!world_.systemMode && store_->status() == FolderStore::LoadStatus::kMissing) return;
  // Reported at the read; the file stays as it is.
  if (store_->status() == FolderStore::LoadStatus::kDamaged) {
    ++failures_;
    return;
  }
  // Without a folder for the database there is nothing to save into.
  if (!directoryExists(deletingLastPathComponent(path))) return;
  std::string error;
  if (!store_->save(*options_.application, error)) {
    ++failures_;
    TrashLog::err(world_.runLog, localized("Unable to save the folder database to '%@'.", {path}));
    if (!error.empty()) TrashLog::err(world_.runLog, error);
  }
}

}  // namespace sweeprun
