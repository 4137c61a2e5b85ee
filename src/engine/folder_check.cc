#include "engine/folder_check.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "engine/item_index.h"
#include "engine/loggable_text.h"
#include "engine/next_item_list.h"
#include "engine/removal.h"
#include "engine/rule_evaluation.h"
#include "engine/watch_refusal.h"
#include "fs/dir_handle.h"
#include "fs/folder.h"
#include "fs/path.h"
#include "fs/stat_ahead.h"
#include "log/trash_log.h"
#include "model/record_keys.h"
#include "os/localization.h"
#include "os/system_log.h"
#include "settings/condition_parser.h"
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
std::vector<std::string> destinationHolders(const RunWorld& world, const TrashFolder& folder,
                                            const std::string& path) {
  std::vector<std::string> destinations;
  switch (folder.value(folder_key::kAction).asInteger()) {
    case TrashFolder::kMoveAction:
      destinations.push_back(
          standardizePath(folder.value(folder_key::kDestination).asText(), world.homeDirectory));
      break;
    case TrashFolder::kDeleteAction:
      break;
    default:
      if (world.userTrashPath) {
        destinations.push_back(deletingLastPathComponent(*world.userTrashPath));
      } else if (world.systemMode) {
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
void refreshReadMe(const TrashFolder& folder, const Folder& dir, const std::string& name,
                   TrashLog* runLog) {
  std::string error;
  if (std::optional<EntryAttributes> existing = dir.statEntry(name)) {
    if (existing->isDirectory()) {
      TrashLog::err(runLog,
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
  explicit EntryLines(TrashLog* runLog) : runLog_(runLog) {}
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
  const std::string removedForBudget = localizedString("- %@ (for the budget; first seen %@)");

  /// Gathers the line |format| (one of the three above) with |name|.
  void seen(const std::string& format, std::string_view name) {
    if (!runLog_) return;
    pending_.append(formatMessage(format, {loggableText(name)})).push_back('\n');
    if (pending_.size() >= kBlockBytes) flush();
  }
  void acted(std::string_view line) {
    flush();
    logLine(runLog_, line);
  }
  void error(std::string_view message) {
    flush();
    TrashLog::err(runLog_, message);
  }
  void flush() {
    if (pending_.empty()) return;
    pending_.pop_back();  // the run log ends the block with a line feed itself
    logLine(runLog_, pending_);
    pending_.clear();
  }

 private:
  static constexpr size_t kBlockBytes = 64 * 1024;
  TrashLog* const runLog_;  // null when no run log is open
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

// The buffers a pass reuses for every entry: the name and the entry's path.
// A folder may hold 100,000 entries, most of them tracked and unchanged, and
// a fresh string per name and per path costs two allocations for each; the
// name buffer grows only to the longest name, the path buffer keeps the
// folder's path and one separator (as joinPath puts them) in front.
class EntryBuffers {
 public:
  explicit EntryBuffers(const std::string& folderPath) : prefix_(joinPath(folderPath, "-")) {
    prefix_.pop_back();
    path_ = prefix_;
  }
  /// Where the next entry's name is read to.
  std::string& name() { return name_; }
  /// The path of the entry named by name().
  const std::string& path() {
    path_.resize(prefix_.size());
    path_.append(name_);
    return path_;
  }

 private:
  std::string prefix_, path_, name_;
};

}  // namespace

/// What one folder's pass works with, entry by entry.
struct FolderCheck::Pass {
  Pass(TrashFolder& checked, const Folder& opened, FolderListing& listing, TrashLog* runLog)
      : folder(checked),
        dir(opened),
        tracked(checked.items()),
        index(tracked.get()),
        fresh(tracked.get(), index),
        rules(checked),
        lines(runLog),
        ahead(opened, listing) {}

  TrashFolder& folder;
  const Folder& dir;
  // The entries tracked before the pass; |fresh| gathers those tracked after.
  std::shared_ptr<ItemList> tracked;
  ItemIndex index;
  NextItemList fresh;
  const PreparedRules rules;
  EntryLines lines;
  StatAhead ahead;  // the listed entries with their attributes, in list order
  int32_t removed = 0;
  uint64_t checkedIn = 0;
  size_t places = 0;  // records kept or added to |fresh| so far

  // With a size budget: the entries the rules kept, their decisions held
  // until the budget has had its say, and the size of all that stays.
  struct Held {
    std::string name;
    uint64_t size;
    size_t place;  // in the next list of tracked records
    EntryDecision::Kind kind;
  };
  bool budgeted = false;
  std::vector<Held> held;
  uint64_t stayingBytes = 0;
};

FolderCheck::FolderCheck(const RunWorld& world, const RunOptions& options,
                         const std::vector<std::string>& passedOver)
    : world_(world),
      options_(options),
      passedOver_(passedOver),
      remover_(world, *options.folders) {}

FolderCheck::~FolderCheck() = default;

void FolderCheck::check(TrashFolder& folder) {
  const SystemLogFolder named(loggableText(folder.path()));  // errors on standard error say where
  logLine(world_.runLog, localized("Checking folder '%@'.", {loggableText(folder.path())}));
  std::unique_ptr<Folder> opened;
  std::unique_ptr<FolderListing> listing;
  bool missing = false;
  const bool examined =
      openWatched(folder, opened, missing) && listWatched(folder, *opened, listing);
  for (RunObserver* observer : options_.observers) {
    if (missing) {
      observer->folderMissing(folder);
    } else {
      observer->folderChecked(folder, examined);
    }
  }
  const int32_t removed = examined ? checkEntries(folder, *opened, *listing) : 0;

  folder.setValue(folder_key::kRemovedByLastCheck, Value::integer(removed));
  folder.incrForKey(folder_key::kChecks);
  folder.setDate(world_.clock(), folder_key::kLastCheck);
  logLine(world_.runLog, removed == 1
                             ? localized("%d item was removed.", {"1"})
                             : localized("%d items were removed.", {std::to_string(removed)}));
  logLine(world_.runLog, "");
}

bool FolderCheck::openWatched(const TrashFolder& folder, std::unique_ptr<Folder>& opened,
                              bool& missing) {
  const std::string path(folder.path());
  std::string error;
  const OpenStatus status = options_.folders->openDirectory(path, opened, error);
  if (status != OpenStatus::kOpened) {
    missing = status == OpenStatus::kMissing;
    reportError(localized("No folder found at '%@'.", {loggableText(path)}));
    return false;
  }
  if (world_.systemMode && options_.configuration) {
    // The parse refused such folders already; this one became one since
    // (a folder swapped for a link) or came from the stored list.
    const std::string refusal =
        options_.configuration->refusalOfWatchedFolder(path, opened->realFolder());
    if (!refusal.empty()) {
      reportError(loggableText(refusal));
      return false;
    }
  } else if (!world_.systemMode) {
    const std::string refusal = userModeRefusal(world_, options_, folder, opened->realFolder());
    if (!refusal.empty()) {
      reportError(refusal);
      if (!options_.dryRun) ++failures_;  // the folder's entries are left as they were
      return false;
    }
  }
  const std::string_view destination = folder.value(folder_key::kDestination).asText();
  if (folder.value(folder_key::kAction).asInteger() == TrashFolder::kMoveAction &&
      !options_.folders->folderExists(std::string(destination)) &&
      !folder.value(folder_key::kMayBeAbsent).asBool()) {
    reportError(
        localized("Destination folder '%@' is not accessible.", {loggableText(destination)}));
    return false;
  }
  return true;
}

bool FolderCheck::listWatched(const TrashFolder& folder, const Folder& dir,
                              std::unique_ptr<FolderListing>& listing) {
  int listError = 0;
  listing = dir.startListing(listError);
  if (listing) return true;
  listingFailed(folder, listError);
  return false;
}

void FolderCheck::listingFailed(const TrashFolder& folder, int errorNumber) {
  reportError(localized("Unable to list folder '%@': %@; its entries are kept as they were.",
                        {loggableText(folder.path()), std::strerror(errorNumber)}));
  if (!options_.dryRun) ++failures_;
}

int32_t FolderCheck::checkEntries(TrashFolder& folder, const Folder& dir, FolderListing& listing) {
  const std::string path(folder.path());

  std::optional<std::string> description =
      prepareWithLog(folder, world_.runLog != nullptr, world_.clock());
  if (world_.runLog && description) logLine(world_.runLog, *description);

  // Passed over besides the run's names: the read-me file, and the entries
  // that hold the folder's own destination.
  const std::string readMe = readMeName(folder);
  const std::vector<std::string> holders = destinationHolders(world_, folder, path);
  auto holdsDestination = [&](const std::string& name) {
    return std::find(holders.begin(), holders.end(), name) != holders.end();
  };
  auto passedOver = [&](const std::string& name) {
    return std::find(passedOver_.begin(), passedOver_.end(), name) != passedOver_.end() ||
           (!readMe.empty() && name == readMe) || holdsDestination(name);
  };

  Pass pass(folder, dir, listing, world_.runLog);
  pass.budgeted = folder.value(folder_key::kBudget).asUnsigned() > 0;
  EntryBuffers buffers(path);
  std::string& name = buffers.name();
  // The attributes read with the name serve the whole decision: the match,
  // the record, and the removal (which would otherwise read them again).
  std::optional<EntryAttributes> attributes;
  while (pass.ahead.next(name, attributes)) {
    if (passedOver(name)) {
      // Never taken, but it takes room all the same; not so the folder's own
      // destination, which grows with every entry the budget sends there.
      if (pass.budgeted && !holdsDestination(name))
        pass.stayingBytes += entrySize(pass, name, attributes ? &*attributes : nullptr);
      continue;
    }
    const EntryAttributes* now = attributes ? &*attributes : nullptr;
    const std::string& entryPath = buffers.path();
    const int64_t position = pass.index.find(entryPath, now ? now->fileNumber : 0);
    if (position < 0) {
      takeIn(pass, name, entryPath, now);
    } else {
      pass.index.take(position);
      recheck(pass, name, entryPath, position, now);
    }
  }

  if (const int listError = pass.ahead.listingError()) {
    // Cut short: the entries not reached are unknown, so every record stays
    // (those of entries reached count the check they survived). What was
    // removed before the failure stays removed, journalled as ever.
    pass.lines.flush();
    listingFailed(folder, listError);
    return pass.removed;
  }
  std::shared_ptr<ItemList> next = pass.fresh.finish(std::move(pass.tracked));
  if (pass.budgeted) keepWithinBudget(pass, *next);
  folder.setItems(std::move(next));
  if (pass.checkedIn > 0) {
    folder.setValue(
        folder_key::kTakenIn,
        Value::unsignedInteger(folder.value(folder_key::kTakenIn).asUnsigned() + pass.checkedIn));
  }
  pass.lines.flush();
  if (!readMe.empty() && !options_.dryRun) refreshReadMe(folder, dir, readMe, world_.runLog);
  return pass.removed;
}

void FolderCheck::takeIn(Pass& pass, const std::string& name, const std::string& path,
                         const EntryAttributes* now) {
  TrashItem item = TrashItem::withAttributes(path, now, world_.clock());
  const EntryDecision decision = judge(pass, name, item, false, now);
  if (pass.budgeted && decision.kind != EntryDecision::kRemoved) {
    stays(pass, name, now, decision);
  } else {
    tell(pass.folder, name, decision);
  }
  if (decision.kind == EntryDecision::kTakenIn || decision.kind == EntryDecision::kDeferred) {
    pass.fresh.add(std::move(item));
    ++pass.places;
  }
  ++pass.checkedIn;
}

void FolderCheck::recheck(Pass& pass, const std::string& name, const std::string& path,
                          int64_t position, const EntryAttributes* now) {
  TrashItem& known = (*pass.tracked)[static_cast<size_t>(position)];
  if (!unchangedSince(known, now)) {
    // Changed since it was last seen: tracking starts again, untested.
    TrashItem item = TrashItem::withAttributes(path, now, world_.clock());
    const EntryDecision restarted{EntryDecision::kRestarted, &item, nullptr, {}};
    if (pass.budgeted) {
      stays(pass, name, now, restarted);
    } else {
      pass.lines.seen(pass.lines.restarted, name);
      tell(pass.folder, name, restarted);
    }
    pass.fresh.add(std::move(item));
    ++pass.places;
    return;
  }
  // Most entries are tracked and unchanged: their tracked record serves,
  // and no new one is made.
  known.incrHits();
  const EntryDecision decision = judge(pass, name, known, true, now);
  if (pass.budgeted && decision.kind != EntryDecision::kRemoved) {
    stays(pass, name, now, decision);
  } else {
    tell(pass.folder, name, decision);
  }
  if (decision.kind == EntryDecision::kKept || decision.kind == EntryDecision::kDeferred) {
    pass.fresh.keep(position);
    ++pass.places;
  }
}

EntryDecision FolderCheck::judge(Pass& pass, const std::string& name, const TrashItem& item,
                                 bool tracked, const EntryAttributes* now) {
  EntryDecision decision{tracked ? EntryDecision::kKept : EntryDecision::kTakenIn,
                         &item,
                         pass.rules.violatedBy(item),
                         {}};
  if (!decision.rule) {
    // A budgeted folder logs the entry once the budget has decided on it.
    if (!pass.budgeted) pass.lines.seen(tracked ? pass.lines.kept : pass.lines.takenIn, name);
  } else if (!mayRemove()) {
    decision.kind = holdBack(decision.removal, loggableText(name), pass.lines);
  } else {
    decision.kind = act(pass, name, item, tracked, now, decision.removal);
  }
  return decision;
}

EntryDecision::Kind FolderCheck::act(Pass& pass, const std::string& name, const TrashItem& item,
                                     bool tracked, const EntryAttributes* now, RemovalPlan& outcome,
                                     bool forBudget) {
  if (options_.dryRun) {
    outcome = remover_.plan(pass.folder, pass.dir, name, &planned_);
    if (outcome.result == RemovalResult::kRemoved && !outcome.targetName.empty()) {
      planned_.insert(joinPath(outcome.destination, outcome.targetName));
    }
  } else {
    outcome = remover_.remove(pass.folder, pass.dir, name, now);
    pass.ahead.folderChanged();
    // A failure is an action that was tried and did not come off; an entry
    // that no Trash was even looked for, or whose destination is away for
    // now, is not one.
    const RemovalResult result = outcome.result;
    if (result == RemovalResult::kDeletionFailed || result == RemovalResult::kMoveFailed ||
        (result != RemovalResult::kRemoved && result != RemovalResult::kDestinationAbsentNow &&
         !outcome.reason.empty())) {
      ++failures_;
    }
  }
  const std::string shown = loggableText(name);
  const std::string removedLine =
      forBudget
          ? formatMessage(pass.lines.removedForBudget, {shown, standardDateText(item.checkedIn())})
      : tracked
          ? formatMessage(pass.lines.removedKnown, {shown, standardDateText(item.checkedIn())})
          : formatMessage(pass.lines.removedNew, {shown});
  return reportRemoval(outcome, shown, removedLine, pass.removed, pass.lines);
}

void FolderCheck::stays(Pass& pass, const std::string& name, const EntryAttributes* now,
                        const EntryDecision& decision) {
  const uint64_t size = entrySize(pass, name, now);
  pass.stayingBytes += size;
  if (decision.kind == EntryDecision::kTakenIn || decision.kind == EntryDecision::kKept ||
      decision.kind == EntryDecision::kRestarted) {
    pass.held.push_back({name, size, pass.places, decision.kind});
    return;
  }
  tell(pass.folder, name, decision);  // condemned, and left where it is
}

uint64_t FolderCheck::entrySize(Pass& pass, const std::string& name, const EntryAttributes* now) {
  if (!now) return 0;
  if (!now->isDirectory()) return now->size;
  uint64_t bytes = 0;
  std::string error;
  if (!pass.dir.realFolder().treeSize(name, world_.entryTreeTimeLimit, bytes, error)) {
    pass.lines.error(loggableText(error));  // counted as far as it was read
  }
  return bytes;
}

void FolderCheck::keepWithinBudget(Pass& pass, ItemList& list) {
  using Held = Pass::Held;
  const uint64_t budget = pass.folder.value(folder_key::kBudget).asUnsigned();
  const double minimumAge = pass.folder.value(folder_key::kBudgetMinimumAge).asReal();
  // An entry first seen after this moment is too young to be taken.
  const double lastTakeable = world_.clock().seconds - minimumAge;

  std::vector<Held*> oldestFirst;
  oldestFirst.reserve(pass.held.size());
  for (Held& entry : pass.held) oldestFirst.push_back(&entry);
  std::sort(oldestFirst.begin(), oldestFirst.end(), [&](const Held* a, const Held* b) {
    const double first = list[a->place].checkedIn().seconds;
    const double second = list[b->place].checkedIn().seconds;
    return first != second ? first < second : a->name < b->name;
  });

  const uint64_t before = pass.stayingBytes;
  uint64_t total = before;
  bool youngLeft = false;
  std::vector<bool> dropped(list.size(), false);
  std::vector<bool> told(pass.held.size(), false);
  for (Held* entry : oldestFirst) {
    if (total <= budget) break;
    const TrashItem& item = list[entry->place];
    if (item.checkedIn().seconds > lastTakeable) {
      youngLeft = true;  // and so is every entry after it
      break;
    }
    told[static_cast<size_t>(entry - pass.held.data())] = true;
    EntryDecision decision{entry->kind, &item, nullptr, {}, true};
    const bool mayGo = mayRemove();
    if (mayGo) {
      decision.kind = act(pass, entry->name, item, entry->kind == EntryDecision::kKept, nullptr,
                          decision.removal, true);
    } else {
      decision.kind = holdBack(decision.removal, loggableText(entry->name), pass.lines);
    }
    tell(pass.folder, entry->name, decision);
    if (decision.kind == EntryDecision::kRemoved) total -= entry->size;
    // As for an entry a rule condemned: only a deferred one stays tracked.
    if (decision.kind != EntryDecision::kDeferred) dropped[entry->place] = true;
    if (!mayGo) break;  // the run removes nothing more
  }

  for (size_t i = 0; i < pass.held.size(); ++i) {
    if (told[i]) continue;
    const Held& entry = pass.held[i];
    const std::string& line = entry.kind == EntryDecision::kKept      ? pass.lines.kept
                              : entry.kind == EntryDecision::kTakenIn ? pass.lines.takenIn
                                                                      : pass.lines.restarted;
    pass.lines.seen(line, entry.name);
    tell(pass.folder, entry.name, {entry.kind, &list[entry.place], nullptr, {}});
  }
  pass.lines.flush();

  if (total > budget) {
    const std::string over = byteCountText(total - budget);
    const std::string limit = byteCountText(budget);
    logLine(world_.runLog,
            youngLeft ? localized("Over the budget of %@ by %@: the rest was first seen within %@.",
                                  {limit, over, budgetAgeText(minimumAge)})
                      : localized("Over the budget of %@ by %@: the rest cannot be taken.",
                                  {limit, over}));
  }
  logLine(world_.runLog,
          localized("Budget %@: %@ before, %@ after.",
                    {byteCountText(budget), byteCountText(before), byteCountText(total)}));
  pass.folder.setValue(folder_key::kSizeAtLastCheck, Value::unsignedInteger(total));
  for (RunObserver* observer : options_.observers) observer->folderSized(pass.folder, total);

  size_t place = 0;
  list.erase(
      std::remove_if(list.begin(), list.end(), [&](const TrashItem&) { return dropped[place++]; }),
      list.end());
}

void FolderCheck::tell(const TrashFolder& folder, const std::string& name,
                       const EntryDecision& decision) {
  for (RunObserver* observer : options_.observers) observer->entryDecided(folder, name, decision);
}

bool FolderCheck::mayRemove() const {
  if (options_.dryRun) return true;
  for (RunObserver* observer : options_.observers) {
    if (!observer->mayRemove()) return false;
  }
  return true;
}

void FolderCheck::reportError(std::string_view message) const {
  if (!options_.dryRun) TrashLog::err(world_.runLog, message);
}

}  // namespace sweeprun
