// prefs: the settings shared with runs, in the companion's preferences.
#include <charconv>
#include <ostream>

#include "companion/companion_app.h"
#include "companion/json_text.h"
#include "fs/file_io.h"
#include "fs/path.h"
#include "os/localization.h"
#include "os/process.h"
#include "settings/defaults_domain.h"
#include "settings/setting_values.h"
#include "settings/settings_keys.h"
#include "settings/user_defaults.h"

namespace sweeprun {

namespace {

constexpr std::string_view kSharedKeys[] = {kLogToFile, kLogFileName, kLogLimit, kDateFormat,
                                            kMetricsFile};

bool isSharedKey(std::string_view key) {
  for (std::string_view shared : kSharedKeys) {
    if (shared == key) return true;
  }
  return false;
}

// How a run reads |key| from |defaults|, as text.
std::optional<std::string> runReading(const UserDefaults& defaults, std::string_view key) {
  if (key == kLogToFile) return std::string(defaults.boolForKey(key) ? "YES" : "NO");
  if (key == kLogLimit) return shortestNumber(defaults.objectForKey(key).numericReading());
  return defaults.stringForKey(key);
}

struct Domains {
  Dictionary tool;
  Dictionary companion;
};

Domains readDomains(const CompanionCommand& command) {
  Domains domains;
  std::string error;
  const std::string& home = process().homeDirectory;
  if (readDefaultsDomain(home, kToolDomain, domains.tool, error) == DomainReadStatus::kDamaged) {
    warning(command, localized("the preferences of '%@' cannot be read: %@", {kToolDomain, error}));
  }
  if (readDefaultsDomain(home, kCompanionDomain, domains.companion, error) ==
      DomainReadStatus::kDamaged) {
    warning(command,
            localized("the preferences of '%@' cannot be read: %@", {kCompanionDomain, error}));
  }
  return domains;
}

const char* sourceOf(const Domains& domains, std::string_view key) {
  if (domains.tool.contains(key)) return "sweeprun";
  if (domains.companion.contains(key)) return "companion";
  if (key == kDateFormat || key == kMetricsFile) return "unset";
  return "default";
}

UserDefaults runDefaults() {
  UserDefaults defaults(process(), {"sweeply"});
  defaults.addSuiteNamed(kCompanionDomain);
  defaults.registerDefaults(userModeRegisteredDefaults());
  return defaults;
}

void printSetting(const UserDefaults& defaults, const Domains& domains, std::string_view key) {
  std::string name(key);
  name.resize(12, ' ');
  const std::optional<std::string> reading = runReading(defaults, key);
  companionOut() << name << (reading ? *reading : localizedString("(not set)")) << "  ("
                 << localizedString(sourceOf(domains, key)) << ")\n";
}

}  // namespace

int runPrefs(const CompanionCommand& command, const std::vector<std::string>& arguments) {
  ParsedArguments parsed;
  int status = kCompanionSuccess;
  if (!parseCommandArguments(command, arguments, {{"unset", false}, {"json", false}}, 2, 0, parsed,
                             status)) {
    return status;
  }
  for (size_t i = 0; i < std::min<size_t>(parsed.operands.size(), 1); ++i) {
    if (!isSharedKey(parsed.operands[i])) {
      return usageError(command, localized("'%@' is not a shared setting (LogToFile, LogFileName, "
                                           "LogLimit, DateFormat, MetricsFile)",
                                           {parsed.operands[i]}));
    }
  }
  const bool unset = parsed.has("unset");
  if (unset && parsed.operands.size() != 1) {
    return usageError(command, localizedString("'--unset' takes one KEY"));
  }

  if (parsed.operands.size() == 2 || unset) {
    const std::string& key = parsed.operands[0];
    Value value;
    std::string error;
    if (!unset &&
        !settingValueFromText(key, parsed.operands[1], process().homeDirectory, value, error)) {
      return usageError(command, error);
    }
    const Domains domains = readDomains(command);
    if (domains.companion.get(key) != value) {
      if (!writeDefaultsDomainValue(process().homeDirectory, kCompanionDomain, key, value, error)) {
        return failure(command, localized("cannot store %@: %@", {key, error}));
      }
    }
    if (domains.tool.contains(key)) {
      warning(command, localized("runs read %@ from the preferences of '%@', which win over these",
                                 {key, kToolDomain}));
    }
    printSetting(runDefaults(), readDomains(command), key);
    return kCompanionSuccess;
  }

  const UserDefaults defaults = runDefaults();
  const Domains domains = readDomains(command);
  if (parsed.has("json")) {
    Dictionary settings;
    for (std::string_view key : kSharedKeys) {
      if (!parsed.operands.empty() && parsed.operands[0] != key) continue;
      const std::optional<std::string> reading = runReading(defaults, key);
      settings.set(key, Value::dictionary({{"value", reading ? Value::text(*reading) : Value()},
                                           {"source", Value::text(sourceOf(domains, key))}}));
    }
    companionOut() << jsonText(Value::dictionary(std::move(settings)));
    return kCompanionSuccess;
  }
  for (std::string_view key : kSharedKeys) {
    if (parsed.operands.empty() || parsed.operands[0] == key) printSetting(defaults, domains, key);
  }
  return kCompanionSuccess;
}

}  // namespace sweeprun
