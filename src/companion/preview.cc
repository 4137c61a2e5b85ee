#include "companion/preview.h"

#include "companion/json_text.h"
#include "companion/watch_checks.h"
#include "engine/daily_schedule.h"
#include "engine/removal.h"
#include "fs/file_io.h"
#include "fs/path.h"
#include "model/record_keys.h"
#include "os/localization.h"

namespace sweeprun {

namespace {

const char* skipReason(ScheduleAnswer answer) {
  switch (answer) {
    case ScheduleAnswer::kNotEnabled:
      return "not enabled";
    case ScheduleAnswer::kAlreadyCheckedToday:
      return "already checked today";
    default:
      return "not present";
  }
}

const char* removalFailure(RemovalResult result) {
  switch (result) {
    case RemovalResult::kNotDeletable:
      return "you may not delete it";
    case RemovalResult::kNoTrash:
      return "no Trash is known for it";
    case RemovalResult::kDestinationNotDirectory:
      return "the destination is not a folder";
    case RemovalResult::kDestinationMissing:
      return "the destination is missing";
    case RemovalResult::kDeletionFailed:
      return "it could not be deleted";
    default:
      return "it could not be moved";
  }
}

const char* decisionName(EntryDecision::Kind kind) {
  switch (kind) {
    case EntryDecision::kTakenIn:
      return "takeIn";
    case EntryDecision::kKept:
      return "keep";
    case EntryDecision::kRestarted:
      return "startOver";
    case EntryDecision::kRemoved:
      return "remove";
    case EntryDecision::kDeferred:
      return "defer";
    case EntryDecision::kNotRemoved:
      return "notRemoved";
  }
  return "keep";
}

const char* actionName(const TrashFolder& folder) {
  switch (folder.value(folder_key::kAction).asInteger()) {
    case TrashFolder::kDeleteAction:
      return "delete";
    case TrashFolder::kMoveAction:
      return "moveto";
    default:
      return "trash";
  }
}

Value textOrNull(const std::string& text) { return text.empty() ? Value() : Value::text(text); }

}  // namespace

bool PreviewRecorder::wanted(const TrashFolder& folder) const {
  return !onlyPath_ || folder.path() == *onlyPath_;
}

void PreviewRecorder::folderSkipped(const TrashFolder& folder, ScheduleAnswer answer) {
  told_.emplace_back(folder.path());
  if (!wanted(folder)) return;
  folders_.push_back(
      Value::dictionary({{"path", Value::text(folder.path())},
                         {"checked", Value::boolean(false)},
                         {"reason", Value::text(localizedString(skipReason(answer)))},
                         {"entries", Value::array()}}));
}

void PreviewRecorder::folderChecked(const TrashFolder& folder, bool examined) {
  told_.emplace_back(folder.path());
  if (!wanted(folder)) return;
  Value reason;
  if (!examined) {
    const std::string path(folder.path());
    // System mode refuses such folders when it reads its configuration.
    const std::optional<WatchRefusal> refusal =
        systemMode_ ? std::nullopt : watchRefusals(told_).back();
    reason = refusal ? Value::text(localized("runs do not check it: %@", {refusal->text()}))
             : directoryExists(path)
                 ? Value::text(localized("destination folder '%@' is not accessible",
                                         {folder.value(folder_key::kDestination).asText()}))
                 : Value::text(localized("no folder found at '%@'", {path}));
  }
  folders_.push_back(Value::dictionary({{"path", Value::text(folder.path())},
                                        {"checked", Value::boolean(examined)},
                                        {"reason", reason},
                                        {"entries", Value::array()}}));
}

void PreviewRecorder::entryDecided(const TrashFolder& folder, const std::string& name,
                                   const EntryDecision& decision) {
  if (!wanted(folder) || folders_.empty()) return;
  Dictionary entry;
  setFileText(entry, "name", name);
  entry.set("decision", Value::text(decisionName(decision.kind)));
  const bool condemned = decision.kind == EntryDecision::kRemoved ||
                         decision.kind == EntryDecision::kDeferred ||
                         decision.kind == EntryDecision::kNotRemoved;
  entry.set("action", condemned ? Value::text(actionName(folder)) : Value());
  const RemovalPlan& plan = decision.removal;
  const bool placed = decision.kind == EntryDecision::kRemoved && !plan.targetName.empty();
  entry.set("destination", placed ? textOrNull(plan.destination) : Value());
  if (placed) {
    setFileText(entry, "target", joinPath(plan.destination, plan.targetName));
  } else {
    entry.set("target", Value());
  }
  Value reason;
  if (decision.kind == EntryDecision::kDeferred) {
    reason = Value::text(localizedString("the destination is absent for now"));
  } else if (decision.kind == EntryDecision::kNotRemoved) {
    reason = Value::text(localizedString(removalFailure(plan.result)));
  } else if (decision.kind == EntryDecision::kRestarted) {
    reason = Value::text(localizedString("it changed since the last check"));
  }
  entry.set("reason", reason);
  entry.set("budget", Value::boolean(decision.forBudget));
  entry.set("hits", Value::unsignedInteger(decision.item ? decision.item->hits() : 0));
  folders_.back().dictionaryPtr()->find("entries")->arrayPtr()->push_back(
      Value::dictionary(std::move(entry)));
}

std::string previewText(const Value& result) {
  std::string text;
  for (const Value& element : *result.dictionaryPtr()->get("folders").arrayPtr()) {
    const Dictionary& folder = *element.dictionaryPtr();
    const std::string path = terminalText(folder.get("path").asText());
    if (!folder.get("checked").asBool()) {
      text += localized("%@: not checked (%@)", {path, folder.get("reason").asText()}) + "\n";
      continue;
    }
    text += path + "\n";
    size_t removed = 0;
    for (const Value& entryValue : *folder.get("entries").arrayPtr()) {
      const Dictionary& entry = *entryValue.dictionaryPtr();
      const std::string_view decision = entry.get("decision").asText();
      const std::string_view name = entry.get("name").asText();
      std::string verb;
      std::string detail;
      if (decision == "keep") {
        verb = localizedString("keep");
        const uint64_t hits = entry.get("hits").asUnsigned();
        detail = hits == 1 ? localizedString(" (1 check survived)")
                           : localized(" (%@ checks survived)", {std::to_string(hits)});
      } else if (decision == "takeIn") {
        verb = localizedString("take in");
      } else if (decision == "remove") {
        ++removed;
        const std::string_view action = entry.get("action").asText();
        verb = localizedString(action == "delete"   ? "delete"
                               : action == "moveto" ? "move"
                                                    : "trash");
        if (entry.get("target").isText())
          detail = " -> " + terminalText(entry.get("target").asText());
        if (entry.get("budget").asBool()) detail += localizedString(" (for the budget)");
      } else {
        verb = localizedString(decision == "startOver" ? "start over"
                               : decision == "defer"   ? "defer"
                                                       : "not removed");
      }
      if (entry.get("reason").isText()) {
        detail = " (" + std::string(entry.get("reason").asText()) + ")";
      }
      verb.resize(std::max<size_t>(verb.size(), 12), ' ');
      text += "  " + verb + " " + terminalText(name) + detail + "\n";
    }
    text += "  " +
            (removed == 1 ? localizedString("1 entry would be removed.")
                          : localized("%@ entries would be removed.", {std::to_string(removed)})) +
            "\n";
  }
  return text;
}

}  // namespace sweeprun
