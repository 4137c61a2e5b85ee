#include "fs/entry_names.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace sweeprun {

void EntryNames::add(std::string_view name) {
  // A name is at most a few hundred bytes on every file system; a longer one
  // gets a block of its own. Blocks are left unfilled (not make_unique's
  // zeroes): every byte handed out is copied in first.
  if (name.size() >> kLengthBits) throw std::length_error("a name of 16 MB or more");
  if (name.empty()) {
    names_.push_back(0);  // needs no block, and read without one
    return;
  }
  if (kBlockBytes - used_ < name.size()) {
    blocks_.emplace_back(new char[std::max(kBlockBytes, name.size())]);
    used_ = 0;
  }
  const uint64_t block = blocks_.size() - 1;
  std::memcpy(blocks_.back().get() + used_, name.data(), name.size());
  names_.push_back((block << (kLengthBits + kOffsetBits)) | (uint64_t{used_} << kLengthBits) |
                   name.size());
  // An oversized block holds its one name and counts as full.
  used_ = std::min(kBlockBytes, used_ + name.size());
}

std::vector<std::string> EntryNames::strings() const {
  return std::vector<std::string>(begin(), end());
}

}  // namespace sweeprun
