#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sweeprun {

/// The names of a folder's entries, as a listing reads them. They are packed
/// into large blocks instead of one string each: a listing of a million
/// entries would otherwise spend more memory on string objects than on the
/// names, and it is held for the whole check of the folder. Neither the
/// names nor the blocks move once added, so the views stay valid, and no
/// array is ever copied to grow.
class EntryNames {
 public:
  EntryNames() = default;
  EntryNames(EntryNames&&) = default;
  EntryNames& operator=(EntryNames&&) = default;

  void add(std::string_view name);

  size_t size() const { return names_.size(); }
  bool empty() const { return names_.empty(); }
  std::string_view operator[](size_t index) const { return names_[index]; }
  auto begin() const { return names_.begin(); }
  auto end() const { return names_.end(); }

  /// Each name as a string of its own, for callers that keep a few.
  std::vector<std::string> strings() const;

 private:
  static constexpr size_t kBlockBytes = 64 * 1024;
  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t used_ = kBlockBytes;  // of the last block; full when there is none
  std::deque<std::string_view> names_;
};

}  // namespace sweeprun
