#include "fs/entry_names.h"

#include <algorithm>
#include <cstring>

namespace sweeprun {

void EntryNames::add(std::string_view name) {
  // A name is at most a few hundred bytes on every file system; a longer one
  // gets a block of its own. Blocks are left unfilled (not make_unique's
  // zeroes): every byte handed out is copied in first.
  if (kBlockBytes - used_ < name.size()) {
    blocks_.emplace_back(new char[std::max(kBlockBytes, name.size())]);
    used_ = 0;
  }
  char* at = blocks_.back().get() + used_;
  std::memcpy(at, name.data(), name.size());
  // An oversized block holds its one name and counts as full.
  used_ = std::min(kBlockBytes, used_ + name.size());
  names_.emplace_back(at, name.size());
}

std::vector<std::string> EntryNames::strings() const {
  return std::vector<std::string>(names_.begin(), names_.end());
}

}  // namespace sweeprun
