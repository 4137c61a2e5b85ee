#include "companion/folder_report.h"

#include <algorithm>
#include <cmath>

#include "companion/config_export.h"
#include "companion/json_text.h"
#include "engine/rule_evaluation.h"
#include "fs/path.h"
#include "model/record_keys.h"
#include "os/localization.h"
#include "settings/condition_parser.h"

namespace sweeprun {

namespace {

Value dateOrNull(const TrashFolder& folder, std::string_view key) {
  const Value& stored = folder.value(key);
  return stored.isNone() ? Value() : Value::date(stored.asDate());
}

const char* actionName(int64_t play) {
  switch (play) {
    case TrashFolder::kDeleteAction:
      return "delete";
    case TrashFolder::kMoveAction:
      return "moveto";
    default:
      return "trash";  // any other value acts as the Trash
  }
}

Value ruleSummary(const TrashRule& rule, Date now) {
  // A disabled rule yields no phrase; describe it as if it were on.
  TrashRule described(rule);
  described.setValue(folder_key::kEnabled, Value::boolean(true));
  std::string why;
  std::optional<std::string> expression = conditionExpression(described, why);
  Dictionary entry;
  entry.set("description", Value::text(prepareWithLog(described, true, now).value_or("")));
  entry.set("expression", expression ? Value::text(*expression) : Value());
  entry.set("enabled", Value::boolean(rule.value(rule_key::kEnabled).asBool()));
  return Value::dictionary(std::move(entry));
}

Value itemSummary(const TrashItem& item, Date now) {
  Dictionary entry;
  setFileText(entry, "name", lastPathComponent(item.path()));
  setFileText(entry, "path", item.path());
  const Value& checkedIn = item.value(item_key::kCheckedIn);
  entry.set("checkedIn", checkedIn.isNone() ? Value() : Value::date(checkedIn.asDate()));
  entry.set("ageSeconds",
            checkedIn.isNone() ? Value() : Value::real(now.seconds - checkedIn.asDate().seconds));
  entry.set("hits", Value::unsignedInteger(item.hits()));
  entry.set("size", Value::unsignedInteger(item.size()));
  return Value::dictionary(std::move(entry));
}

std::string yesNo(const Value& value, const char* yes, const char* no) {
  return localizedString(value.asBool() ? yes : no);
}

}  // namespace

Value folderSummary(const TrashFolder& folder, Date now, bool withItems,
                    const std::string& refused) {
  Dictionary summary;
  const int64_t play = folder.value(folder_key::kAction).asInteger();
  setFileText(summary, "path", folder.path());
  summary.set("name", Value::text(folder.value(folder_key::kName).asText()));
  summary.set("enabled", Value::boolean(folder.value(folder_key::kEnabled).asBool()));
  // A folder a run turned off: when, and why.
  const bool runDisabled = folder.value(folder_key::kDisabledBecause).isText();
  summary.set("disabledByRun", runDisabled ? dateOrNull(folder, folder_key::kDisabledOn) : Value());
  summary.set("disabledBecause",
              runDisabled ? Value::text(folder.value(folder_key::kDisabledBecause).asText())
                          : Value());
  summary.set("action", Value::text(actionName(play)));
  summary.set("destination", play == TrashFolder::kMoveAction
                                 ? Value::text(folder.value(folder_key::kDestination).asText())
                                 : Value());
  summary.set("dated", Value::boolean(folder.value(folder_key::kDatedFolder).asBool()));
  summary.set("network", Value::boolean(folder.value(folder_key::kMayBeAbsent).asBool()));
  summary.set("onceADay", Value::boolean(folder.value(folder_key::kOnceADay).asBool()));
  summary.set("matchAll", Value::boolean(folder.value(folder_key::kMatchAll).asInteger() == 1));
  summary.set("lastCheck", dateOrNull(folder, folder_key::kLastCheck));
  summary.set("checkRequestedFor", dateOrNull(folder, folder_key::kCheckAgainOn));
  summary.set("checks", Value::unsignedInteger(folder.value(folder_key::kChecks).asUnsigned()));
  summary.set("takenIn", Value::unsignedInteger(folder.value(folder_key::kTakenIn).asUnsigned()));
  summary.set("movedOut", Value::unsignedInteger(folder.value(folder_key::kMovedOut).asUnsigned()));
  summary.set("removedByLastCheck",
              Value::integer(folder.value(folder_key::kRemovedByLastCheck).asInteger()));
  if (folder.value(folder_key::kReadMeName).isText()) {
    summary.set(
        "readMe",
        Value::dictionary({{"name", folder.value(folder_key::kReadMeName)},
                           {"text", Value::text(folder.value(folder_key::kReadMeText).asText())}}));
  } else {
    summary.set("readMe", Value());
  }
  if (folder.value(folder_key::kBudget).isNumber()) {
    const Value& size = folder.value(folder_key::kSizeAtLastCheck);
    summary.set(
        "budget",
        Value::dictionary(
            {{"bytes", Value::unsignedInteger(folder.value(folder_key::kBudget).asUnsigned())},
             {"minimumAgeSeconds",
              Value::real(folder.value(folder_key::kBudgetMinimumAge).asReal())},
             {"sizeAtLastCheck",
              size.isNumber() ? Value::unsignedInteger(size.asUnsigned()) : Value()}}));
  } else {
    summary.set("budget", Value());
  }
  Array rules;
  for (const TrashRule& rule : folder.rules()) rules.push_back(ruleSummary(rule, now));
  summary.set("rules", Value::array(std::move(rules)));
  summary.set("refused", refused.empty() ? Value() : Value::text(refused));
  if (withItems) {
    Array items;
    if (folder.items()) {
      for (const TrashItem& item : *folder.items()) items.push_back(itemSummary(item, now));
    }
    summary.set("items", Value::array(std::move(items)));
  }
  return Value::dictionary(std::move(summary));
}

std::string folderSummaryText(const Value& summary, Date now) {
  const Dictionary& s = *summary.dictionaryPtr();
  std::string text = terminalText(s.get("path").asText());
  text += "\n  ";
  if (s.get("refused").isText()) {
    text += localized("refused: %@; runs skip it", {terminalText(s.get("refused").asText())});
    text += "\n  ";
  }
  if (s.get("disabledByRun").isDate()) {
    text += localized("disabled by the run of %@: %@",
                      {standardDateText(s.get("disabledByRun").asDate()),
                       terminalText(s.get("disabledBecause").asText())});
  } else {
    text += yesNo(s.get("enabled"), "enabled", "disabled");
  }
  const std::string_view action = s.get("action").asText();
  if (action == "moveto") {
    text += localized("; moves entries to '%@'", {terminalText(s.get("destination").asText())});
  } else if (action == "delete") {
    text += localizedString("; deletes entries");
  } else {
    text += localizedString("; moves entries to the Trash");
  }
  if (s.get("dated").asBool()) text += localizedString(" (into a dated sub-folder)");
  if (s.get("onceADay").asBool()) text += localizedString("; checked once a day");
  if (s.get("network").asBool()) text += localizedString("; may be absent");
  text += "\n  ";
  if (s.get("lastCheck").isNone()) {
    text += localizedString("never checked");
  } else {
    text += localized("last checked %@", {standardDateText(s.get("lastCheck").asDate())});
  }
  text += localized(" (%@; %@ taken in, %@ moved out, %@ removed by the last check)",
                    {countText(s.get("checks").asUnsigned(), "check", "checks"),
                     std::to_string(s.get("takenIn").asUnsigned()),
                     std::to_string(s.get("movedOut").asUnsigned()),
                     std::to_string(s.get("removedByLastCheck").asInteger())});
  text += "\n";
  if (!s.get("checkRequestedFor").isNone()) {
    text +=
        "  " +
        localized("extra check requested for %@", {dayStamp(s.get("checkRequestedFor").asDate())}) +
        "\n";
  }
  if (const Dictionary* readMe = s.get("readMe").dictionaryPtr()) {
    text += "  " +
            localized("keeps the read-me file '%@'", {terminalText(readMe->get("name").asText())}) +
            "\n";
  }
  if (const Dictionary* budget = s.get("budget").dictionaryPtr()) {
    text += "  " + localized("keeps under a budget of %@",
                             {byteCountText(budget->get("bytes").asUnsigned())});
    const double minimumAge = budget->get("minimumAgeSeconds").asReal();
    if (minimumAge > 0) {
      text +=
          localized(", never removing what was first seen within %@", {budgetAgeText(minimumAge)});
    }
    if (budget->get("sizeAtLastCheck").isNumber()) {
      text += localized("; %@ at the last check",
                        {byteCountText(budget->get("sizeAtLastCheck").asUnsigned())});
    }
    text += "\n";
  }

  const Array& rules = *s.get("rules").arrayPtr();
  if (rules.empty()) {
    text += "  " + localizedString("no conditions: nothing is removed") + "\n";
  } else {
    text += "  " +
            localizedString(s.get("matchAll").asBool()
                                ? "removes entries that meet all of these conditions:"
                                : "removes entries that meet any of these conditions:") +
            "\n";
    for (size_t i = 0; i < rules.size(); ++i) {
      const Dictionary& rule = *rules[i].dictionaryPtr();
      text += "    " + std::to_string(i + 1) + ". " + std::string(rule.get("description").asText());
      if (rule.get("expression").isText()) {
        text += "  [" + std::string(rule.get("expression").asText()) + "]";
      }
      if (!rule.get("enabled").asBool()) text += localizedString("  (disabled)");
      text += "\n";
    }
  }

  if (const Value* items = s.find("items")) {
    const Array& list = *items->arrayPtr();
    text += "  " + localized("tracked entries: %@", {std::to_string(list.size())}) + "\n";
    for (const Value& element : list) {
      const Dictionary& item = *element.dictionaryPtr();
      const Value& checkedIn = item.get("checkedIn");
      std::string line = "    ";
      if (checkedIn.isNone()) {
        line += localizedString("(no check-in date)");
      } else {
        line +=
            localized("checked in %@, %@ ago", {standardDateText(checkedIn.asDate()),
                                                ageText(now.seconds - checkedIn.asDate().seconds)});
      }
      const uint64_t hits = item.get("hits").asUnsigned();
      line += localized(", %@: %@", {countText(hits, "check", "checks"),
                                     terminalText(item.get("name").asText())});
      text += line + "\n";
    }
  }
  return text;
}

std::string countText(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + localizedString(n == 1 ? one : many);
}

std::string ageText(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
  struct Unit {
    double seconds;
    const char* one;
    const char* many;
  };
  static const Unit kUnits[] = {
      {86400, "1 day", "%@ days"},
      {3600, "1 hour", "%@ hours"},
      {60, "1 minute", "%@ minutes"},
  };
  for (const Unit& unit : kUnits) {
    if (seconds < unit.seconds) continue;
    const double count = std::floor(seconds / unit.seconds);
    if (count == 1) return localizedString(unit.one);
    return localized(unit.many, {std::to_string(static_cast<uint64_t>(std::min(count, 1e18)))});
  }
  const double count = std::floor(seconds);
  return count == 1 ? localizedString("1 second")
                    : localized("%@ seconds", {std::to_string(static_cast<uint64_t>(count))});
}

}  // namespace sweeprun
