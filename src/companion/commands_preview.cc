// preview: a dry run of the collector over the user's folders.
#include <ostream>

#include "companion/companion_app.h"
#include "companion/folder_options.h"
#include "companion/json_text.h"
#include "companion/preview.h"
#include "engine/trash_collector.h"
#include "fs/file_io.h"
#include "model/trash_application.h"
#include "os/exception.h"
#include "os/localization.h"
#include "os/process.h"
#include "settings/settings_keys.h"
#include "settings/user_defaults.h"

namespace sweeprun {

namespace {

// The settings a user-mode run sees, for the dry run; no run log meanwhile.
class DryRunSettings {
 public:
  DryRunSettings() : defaults_(process(), {"sweeply"}) {
    defaults_.addSuiteNamed(kCompanionDomain);
    defaults_.registerDefaults(userModeRegisteredDefaults());
    previousLog_ = process().runLog;
    process().runLog = nullptr;
  }
  ~DryRunSettings() { process().runLog = previousLog_; }
  DryRunSettings(const DryRunSettings&) = delete;
  DryRunSettings& operator=(const DryRunSettings&) = delete;

  Settings* settings() { return &defaults_; }

 private:
  UserDefaults defaults_;
  TrashLog* previousLog_ = nullptr;
};

}  // namespace

int runPreview(const CompanionCommand& command, const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  int status = kCompanionSuccess;
  if (!parseCommandArguments(command, arguments, {{"json", false}}, 1, 0, parsed, status)) {
    return status;
  }
  const std::string databasePath = FolderDatabase::userDatabasePath();
  if (!fileExists(databasePath)) {
    return failure(command, localized("no folder database at '%@' yet; add a folder with "
                                      "'sweeply add PATH'",
                                      {databasePath}));
  }
  std::optional<std::string> only;
  if (!parsed.operands.empty()) only = userPath(parsed.operands[0]);

  PreviewRecorder recorder(only);
  TrashApplication application;
  {
    DryRunSettings settings;
    RunOptions options;
    options.application = &application;
    options.settings = settings.settings();
    options.observers = {&recorder};
    options.dryRun = true;
    TrashCollector collector(process(), std::move(options));
    try {
      collector.run();
    } catch (const PlatformException& e) {
      return failure(command, FolderStore::damagedText(databasePath, e.what(), false));
    }
  }
  if (!application.trashFolderList()) {
    return failure(command, FolderStore::damagedText(
                                databasePath, localizedString("no folder list in it"), false));
  }
  if (only && recorder.folderCount() == 0) {
    bool watched = false;
    for (const TrashFolder& folder : *application.trashFolderList()) {
      watched = watched || folder.path() == *only;
    }
    if (!watched) {
      return failure(command, localized("'%@' is not a watched folder (see 'sweeply list')",
                                        {parsed.operands[0]}));
    }
  }
  const Value result = recorder.result();
  companionOut() << (parsed.has("json") ? jsonText(result) : previewText(result));
  return kCompanionSuccess;
}

}  // namespace sweeprun
