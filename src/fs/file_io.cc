#include "fs/file_io.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "fs/dir_handle.h"
#include "fs/file_open.h"
#include "fs/temporary_file.h"

namespace sweeprun {

namespace {

std::string failure(const char* operation, const std::string& path) {
  return std::string(operation) + "(" + path + "): " + std::strerror(errno);
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

bool writeAllAt(int fd, std::string_view bytes, uint64_t offset) {
  while (!bytes.empty()) {
    const ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
    offset += static_cast<uint64_t>(written);
  }
  return true;
}

// Collects small appended pieces in a fixed-size buffer and writes them out
// when it is full; large pieces (a writer's own full buffer) and positioned
// writes go straight to the file. Remembers the first failure's errno.
class FileSink : public ByteSink {
 public:
  explicit FileSink(int fd) : fd_(fd) {}

  bool append(std::string_view bytes) override {
    if (errno_ != 0) return false;
    if ((buffer_.size() + bytes.size() > kBufferSize || bytes.size() >= kDirectSize) && !flush())
      return false;
    if (bytes.size() >= kDirectSize) {
      if (!writeAllAt(fd_, bytes, position_)) return fail();
      position_ += bytes.size();
      return true;
    }
    if (buffer_.capacity() < kBufferSize) buffer_.reserve(kBufferSize);
    buffer_.append(bytes);
    return true;
  }

  bool writeAt(uint64_t offset, std::string_view bytes) override {
    // Flushing first keeps the order of writes that overlap.
    if (!flush()) return false;
    return writeAllAt(fd_, bytes, offset) || fail();
  }

  bool flush() {
    if (errno_ != 0) return false;
    if (!writeAllAt(fd_, buffer_, position_)) return fail();
    position_ += buffer_.size();
    buffer_.clear();
    return true;
  }

  int failedErrno() const { return errno_; }

 private:
  static constexpr size_t kBufferSize = 256 << 10;
  static constexpr size_t kDirectSize = 64 << 10;
  bool fail() {
    errno_ = errno != 0 ? errno : EIO;
    return false;
  }
  int fd_;
  uint64_t position_ = 0;  // where buffer_ starts in the file
  std::string buffer_;
  int errno_ = 0;
};

// Removes the temporary file |name| of |folder| unless the name no longer
// holds the file we created (|created|): another process may have put
// something else there meanwhile.
void removeOwnTemporary(const DirHandle& folder, const std::string& name,
                        const struct stat& created) {
  struct stat now;
  if (::fstatat(folder.fd(), name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
      now.st_ino == created.st_ino && now.st_dev == created.st_dev) {
    ::unlinkat(folder.fd(), name.c_str(), 0);
  }
}

}  // namespace

bool readFile(const std::string& path, std::string& bytes, std::string& error) {
  const int fd = openFileForReading(path, 0, error);
  if (fd < 0) return false;
  const bool ok = readFromDescriptor(fd, 0, bytes);
  if (!ok) error = failure("read", path);
  ::close(fd);
  return ok;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string& error,
                         unsigned newFileMode) {
  return writeFileAtomicallyFrom(
      path, [bytes](ByteSink& sink) { return sink.append(bytes); }, error, newFileMode);
}

namespace {

// Gives the regular file |name| of |folder|, whose status is |old|, a second
// name |name| + kPreviousCopySuffix: a hard link, so the copy has the
// file's owner, mode and dates without a byte copied. The link is made under
// a temporary name and renamed into place, which replaces whatever was there
// (a planted link included) without following it.
bool linkAsPrevious(const DirHandle& folder, const std::string& name, const struct stat& old,
                    std::string& error) {
  std::string temporary;
  bool linked = false;
  for (unsigned attempt = 0; !linked && attempt < 100; ++attempt) {
    temporary = temporaryName(name, attempt);
    linked = ::linkat(folder.fd(), name.c_str(), folder.fd(), temporary.c_str(), 0) == 0;
    if (!linked && errno != EEXIST) break;
  }
  if (!linked) {
    error = failure("link", folder.entryPath(name));
    return false;
  }
  struct stat made;
  if (::fstatat(folder.fd(), temporary.c_str(), &made, AT_SYMLINK_NOFOLLOW) != 0) {
    error = failure("fstatat", folder.entryPath(temporary));
    return false;  // a later save removes it once it is old
  }
  if (made.st_ino != old.st_ino || made.st_dev != old.st_dev) {
    error = "link(" + folder.entryPath(name) + "): the file was replaced during the save";
    removeOwnTemporary(folder, temporary, made);
    return false;
  }
  const std::string previous = name + kPreviousCopySuffix;
  if (::renameat(folder.fd(), temporary.c_str(), folder.fd(), previous.c_str()) != 0) {
    error = failure("rename", folder.entryPath(previous));
    removeOwnTemporary(folder, temporary, made);
    return false;
  }
  // When the copy already was this file (a save killed between its two
  // renames), the rename did nothing and the temporary name is still there.
  removeOwnTemporary(folder, temporary, made);
  return true;
}

// The save of writeFileAtomicallyFrom; |keepOld| keeps the permission bits
// and owner of a file already there, else the file gets |mode| exactly.
// |keepPrevious| keeps the regular file replaced as its previous copy.
bool saveAtomically(const std::string& path, const std::function<bool(ByteSink&)>& produce,
                    std::string& error, unsigned newFileMode, bool keepOld,
                    bool keepPrevious = false) {
  DirHandle folder;
  std::string name;
  if (!openContainingFolder(path, folder, name, error)) return false;
  removeAbandonedTemporaries(folder, name, kAbandonedTemporaryAgeSeconds);

  mode_t mode = static_cast<mode_t>(newFileMode & 07777);
  struct stat old;
  const bool hadFile =
      ::fstatat(folder.fd(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode);
  if (hadFile && keepOld) mode = old.st_mode & 07777;

  std::string temporary;
  int fd = -1;
  for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temporary = temporaryName(name, attempt);
    fd = ::openat(folder.fd(), temporary.c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error = failure("open", folder.entryPath(temporary));
    return false;
  }
  const std::string temporaryPath = folder.entryPath(temporary);
  struct stat created;
  if (::fstat(fd, &created) != 0) {
    error = failure("fstat", temporaryPath);
    ::close(fd);
    // Without its identity the file cannot be told from a stranger's; a
    // later save removes it once it is old.
    return false;
  }
  // Whatever happens below, the temporary file goes unless it was renamed.
  struct Cleanup {
    int& fd;
    const DirHandle& folder;
    const std::string& temporary;
    const struct stat& created;
    bool renamed = false;
    ~Cleanup() {
      if (fd >= 0) ::close(fd);
      if (!renamed) removeOwnTemporary(folder, temporary, created);
    }
  } cleanup{fd, folder, temporary, created};

  if (hadFile && keepOld) {
    // Keep the owner when root rewrites somebody else's file. An ordinary
    // user cannot give files away, and the failure is harmless then: the
    // file stays the user's own.
    const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
    (void)ignored;
  }
  FileSink sink(fd);
  const bool produced = produce(sink);
  const char* failedOperation = nullptr;
  if (!sink.flush() || sink.failedErrno() != 0) {
    errno = sink.failedErrno();
    failedOperation = "write";
  } else if (!produced) {
    error = "write(" + temporaryPath + "): the content could not be made";
    return false;
  } else if (::fchmod(fd, mode) != 0) {
    failedOperation = "fchmod";
  } else if (::fsync(fd) != 0) {
    failedOperation = "fsync";
  }
  if (failedOperation) {
    error = failure(failedOperation, temporaryPath);
    return false;
  }
  const int closed = ::close(std::exchange(fd, -1));
  if (closed != 0) {
    error = failure("close", temporaryPath);
    return false;
  }
  // Last before the rename, so that a failed save leaves the copy as it was.
  if (hadFile && keepPrevious && !linkAsPrevious(folder, name, old, error)) return false;
  if (::renameat(folder.fd(), temporary.c_str(), folder.fd(), name.c_str()) != 0) {
    error = failure("rename", path);
    return false;
  }
  cleanup.renamed = true;
  // Make the rename itself durable; the new content is already on disk.
  ::fsync(folder.fd());
  return true;
}

}  // namespace

bool writeFileAtomicallyFrom(const std::string& path, const std::function<bool(ByteSink&)>& produce,
                             std::string& error, unsigned newFileMode) {
  return saveAtomically(path, produce, error, newFileMode, true);
}

bool writeFileAtomicallyKeepingPrevious(const std::string& path,
                                        const std::function<bool(ByteSink&)>& produce,
                                        std::string& error) {
  return saveAtomically(path, produce, error, 0600, true, true);
}

bool replaceFileAtomically(const std::string& path, std::string_view bytes, unsigned mode,
                           std::string& error) {
  return saveAtomically(
      path, [bytes](ByteSink& sink) { return sink.append(bytes); }, error, mode, false);
}

bool entryExists(const std::string& path, std::string& error) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) return true;
  if (errno != ENOENT && errno != ENOTDIR) error = failure("lstat", path);
  return false;
}

bool makeFolder(const std::string& path, unsigned mode, std::string& error) {
  if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0 || errno == EEXIST) return true;
  error = failure("mkdir", path);
  return false;
}

bool fileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::optional<FileIdentity> identityOfFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  FileIdentity identity;
  identity.device = static_cast<uint64_t>(st.st_dev);
  identity.inode = static_cast<uint64_t>(st.st_ino);
  identity.size = static_cast<uint64_t>(st.st_size);
  identity.modifiedNanoseconds = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  identity.changedNanoseconds = int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
  return identity;
}

bool directoryExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

FileHandle::~FileHandle() { close(); }

FileHandle::FileHandle(FileHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FileHandle FileHandle::openForUpdate(const std::string& path, std::string& error,
                                     const NewFileAttributes& newFile) {
  DirHandle folder;
  std::string name;
  if (!openContainingFolder(path, folder, name, error)) return FileHandle();
  // O_NONBLOCK: opening a pipe or a device planted at the path must not hang;
  // such files are refused below anyway.
  constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = ::openat(folder.fd(), name.c_str(), kFlags);
  bool created = false;
  for (int attempt = 0; fd < 0 && errno == ENOENT && attempt < 8; ++attempt) {
    fd = ::openat(folder.fd(), name.c_str(), kFlags | O_CREAT | O_EXCL, newFile.mode & 0777);
    created = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = ::openat(folder.fd(), name.c_str(), kFlags);
  }
  if (fd < 0) {
    error = failure("open", path);
    return FileHandle();
  }
  FileHandle handle(fd);
  if (created && newFile.group) {
    // The mode exactly, whatever the umask, and the group that may read it.
    if (const struct group* entry = ::getgrnam(newFile.group)) {
      const int ignored = ::fchown(fd, static_cast<uid_t>(-1), entry->gr_gid);
      (void)ignored;
    }
    ::fchmod(fd, newFile.mode & 0777);
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    error = failure("fstat", path);
    return FileHandle();
  }
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    error = "open(" + path + "): not a regular file";
    return FileHandle();
  }
  // Another name of the same file may lie in a folder we would never write
  // to; writing here would change the file there too.
  if (st.st_nlink > 1) {
    errno = EMLINK;
    error = "open(" + path + "): the file has other hard links";
    return FileHandle();
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return handle;
}

bool FileHandle::readAll(std::string& bytes) const {
  return isOpen() && readFromDescriptor(fd_, 0, bytes);
}

bool FileHandle::readAt(uint64_t offset, size_t count, std::string& bytes) const {
  bytes.resize(count);
  size_t got = 0;
  while (got < count) {
    const ssize_t n =
        ::pread(fd_, bytes.data() + got, count - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      bytes.resize(got);
      return n == 0;
    }
    got += static_cast<size_t>(n);
  }
  return true;
}

bool FileHandle::write(std::string_view bytes) { return isOpen() && writeAll(fd_, bytes); }

bool FileHandle::seekTo(uint64_t offset) {
  return isOpen() && ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool FileHandle::seekToEnd() { return isOpen() && ::lseek(fd_, 0, SEEK_END) >= 0; }

uint64_t FileHandle::position() const {
  if (!isOpen()) return 0;
  const off_t offset = ::lseek(fd_, 0, SEEK_CUR);
  return offset < 0 ? 0 : static_cast<uint64_t>(offset);
}

bool FileHandle::truncateAtPosition() {
  if (!isOpen()) return false;
  const off_t offset = ::lseek(fd_, 0, SEEK_CUR);
  return offset >= 0 && ::ftruncate(fd_, offset) == 0;
}

bool FileHandle::sync() { return isOpen() && ::fdatasync(fd_) == 0; }

void FileHandle::close() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

}  // namespace sweeprun
