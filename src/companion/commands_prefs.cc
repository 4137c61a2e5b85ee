// prefs: the settings shared with runs, in the companion's preferences.
#include <charconv>
#include <cmath>
#include <ostream>

#include "companion/companion_app.h"
#include "companion/json_text.h"
#include "engine/trash_collector.h"
#include "fs/file_io.h"
#include "fs/path.h"
#include "settings/defaults_domain.h"
#include "os/localization.h"
#include "os/process.h"
#include "os/text_case.h"
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

std::string shortestNumber(double value) {
  char buffer[400];  // room for the fixed form of any double
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  return std::string(buffer, result.ptr);
}

// How a run reads |key| from |defaults|, as text.
std::optional<std::string> runReading(const UserDefaults& defaults, std::string_view key) {
  if (key == kLogToFile) return std::string(defaults.boolForKey(key) ? "YES" : "NO");
  if (key == kLogLimit) return shortestNumber(defaults.objectForKey(key).numericReading());
  return defaults.stringForKey(key);
}

// Checks a value for |key| and turns it into what is stored. False with the
// message in |error| for a value runs could not use.
bool storedValue(std::string_view key, const std::string& typed, Value& value, std::string& error) {
  if (key == kLogToFile) {
    const std::string word = lowercaseText(typed);
    if (word == "yes" || word == "true" || word == "on" || word == "1") {
      value = Value::text("YES");
    } else if (word == "no" || word == "false" || word == "off" || word == "0") {
      value = Value::text("NO");
    } else {
      error = localized("LogToFile takes yes or no, not '%@'", {typed});
      return false;
    }
    return true;
  }
  if (key == kLogLimit) {
    double days = 0;
    const char* end = typed.data() + typed.size();
    auto parsed = std::from_chars(typed.data(), end, days);
    if (typed.empty() || parsed.ec != std::errc() || parsed.ptr != end || !std::isfinite(days) ||
        days < 0) {
      error = localized("LogLimit takes a number of days, 0 or more, not '%@'", {typed});
      return false;
    }
    // Kept as text, the kind the companion application stores it in.
    value = Value::text(shortestNumber(days));
    return true;
  }
  if (key == kLogFileName) {
    if (typed.empty() || (typed[0] != '/' && typed[0] != '~')) {
      error = localized("LogFileName takes an absolute path or one that starts with '~', not '%@'",
                        {typed});
      return false;
    }
    value = Value::text(typed);
    return true;
  }
  if (key == kMetricsFile) {
    // A run replaces the file through its folder and makes no folder.
    if (typed.empty() || (typed[0] != '/' && typed[0] != '~') ||
        !directoryExists(
            deletingLastPathComponent(standardizePath(typed, process().homeDirectory)))) {
      error = localized(
          "MetricsFile takes an absolute path or one that starts with '~', in a folder that "
          "exists, not '%@'",
          {typed});
      return false;
    }
    value = Value::text(typed);
    return true;
  }
  // DateFormat: a run would replace a format that holds a time of day.
  if (typed.empty()) {
    error = localizedString("DateFormat cannot be empty; use --unset to remove it");
    return false;
  }
  for (const std::string& specifier : TrashCollector::kTimeSpecifiers) {
    if (typed.find(specifier) != std::string::npos) {
      error =
          localized("DateFormat must hold no time of day, but '%@' holds '%@'", {typed, specifier});
      return false;
    }
  }
  value = Value::text(typed);
  return true;
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
    if (!unset && !storedValue(key, parsed.operands[1], value, error)) {
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
