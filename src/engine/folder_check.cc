#include <algorithm>
#include <memory>

#include "engine/item_index.h"
#include "engine/loggable_text.h"
#include "engine/next_item_list.h"
#include "engine/removal.h"
#include "engine/rule_evaluation.h"
#include "engine/trash_collector.h"
#include "fs/folder.h"
#include "fs/path.h"
#include "log/trash_log.h"
#include "model/record_keys.h"
#include "os/localization.h"
#include "os/process.h"
#include "settings/trash_config_file_parser.h"

namespace sweeprun {

namespace {

constexpr unsigned kReadMeMode = 0444;

// The read-me name is the last component of "rfil"; none when absent or empty.
std::string readMeName(const TrashFolder& folder) {
  std::string_view stored = folder.value(folder_key::kReadMeName).asText();
  if (stored.empty()) return {};
  return lastPathComponent(stored);
}

// The entries of the watched folder at |path| that hold the folder's own
// destination: the move-to folder or the Trash, when they lie inside it.
// Condemning one would move a folder into itself, or the Trash into the
// Trash, again at every check; they are passed over like the read-me file.
std::vector<std::string> destinationHolders(const TrashFolder& folder, const std::string& path) {
  std::vector<std::string> destinations;
  const Process& context = process();
  switch (folder.value(folder_key::kAction).asInteger()) {
    case TrashFolder::kMoveAction:
      destinations.push_back(
          standardizePath(folder.value(folder_key::kDestination).asText(), context.homeDirectory));
      break;
    case TrashFolder::kDeleteAction:
      break;
    default:
      if (context.userTrashPath) {
        destinations.push_back(deletingLastPathComponent(*context.userTrashPath));
      } else if (context.systemMode) {
        destinations.push_back(joinPath(path, ".Trash"));  // when |path| is an account folder
      }
      break;
  }
  std::vector<std::string> names;
  const std::string prefix = path == "/" ? path : path + "/";
  for (const std::string& destination : destinations) {
    if (destination.size() <= prefix.size() || destination.compare(0, prefix.size(), prefix) != 0)
      continue;
    names.push_back(
        destination.substr(prefix.size(), destination.find('/', prefix.size()) - prefix.size()));
  }
  return names;
}

// Unchanged when the tracked size equals the entry's (a missing size counting
// as 0) and both modification dates are known and equal. |now| is none when
// the entry's attributes could not be read.
bool unchangedSince(const TrashItem& tracked, const EntryAttributes* now) {
  const std::optional<Date> trackedDate = tracked.modified();
  return tracked.size() == (now ? now->size : 0) && trackedDate && now && now->modificationDate &&
         *trackedDate == *now->modificationDate;
}

// Rewrites the read-me file: whatever holds its name (but a folder) is
// removed, and a fresh read-only file is created in its place, never
// through a link planted under that name.
void refreshReadMe(const TrashFolder& folder, const Folder& dir, const std::string& name) {
  std::string error;
  if (std::optional<EntryAttributes> existing = dir.statEntry(name)) {
    if (existing->isDirectory()) {
      TrashLog::err(process().runLog,
                    localized("Unable to create '%@' as there is a directory with that name.",
                              {loggableText(name)}));
      return;
    }
    dir.removeFile(name, error);
  }
  dir.createFileExclusive(name, folder.value(folder_key::kReadMeText).asText(), kReadMeMode, error);
}

// The entry lines of one check. A line that only tells what was seen is
// gathered and written with others in one block: a write per line costs
// about as much as reading the entry. A line that tells of a removal, and
// every error, goes out at once after what was gathered, so the run log
// keeps its order and never lags behind what was done to an entry.
class EntryLines {
 public:
  EntryLines() : open_(process().runLog != nullptr) {}
  ~EntryLines() { flush(); }
  EntryLines(const EntryLines&) = delete;
  EntryLines& operator=(const EntryLines&) = delete;

  // The observation lines, looked up once per check.
  const std::string takenIn = localizedString("+ %@");
  const std::string kept = localizedString("  %@");
  const std::string restarted = localizedString("= %@");
  // And the lines of a removal.
  const std::string removedNew = localizedString("- %@");
  const std::string removedKnown = localizedString("- %@ (checked in %@)");

  /// Gathers the line |format| (one of the three above) with |name|.
  void seen(const std::string& format, std::string_view name) {
    if (!open_) return;
    pending_.append(formatMessage(format, {loggableText(name)})).push_back('\n');
    if (pending_.size() >= kBlockBytes) flush();
  }
  void acted(std::string_view line) {
    flush();
    logLine(process().runLog, line);
  }
  void error(std::string_view message) {
    flush();
    TrashLog::err(process().runLog, message);
  }
  void flush() {
    if (pending_.empty()) return;
    pending_.pop_back();  // the run log ends the block with a line feed itself
    logLine(process().runLog, pending_);
    pending_.clear();
  }

 private:
  static constexpr size_t kBlockBytes = 64 * 1024;
  const bool open_;
  std::string pending_;
};

// Logs the outcome of a removal and tells what became of the entry; only a
// deferred entry stays tracked. |name| is the entry's name as logged.
EntryDecision::Kind reportRemoval(const RemovalPlan& outcome, const std::string& name,
                                  const std::string& removedLine, int32_t& removed,
                                  EntryLines& lines) {
  // Why the Trash of the entry's own file system was passed over, or which
  // one was refused.
  if (!outcome.note.empty()) lines.acted(loggableText("Trash: " + outcome.note + "."));
  switch (outcome.result) {
    case RemovalResult::kRemoved:
      ++removed;
      lines.acted(removedLine);
      return EntryDecision::kRemoved;
    case RemovalResult::kDestinationAbsentNow:
      lines.acted(localized("> %@", {name}));
      return EntryDecision::kDeferred;
    case RemovalResult::kDeletionFailed:
    case RemovalResult::kMoveFailed:
      lines.error(localized("Unable to (re)move '%@'.", {name}));
      [[fallthrough]];
    case RemovalResult::kNoTrash:
    case RemovalResult::kDestinationNotDirectory:
    case RemovalResult::kDestinationMissing:
      // The system's reason; with no Trash or destination, why the one
      // looked for was refused or could not be made.
      if (!outcome.reason.empty()) lines.error(loggableText(outcome.reason));
      break;
    default:
      break;
  }
  lines.acted(localized("= %@ (not removed)", {name}));
  return EntryDecision::kNotRemoved;
}

// A condemned entry that the run may not remove (see RunObserver::mayRemove):
// untouched and still tracked, it is left for a later run, as a deferred
// one is.
EntryDecision::Kind holdBack(RemovalPlan& outcome, const std::string& name, EntryLines& lines) {
  outcome.result = RemovalResult::kNotDeletable;
  outcome.reason = localizedString("the run journal cannot record its removal");
  lines.acted(localized("= %@ (not removed)", {name}));
  return EntryDecision::kDeferred;
}

}  // namespace

RemovalResult TrashCollector::dispose(TrashFolder& folder, const Folder& dir,
                                      const std::string& name, RemovalPlan& outcome,
                                      const EntryAttributes* known) {
  if (dryRun_) {
    outcome = planUnlink(folder, dir, name, &planned_, *folders_);
    if (outcome.result == RemovalResult::kRemoved && !outcome.targetName.empty()) {
      planned_.insert(joinPath(outcome.destination, outcome.targetName));
    }
    return outcome.result;
  }
  const RemovalResult result = unlink(folder, dir, name, &outcome, *folders_, known);
  // A failure is an action that was tried and did not come off; an entry
  // that no Trash was even looked for, or whose destination is away for
  // now, is not one.
  if (result == RemovalResult::kDeletionFailed || result == RemovalResult::kMoveFailed ||
      (result != RemovalResult::kRemoved && result != RemovalResult::kDestinationAbsentNow &&
       !outcome.reason.empty())) {
    ++failures_;
  }
  return result;
}

void TrashCollector::checkFolder(TrashFolder& folder) {
  const std::string path(folder.path());
  const std::string shownPath = loggableText(path);
  logLine(process().runLog, localized("Checking folder '%@'.", {shownPath}));
  int32_t removed = 0;

  std::unique_ptr<Folder> opened;
  std::string error;
  bool examined = false;
  std::string refusal;
  if (folders_->openDirectory(path, opened, error) != OpenStatus::kOpened) {
    reportError(localized("No folder found at '%@'.", {shownPath}));
  } else if (process().systemMode && configuration_ &&
             !(refusal = configuration_->refusalOfWatchedFolder(path, opened->realFolder()))
                  .empty()) {
    // The parse refused such folders already; this one became one since
    // (a folder swapped for a link) or came from the stored list.
    reportError(loggableText(refusal));
  } else if (folder.value(folder_key::kAction).asInteger() == TrashFolder::kMoveAction &&
             !folders_->folderExists(
                 std::string(folder.value(folder_key::kDestination).asText())) &&
             !folder.value(folder_key::kMayBeAbsent).asBool()) {
    reportError(localized("Destination folder '%@' is not accessible.",
                          {loggableText(folder.value(folder_key::kDestination).asText())}));
  } else {
    examined = true;
  }

  for (RunObserver* observer : observers_) observer->folderChecked(folder, examined);
  if (examined) {
    const Folder& dir = *opened;
    bool listed = false;
    const EntryNames names = dir.listNames(listed);

    std::optional<std::string> description =
        prepareWithLog(folder, process().runLog != nullptr, process().clock());
    if (process().runLog && description) logLine(process().runLog, *description);

    const std::string readMe = readMeName(folder);
    const std::vector<std::string> holders = destinationHolders(folder, path);
    std::shared_ptr<ItemList> tracked = folder.items();
    ItemIndex index(tracked.get());
    NextItemList fresh(tracked.get(), index, names.size());
    const PreparedRules rules(folder);
    EntryLines lines;
    // The folder's path and one separator, as joinPath puts them before a
    // name; one buffer holds each entry's path in turn.
    std::string entryPrefix = joinPath(path, "-");
    entryPrefix.pop_back();
    std::string entryPath = entryPrefix;
    uint64_t checkedIn = 0;
    // Each name in turn, in one buffer that grows only to the longest name.
    std::string name;

    for (const std::string_view listedName : names) {
      name.assign(listedName);
      if (std::find(vips.begin(), vips.end(), name) != vips.end()) continue;
      if (!readMe.empty() && name == readMe) continue;
      if (std::find(holders.begin(), holders.end(), name) != holders.end()) continue;

      const std::optional<EntryAttributes> attributes = dir.statEntry(name);
      const EntryAttributes* now = attributes ? &*attributes : nullptr;
      entryPath.resize(entryPrefix.size());
      entryPath.append(name);
      // A record is made only for an entry that needs one: most entries are
      // tracked and unchanged, and their tracked record serves.
      const int64_t position = index.find(entryPath, now ? now->fileNumber : 0);
      RemovalPlan outcome;
      if (position < 0) {
        TrashItem item = TrashItem::withAttributes(entryPath, now, process().clock());
        EntryDecision::Kind kind = EntryDecision::kTakenIn;
        const TrashRule* rule = rules.violatedBy(item);
        if (!rule) {
          lines.seen(lines.takenIn, name);
        } else if (!mayRemove()) {
          kind = holdBack(outcome, loggableText(name), lines);
        } else {
          const std::string shown = loggableText(name);
          dispose(folder, dir, name, outcome, now);
          kind = reportRemoval(outcome, shown, formatMessage(lines.removedNew, {shown}), removed,
                               lines);
        }
        for (RunObserver* observer : observers_) {
          observer->entryDecided(folder, name, {kind, &item, rule, outcome});
        }
        if (kind == EntryDecision::kTakenIn || kind == EntryDecision::kDeferred) {
          fresh.add(std::move(item));
        }
        ++checkedIn;
        continue;
      }

      index.take(position);
      TrashItem& known = (*tracked)[static_cast<size_t>(position)];
      if (!unchangedSince(known, now)) {
        // Changed since it was last seen: tracking starts again, untested.
        TrashItem item = TrashItem::withAttributes(entryPath, now, process().clock());
        lines.seen(lines.restarted, name);
        for (RunObserver* observer : observers_) {
          observer->entryDecided(folder, name, {EntryDecision::kRestarted, &item, nullptr, {}});
        }
        fresh.add(std::move(item));
        continue;
      }
      known.incrHits();
      EntryDecision::Kind kind = EntryDecision::kKept;
      const TrashRule* rule = rules.violatedBy(known);
      if (!rule) {
        lines.seen(lines.kept, name);
      } else if (!mayRemove()) {
        kind = holdBack(outcome, loggableText(name), lines);
      } else {
        dispose(folder, dir, name, outcome, now);
        const std::string shown = loggableText(name);
        kind = reportRemoval(
            outcome, shown,
            formatMessage(lines.removedKnown, {shown, standardDateText(known.checkedIn())}),
            removed, lines);
      }
      for (RunObserver* observer : observers_) {
        observer->entryDecided(folder, name, {kind, &known, rule, outcome});
      }
      if (kind == EntryDecision::kKept || kind == EntryDecision::kDeferred) {
        fresh.keep(position);
      }
    }

    folder.setItems(fresh.finish(std::move(tracked)));
    if (checkedIn > 0) {
      folder.setValue(
          folder_key::kTakenIn,
          Value::unsignedInteger(folder.value(folder_key::kTakenIn).asUnsigned() + checkedIn));
    }
    lines.flush();
    if (!readMe.empty() && !dryRun_) refreshReadMe(folder, dir, readMe);
  }

  folder.setValue(folder_key::kRemovedByLastCheck, Value::integer(removed));
  folder.incrForKey(folder_key::kChecks);
  folder.setDate(process().clock(), folder_key::kLastCheck);
  logLine(process().runLog, removed == 1
                                ? localized("%d item was removed.", {"1"})
                                : localized("%d items were removed.", {std::to_string(removed)}));
  logLine(process().runLog, "");
}

}  // namespace sweeprun
