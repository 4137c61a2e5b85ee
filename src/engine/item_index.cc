#include "engine/item_index.h"

#include <functional>
#include <string_view>

namespace sweeprun {

uint64_t ItemIndex::hashOf(const TrashItem& item) {
  uint64_t h = std::hash<std::string_view>()(item.path());
  return h ^ (item.value("fnum").asUnsigned() * 0x9E3779B97F4A7C15ull);
}

ItemIndex::ItemIndex(const ItemList* items) : items_(items) {
  size_t count = items ? items->size() : 0;
  taken_.assign(count, false);
  size_t capacity = 16;
  while (capacity < count * 2) capacity *= 2;
  slots_.assign(capacity, 0);
  mask_ = capacity - 1;
  // Linear probing keeps equal records in insertion order along their probe
  // sequence, so the first one found is the one a walk from the start finds.
  for (size_t i = 0; i < count; ++i) {
    const TrashItem& item = (*items)[i];
    if (!item.data.contains("path")) continue;  // equal to none
    uint64_t slot = hashOf(item) & mask_;
    while (slots_[slot] != 0) slot = (slot + 1) & mask_;
    slots_[slot] = static_cast<uint32_t>(i + 1);
  }
}

int64_t ItemIndex::find(const TrashItem& item) const {
  if (!items_ || !item.data.contains("path")) return -1;
  for (uint64_t slot = hashOf(item) & mask_; slots_[slot] != 0; slot = (slot + 1) & mask_) {
    size_t index = slots_[slot] - 1;
    if (taken_[index]) continue;
    if (item.isEqualToTrashItem((*items_)[index])) return static_cast<int64_t>(index);
  }
  return -1;
}

}  // namespace sweeprun
