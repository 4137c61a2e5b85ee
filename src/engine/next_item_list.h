#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "engine/item_index.h"
#include "model/trash_folder.h"
#include "model/trash_item.h"

namespace sweeprun {

/// The list of tracked records a folder check leaves behind, built inside
/// the storage of the list it read: kept records are gathered at its front
/// in the order they are kept, and new records wait aside with their place
/// until finish() merges them in. A check of an unchanged folder so never
/// holds two lists of its records at once.
class NextItemList {
 public:
  /// |tracked| (may be null) is indexed by |index|; both must outlive this.
  NextItemList(ItemList* tracked, ItemIndex& index) : tracked_(tracked), index_(index) {}

  /// Keeps the tracked record at |position|, which the index handed out,
  /// as the next record of the list. Records not yet handed out may move;
  /// the index follows them.
  void keep(int64_t position);
  /// Adds a new record as the next record of the list.
  void add(TrashItem item);
  /// The records kept and added, in the order they were; the tracked list
  /// itself, reused, when there was one.
  std::shared_ptr<ItemList> finish(std::shared_ptr<ItemList> tracked);

  static constexpr size_t kPiece = 4096;  // new records held per piece

 private:
  ItemList* tracked_;
  ItemIndex& index_;
  size_t kept_ = 0;
  // The new records, in pieces of kPiece: how many a check adds is known
  // only at its end, and one list grown by doubling would meanwhile hold
  // room for up to twice as many. finish() frees each piece once moved.
  TrashItem& added(size_t i) { return added_[i / kPiece][i % kPiece]; }
  std::vector<ItemList> added_;
  size_t addedCount_ = 0;
  std::vector<size_t> places_;  // the final place of each added record
};

}  // namespace sweeprun
