#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "model/trash_folder.h"
#include "model/trash_item.h"

namespace sweeprun {

/// Finds tracked records by file number and path in constant time. Gives
/// the same answer as a linear walk for the first equal record, and hands
/// each record out at most once, as a folder check needs: a matched record
/// leaves the searchable set without shifting the list.
///
/// A check mostly meets the entries of a folder in the order their records
/// were kept, so the record after the one found last is tried before the
/// table: an unchanged folder is matched without a probe. That shortcut is
/// taken only when no two records are equal, since then the record it finds
/// is the only one the table could give.
class ItemIndex {
 public:
  /// Indexes |items| (may be null), which must outlive the index unchanged.
  explicit ItemIndex(const ItemList* items);

  /// The position of the first record equal to |item| that was not taken
  /// yet, or -1.
  int64_t find(const TrashItem& item) const;
  /// The same for an entry at |path| with |fileNumber|, without a record
  /// made for it.
  int64_t find(std::string_view path, uint64_t fileNumber) const;
  /// Removes position |index| from the searchable set.
  void take(int64_t index) { taken_[static_cast<size_t>(index)] = true; }
  /// Follows the records at positions |a| and |b| after they traded places
  /// in the list.
  void swapPositions(int64_t a, int64_t b);

 private:
  static uint64_t hashOf(uint32_t nameHash, uint64_t fileNumber);
  static bool matches(const TrashItem& record, std::string_view directory, std::string_view name,
                      uint64_t fileNumber);
  int64_t find(std::string_view directory, std::string_view name, uint64_t fileNumber) const;
  // The slot that holds |position|, for the record now at |holder|; none
  // (the slot count) when the record is not indexed.
  uint64_t slotOf(size_t position, size_t holder) const;

  const ItemList* items_;
  std::vector<uint32_t> slots_;  // position + 1; 0 is an empty slot
  std::vector<bool> taken_;
  uint64_t mask_ = 0;
  bool equalRecords_ = false;  // two records or more equal each other
  mutable size_t next_ = 0;    // the position after the record found last
};

}  // namespace sweeprun
