#include "fs/mapped_appender.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace sweeprun {

namespace {

uint64_t pageSize() {
  static const uint64_t size = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

}  // namespace

MappedAppender::~MappedAppender() { finish(); }

bool MappedAppender::start(const FileHandle& file, uint64_t end, size_t window) {
  unmap();
  fd_ = file.fd_;
  window_ = std::max<size_t>(window, pageSize());
  end_ = end;
  if (fd_ < 0 || !mapWindowAt(end, 0)) {
    fd_ = -1;
    return false;
  }
  return true;
}

bool MappedAppender::append(std::string_view bytes) {
  if (fd_ < 0) return false;
  if (end_ + bytes.size() > baseOffset_ + mapped_ && !mapWindowAt(end_, bytes.size())) return false;
  std::memcpy(base_ + (end_ - baseOffset_), bytes.data(), bytes.size());
  end_ += bytes.size();
  return true;
}

bool MappedAppender::reserve(size_t bytes) {
  if (fd_ < 0) return false;
  return end_ + bytes <= baseOffset_ + mapped_ || mapWindowAt(end_, bytes);
}

bool MappedAppender::finish() {
  if (fd_ < 0) return true;
  unmap();
  const bool cut = ::ftruncate(fd_, static_cast<off_t>(end_)) == 0;
  fd_ = -1;
  return cut;
}

// Maps a window that starts at the page holding |offset| and holds at least
// the |needed| bytes append() is about to copy there. The space is reserved
// first, so that no copy into it can meet a full disk. Where a whole window
// finds no space, as little as |needed| is tried: a nearly full disk still
// takes lines, a few at a time. The window mapped before goes only once the
// new one is there.
bool MappedAppender::mapWindowAt(uint64_t offset, size_t needed) {
  const uint64_t start = offset - offset % pageSize();
  const auto roundedUp = [](uint64_t size) {
    return size + (pageSize() - size % pageSize()) % pageSize();
  };
  const uint64_t least = roundedUp(std::max<uint64_t>(offset - start + needed, 1));
  uint64_t size = std::max<uint64_t>(roundedUp(window_), least);
  int reserved = ::fallocate(fd_, 0, static_cast<off_t>(start), static_cast<off_t>(size));
  outOfSpace_ = reserved != 0 && (errno == ENOSPC || errno == EDQUOT);
  if (outOfSpace_ && size > least) {
    size = least;
    reserved = ::fallocate(fd_, 0, static_cast<off_t>(start), static_cast<off_t>(size));
    outOfSpace_ = reserved != 0 && (errno == ENOSPC || errno == EDQUOT);
  }
  if (reserved != 0) return false;
  void* mapping = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd_,
                         static_cast<off_t>(start));
  if (mapping == MAP_FAILED) return false;
  unmap();
  base_ = static_cast<char*>(mapping);
  baseOffset_ = start;
  mapped_ = size;
  if (size >= window_) window_ = std::max(window_, std::min(2 * window_, kLargestWindow));
  return true;
}

void MappedAppender::unmap() {
  if (base_) ::munmap(base_, mapped_);
  base_ = nullptr;
  mapped_ = 0;
}

bool MappedAppender::contentEnd(const FileHandle& file, uint64_t& end) {
  struct stat status;
  if (file.fd_ < 0 || ::fstat(file.fd_, &status) != 0) return false;
  end = static_cast<uint64_t>(status.st_size);
  char piece[64 * 1024];
  while (end > 0) {
    const uint64_t from = end > sizeof piece ? end - sizeof piece : 0;
    const ssize_t got = ::pread(file.fd_, piece, end - from, static_cast<off_t>(from));
    if (got != static_cast<ssize_t>(end - from)) return false;
    for (size_t i = static_cast<size_t>(got); i > 0; --i) {
      if (piece[i - 1] != '\0') {
        end = from + i;
        return true;
      }
    }
    end = from;
  }
  return true;
}

}  // namespace sweeprun
