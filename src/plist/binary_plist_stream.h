#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sweeprun {

class ByteSink;

/// The objects of a binary property list, appended to a sink in the order
/// they are written, through a fixed-size buffer. Failed writes are the
/// sink's to report.
class PlistObjectStream {
 public:
  explicit PlistObjectStream(ByteSink& sink);

  /// Bytes written so far (the offset of the next object).
  uint64_t position() const { return position_; }
  /// Room for the next |size| bytes, to be filled before commit(size). A
  /// piece larger than the buffer gets a block of its own; a long array is
  /// better written a slice at a time.
  char* claim(size_t size);
  void commit(size_t size);
  /// Hands what is buffered to the sink.
  void flush();

 private:
  static constexpr size_t kBufferSize = 256 << 10;
  ByteSink& sink_;
  std::unique_ptr<char[]> buffer_;  // kBufferSize bytes, the first used_ of them claimed
  size_t used_ = 0;
  std::string large_;
  uint64_t position_ = 0;
};

/// The offset-table entries of the objects numbered [begin, end), gathered
/// in a bounded window and written to their place in the table (|width|
/// bytes each from |tableStart|) when the window moves on. Objects may come
/// out of order: an entry not known when its window moves on is written on
/// its own when it comes. Memory stays small however many objects there are,
/// as long as only a few entries come late.
class PlistOffsetWindow {
 public:
  PlistOffsetWindow(ByteSink& sink, uint64_t tableStart, unsigned width, uint64_t begin,
                    uint64_t end);

  /// True when |index| lies below the end of this window's range.
  bool covers(uint64_t index) const { return index < end_; }
  /// Notes the offset (at least 8) of object |index|. False when the entry
  /// was already written or too many entries are late.
  bool set(uint64_t index, uint64_t offset);
  /// Writes what is left; false when some entry never came.
  bool finish();

 private:
  bool moveOn();
  bool setLate(uint64_t index, uint64_t offset);

  ByteSink& sink_;
  uint64_t tableStart_;
  unsigned width_;
  uint64_t end_;
  uint64_t low_;  // the first entry in the window
  uint64_t capacity_;
  std::string entries_;
  std::vector<uint64_t> late_;
};

}  // namespace sweeprun
