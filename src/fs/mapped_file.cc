#include "fs/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Maps |file| while it is open, so that a bus error from a file cut short
// under the mapping can be told from any other. The tool maps one file at a
// time; a few slots are plenty.
struct MappedFileGuard {
  static constexpr int kSlots = 8;
  static MappedFile* slots[kSlots];
  static int active;
  static uintptr_t pageSize;
  static struct sigaction previous;

  static bool add(MappedFile* file) {
    for (MappedFile*& slot : slots) {
      if (slot) continue;
      if (active == 0) {
        pageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        if (::sigaction(SIGBUS, &action, &previous) != 0) return false;
      }
      slot = file;
      ++active;
      return true;
    }
    return false;
  }

  static void remove(MappedFile* file) {
    for (MappedFile*& slot : slots) {
      if (slot != file) continue;
      slot = nullptr;
      if (--active == 0) ::sigaction(SIGBUS, &previous, nullptr);
    }
  }

  // A read past the end of a file that shrank: a page of zeros takes the
  // missing page's place and the file is marked damaged. Any other bus
  // error goes to the previous disposition when the access is retried.
  static void onBusError(int, siginfo_t* info, void*) {
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (MappedFile* file : slots) {
      if (!file) continue;
      const auto begin = reinterpret_cast<uintptr_t>(file->begin_);
      if (address < begin || address - begin >= file->size_) continue;
      void* page = reinterpret_cast<void*>(address & ~(pageSize - 1));
      if (::mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
          MAP_FAILED) {
        file->damaged_ = 1;
        return;
      }
      break;
    }
    ::sigaction(SIGBUS, &previous, nullptr);
  }
};

MappedFile* MappedFileGuard::slots[kSlots] = {};
int MappedFileGuard::active = 0;
uintptr_t MappedFileGuard::pageSize = 4096;
struct sigaction MappedFileGuard::previous;

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
  void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (mapping == MAP_FAILED) {
    // Some file systems cannot map files; a copy does the same job there.
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
