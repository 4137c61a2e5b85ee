#include "cli/startup.h"

#include <chrono>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <ostream>
#include <string_view>
#include <thread>

#include "engine/journal_keeper.h"
#include "engine/run_report.h"
#include "engine/terminal_summary.h"
#include "engine/trash_collector.h"
#include "fs/entry_attributes.h"
#include "fs/mount_table.h"
#include "fs/path.h"
#include "log/trash_log.h"
#include "model/folder_store.h"
#include "model/trash_application.h"
#include "os/localization.h"
#include "os/process.h"
#include "os/process_info.h"
#include "os/system_log.h"
#include "os/terminal.h"
#include "os/version.h"
#include "settings/config_file_check.h"
#include "settings/config_warnings.h"
#include "settings/setting_values.h"
#include "settings/settings_keys.h"
#include "settings/trash_config_file_parser.h"
#include "settings/user_defaults.h"
#include "settings/user_stores.h"

namespace sweeprun {

namespace {

constexpr unsigned kAnyWriteBit = 0222;
constexpr unsigned kPermissionBits = 07777;
constexpr int kContinue = 1 << 16;  // not a value startup() ever returns

void print(const std::string& text) { *process().out << text << std::flush; }

/// The collector run: reads the folder database of the mode, checks every
/// due folder and saves the database. Returns the exit status of the run: 1
/// when the folder list held no folder, kRunFailures when an entry could not
/// be removed or the database not saved, else 0. When an exception leaves
/// the run, |damagedDatabase| names the database it could not read, if any.
int runCollection(Settings& settings, TrashConfigFileParser* configuration,
                  std::string& damagedDatabase) {
  TrashApplication application;
  // What the run did, entry by entry, for sweeply history and undo.
  JournalKeeper journal(process(), journalPath(process(), process().systemMode),
                        settings.objectForKey(kLogLimit).numericReading());
  // The journal records and the metrics file of the run.
  std::optional<std::string> metricsFile = settings.stringForKey(kMetricsFile);
  if (metricsFile) *metricsFile = standardizePath(*metricsFile, process().homeDirectory);
  RunReport report(process().clock, std::move(metricsFile));
  RunOptions options;
  options.application = &application;
  options.settings = &settings;
  options.configuration = configuration;
  options.observers = {&journal, &report};
  // A person watching on a terminal sees the run go and what it came to.
  std::optional<TerminalSummary> summary;
  if (process().outIsTerminal && process().out) {
    summary.emplace(*process().out, process().clock);
    options.observers.push_back(&*summary);
  }
  TrashCollector collector(process(), std::move(options));
  int status = 1;
  try {
    if (collector.run()) status = collector.failures() > 0 || journal.failed() ? kRunFailures : 0;
  } catch (...) {
    report.finish(1, process().runLog);  // a damaged database ends the run, as status 1 tells
    damagedDatabase = collector.damagedDatabase();
    throw;
  }
  report.finish(status, process().runLog);
  return status;
}

/// What start-up makes for the run: the settings and the run log (which it
/// installs into the process); uninstalled on every way out, so that
/// process() never points at a destroyed log.
class Installed {
 public:
  ~Installed() { process().runLog = nullptr; }
  void setSettings(std::unique_ptr<Settings> settings) { settings_ = std::move(settings); }
  /// System and check mode: the configuration file is the settings.
  void setConfiguration(std::unique_ptr<TrashConfigFileParser> configuration) {
    configuration_ = configuration.get();
    settings_ = std::move(configuration);
  }
  Settings& settings() { return *settings_; }
  /// The configuration file, in system and check mode; else null.
  TrashConfigFileParser* configuration() { return configuration_; }
  void openRunLog(const std::string& path) {
    runLog_ = std::make_unique<TrashLog>(process());
    process().runLog = runLog_.get();
    runLog_->open(path, settings_->objectForKey(kLogLimit).numericReading());
  }
  /// Closes and drops the run log; nothing when there is none.
  void closeRunLog() {
    std::unique_ptr<TrashLog> log = std::move(runLog_);
    process().runLog = nullptr;
    if (log) log->close();
  }

 private:
  std::unique_ptr<Settings> settings_;
  TrashConfigFileParser* configuration_ = nullptr;  // settings_, in system and check mode
  std::unique_ptr<TrashLog> runLog_;
};

// Settings that a run takes from "-KEY VALUE" pairs of its command line.
bool isArgumentSetting(std::string_view key) {
  for (std::string_view known : {kLogToFile, kLogFileName, kLogLimit, kDateFormat}) {
    if (key == known) return true;
  }
  return false;
}

std::string usageLine() { return "usage: sweeprun [-s | -t | -v | -h] [-SETTING VALUE ...]\n"; }

std::string usageText() {
  return usageLine() + localizedString(R"(
Keeps watched folders tidy: each start is one run over every watched folder
that is due.

  (no option)     user mode: the folders watched with sweeply(1)
  -s              system mode, as root: the folders of %CONFIG%
  -t              only check %CONFIG%; prints "OK" or the error
  -v, --version   print the version
  -h, --help      print this help
  -SETTING VALUE  a setting for this run only: LogToFile, LogFileName,
                  LogLimit or DateFormat (user mode)

Exit status: 0 done; 1 no watched folder, a damaged database, user-mode
files that another account owns or can write, or an unexpected failure;
74 an entry could not be removed, moved or trashed, or the database could
not be saved; 64 wrong usage; 112-119 system or check mode refused to start.

See sweeprun(8).
)");
}

/// Sets the mode flags; the option index is the position of the last "-s"
/// or "-t" (0 when there is none). Returns kContinue, or the status to end
/// with when an option ends the start-up: "-v", "--version", "-h", "--help"
/// (0) or an unknown option (kUsageError).
int scanOptions(const std::vector<std::string>& arguments, size_t& optionIndex) {
  optionIndex = 0;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "-t") {
      process().checkMode = true;
      optionIndex = i;
    } else if (argument == "-s") {
      process().systemMode = true;
      optionIndex = i;
    } else if (argument == "-v" || argument == "--version") {
      print(localized("Version %s\n", {versionText()}));
      return 0;
    } else if (argument == "-h" || argument == "--help") {
      std::string text = usageText();
      for (size_t at; (at = text.find("%CONFIG%")) != std::string::npos;) {
        text.replace(at, 8, process().configPath);
      }
      print(text);
      return 0;
    } else if (argument.size() > 1 && argument[0] == '-' && isArgumentSetting(argument.substr(1)) &&
               i + 1 < arguments.size()) {
      // A value the run could not use ("-LogLimit abc") is refused before
      // anything is read, as sweeply refuses it.
      Value value;
      std::string error;
      if (!settingValueFromText(std::string_view(argument).substr(1), arguments[++i],
                                process().homeDirectory, value, error)) {
        if (std::ostream* err = process().err) {
          *err << "sweeprun: " << error << '\n' << usageLine() << std::flush;
        }
        return kUsageError;
      }
    } else if (!argument.empty() && argument[0] == '-') {
      // Anything else that looks like an option ("-n", "-sv", "--dry-run")
      // must not start a real run that the user did not ask for.
      if (std::ostream* err = process().err) {
        *err << localized("sweeprun: unknown option '%s'\n", {argument}) << usageLine()
             << std::flush;
      }
      return kUsageError;
    }
  }
  return kContinue;
}

// Unreadable attributes count as owner 0 and no permission bits, so the
// owner and permission tests pass and only the regular-file test fails.
unsigned ownerOf(const std::optional<EntryAttributes>& attributes) {
  return attributes ? attributes->owner : 0;
}
unsigned permissionsOf(const std::optional<EntryAttributes>& attributes) {
  return attributes ? (attributes->mode & kPermissionBits) : 0;
}

/// The privilege test and the tests of the tool's own file and of the
/// configuration file, in this order; the first failure is printed and
/// returned. kContinue when all pass.
int testPrivilegesAndFiles(const std::vector<std::string>& arguments, size_t optionIndex) {
  const std::string program = arguments.empty() ? std::string() : arguments[0];
  const std::string& option = optionIndex < arguments.size() ? arguments[optionIndex] : program;

  const std::optional<std::string> user = environmentValue("USER");
  if (user && *user != "root") {
    print(localized("Error: You must be root for %s (you are '%s').\n", {option, *user}));
    return kNotRoot;
  }

  // The program name as given, not looked up through the search path.
  const auto tool = attributesOfItemAtPath(standardizePath(program, process().homeDirectory));
  if (ownerOf(tool) != 0) {
    print(localized("Error: root must own %s for %s.\n", {program, option}));
    return kToolNotOwnedByRoot;
  }
  if (permissionsOf(tool) & kAnyWriteBit) {
    print(localized("Error: %s must not be writable for %s.\n", {program, option}));
    return kToolWritable;
  }

  const std::string& config = process().configPath;
  const ConfigFileFault fault = configFileFault(config);
  if (fault == ConfigFileFault::kNone) return kContinue;
  print(localized("Error: %@\n", {configFileFaultText(fault, config)}));
  switch (fault) {
    case ConfigFileFault::kMissing:
      return kConfigMissing;
    case ConfigFileFault::kNotOwnedByRoot:
      return kConfigNotOwnedByRoot;
    case ConfigFileFault::kAccessibleByOthers:
      return kConfigAccessibleByOthers;
    default:
      return kConfigNotRegularFile;
  }
}

/// System and check mode: the configuration file becomes the settings.
/// kContinue when a system-mode run follows.
int installConfiguration(Installed& installed) {
  process().userTrashPath.reset();  // an account's Trash is found per entry
  auto parser = std::make_unique<TrashConfigFileParser>(process());
  TrashConfigFileParser& configuration = *parser;
  installed.setConfiguration(std::move(parser));
  configuration.setBool(true, kIsOn);
  const std::string& config = process().configPath;
  if (!configuration.parse(config)) return kConfigInvalid;  // the parser reported why
  if (process().checkMode) {
    for (const std::string& warning : configurationWarnings(configuration))
      print(localized("Warning: %@\n", {warning}));
    print(localized("%s: OK\n", {config}));
    return 0;
  }
  if (!configuration.boolForKey(kIsOn)) {
    print(localized("%s: Disabled\n", {config}));
    return 0;
  }
  return kContinue;
}

/// User mode: says so when root runs over another home folder, and refuses
/// stores that another account owns or can write before anything is read.
/// kContinue when they may be used, else 1 (as for a database that cannot
/// be read).
int testUserStores() {
  std::ostream* err = process().err;
  const unsigned user = effectiveUserId();
  if (const std::string warning = foreignHomeWarning(process(), "sweeprun", user);
      !warning.empty() && err)
    *err << warning << std::flush;
  std::string error;
  if (userStoresAreOwned(process().homeDirectory, user, error)) return kContinue;
  if (err) {
    *err << localized(
                "sweeprun: %@; user mode uses only files that belong to the user running "
                "it and that no one else can write; nothing was read or changed\n",
                {error})
         << std::flush;
  }
  return 1;
}

/// User mode: the user's defaults, seeing what the companion application
/// stored, over the registered defaults.
void installUserDefaults(Installed& installed, const std::vector<std::string>& arguments) {
  auto defaults = std::make_unique<UserDefaults>(process(), arguments);
  defaults->addSuiteNamed(kCompanionDomain);
  defaults->registerDefaults(userModeRegisteredDefaults());
  installed.setSettings(std::move(defaults));
}

void reportException(std::string_view reason) {
  systemLog(localized("Died with exception: %@", {reason}));
}

}  // namespace

void fillRunningProcess(RunWorld& context) {
  context.homeDirectory = currentHomeDirectory();
  context.accountOf = accountOfUser;
  context.mountPointOf = mountPointOf;
  context.executableDirectory = currentExecutableDirectory();
  context.out = &std::cout;
  context.err = &std::cerr;
  context.outIsTerminal = standardOutputIsTerminal();
}

int startup(const std::vector<std::string>& arguments) {
  size_t optionIndex = 0;
  if (const int ended = scanOptions(arguments, optionIndex); ended != kContinue) return ended;
  // Every error the run echoes on standard error says it is the tool's.
  const SystemLogProgram named("sweeprun");

  Installed installed;
  int status = 0;
  std::string damagedDatabase;
  try {
    if (process().systemMode || process().checkMode) {
      if (int failed = testPrivilegesAndFiles(arguments, optionIndex); failed != kContinue)
        return failed;
      if (int ended = installConfiguration(installed); ended != kContinue) return ended;
    } else {
      if (int refused = testUserStores(); refused != kContinue) return refused;
      installUserDefaults(installed, arguments);
    }
    if (installed.settings().boolForKey(kLogToFile)) {
      const std::string logPath = installed.settings().stringForKey(kLogFileName).value_or("");
      installed.openRunLog(standardizePath(logPath, process().homeDirectory));
    }
    status = runCollection(installed.settings(), installed.configuration(), damagedDatabase);
  } catch (const std::exception& e) {
    // A database that cannot be read is named, with the way on.
    reportException(damagedDatabase.empty()
                        ? std::string(e.what())
                        : FolderStore::damagedText(damagedDatabase, e.what(), process().systemMode));
    return 1;
  } catch (...) {
    reportException("unknown exception");
    return 1;
  }

  try {
    installed.closeRunLog();
  } catch (const std::exception& e) {
    reportException(e.what());  // the run's own status stands
  } catch (...) {
    reportException("unknown exception");
  }
  if (process().systemMode)
    std::this_thread::sleep_for(std::chrono::seconds(process().postRunPauseSeconds));
  return status;
}

}  // namespace sweeprun
