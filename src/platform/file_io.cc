#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/path.h"

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

// Reads from |offset| to the end of the file.
bool readFrom(int fd, off_t offset, std::string& bytes) {
  bytes.clear();
  // Reserving the size up front keeps a large database from being copied
  // over and over as the string grows.
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > offset) {
    bytes.reserve(static_cast<size_t>(info.st_size - offset));
  }
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, offset);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) return true;
    bytes.append(buffer, static_cast<size_t>(got));
    offset += got;
  }
}

// A name for a temporary file beside the target that no other writer picks.
std::string temporaryName(const std::string& name, unsigned attempt) {
  static unsigned counter = 0;
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  const unsigned long long mix = static_cast<unsigned long long>(ticks) * 2654435761u +
                                 static_cast<unsigned long long>(getpid()) * 40503u +
                                 ++counter * 7919u + attempt;
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (unsigned long long v = mix; suffix.size() < 8; v /= 36) suffix.push_back(kAlphabet[v % 36]);
  return "." + name + ".tmp-" + suffix;
}

}  // namespace

bool readFile(const std::string& path, std::string& bytes, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    error = failure("open", path);
    return false;
  }
  const bool ok = readFrom(fd, 0, bytes);
  if (!ok) error = failure("read", path);
  ::close(fd);
  return ok;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string& error,
                         unsigned newFileMode) {
  return writeFileAtomicallyFrom(
      path, [bytes](ByteSink& sink) { return sink.append(bytes); }, error, newFileMode);
}

bool writeFileAtomicallyFrom(const std::string& path, const std::function<bool(ByteSink&)>& produce,
                             std::string& error, unsigned newFileMode) {
  const std::string name = lastPathComponent(path);
  if (path.empty() || path.back() == '/' || name == "/" || name == "." || name == "..") {
    errno = EINVAL;
    error = failure("open", path);
    return false;
  }
  std::string directory = deletingLastPathComponent(path);
  if (directory.empty()) directory = ".";

  mode_t mode = static_cast<mode_t>(newFileMode & 07777);
  struct stat old;
  const bool hadFile = ::lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  if (hadFile) mode = old.st_mode & 07777;

  std::string temporary;
  int fd = -1;
  for (unsigned attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temporary = joinPath(directory, temporaryName(name, attempt));
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error = failure("open", temporary);
    return false;
  }
  // Whatever happens below, the temporary file goes unless it was renamed.
  struct Cleanup {
    int& fd;
    const std::string& temporary;
    bool renamed = false;
    ~Cleanup() {
      if (fd >= 0) ::close(fd);
      if (!renamed) ::unlink(temporary.c_str());
    }
  } cleanup{fd, temporary};

  if (hadFile) {
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
    error = "write(" + temporary + "): the content could not be made";
    return false;
  } else if (::fchmod(fd, mode) != 0) {
    failedOperation = "fchmod";
  } else if (::fsync(fd) != 0) {
    failedOperation = "fsync";
  }
  if (failedOperation) {
    error = failure(failedOperation, temporary);
    return false;
  }
  const int closed = ::close(std::exchange(fd, -1));
  if (closed != 0) {
    error = failure("close", temporary);
    return false;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    error = failure("rename", path);
    return false;
  }
  cleanup.renamed = true;
  // Make the rename itself durable; the new content is already on disk.
  const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

bool fileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
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

FileHandle FileHandle::openForUpdate(const std::string& path, std::string& error) {
  // O_NONBLOCK: opening a pipe or a device planted at the path must not hang;
  // such files are refused below anyway.
  const int fd =
      ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
  if (fd < 0) {
    error = failure("open", path);
    return FileHandle();
  }
  FileHandle handle(fd);
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
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return handle;
}

bool FileHandle::readAll(std::string& bytes) const { return isOpen() && readFrom(fd_, 0, bytes); }

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

void FileHandle::close() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

}  // namespace sweeprun
