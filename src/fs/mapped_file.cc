#include "fs/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "fs/file_open.h"

namespace sweeprun {

namespace {

std::string failure(const char* operation, const std::string& path) {
  return std::string(operation) + "(" + path + "): " + std::strerror(errno);
}

}  // namespace

// The bus-error handler and the mapped files it answers for. A signal's
// disposition belongs to the process, and a handler cannot be handed
// anything, so this one table is process-wide; it is set up once by
// installMappedFileGuard() and never torn down. The tool maps one file at a
// time; a few slots are plenty.
//
// The handler does only what is safe in a signal handler: lock-free loads
// of the table, one mmap() (on Linux a bare system call, which keeps no
// state in the C library), a store to the file's sig_atomic_t flag, and
// sigaction(). Jumping back to the reader instead (siglongjmp) would skip
// the destructors of everything the decoder had under way.
struct MappedFileGuard {
  static constexpr int kSlots = 8;
  static std::atomic<MappedFile*> slots[kSlots];
  static std::atomic<bool> installed;
  static uintptr_t pageSize;
  static struct sigaction previous;
  static_assert(ATOMIC_POINTER_LOCK_FREE == 2, "the handler reads the table lock-free");

  static bool install() {
    if (installed.load()) return true;
    pageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    if (::sigaction(SIGBUS, &action, &previous) != 0) return false;
    installed.store(true);
    return true;
  }

  static bool add(MappedFile* file) {
    for (std::atomic<MappedFile*>& slot : slots) {
      MappedFile* empty = nullptr;
      if (slot.compare_exchange_strong(empty, file)) return true;
    }
    return false;
  }

  static void remove(MappedFile* file) {
    for (std::atomic<MappedFile*>& slot : slots)
      if (slot.load() == file) slot.store(nullptr);
  }

  // A read past the end of a file that shrank: a page of zeros takes the
  // missing page's place and the file is marked damaged. Any other bus
  // error goes to the previous disposition when the access is retried.
  static void onBusError(int, siginfo_t* info, void*) {
    const int savedErrno = errno;
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (std::atomic<MappedFile*>& slot : slots) {
      MappedFile* file = slot.load();
      if (!file) continue;
      const auto begin = reinterpret_cast<uintptr_t>(file->begin_);
      if (address < begin || address - begin >= file->size_) continue;
      void* page = reinterpret_cast<void*>(address & ~(pageSize - 1));
      if (::mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
          MAP_FAILED) {
        file->damaged_ = 1;
        errno = savedErrno;
        return;
      }
      break;
    }
    ::sigaction(SIGBUS, &previous, nullptr);
    errno = savedErrno;
  }
};

std::atomic<MappedFile*> MappedFileGuard::slots[kSlots] = {};
std::atomic<bool> MappedFileGuard::installed{false};
uintptr_t MappedFileGuard::pageSize = 4096;
struct sigaction MappedFileGuard::previous;

bool installMappedFileGuard() { return MappedFileGuard::install(); }

MappedFile::~MappedFile() {
  if (!mapped_) return;
  MappedFileGuard::remove(this);
  ::munmap(const_cast<char*>(begin_), size_);
}

bool MappedFile::open(const std::string& path, std::string& error) {
  if (begin_) {
    errno = EBUSY;
    error = failure("open", path);
    return false;
  }
  // O_NONBLOCK: a pipe planted at the path must not hang the open; it is
  // refused below.
  const int fd = openFileForReading(path, O_NONBLOCK, error);
  if (fd < 0) return false;
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    error = failure("fstat", path);
    ::close(fd);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    error = failure("read", path);
    ::close(fd);
    return false;
  }
  if (info.st_size == 0) {
    ::close(fd);
    return true;
  }
  const size_t size = static_cast<size_t>(info.st_size);
  // Without the guard a file cut short under the mapping would end the
  // process; some file systems cannot map files at all. A copy does the
  // same job in both cases.
  void* mapping = MappedFileGuard::installed.load()
                      ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0)
                      : MAP_FAILED;
  if (mapping == MAP_FAILED) {
    const bool read = readFromDescriptor(fd, 0, copy_);
    if (!read) error = failure("read", path);
    ::close(fd);
    begin_ = copy_.data();
    size_ = copy_.size();
    return read;
  }
  ::close(fd);
  begin_ = static_cast<const char*>(mapping);
  size_ = size;
  mapped_ = true;
  if (!MappedFileGuard::add(this)) {
    ::munmap(mapping, size);
    begin_ = nullptr;
    size_ = 0;
    mapped_ = false;
    errno = EMFILE;
    error = failure("mmap", path);
    return false;
  }
  return true;
}

void MappedFile::releasePages() const {
  if (mapped_) ::madvise(const_cast<char*>(begin_), size_, MADV_DONTNEED);
}

}  // namespace sweeprun
