#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace sweeprun {

/// An immutable text of any length in 24 bytes: up to 23 bytes are held in
/// place, longer ones in one block of exactly their size. Entry names are
/// mostly short, so a million tracked entries allocate nothing for them.
class CompactName {
 public:
  CompactName() noexcept { clear(); }
  explicit CompactName(std::string_view text) { assign(text); }
  CompactName(const CompactName& other) { assign(other.view()); }
  CompactName(CompactName&& other) noexcept {
    std::memcpy(raw_, other.raw_, sizeof raw_);
    other.clear();
  }
  CompactName& operator=(const CompactName& other) {
    if (this != &other) {
      release();
      assign(other.view());
    }
    return *this;
  }
  CompactName& operator=(CompactName&& other) noexcept {
    if (this != &other) {
      release();
      std::memcpy(raw_, other.raw_, sizeof raw_);
      other.clear();
    }
    return *this;
  }
  ~CompactName() { release(); }

  std::string_view view() const {
    if (!onHeap()) return std::string_view(raw_, tag());
    return std::string_view(heapBytes(), heapSize());
  }

 private:
  static constexpr size_t kInline = 23;
  static constexpr uint8_t kHeapTag = 0xFF;

  uint8_t tag() const { return static_cast<uint8_t>(raw_[kInline]); }
  bool onHeap() const { return tag() == kHeapTag; }
  char* heapBytes() const {
    char* bytes;
    std::memcpy(&bytes, raw_, sizeof bytes);
    return bytes;
  }
  size_t heapSize() const {
    size_t size;
    std::memcpy(&size, raw_ + sizeof(char*), sizeof size);
    return size;
  }
  void clear() noexcept {
    raw_[0] = 0;
    raw_[kInline] = 0;
  }
  void assign(std::string_view text) {
    if (text.size() <= kInline) {
      if (!text.empty()) std::memcpy(raw_, text.data(), text.size());
      raw_[kInline] = static_cast<char>(text.size());
      return;
    }
    char* bytes = new char[text.size()];
    std::memcpy(bytes, text.data(), text.size());
    const size_t size = text.size();
    std::memcpy(raw_, &bytes, sizeof bytes);
    std::memcpy(raw_ + sizeof bytes, &size, sizeof size);
    raw_[kInline] = static_cast<char>(kHeapTag);
  }
  void release() noexcept {
    if (onHeap()) delete[] heapBytes();
  }

  char raw_[kInline + 1];
};

}  // namespace sweeprun
