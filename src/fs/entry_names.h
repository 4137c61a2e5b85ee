#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
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

    Iterator(const EntryNames* names, std::deque<uint32_t>::const_iterator at)
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
    std::deque<uint32_t>::const_iterator at_;
  };

  EntryNames() = default;
  EntryNames(EntryNames&&) = default;
  EntryNames& operator=(EntryNames&&) = default;

  /// False, and nothing added, once the names fill the 4 GB a listing's
  /// words reach. Throws std::length_error for a name of 16 MB or more (no
  /// file system has one).
  [[nodiscard]] bool add(std::string_view name);

  size_t size() const { return names_.size(); }
  bool empty() const { return names_.empty(); }
  std::string_view operator[](size_t index) const { return view(names_[index]); }
  Iterator begin() const { return Iterator(this, names_.begin()); }
  Iterator end() const { return Iterator(this, names_.end()); }

  /// Each name as a string of its own, for callers that keep a few.
  std::vector<std::string> strings() const;

 private:
  static constexpr size_t kBlockBytes = 64 * 1024;
  static constexpr size_t kMostBlocks = 64 * 1024;
  // Where a name is, in 4 bytes: its block and its offset in the block (a
  // view took 16). The name's length is written in the block before it: one
  // byte, or for a name of kLongName bytes or more, that byte and three
  // more. A block is 64 KB, or holds one longer name at offset 0; 64 K
  // blocks are what the words reach.
  static constexpr int kOffsetBits = 16;
  static constexpr unsigned char kLongName = 255;
  static_assert(kBlockBytes == size_t{1} << kOffsetBits);

  std::string_view view(uint32_t place) const {
    const auto* at = reinterpret_cast<const unsigned char*>(blocks_[place >> kOffsetBits].get()) +
                     (place & (kBlockBytes - 1));
    if (*at != kLongName) return {reinterpret_cast<const char*>(at + 1), *at};
    const size_t length = at[1] | size_t{at[2]} << 8 | size_t{at[3]} << 16;
    return {reinterpret_cast<const char*>(at + 4), length};
  }

  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t used_ = kBlockBytes;  // of the last block; full when there is none
  std::deque<uint32_t> names_;
};

}  // namespace sweeprun
