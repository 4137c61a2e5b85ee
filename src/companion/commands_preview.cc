// preview: a dry run of the collector over the user's folders, or, with
// --system, over the folders of the configuration file as root.
#include <ostream>

#include "companion/companion_app.h"
#include "companion/config_reading.h"
#include "companion/folder_options.h"
#include "companion/json_text.h"
#include "companion/preview.h"
#include "engine/trash_collector.h"
#include "fs/file_io.h"
#include "model/trash_application.h"
#include "os/exception.h"
#include "os/localization.h"
#include "os/process.h"
#include "os/process_info.h"
#include "settings/config_file_check.h"
#include "settings/config_warnings.h"
#include "settings/settings_keys.h"
#include "settings/trash_config_file_parser.h"
#include "settings/user_defaults.h"

namespace sweeprun {

namespace {

// The settings a user-mode run sees, for the dry run.
class DryRunSettings {
 public:
  DryRunSettings() : defaults_(process(), {"sweeply"}) {
    defaults_.addSuiteNamed(kCompanionDomain);
    defaults_.registerDefaults(userModeRegisteredDefaults());
  }

  Settings* settings() { return &defaults_; }

 private:
  UserDefaults defaults_;
};

// The process as a run of the mode sees it, for as long as the dry run
// lasts: never a run log, and in system mode no user Trash (an entry goes
// to its owner's).
class DryRunWorld {
 public:
  explicit DryRunWorld(bool systemMode)
      : systemMode_(process().systemMode),
        checkMode_(process().checkMode),
        userTrashPath_(process().userTrashPath),
        runLog_(process().runLog) {
    process().runLog = nullptr;
    process().checkMode = false;
    process().systemMode = systemMode;
    if (systemMode) process().userTrashPath.reset();
  }
  ~DryRunWorld() {
    process().systemMode = systemMode_;
    process().checkMode = checkMode_;
    process().userTrashPath = userTrashPath_;
    process().runLog = runLog_;
  }
  DryRunWorld(const DryRunWorld&) = delete;
  DryRunWorld& operator=(const DryRunWorld&) = delete;

 private:
  bool systemMode_;
  bool checkMode_;
  std::optional<std::string> userTrashPath_;
  TrashLog* runLog_;
};

// Runs the collector as a dry run over |application|, telling |recorder|.
// False after reporting it when the folder database at |databasePath|
// cannot be read.
bool dryRun(const CompanionCommand& command, PreviewRecorder& recorder,
            TrashApplication& application, Settings& settings,
            TrashConfigFileParser* configuration, const std::string& databasePath) {
  RunOptions options;
  options.application = &application;
  options.settings = &settings;
  options.configuration = configuration;
  options.observers = {&recorder};
  options.dryRun = true;
  TrashCollector collector(process(), std::move(options));
  const bool systemMode = configuration != nullptr;
  try {
    collector.run();
  } catch (const PlatformException& e) {
    failure(command, FolderStore::damagedText(databasePath, e.what(), systemMode));
    return false;
  }
  if (!application.trashFolderList()) {
    failure(command, FolderStore::damagedText(
                         databasePath, localizedString("no folder list in it"), systemMode));
    return false;
  }
  return true;
}

// Reads the configuration file as "sweeprun -s" would; false after saying
// why a system run would not start. Prints check mode's warnings (to
// standard error beside JSON, so that standard output stays one document).
bool readSystemConfiguration(const CompanionCommand& command, TrashConfigFileParser& parser,
                             bool json) {
  const std::string& config = process().configPath;
  if (const ConfigFileFault fault = configFileFault(config); fault != ConfigFileFault::kNone) {
    failure(command, localized("sweeprun -s would not start: %@",
                               {configFileFaultText(fault, config)}));
    return false;
  }
  parser.setBool(true, kIsOn);
  std::string error, warnings;
  if (!readConfiguration(parser, config, error, &warnings)) {
    failure(command, localized("sweeprun -s would not start: %@: %@", {config, error}));
    return false;
  }
  for (const std::string& warning : configurationWarnings(parser))
    warnings += localized("Warning: %@\n", {warning});
  (json ? companionErr() : companionOut()) << warnings;
  return true;
}

}  // namespace

int runPreview(const CompanionCommand& command, const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  int status = kCompanionSuccess;
  if (!parseCommandArguments(command, arguments, {{"json", false}, {"system", false}}, 1, 0,
                             parsed, status)) {
    return status;
  }
  const bool systemMode = parsed.has("system");
  const bool json = parsed.has("json");
  if (systemMode && effectiveUserId() != 0)
    return failure(command, localizedString("--system needs root"));
  if (!systemMode && !useUserStores(command)) return kCompanionFailure;

  std::optional<std::string> only;
  if (!parsed.operands.empty()) only = userPath(parsed.operands[0]);
  PreviewRecorder recorder(only, systemMode);
  TrashApplication application;
  if (systemMode) {
    TrashConfigFileParser parser(process());
    if (!readSystemConfiguration(command, parser, json)) return kCompanionFailure;
    if (!parser.boolForKey(kIsOn)) {
      companionOut() << localized("%@: Disabled; sweeprun -s checks nothing.\n",
                                  {process().configPath});
      return kCompanionSuccess;
    }
    DryRunWorld world(true);
    if (!dryRun(command, recorder, application, parser, &parser, parser.dbPath().value_or("")))
      return kCompanionFailure;
  } else {
    const std::string databasePath = FolderDatabase::userDatabasePath();
    if (!fileExists(databasePath)) {
      return failure(command, localized("no folder database at '%@' yet; add a folder with "
                                        "'sweeply add PATH'",
                                        {databasePath}));
    }
    DryRunWorld world(false);
    DryRunSettings settings;
    if (!dryRun(command, recorder, application, *settings.settings(), nullptr, databasePath))
      return kCompanionFailure;
  }
  if (only && recorder.folderCount() == 0) {
    bool watched = false;
    for (const TrashFolder& folder : *application.trashFolderList()) {
      watched = watched || folder.path() == *only;
    }
    if (!watched) {
      return failure(command, systemMode
                                  ? localized("'%@' is not a folder of %@",
                                              {parsed.operands[0], process().configPath})
                                  : localized("'%@' is not a watched folder (see 'sweeply list')",
                                              {parsed.operands[0]}));
    }
  }
  const Value result = recorder.result();
  companionOut() << (json ? jsonText(result) : previewText(result));
  return kCompanionSuccess;
}

}  // namespace sweeprun
