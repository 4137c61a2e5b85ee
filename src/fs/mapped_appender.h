#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fs/file_io.h"

namespace sweeprun {

/// Appends to an open file through a shared mapping of its end. An append is
/// a copy into the system's file cache, no system call, and is in the file
/// the moment it is copied: a process killed after an append leaves it there,
/// as it would after a write(). Space is reserved a window at a time with
/// fallocate(), so a full disk shows as a failed append, never as a fault
/// while copying.
///
/// While appending, the file's size runs ahead of its content by what is
/// reserved and not yet used, in zero bytes, until finish() cuts it back. A
/// file left by a killed process ends in such zeros; contentEnd() finds
/// where its content ends.
class MappedAppender {
 public:
  MappedAppender() = default;
  ~MappedAppender();
  MappedAppender(const MappedAppender&) = delete;
  MappedAppender& operator=(const MappedAppender&) = delete;

  /// Starts appending to |file| at |end|. False where the file system can
  /// neither reserve space nor map the file: the caller writes instead.
  /// |window| is how much is reserved and mapped at first; each window
  /// after a whole one is twice as large, up to kLargestWindow.
  bool start(const FileHandle& file, uint64_t end, size_t window = kDefaultWindow);
  bool isStarted() const { return fd_ >= 0; }
  /// Where the content ends: the next append goes there.
  uint64_t end() const { return end_; }
  /// Copies |bytes| to the end; false when the next window cannot be
  /// reserved or mapped (then nothing of |bytes| was copied, and the window
  /// before stays).
  bool append(std::string_view bytes);
  /// Makes sure that the next |bytes| can be appended without reserving
  /// more: maps the next window now when the current one has less room
  /// left. False when that window cannot be reserved or mapped; the
  /// current window, and its room, stay.
  bool reserve(size_t bytes);
  /// Whether the last reservation that failed (in start, append or
  /// reserve) failed for want of space: the disk or the quota is full,
  /// rather than the file system unable to reserve or map at all.
  bool outOfSpace() const { return outOfSpace_; }
  /// Unmaps and cuts the file back to its content. False when the cut fails.
  bool finish();

  /// Where the content of |file| ends: its size less the zero bytes at its
  /// end. False when the file cannot be read.
  static bool contentEnd(const FileHandle& file, uint64_t& end);

  static constexpr size_t kDefaultWindow = 256 * 1024;
  // A long run of appends maps and reserves fewer, larger windows: each
  // one costs a reservation, a mapping and the unmapping of the last.
  static constexpr size_t kLargestWindow = 4 * 1024 * 1024;

 private:
  bool mapWindowAt(uint64_t offset, size_t needed);
  void unmap();

  int fd_ = -1;  // borrowed from the FileHandle, which outlives the appender
  size_t window_ = kDefaultWindow;
  char* base_ = nullptr;     // the mapping
  uint64_t baseOffset_ = 0;  // the file offset of base_
  size_t mapped_ = 0;        // bytes mapped at base_
  uint64_t end_ = 0;         // the end of the content
  bool outOfSpace_ = false;
};

}  // namespace sweeprun
