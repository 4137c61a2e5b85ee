#pragma once

#include <csignal>
#include <cstddef>
#include <string>
#include <string_view>

namespace sweeprun {

/// Installs, for the rest of the process, the bus-error handler that lets a
/// mapped file be cut short under its reader: the missing pages then read as
/// zeros and the file reports damaged() instead of the process ending. Each
/// entry point calls it once before it reads a file; until it has, MappedFile
/// reads files into memory instead of mapping them. False when the handler
/// cannot be installed (files are then read into memory as well).
bool installMappedFileGuard();

/// A regular file mapped read-only into memory, for reading a large file
/// once without a private copy of it. Unmapped when the object goes; it
/// stays at its address, so it can be neither copied nor moved.
class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  /// Maps the file at |path|; where its file system cannot map files, or
  /// before installMappedFileGuard(), reads it into memory instead. The file is opened as readFile
  /// opens it: a link on the way or at the end is followed only when root or the effective user
  /// owns it. Anything but a regular file is refused. False with "operation(path): reason" in
  /// |error|.
  bool open(const std::string& path, std::string& error);

  /// The content; empty before open() and for an empty file.
  std::string_view bytes() const { return {begin_, size_}; }
  /// Drops the mapped pages from the process's resident memory. Reading them
  /// again brings them back from the system's file cache, so a reader that
  /// moves through the file can call this every few megabytes to keep its
  /// footprint flat.
  void releasePages() const;
  /// True when the file was cut short while mapped. Its missing part then
  /// reads as zeros instead of ending the process, and what was read from
  /// the mapping must not be trusted.
  bool damaged() const { return damaged_ != 0; }

 private:
  friend struct MappedFileGuard;
  const char* begin_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
  std::string copy_;  // the content, where the file system cannot map it
  volatile std::sig_atomic_t damaged_ = 0;
};

}  // namespace sweeprun
