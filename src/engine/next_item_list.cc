#include "engine/next_item_list.h"

#include <iterator>
#include <utility>

namespace sweeprun {

void NextItemList::keep(int64_t position) {
  const size_t from = static_cast<size_t>(position);
  if (from != kept_) {
    // Every record before kept_ is kept already, so |from| lies beyond it.
    std::swap((*tracked_)[kept_], (*tracked_)[from]);
    index_.swapPositions(static_cast<int64_t>(kept_), position);
  }
  ++kept_;
}

void NextItemList::add(TrashItem item) {
  places_.push_back(kept_ + addedCount_);
  if (added_.empty() || added_.back().size() == kPiece) {
    added_.emplace_back();
    // The first piece grows as a small folder needs; the others are sure
    // to fill (no piece copied to grow).
    if (added_.size() > 1) added_.back().reserve(kPiece);
  }
  added_.back().push_back(std::move(item));
  ++addedCount_;
}

std::shared_ptr<ItemList> NextItemList::finish(std::shared_ptr<ItemList> tracked) {
  if (!tracked || kept_ == 0) {
    auto list = std::make_shared<ItemList>();
    list->reserve(addedCount_);
    for (ItemList& piece : added_) {
      std::move(piece.begin(), piece.end(), std::back_inserter(*list));
      ItemList().swap(piece);
    }
    added_.clear();
    addedCount_ = 0;
    return list;
  }
  ItemList& list = *tracked;
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(kept_), list.end());
  if (addedCount_ == 0) return tracked;
  // Merged from the back, so no record is overwritten before it moved.
  const size_t total = kept_ + addedCount_;
  list.resize(total);
  size_t keptLeft = kept_;
  size_t addedLeft = addedCount_;
  for (size_t place = total; place-- > 0;) {
    if (addedLeft > 0 && places_[addedLeft - 1] == place) {
      list[place] = std::move(added(--addedLeft));
    } else {
      list[place] = std::move(list[--keptLeft]);
    }
  }
  added_.clear();
  addedCount_ = 0;
  places_.clear();
  return tracked;
}

}  // namespace sweeprun
