#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sweeprun {

/// Reads the whole file. False with "operation(path): reason" in |error|.
bool readFile(const std::string& path, std::string& bytes, std::string& error);

/// Replaces the file at |path| atomically: writes a temporary file beside it,
/// flushes it to disk and renames it over the old one, keeping the old
/// file's permission bits (|newFileMode| for a new file). No intermediate
/// folders are created. On failure the old file is intact, the temporary file
/// is removed, and |error| says what failed.
bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string& error,
                         unsigned newFileMode = 0644);

/// True when something exists at |path| (a final link is followed).
bool fileExists(const std::string& path);
/// True when a directory exists at |path| (a final link is followed).
bool directoryExists(const std::string& path);

/// An open regular file, read and written through its descriptor, closed when
/// the handle goes. Writes go to the current position at once, without
/// buffering. Every operation on a closed handle does nothing and fails.
class FileHandle {
 public:
  FileHandle() = default;
  ~FileHandle();
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  /// Opens the regular file at |path| for reading and writing at offset 0,
  /// creating an empty one (0644 less the umask) when nothing is there. A
  /// final symbolic link is never followed, and anything but a regular file
  /// (a folder, a pipe, a device) is refused: a closed handle, with
  /// "operation(path): reason" in |error|.
  static FileHandle openForUpdate(const std::string& path, std::string& error);

  bool isOpen() const { return fd_ >= 0; }

  /// The whole content, read from offset 0 without moving the position.
  bool readAll(std::string& bytes) const;
  /// Writes all of |bytes| at the current position and moves past them.
  bool write(std::string_view bytes);
  /// Moves the position; false when the handle is closed or the seek fails.
  bool seekTo(uint64_t offset);
  bool seekToEnd();
  /// The current position; 0 for a closed handle.
  uint64_t position() const;
  /// Cuts the file at the current position.
  bool truncateAtPosition();
  /// Closes the descriptor (the handle is then closed).
  void close();

 private:
  explicit FileHandle(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace sweeprun
