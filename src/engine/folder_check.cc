#include <algorithm>
#include <memory>

#include "engine/item_index.h"
#include "engine/removal.h"
#include "engine/rule_evaluation.h"
#include "engine/trash_collector.h"
#include "log/trash_log.h"
#include "platform/dir_handle.h"
#include "platform/file_io.h"
#include "platform/localization.h"
#include "platform/path.h"
#include "platform/process.h"

namespace sweeprun {

namespace {

constexpr unsigned kReadMeMode = 0444;

// The read-me name is the last component of "rfil"; none when absent or empty.
std::string readMeName(const TrashFolder& folder) {
  std::string_view stored = folder.value("rfil").asText();
  if (stored.empty()) return {};
  return lastPathComponent(stored);
}

bool sameUnchangedEntry(const TrashItem& tracked, const TrashItem& fresh) {
  const Value& trackedDate = tracked.value("mdat");
  const Value& freshDate = fresh.value("mdat");
  return tracked.value("size").asUnsigned() == fresh.value("size").asUnsigned() &&
         trackedDate.isDate() && freshDate.isDate() &&
         trackedDate.asDate() == freshDate.asDate();
}

// Rewrites the read-me file: whatever holds its name (but a folder) is
// removed, and a fresh read-only file is created in its place, never
// through a link planted under that name.
void refreshReadMe(const TrashFolder& folder, const DirHandle& dir, const std::string& name) {
  std::string error;
  if (std::optional<EntryAttributes> existing = dir.statEntry(name)) {
    if (existing->isDirectory()) {
      TrashLog::err(
          localized("Unable to create '%@' as there is a directory with that name.", {name}));
      return;
    }
    dir.removeFile(name, error);
  }
  dir.createFileExclusive(name, folder.value("rtxt").asText(), kReadMeMode, error);
}

// Logs the outcome of a removal and tells what became of the entry; only a
// deferred entry stays tracked.
EntryDecision::Kind reportRemoval(int result, const std::string& name,
                                  const std::string& removedLine, int32_t& removed) {
  switch (result) {
    case kRemoved:
      ++removed;
      logLine(removedLine);
      return EntryDecision::kRemoved;
    case kDestinationAbsentNow:
      logLine(localized("> %@", {name}));
      return EntryDecision::kDeferred;
    case kDeletionFailed:
    case kMoveFailed:
      TrashLog::err(localized("Unable to (re)move '%@'.", {name}));
      [[fallthrough]];
    default:
      logLine(localized("= %@ (not removed)", {name}));
      return EntryDecision::kNotRemoved;
  }
}

}  // namespace

int TrashCollector::dispose(TrashFolder& folder, const DirHandle& dir, const std::string& name,
                            RemovalPlan& outcome) {
  if (dryRun_) {
    outcome = planUnlink(folder, dir, name, &planned_);
    if (outcome.result == kRemoved && !outcome.targetName.empty()) {
      planned_.insert(joinPath(outcome.destination, outcome.targetName));
    }
    return outcome.result;
  }
  return unlink(folder, dir, name, &outcome);
}

void TrashCollector::checkFolder(TrashFolder& folder) {
  const std::string path(folder.path());
  logLine(localized("Checking folder '%@'.", {path}));
  int32_t removed = 0;

  DirHandle dir;
  std::string error;
  bool examined = false;
  if (DirHandle::openDirectory(path, dir, error) != OpenStatus::kOpened) {
    reportError(localized("No folder found at '%@'.", {path}));
  } else if (folder.value("play").asInteger() == TrashFolder::kMoveAction &&
             !directoryExists(std::string(folder.value("move").asText())) &&
             !folder.value("temp").asBool()) {
    reportError(localized("Destination folder '%@' is not accessible.",
                            {folder.value("move").asText()}));
  } else {
    examined = true;
  }

  if (observer_) observer_->folderChecked(folder, examined);
  if (examined) {
    bool listed = false;
    std::vector<std::string> names = dir.listNames(listed);

    std::optional<std::string> description =
        prepareWithLog(folder, process().runLog != nullptr, process().clock());
    if (process().runLog && description) logLine(*description);

    const std::string readMe = readMeName(folder);
    std::shared_ptr<ItemList> tracked = folder.items();
    ItemIndex index(tracked.get());
    auto fresh = std::make_shared<ItemList>();
    fresh->reserve(names.size());

    for (const std::string& name : names) {
      if (std::find(vips.begin(), vips.end(), name) != vips.end()) continue;
      if (!readMe.empty() && name == readMe) continue;

      std::optional<EntryAttributes> attributes = dir.statEntry(name);
      TrashItem item = TrashItem::withAttributes(joinPath(path, name),
                                                 attributes ? &*attributes : nullptr,
                                                 process().clock());
      int64_t position = index.find(item);
      RemovalPlan outcome;
      if (position < 0) {
        EntryDecision::Kind kind = EntryDecision::kTakenIn;
        const TrashRule* rule = ruleViolatedBy(folder, item);
        if (!rule) {
          logLine(localized("+ %@", {name}));
        } else {
          kind = reportRemoval(dispose(folder, dir, name, outcome), name,
                               localized("- %@", {name}), removed);
        }
        if (observer_) observer_->entryDecided(folder, name, {kind, &item, rule, outcome});
        if (kind == EntryDecision::kTakenIn || kind == EntryDecision::kDeferred) {
          fresh->push_back(std::move(item));
        }
        folder.incrForKey("ckin");
        continue;
      }

      index.take(position);
      TrashItem& known = (*tracked)[static_cast<size_t>(position)];
      if (!sameUnchangedEntry(known, item)) {
        // Changed since it was last seen: tracking starts again, untested.
        logLine(localized("= %@", {name}));
        if (observer_) {
          observer_->entryDecided(folder, name, {EntryDecision::kRestarted, &item, nullptr, {}});
        }
        fresh->push_back(std::move(item));
        continue;
      }
      known.incrHits();
      EntryDecision::Kind kind = EntryDecision::kKept;
      const TrashRule* rule = ruleViolatedBy(folder, known);
      if (!rule) {
        logLine(localized("  %@", {name}));
      } else {
        int result = dispose(folder, dir, name, outcome);
        kind = reportRemoval(
            result, name,
            localized("- %@ (checked in %@)", {name, standardDateText(known.value("idat").asDate())}),
            removed);
      }
      if (observer_) observer_->entryDecided(folder, name, {kind, &known, rule, outcome});
      if (kind == EntryDecision::kKept || kind == EntryDecision::kDeferred) {
        fresh->push_back(std::move(known));
      }
    }

    folder.setItems(std::move(fresh));
    if (!readMe.empty() && !dryRun_) refreshReadMe(folder, dir, readMe);
  }

  folder.setValue("loud", Value::integer(removed));
  folder.incrForKey("hits");
  folder.setDate(process().clock(), "last");
  logLine(removed == 1 ? localized("%d item was removed.", {"1"})
                       : localized("%d items were removed.", {std::to_string(removed)}));
  logLine("");
}

}  // namespace sweeprun
