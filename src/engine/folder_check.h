#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/removal.h"
#include "engine/run_observer.h"
#include "engine/run_options.h"
#include "fs/folder_listing.h"
#include "os/run_world.h"

namespace sweeprun {

/// The checks of the due folders of one run: for each folder, list its
/// entries, match each against the entries the folder tracks, decide on it
/// (take it in, keep it, start tracking anew, or condemn it by a rule) and
/// act on the decision (remove it through the run's Remover, or plan its
/// removal in a dry run). Every decision is told to the run's observers.
class FolderCheck {
 public:
  /// |passedOver|: names skipped in every folder. The world, the options'
  /// collaborators and |passedOver| must outlive the check.
  FolderCheck(const RunWorld& world, const RunOptions& options,
              const std::vector<std::string>& passedOver);
  ~FolderCheck();
  FolderCheck(const FolderCheck&) = delete;
  FolderCheck& operator=(const FolderCheck&) = delete;

  /// Examines one due folder: tracks, tests and removes its entries, and
  /// stamps the folder with the check.
  void check(TrashFolder& folder);

  /// How many entries could not be removed, moved or trashed so far.
  int failures() const { return failures_; }

 private:
  struct Pass;

  /// Opens the watched folder into |opened|; false (reported) when it is
  /// not there (then |missing| is set), refused, or its move-to folder is
  /// missing.
  bool openWatched(const TrashFolder& folder, std::unique_ptr<Folder>& opened, bool& missing);
  /// Starts the listing of the opened folder; false (reported, and counted
  /// as a failure) when the folder cannot be listed.
  bool listWatched(const TrashFolder& folder, const Folder& dir,
                   std::unique_ptr<FolderListing>& listing);
  /// Reports a listing that failed, at its start or part-way.
  void listingFailed(const TrashFolder& folder, int errorNumber);
  /// Decides on every entry of the opened folder as |listing| reads it;
  /// answers how many went.
  int32_t checkEntries(TrashFolder& folder, const Folder& dir, FolderListing& listing);
  /// A new entry: tested and, unless condemned and removed, tracked.
  void takeIn(Pass& pass, const std::string& name, const std::string& path,
              const EntryAttributes* now);
  /// A tracked entry: tracked anew when it changed, else tested again.
  void recheck(Pass& pass, const std::string& name, const std::string& path, int64_t position,
               const EntryAttributes* now);
  /// Tests |item| against the rules and acts on a condemning one.
  EntryDecision judge(Pass& pass, const std::string& name, const TrashItem& item, bool tracked,
                      const EntryAttributes* now);
  /// Removes (or in a dry run plans to remove) a condemned entry; |forBudget|
  /// gives the removal line of an entry taken for the budget.
  EntryDecision::Kind act(Pass& pass, const std::string& name, const TrashItem& item, bool tracked,
                          const EntryAttributes* now, RemovalPlan& outcome, bool forBudget = false);
  /// A staying entry of a budgeted folder: its size is noted and, when the
  /// rules kept it, its decision is held until the budget has had its say.
  void stays(Pass& pass, const std::string& name, const EntryAttributes* now,
             const EntryDecision& decision);
  /// The size of entry |name| as the budget counts it (see stays).
  uint64_t entrySize(Pass& pass, const std::string& name, const EntryAttributes* now);
  /// After the rules: takes the oldest held entries until the folder is
  /// within its budget, tells every held decision, and logs the outcome.
  /// |list| is the folder's next list of tracked records; the records of
  /// the entries that went are dropped from it.
  void keepWithinBudget(Pass& pass, ItemList& list);
  void tell(const TrashFolder& folder, const std::string& name, const EntryDecision& decision);
  /// Whether every observer lets the run remove the next condemned entry
  /// (a dry run asks none).
  bool mayRemove() const;
  void reportError(std::string_view message) const;

  const RunWorld& world_;
  const RunOptions& options_;
  const std::vector<std::string>& passedOver_;
  Remover remover_;
  // In a dry run: the paths that the entries planned so far would occupy.
  std::set<std::string> planned_;
  int failures_ = 0;
};

}  // namespace sweeprun
