#include "engine/item_index.h"

#include <functional>
#include <string_view>

namespace sweeprun {

uint64_t ItemIndex::hashOf(std::string_view path, uint64_t fileNumber) {
  return std::hash<std::string_view>()(path) ^ (fileNumber * 0x9E3779B97F4A7C15ull);
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
    if (!item.data.get("path").isText()) continue;  // equal to none
    uint64_t slot = hashOf(item.path(), item.value("fnum").asUnsigned()) & mask_;
    while (slots_[slot] != 0) slot = (slot + 1) & mask_;
    slots_[slot] = static_cast<uint32_t>(i + 1);
  }
}

int64_t ItemIndex::find(const TrashItem& item) const {
  const Value& path = item.data.get("path");
  if (!path.isText()) return -1;  // equal to none
  return find(path.asText(), item.value("fnum").asUnsigned());
}

int64_t ItemIndex::find(std::string_view path, uint64_t fileNumber) const {
  if (!items_) return -1;
  for (uint64_t slot = hashOf(path, fileNumber) & mask_; slots_[slot] != 0;
       slot = (slot + 1) & mask_) {
    const size_t index = slots_[slot] - 1;
    if (taken_[index]) continue;
    // Equal as isEqualToTrashItem has it: same file number, same text path.
    const TrashItem& record = (*items_)[index];
    const Value& recordPath = record.data.get("path");
    if (recordPath.isText() && recordPath.asText() == path &&
        record.data.get("fnum").asUnsigned() == fileNumber) {
      return static_cast<int64_t>(index);
    }
  }
  return -1;
}

}  // namespace sweeprun
