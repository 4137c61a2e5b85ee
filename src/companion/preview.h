#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/trash_collector.h"
#include "plist/value.h"

namespace sweeprun {

/// Records what a (dry) run decides, for "preview": per folder whether it
/// was checked and, entry by entry, the decision.
class PreviewRecorder : public RunObserver {
 public:
  /// Records every folder, or only the one whose path is |onlyPath|, of a
  /// run in user mode or, with |systemMode|, in system mode.
  explicit PreviewRecorder(std::optional<std::string> onlyPath = std::nullopt,
                           bool systemMode = false)
      : onlyPath_(std::move(onlyPath)), systemMode_(systemMode) {}

  void folderSkipped(const TrashFolder& folder, ScheduleAnswer answer) override;
  void folderChecked(const TrashFolder& folder, bool examined) override;
  void entryDecided(const TrashFolder& folder, const std::string& name,
                    const EntryDecision& decision) override;

  /// {"folders": [{"path", "checked", "reason", "entries": [{"name",
  /// "decision", "action", "destination", "target", "reason", "budget",
  /// "hits"}]}]}. "budget" is true for an entry the size budget took.
  /// "decision" is one of "keep", "takeIn", "startOver", "remove", "defer",
  /// "notRemoved"; "action" ("trash", "delete", "moveto"), "destination"
  /// (the folder the entry goes to) and "target" (its path there) are set
  /// for removals; "reason" tells why a folder was not checked or an entry
  /// not removed.
  Value result() const { return Value::dictionary({{"folders", Value::array(folders_)}}); }

  /// The folders seen (after filtering).
  size_t folderCount() const { return folders_.size(); }

 private:
  bool wanted(const TrashFolder& folder) const;

  std::optional<std::string> onlyPath_;
  bool systemMode_ = false;
  Array folders_;
  // The paths of every folder told of so far, in the list's order: a folder
  // the same as an earlier one is not checked.
  std::vector<std::string> told_;
};

/// The result of a PreviewRecorder as text for people.
std::string previewText(const Value& result);

}  // namespace sweeprun
