#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace sweeprun {

/// Reads the whole file. The folders on the way and a final symbolic link are
/// followed only when root or the effective user owns the link, as
/// DirHandle::openDirectory follows them: a link another user planted is
/// refused. False with "operation(path): reason" in |error|.
bool readFile(const std::string& path, std::string& bytes, std::string& error);

/// Replaces the file at |path| atomically: writes a temporary file beside it,
/// flushes it to disk and renames it over the old one, keeping the old
/// file's permission bits and owner (|newFileMode| for a new file: by
/// default its owner's only, since what the tool keeps names the user's
/// files). The folder is opened as DirHandle::openDirectory opens it (a
/// link on the way is followed only when root or the effective user owns
/// it) and every step works relative to it: a final symbolic link is replaced, never written
/// through. No intermediate folders are created. Temporary files that
/// earlier saves of the same name left behind when killed, and that have
/// not changed for an hour, are removed first. On failure the old file is
/// intact, the temporary file is removed, and |error| says what failed.
bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string& error,
                         unsigned newFileMode = 0600);

/// Replaces the file at |path| atomically, as writeFileAtomically does, but
/// the new file gets exactly |mode|, whatever the umask and the old file's
/// bits, and the writer as its owner: for a file that others read by a
/// fixed contract, such as a metrics file a collector's account reads.
bool replaceFileAtomically(const std::string& path, std::string_view bytes, unsigned mode,
                           std::string& error);

/// Where the bytes of a file being made go: appended in order, or put at an
/// offset (a table whose place is known before its content). Once a write
/// has failed, every later one fails too.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  /// Writes |bytes| at the append position, which starts at 0 and moves past
  /// them.
  virtual bool append(std::string_view bytes) = 0;
  /// Writes |bytes| at |offset| without moving the append position. The
  /// offset may lie past what is written so far; the gap must be filled
  /// before the file is finished.
  virtual bool writeAt(uint64_t offset, std::string_view bytes) = 0;
  /// Told once, before the first write, how many bytes the whole file takes.
  virtual void expectSize(uint64_t /*size*/) {}
};

/// Replaces the file at |path| atomically, as writeFileAtomically does, with
/// what |produce| writes into the sink it is handed. The bytes reach the
/// temporary file through a fixed-size buffer, so a large file is never held
/// in memory. False when |produce| returns false or a write fails, with
/// |error| saying what failed; an exception from |produce| passes through.
/// In every failure the old file is intact and the temporary file removed.
bool writeFileAtomicallyFrom(const std::string& path, const std::function<bool(ByteSink&)>& produce,
                             std::string& error, unsigned newFileMode = 0600);

/// What a save that keeps the file it replaces appends to its name.
constexpr const char* kPreviousCopySuffix = ".previous";

/// As writeFileAtomicallyFrom, and a regular file that was there stays as
/// |path| + kPreviousCopySuffix, replacing the copy of the save before: the
/// same file under a second name (owner, mode and dates its own), put there
/// by rename, so that a link planted at that name is replaced, never
/// followed. No copy is made when nothing, or something other than a
/// regular file, was at |path|. When the copy cannot be made the save fails
/// and both files stay as they were.
bool writeFileAtomicallyKeepingPrevious(const std::string& path,
                                        const std::function<bool(ByteSink&)>& produce,
                                        std::string& error);

/// What tells one version of a file from another without reading it: every
/// save replaces the file by rename (a new inode), and a change in place
/// moves its modification and change times.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedNanoseconds = 0;
  int64_t changedNanoseconds = 0;
  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modifiedNanoseconds == other.modifiedNanoseconds &&
           changedNanoseconds == other.changedNanoseconds;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

/// The identity of the file at |path| (a final link followed, as fileExists
/// does), or none when nothing is there or it cannot be read.
std::optional<FileIdentity> identityOfFile(const std::string& path);

/// Whether something is at |path| itself (a final link is not followed).
/// False with |error| empty when nothing is there, false with |error| when
/// that cannot be told.
bool entryExists(const std::string& path, std::string& error);
/// Makes the folder |path| with |mode| (less the umask); true also when
/// something is there already.
bool makeFolder(const std::string& path, unsigned mode, std::string& error);

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
  /// creating an empty one (0600 less the umask) when nothing is there. The
  /// folder is opened as DirHandle::openDirectory opens it (a link on the way
  /// is followed only when root or the effective user owns it) and the file
  /// relative to it. A final symbolic link is never followed, and anything
  /// but a regular file with a single link (a folder, a pipe, a device, a
  /// file with other hard links) is refused: a closed handle, with
  /// "operation(path): reason" in |error|.
  /// What a file that openForUpdate creates gets: |mode| less the umask or,
  /// when |group| is given, |mode| exactly and that group (when it exists).
  struct NewFileAttributes {
    unsigned mode = 0600;
    const char* group = nullptr;
  };
  static FileHandle openForUpdate(const std::string& path, std::string& error,
                                  const NewFileAttributes& newFile);
  static FileHandle openForUpdate(const std::string& path, std::string& error) {
    return openForUpdate(path, error, NewFileAttributes());
  }

  bool isOpen() const { return fd_ >= 0; }

  /// The whole content, read from offset 0 without moving the position.
  bool readAll(std::string& bytes) const;
  /// Up to |count| bytes from |offset| into |bytes|, fewer only at the end of
  /// the file, without moving the position. False when a read fails.
  bool readAt(uint64_t offset, size_t count, std::string& bytes) const;
  /// Writes all of |bytes| at the current position and moves past them.
  bool write(std::string_view bytes);
  /// Moves the position; false when the handle is closed or the seek fails.
  bool seekTo(uint64_t offset);
  bool seekToEnd();
  /// The current position; 0 for a closed handle.
  uint64_t position() const;
  /// Cuts the file at the current position.
  bool truncateAtPosition();
  /// Flushes what was written to the disk (fdatasync).
  bool sync();
  /// Closes the descriptor (the handle is then closed).
  void close();

 private:
  friend class MappedAppender;
  explicit FileHandle(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace sweeprun
