#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
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
  /// Reads the names in order, each as a view into its block.
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::string_view;

    Iterator(const EntryNames* names, std::deque<uint64_t>::const_iterator at)
        : names_(names), at_(at) {}
    std::string_view operator*() const { return names_->view(*at_); }
    Iterator& operator++() {
      ++at_;
      return *this;
    }
    Iterator operator++(int) {
      Iterator before = *this;
      ++at_;
      return before;
    }
    bool operator==(const Iterator& other) const { return at_ == other.at_; }
    bool operator!=(const Iterator& other) const { return at_ != other.at_; }

   private:
    const EntryNames* names_;
    std::deque<uint64_t>::const_iterator at_;
  };

  EntryNames() = default;
  EntryNames(EntryNames&&) = default;
  EntryNames& operator=(EntryNames&&) = default;

  /// Throws std::length_error for a name of 16 MB or more (no file system
  /// has one).
  void add(std::string_view name);

  size_t size() const { return names_.size(); }
  bool empty() const { return names_.empty(); }
  std::string_view operator[](size_t index) const { return view(names_[index]); }
  Iterator begin() const { return Iterator(this, names_.begin()); }
  Iterator end() const { return Iterator(this, names_.end()); }

  /// Each name as a string of its own, for callers that keep a few.
  std::vector<std::string> strings() const;

 private:
  static constexpr size_t kBlockBytes = 64 * 1024;
  // Where a name is, in one word instead of a view's two (a million names
  // save 8 MB): its block, its offset in the block and its length. A block
  // is 64 KB, or holds one longer name at offset 0.
  static constexpr int kOffsetBits = 16, kLengthBits = 24;
  static_assert(kBlockBytes == size_t{1} << kOffsetBits);

  std::string_view view(uint64_t place) const {
    const uint64_t length = place & ((uint64_t{1} << kLengthBits) - 1);
    if (length == 0) return {};
    const uint64_t offset = (place >> kLengthBits) & (kBlockBytes - 1);
    const uint64_t block = place >> (kLengthBits + kOffsetBits);
    return {blocks_[block].get() + offset, length};
  }

  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t used_ = kBlockBytes;  // of the last block; full when there is none
  std::deque<uint64_t> names_;
};

}  // namespace sweeprun
