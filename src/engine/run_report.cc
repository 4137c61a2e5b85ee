#include "engine/run_report.h"

#include <charconv>
#include <vector>

#include "engine/loggable_text.h"
#include "engine/metrics_text.h"
#include "fs/entry_attributes.h"
#include "fs/file_io.h"
#include "fs/path.h"
#include "log/trash_log.h"
#include "model/record_keys.h"
#include "os/localization.h"
#include "os/process_info.h"
#include "os/systemd_journal.h"

namespace sweeprun {

namespace {

// Readable by the collector's own account, whichever that is.
constexpr unsigned kMetricsFileMode = 0644;

std::string actionName(const TrashFolder& folder) {
  switch (folder.value(folder_key::kAction).asInteger()) {
    case TrashFolder::kDeleteAction:
      return "delete";
    case TrashFolder::kMoveAction:
      return "move";
    default:
      return "trash";
  }
}

// SWEEPRUN_RESULT: "done", "failed", "deferred" (the destination is away
// for now) or "kept" (left in place without failing: the running user may
// not remove it).
std::string resultName(const EntryDecision& decision) {
  if (decision.kind == EntryDecision::kRemoved) return "done";
  if (decision.kind == EntryDecision::kDeferred) return "deferred";
  return RunTally::isFailure(decision.removal) ? "failed" : "kept";
}

// Empty when the run may replace what |path| names: nothing yet, or a
// regular file of the run's own account, as the last run left it; else why
// not. The folder is often another account's (the exporter's), so whatever
// else is there is that account's doing and is left alone. The check is
// advice, not the guard: the new file is renamed over the name, which never
// writes through whatever holds it by then.
std::string metricsFileRefusal(const std::string& path) {
  const std::optional<EntryAttributes> existing = attributesOfItemAtPath(path);
  if (!existing) return std::string();  // nothing there, or the write tells why
  if (existing->isSymbolicLink())
    return localized("'%@' is a symbolic link, not a regular file.", {path});
  if (existing->isDirectory()) return localized("'%@' is a folder, not a regular file.", {path});
  if (!existing->isRegularFile()) return localized("'%@' is not a regular file.", {path});
  if (existing->owner != effectiveUserId()) {
    return localized("'%@' belongs to user %@, not to the user the run works as.",
                     {path, std::to_string(existing->owner)});
  }
  return std::string();
}

std::string secondsText(double seconds) {
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed, 3);
  return std::string(buffer, result.ptr);
}

}  // namespace

RunReport::RunReport(std::function<Date()> clock, std::optional<std::string> metricsFile)
    : tally_(std::move(clock)), metricsFile_(std::move(metricsFile)), journal_(journalIsPresent()) {}

void RunReport::entryDecided(const TrashFolder& folder, const std::string& name,
                             const EntryDecision& decision) {
  tally_.entryDecided(folder, name, decision);
  if (!journal_) return;
  if (decision.kind != EntryDecision::kRemoved && decision.kind != EntryDecision::kNotRemoved &&
      decision.kind != EntryDecision::kDeferred)
    return;

  const std::string path(folder.path());
  const std::string action = actionName(folder);
  const std::string result = resultName(decision);
  const RemovalPlan& plan = decision.removal;
  std::string destination = plan.destination;
  if (!destination.empty() && !plan.targetName.empty()) {
    destination = joinPath(destination, plan.targetName);
  }
  std::vector<JournalField> fields = {
      {"MESSAGE_ID", std::string(kEntryActionMessageId)},
      {"SWEEPRUN_FOLDER", path},
      {"SWEEPRUN_ENTRY", name},
      {"SWEEPRUN_ACTION", action},
      {"SWEEPRUN_RESULT", result},
  };
  if (!destination.empty()) fields.push_back({"SWEEPRUN_DESTINATION", destination});
  if (!plan.reason.empty()) fields.push_back({"SWEEPRUN_REASON", plan.reason});

  // The text is for people reading the journal; the fields carry the bytes.
  std::string message =
      localized("%@ '%@' in '%@': %@", {action, loggableText(name), loggableText(path), result});
  if (!destination.empty()) message += localized(" (to '%@')", {loggableText(destination)});
  std::string error;
  sendJournalRecord(message, result == "failed" ? LogPriority::kError : LogPriority::kNotice,
                    fields, error);
}

void RunReport::finish(int exitStatus, TrashLog* runLog) {
  if (journal_) {
    const RunTally& t = tally_;
    const std::string duration = secondsText(t.durationSeconds());
    const std::vector<JournalField> fields = {
        {"MESSAGE_ID", std::string(kRunSummaryMessageId)},
        {"SWEEPRUN_FOLDERS_CHECKED", std::to_string(t.foldersChecked())},
        {"SWEEPRUN_ENTRIES_SEEN", std::to_string(t.seen())},
        {"SWEEPRUN_ENTRIES_TAKEN_IN", std::to_string(t.takenIn())},
        {"SWEEPRUN_ENTRIES_REMOVED", std::to_string(t.removed())},
        {"SWEEPRUN_ENTRIES_FAILED", std::to_string(t.failed())},
        {"SWEEPRUN_DURATION_SECONDS", duration},
        {"SWEEPRUN_EXIT_STATUS", std::to_string(exitStatus)},
    };
    const std::string message = localized(
        "Run finished with status %@ in %@ s: folders checked %@, entries seen %@, taken in %@, "
        "removed %@, failed %@.",
        {std::to_string(exitStatus), duration, fields[1].value, fields[2].value, fields[3].value,
         fields[4].value, fields[5].value});
    std::string error;
    sendJournalRecord(message, exitStatus == 0 ? LogPriority::kNotice : LogPriority::kError, fields,
                      error);
  }
  if (metricsFile_) {
    std::string error = metricsFileRefusal(*metricsFile_);
    if (!error.empty() || !replaceFileAtomically(*metricsFile_, metricsText(tally_, exitStatus),
                                                 kMetricsFileMode, error)) {
      TrashLog::err(runLog,
                    localized("Unable to write the metrics file '%@'.", {*metricsFile_}));
      TrashLog::err(runLog, error);
    }
  }
}

}  // namespace sweeprun
