#include "plist/binary_plist_stream.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "fs/file_io.h"
#include "plist/binary_plist.h"

namespace sweeprun {

namespace {

// A window of 16Ki entries leaves far more room than the few containers a
// writer keeps open; a writer with more late entries than this is broken.
constexpr uint64_t kWindowEntries = 1 << 14;
constexpr size_t kMaxLate = 1 << 16;

}  // namespace

// The buffer is sized once and left unfilled: zeroing it (or growing a
// string for every object) wrote bytes that are written over at once, and a
// small database touches only the first of its pages.
PlistObjectStream::PlistObjectStream(ByteSink& sink)
    : sink_(sink), buffer_(new char[kBufferSize]) {}

char* PlistObjectStream::claim(size_t size) {
  if (used_ + size > kBufferSize) flush();
  if (size > kBufferSize) {
    large_.assign(size, '\0');
    return large_.data();
  }
  char* room = buffer_.get() + used_;
  used_ += size;
  return room;
}

void PlistObjectStream::commit(size_t size) {
  position_ += size;
  if (!large_.empty()) {
    sink_.append(large_);
    large_ = std::string();
  }
}

void PlistObjectStream::flush() {
  sink_.append(std::string_view(buffer_.get(), used_));
  used_ = 0;
}

PlistOffsetWindow::PlistOffsetWindow(ByteSink& sink, uint64_t tableStart, unsigned width,
                                     uint64_t begin, uint64_t end)
    : sink_(sink),
      tableStart_(tableStart),
      width_(width),
      end_(end),
      low_(begin),
      capacity_(std::min(kWindowEntries, end - begin)),
      entries_(static_cast<size_t>(capacity_ * width), '\0') {}

bool PlistOffsetWindow::set(uint64_t index, uint64_t offset) {
  if (index < low_) return setLate(index, offset);
  while (index >= low_ + capacity_)
    if (!moveOn()) return false;
  bplist::putBigEndian(&entries_[(index - low_) * width_], offset, width_);
  return true;
}

bool PlistOffsetWindow::finish() {
  while (low_ < end_)
    if (!moveOn()) return false;
  return late_.empty();
}

bool PlistOffsetWindow::moveOn() {
  const uint64_t count = std::min(capacity_, end_ - low_);
  // Every offset is at least 8, so an entry of zeros is one not yet known.
  for (uint64_t i = 0; i < count; ++i) {
    const auto entry = entries_.begin() + static_cast<std::ptrdiff_t>(i * width_);
    if (std::all_of(entry, entry + width_, [](char c) { return c == '\0'; }))
      late_.push_back(low_ + i);
  }
  if (late_.size() > kMaxLate) return false;
  sink_.writeAt(tableStart_ + low_ * width_, std::string_view(entries_.data(), count * width_));
  std::fill(entries_.begin(), entries_.end(), '\0');
  low_ += count;
  return true;
}

bool PlistOffsetWindow::setLate(uint64_t index, uint64_t offset) {
  // The containers still open come back innermost first.
  const auto it = std::find(late_.rbegin(), late_.rend(), index);
  if (it == late_.rend()) return false;
  late_.erase(std::next(it).base());
  char entry[8];
  bplist::putBigEndian(entry, offset, width_);
  sink_.writeAt(tableStart_ + index * width_, std::string_view(entry, width_));
  return true;
}

}  // namespace sweeprun
