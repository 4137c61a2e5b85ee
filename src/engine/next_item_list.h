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
  /// Without tracked records, room is made for |listed| new ones at once.
  NextItemList(ItemList* tracked, ItemIndex& index, size_t listed);

  /// Keeps the tracked record at |position|, which the index handed out,
  /// as the next record of the list. Records not yet handed out may move;
  /// the index follows them.
  void keep(int64_t position);
  /// Adds a new record as the next record of the list.
  void add(TrashItem item) {
    places_.push_back(kept_ + added_.size());
    added_.push_back(std::move(item));
  }
  /// The records kept and added, in the order they were; the tracked list
  /// itself, reused, when there was one.
  std::shared_ptr<ItemList> finish(std::shared_ptr<ItemList> tracked);

 private:
  ItemList* tracked_;
  ItemIndex& index_;
  size_t kept_ = 0;
  ItemList added_;
  std::vector<size_t> places_;  // the final place of each added record
};

}  // namespace sweeprun
