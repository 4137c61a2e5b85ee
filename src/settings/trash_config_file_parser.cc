#include "settings/trash_config_file_parser.h"

#include <cstdio>
#include <ostream>

#include "fs/file_io.h"
#include "fs/path.h"
#include "model/record_keys.h"
#include "os/localization.h"
#include "os/system_log.h"
#include "os/text_case.h"
#include "plist/property_list.h"
#include "settings/condition_parser.h"

namespace sweeprun {
namespace {

// Key codes of the configuration-file vocabulary.
enum KeyCode : int {
  kMoveWithDate = 0,
  kDisabled = 1,
  kNetworkDisk = 2,
  kReadMeFileName = 3,
  kReadMeText = 4,
  kMeetAllConditions = 5,
  kAction = 6,
  kPath = 7,
  kCondition = 8,
  kConditions = 9,
  kDescription = 10,
  kFilesToIgnore = 11,
  // 12 to 18 are settings, stored under their own names.
  kDateFormat = 12,
  kUseGrowl = 13,
  kGrowlnotifyPath = 14,
  kDisabledGrowlMessages = 15,
  kLogToFile = 16,
  kLogFileName = 17,
  kLogLimit = 18,
  kFolders = 19,
  kDataFile = 20,
  kMetricsFile = 21,
  kBudget = 22,
  kBudgetMinimumAge = 23,
};

enum class Kind { kNotAllowed, kText, kNumber, kArray, kDictionary, kArrayOrText, kTextOrNumber };

// Which kind the value of a key must have at a level; kNotAllowed where the
// key may not stand.
Kind requiredKind(int level, int code) {
  if (code == kDescription) return level >= 1 && level <= 4 ? Kind::kText : Kind::kNotAllowed;
  switch (level) {
    case 1:
      switch (code) {
        case kDateFormat:
        case kGrowlnotifyPath:
        case kDisabledGrowlMessages:
        case kLogFileName:
        case kDataFile:
        case kMetricsFile:
          return Kind::kText;
        case kDisabled:
        case kUseGrowl:
        case kLogToFile:
        case kLogLimit:
          return Kind::kNumber;
        case kFilesToIgnore:
        case kFolders:
          return Kind::kArray;
      }
      break;
    case 2:
      if (code == kFilesToIgnore) return Kind::kText;
      if (code == kFolders) return Kind::kDictionary;
      break;
    case 3:
      switch (code) {
        case kMoveWithDate:
        case kDisabled:
        case kNetworkDisk:
        case kMeetAllConditions:
          return Kind::kNumber;
        case kReadMeFileName:
        case kReadMeText:
        case kAction:
        case kPath:
        case kBudgetMinimumAge:
          return Kind::kText;
        case kBudget:
          return Kind::kTextOrNumber;
        case kCondition:
        case kConditions:
          return Kind::kArrayOrText;
      }
      break;
    case 4:
      if (code == kConditions) return Kind::kText;
      break;
  }
  return Kind::kNotAllowed;
}

bool hasKind(const Value& value, Kind kind) {
  switch (kind) {
    case Kind::kText:
      return value.isText();
    case Kind::kNumber:
      return value.isNumber();
    case Kind::kArray:
      return value.isArray();
    case Kind::kDictionary:
      return value.isDictionary();
    case Kind::kArrayOrText:
      return value.isArray() || value.isText();
    case Kind::kTextOrNumber:
      return value.isText() || (value.isNumber() && !value.isBoolean());
    case Kind::kNotAllowed:
      break;
  }
  return false;
}

}  // namespace

const std::array<std::string_view, 24> TrashConfigFileParser::xmlKeys = {
    "MoveWithDate", "Disabled",          "NetworkDisk",     "ReadMeFileName",
    "ReadMeText",   "MeetAllConditions", "Action",          "Path",
    "Condition",    "Conditions",        "Description",     "FilesToIgnore",
    "DateFormat",   "UseGrowl",          "GrowlnotifyPath", "DisabledGrowlMessages",
    "LogToFile",    "LogFileName",       "LogLimit",        "Folders",
    "DataFile",     "MetricsFile",       "Budget",          "BudgetMinimumAge",
};

const std::array<std::string_view, 6> TrashConfigFileParser::tlxKeys = {
    folder_key::kDatedFolder, folder_key::kEnabled,    folder_key::kMayBeAbsent,
    folder_key::kReadMeName,  folder_key::kReadMeText, folder_key::kMatchAll,
};

TrashConfigFileParser::TrashConfigFileParser(const RunWorld& world)
    : world_(world),
      data_{{"DateFormat", Value::text("%F")},
            {"UseGrowl", Value::boolean(true)},
            {"GrowlnotifyPath", Value::text("/usr/local/bin/growlnotify")},
            {"DisabledGrowlMessages", Value::text("396")},
            {"LogToFile", Value::text("NO")},
            {"LogFileName", Value::text("/var/log/sweeply.log")},
            {"LogLimit", Value::text("0")}} {}

Value TrashConfigFileParser::objectForKey(std::string_view key) const { return data_.get(key); }

std::optional<std::string> TrashConfigFileParser::stringForKey(std::string_view key) const {
  const Value& value = data_.get(key);
  if (!value.isText()) return std::nullopt;
  return std::string(value.asText());
}

void TrashConfigFileParser::setObject(const Value& value, std::string_view key) {
  data_.set(key, value);
}

bool TrashConfigFileParser::parse(const std::string& path) {
  configFile_ = path;
  fault_.clear();
  faultPlace_.clear();
  std::string message;
  std::string bytes;
  if (!readFile(path, bytes, message)) {
    reportParseError(message);
    return false;
  }
  Value root;
  if (!readPropertyList(bytes, root, message)) {
    // A reader that cannot say why still must not leave check mode silent.
    if (message.empty()) message = localized("The configuration file is not a property list.");
    reportParseError(message);
    return false;
  }
  if (parseItem(root, kFolders, 0, message)) return true;
  if (!message.empty()) reportParseError(message);
  return false;
}

bool TrashConfigFileParser::parseItem(const Value& item, int index, int level, std::string& error) {
  if (level == 0) {
    // Only a dictionary root can name the folder database and the folders
    // that the rest of the tool needs from a successful parse.
    if (!item.isDictionary()) {
      error = localized("The configuration root must be a dictionary.");
      return false;
    }
    return parseDict(*item.dictionaryPtr(), 0, error) && checkRoot(error);
  }
  if (const Array* array = item.arrayPtr()) {
    if (!parseArray(*array, index, level, error)) return false;
  } else if (const Dictionary* dict = item.dictionaryPtr()) {
    if (!parseDict(*dict, level, error)) return false;
  }
  return applyItem(item, index, level, error);
}

bool TrashConfigFileParser::parseDict(const Dictionary& dict, int level, std::string& error) {
  if (level + 1 == 3) folder_ = TrashFolder::folderWithPath();
  for (const auto& [key, value] : dict) {
    int code = 0;
    while (code < static_cast<int>(xmlKeys.size()) && xmlKeys[code] != key.text()) ++code;
    if (code == static_cast<int>(xmlKeys.size())) {
      error = localized("Not a valid key: %@.", {key.text()});
      return false;
    }
    if (!verifyItem(value, code, level + 1, error) || !parseItem(value, code, level + 1, error))
      return false;
  }
  return true;
}

bool TrashConfigFileParser::parseArray(const Array& array, int index, int level,
                                       std::string& error) {
  if (level == 3) {
    rules_.emplace();
    rules_->reserve(array.size());
  } else if (level == 1 && index == kFolders) {
    configured_.start(array.size());
  }
  size_t entry = 0;
  for (const Value& element : array) {
    ++entry;
    if (!verifyItem(element, index, level + 1, error) ||
        !parseItem(element, index, level + 1, error)) {
      if (level == 1 && index == kFolders) {
        const Value* path =
            element.isDictionary() ? element.dictionaryPtr()->find(xmlKeys[kPath]) : nullptr;
        std::optional<std::string_view> text;
        if (path && path->isText()) text = path->asText();
        faultPlace_ = entryPlace(entry, text);
      }
      return false;
    }
  }
  return true;
}

bool TrashConfigFileParser::verifyItem(const Value& item, int index, int level,
                                       std::string& error) {
  const Kind kind = requiredKind(level, index);
  if (kind == Kind::kNotAllowed) {
    error = localized("Not a valid key at level %d: %@.", {std::to_string(level), xmlKeys[index]});
    return false;
  }
  if (!hasKind(item, kind)) {
    error = localized("Value for key '%@' is of incorrect type.", {xmlKeys[index]});
    return false;
  }
  return true;
}

bool TrashConfigFileParser::applyItem(const Value& item, int index, int level, std::string& error) {
  switch (index) {
    case kMoveWithDate:
    case kNetworkDisk:
    case kReadMeFileName:
    case kReadMeText:
    case kMeetAllConditions:
      if (folder_) folder_->setValue(tlxKeys[index], item);
      return true;
    case kDisabled:
      if (level == 1) {
        data_.set("ison", Value::boolean(!item.boolReading()));
      } else if (folder_) {
        folder_->setValue(tlxKeys[kDisabled], Value::boolean(!item.boolReading()));
      }
      return true;
    case kAction:
      return applyAction(item.asText(), error);
    case kPath:
      globPath_ = std::string(item.asText());
      return true;
    case kCondition:
    case kConditions:
      if (level == 4) return parseRule(std::string(item.asText()), error);
      if (item.isText()) {
        rules_.emplace();
        rules_->reserve(1);
        if (!parseRule(std::string(item.asText()), error)) return false;
      }
      if (folder_) folder_->setRules(rules_ ? std::move(*rules_) : std::vector<TrashRule>{});
      rules_.reset();
      return true;
    case kDescription:
      return true;
    case kFilesToIgnore:
      // Elements pass through here as well; the whole list is kept once the
      // array itself is applied.
      if (const Array* names = item.arrayPtr()) {
        ignores_.emplace();
        ignores_->reserve(names->size());
        for (const Value& name : *names) ignores_->emplace_back(name.asText());
      }
      return true;
    case kFolders:
      if (level == 2 && folder_) {
        if (!globPath_) {
          error = localized("Required key missing: Path.");
          return false;
        }
        if (folder_->value(folder_key::kBudget).isNone() &&
            !folder_->value(folder_key::kBudgetMinimumAge).isNone()) {
          error = localized("BudgetMinimumAge needs a Budget in the same folder entry.");
          return false;
        }
        if (!configured_.add(std::move(*folder_), *globPath_, world_,
                             error))
          return false;
        globPath_.reset();
        folder_.reset();
      }
      return true;
    case kBudget:
      return applyBudget(item, error);
    case kBudgetMinimumAge: {
      double seconds = 0;
      if (!parseBudgetAge(item.asText(), seconds, error)) return false;
      if (folder_) folder_->setValue(folder_key::kBudgetMinimumAge, Value::real(seconds));
      return true;
    }
    case kDataFile:
      dbPath_ = std::string(item.asText());
      return true;
    case kMetricsFile:
      data_.set(xmlKeys[index], item);
      return true;
    default:
      if (index >= kDateFormat && index <= kLogLimit) data_.set(xmlKeys[index], item);
      return true;
  }
}

bool TrashConfigFileParser::applyAction(std::string_view action, std::string& error) {
  const std::string lower = lowercaseText(action);
  constexpr std::string_view kMoveTo = "moveto:";
  if (lower == "trash") return true;
  if (lower == "delete") {
    if (folder_) folder_->setValue(folder_key::kAction, Value::integer(TrashFolder::kDeleteAction));
    return true;
  }
  if (action.size() >= kMoveTo.size() &&
      lowercaseText(action.substr(0, kMoveTo.size())) == kMoveTo) {
    const std::string_view destination = action.substr(kMoveTo.size());
    if (destination.find_first_not_of(" \t") == std::string_view::npos) {
      // An empty destination would move every condemned entry to wherever
      // an empty path happens to lead.
      error = localized(
          "Action '%@' names no destination: give \"moveto:\" followed by the path of a "
          "folder.",
          {action});
      return false;
    }
    if (folder_) {
      // Only the keyword is read without regard to case: file systems here
      // tell "/Archive" from "/archive", so the destination keeps its own.
      folder_->setValue(folder_key::kDestination, Value::text(action.substr(kMoveTo.size())));
      folder_->setValue(folder_key::kAction, Value::integer(TrashFolder::kMoveAction));
    }
    return true;
  }
  error = localized("Unrecognised action: %@.", {action});
  return false;
}

bool TrashConfigFileParser::applyBudget(const Value& item, std::string& error) {
  std::string text(item.asText());
  if (!item.isText()) {
    // A number is a count of bytes, read as the text of that count would be.
    char digits[40];
    std::snprintf(digits, sizeof digits, "%.17g", item.asReal());
    text = digits;
  }
  uint64_t bytes = 0;
  if (!parseBudgetSize(text, bytes, error)) return false;
  if (folder_) folder_->setValue(folder_key::kBudget, Value::unsignedInteger(bytes));
  return true;
}

bool TrashConfigFileParser::checkRoot(std::string& error) {
  if (!dbPath_) {
    error = localized("Required key missing: DataFile.");
    return false;
  }
  if (!fileExists(*dbPath_)) {
    const std::string directory = deletingLastPathComponent(*dbPath_);
    if (!directoryExists(directory)) {
      error = localized("Directory not found: %@ .", {directory});
      return false;
    }
  }
  const std::optional<FolderList>& folders = configured_.folders();
  if (!folders || folders->empty()) {
    error = localized("Folders missing or empty.");
    return false;
  }
  const ConfigSafety judge = safety();
  if (!judge.checkMetricsFile(error)) return false;
  size_t refused = 0;
  if (judge.checkFiles(*folders, configured_.patterns(), error, &refused)) return true;
  if (refused < folders->size()) {
    faultPlace_ = entryPlace(configured_.entries()[refused], configured_.patterns()[refused]);
  }
  return false;
}

ConfigSafety TrashConfigFileParser::safety() const {
  ConfigSafety::OwnFiles files;
  files.configFile = configFile_;
  files.dataFile = dbPath_;
  if (boolForKey(xmlKeys[kLogToFile]))
    files.logFile = stringForKey(xmlKeys[kLogFileName]).value_or("");
  files.metricsFile = stringForKey(xmlKeys[kMetricsFile]);
  return ConfigSafety(world_, std::move(files));
}

bool TrashConfigFileParser::parseRule(const std::string& text, std::string& error) {
  TrashRule rule;
  std::string warning;
  if (!parseCondition(text, rule, error, &warning)) return false;
  if (!warning.empty() && world_.checkMode && world_.out) {
    *world_.out << localized("Warning: %@\n", {warning}) << std::flush;
  }
  if (folder_ && rule.value(rule_key::kKind).asInteger() == kAgeRule) {
    // The last age condition of an entry decides whether its folder is
    // checked at most once a day.
    folder_->setValue(folder_key::kOnceADay, Value::boolean(rule.checkOnce()));
  }
  if (!rules_) rules_.emplace();
  rules_->push_back(std::move(rule));
  return true;
}

std::string TrashConfigFileParser::entryPlace(size_t entry,
                                              std::optional<std::string_view> path) const {
  const std::string number = std::to_string(entry);
  if (!path) return localized("In folder entry %@ (no Path) of %@.", {number, configFile_});
  return localized("In folder entry %@ (Path '%@') of %@.", {number, *path, configFile_});
}

void TrashConfigFileParser::reportParseError(const std::string& message) {
  fault_ = message;
  if (world_.checkMode) {
    if (!world_.out) return;
    *world_.out << localized("Error: %s\n", {message});
    if (!faultPlace_.empty()) *world_.out << faultPlace_ << '\n';
    *world_.out << std::flush;
  } else {
    systemLog(localized("Error parsing config file: %@", {message}));
    if (!faultPlace_.empty()) systemLog(faultPlace_);
  }
}

}  // namespace sweeprun
