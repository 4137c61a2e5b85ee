#include "engine/next_item_list.h"

#include <utility>

namespace sweeprun {

NextItemList::NextItemList(ItemList* tracked, ItemIndex& index, size_t listed)
    : tracked_(tracked), index_(index) {
  if (!tracked || tracked->empty()) added_.reserve(listed);
}

void NextItemList::keep(int64_t position) {
  const size_t from = static_cast<size_t>(position);
  if (from != kept_) {
    // Every record before kept_ is kept already, so |from| lies beyond it.
    std::swap((*tracked_)[kept_], (*tracked_)[from]);
    index_.swapPositions(static_cast<int64_t>(kept_), position);
  }
  ++kept_;
}

std::shared_ptr<ItemList> NextItemList::finish(std::shared_ptr<ItemList> tracked) {
  if (!tracked || kept_ == 0) return std::make_shared<ItemList>(std::move(added_));
  ItemList& list = *tracked;
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(kept_), list.end());
  if (added_.empty()) return tracked;
  // Merged from the back, so no record is overwritten before it moved.
  const size_t total = kept_ + added_.size();
  list.resize(total);
  size_t keptLeft = kept_;
  size_t addedLeft = added_.size();
  for (size_t place = total; place-- > 0;) {
    if (addedLeft > 0 && places_[addedLeft - 1] == place) {
      list[place] = std::move(added_[--addedLeft]);
    } else {
      list[place] = std::move(list[--keptLeft]);
    }
  }
  added_.clear();
  places_.clear();
  return tracked;
}

}  // namespace sweeprun
