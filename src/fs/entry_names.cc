#include "fs/entry_names.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace sweeprun {

bool EntryNames::add(std::string_view name) {
  // A name is at most a few hundred bytes on every file system; a longer one
  // gets a block of its own. Blocks are left unfilled (not make_unique's
  // zeroes): every byte handed out is written first.
  if (name.size() >> 24) throw std::length_error("a name of 16 MB or more");
  const size_t head = name.size() < kLongName ? 1 : 4;
  const size_t bytes = head + name.size();
  if (kBlockBytes - used_ < bytes) {
    if (blocks_.size() == kMostBlocks) return false;
    blocks_.emplace_back(new char[std::max(kBlockBytes, bytes)]);
    used_ = 0;
  }
  auto* at = reinterpret_cast<unsigned char*>(blocks_.back().get()) + used_;
  if (head == 1) {
    at[0] = static_cast<unsigned char>(name.size());
  } else {
    at[0] = kLongName;
    at[1] = static_cast<unsigned char>(name.size());
    at[2] = static_cast<unsigned char>(name.size() >> 8);
    at[3] = static_cast<unsigned char>(name.size() >> 16);
  }
  std::memcpy(at + head, name.data(), name.size());
  names_.push_back(static_cast<uint32_t>((blocks_.size() - 1) << kOffsetBits | used_));
  // An oversized block holds its one name and counts as full.
  used_ = std::min(kBlockBytes, used_ + bytes);
  return true;
}

std::vector<std::string> EntryNames::strings() const {
  return std::vector<std::string>(begin(), end());
}

}  // namespace sweeprun
