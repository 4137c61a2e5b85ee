#include "engine/item_index.h"

#include <functional>
#include <string_view>
#include <utility>

namespace sweeprun {

namespace {

// A path's folder part (up to and including its last "/") and its name, as
// a record splits it.
std::pair<std::string_view, std::string_view> split(std::string_view path) {
  const size_t slash = path.rfind('/');
  const size_t at = slash == std::string_view::npos ? 0 : slash + 1;
  return {path.substr(0, at), path.substr(at)};
}

}  // namespace

uint64_t ItemIndex::hashOf(uint32_t nameHash, uint64_t fileNumber) {
  return (nameHash * 0x9E3779B97F4A7C15ull) ^ (fileNumber * 0xC2B2AE3D27D4EB4Full);
}

// Equal as isEqualToTrashItem has it: same file number, same text path.
bool ItemIndex::matches(const TrashItem& record, std::string_view directory, std::string_view name,
                        uint64_t fileNumber) {
  return record.hasPath() && record.fileNumber() == fileNumber && record.name() == name &&
         record.directory() == directory;
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
    if (!item.hasPath()) continue;  // equal to none
    uint64_t slot = hashOf(item.nameHash(), item.fileNumber()) & mask_;
    for (; slots_[slot] != 0; slot = (slot + 1) & mask_) {
      // An equal record lies on the probe sequence of this one; once one
      // pair is known there is nothing more to learn.
      if (!equalRecords_) {
        const TrashItem& other = (*items)[slots_[slot] - 1];
        equalRecords_ = other.nameHash() == item.nameHash() &&
                        matches(other, item.directory(), item.name(), item.fileNumber());
      }
    }
    slots_[slot] = static_cast<uint32_t>(i + 1);
  }
}

uint64_t ItemIndex::slotOf(size_t position, size_t holder) const {
  const TrashItem& record = (*items_)[holder];
  if (!record.hasPath()) return slots_.size();  // never indexed
  for (uint64_t slot = hashOf(record.nameHash(), record.fileNumber()) & mask_; slots_[slot] != 0;
       slot = (slot + 1) & mask_) {
    if (slots_[slot] == position + 1) return slot;
  }
  return slots_.size();
}

void ItemIndex::swapPositions(int64_t a, int64_t b) {
  const size_t first = static_cast<size_t>(a);
  const size_t second = static_cast<size_t>(b);
  // The record that was at |first| is at |second| now, and the other way
  // round. Both slots are found before either changes, since their probe
  // sequences may cross.
  const uint64_t firstSlot = slotOf(first, second);
  const uint64_t secondSlot = slotOf(second, first);
  if (firstSlot < slots_.size()) slots_[firstSlot] = static_cast<uint32_t>(second + 1);
  if (secondSlot < slots_.size()) slots_[secondSlot] = static_cast<uint32_t>(first + 1);
  const bool firstTaken = taken_[first];
  taken_[first] = taken_[second];
  taken_[second] = firstTaken;
}

int64_t ItemIndex::find(const TrashItem& item) const {
  if (!item.hasPath()) return -1;  // equal to none
  return find(item.directory(), item.name(), item.fileNumber());
}

int64_t ItemIndex::find(std::string_view path, uint64_t fileNumber) const {
  const auto [directory, name] = split(path);
  return find(directory, name, fileNumber);
}

int64_t ItemIndex::find(std::string_view directory, std::string_view name,
                        uint64_t fileNumber) const {
  if (!items_) return -1;
  if (!equalRecords_ && next_ < taken_.size() && !taken_[next_] &&
      matches((*items_)[next_], directory, name, fileNumber)) {
    return static_cast<int64_t>(next_++);
  }
  for (uint64_t slot = hashOf(TrashItem::hashOfName(name), fileNumber) & mask_; slots_[slot] != 0;
       slot = (slot + 1) & mask_) {
    const size_t index = slots_[slot] - 1;
    if (taken_[index]) continue;
    if (matches((*items_)[index], directory, name, fileNumber)) {
      next_ = index + 1;
      return static_cast<int64_t>(index);
    }
  }
  return -1;
}

}  // namespace sweeprun
