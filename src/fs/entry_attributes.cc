#include "fs/entry_attributes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>

namespace sweeprun {

Date timestampDate(int64_t seconds, uint32_t nanoseconds) {
  return Date::fromUnix(static_cast<double>(seconds) + nanoseconds / 1e9);
}

uint64_t timestampNanoseconds(int64_t seconds, uint32_t nanoseconds) {
  return seconds < 0 ? 0 : static_cast<uint64_t>(seconds) * 1000000000u + nanoseconds;
}

namespace {

std::optional<EntryAttributes> attributesFromLstat(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return std::nullopt;
  EntryAttributes attributes;
  attributes.fileNumber = st.st_ino;
  attributes.size = static_cast<uint64_t>(st.st_size);
  attributes.modificationDate =
      timestampDate(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
  attributes.mode = st.st_mode;
  attributes.owner = st.st_uid;
  attributes.group = st.st_gid;
  attributes.device = st.st_dev;
  attributes.changeNanoseconds =
      timestampNanoseconds(st.st_ctim.tv_sec, static_cast<uint32_t>(st.st_ctim.tv_nsec));
  return attributes;
}

}  // namespace

std::optional<EntryAttributes> attributesOfItemAtPath(const std::string& path) {
  if (path.empty()) return std::nullopt;
  struct statx stx;
  if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
            STATX_BASIC_STATS | STATX_BTIME, &stx) != 0) {
    // Kernels or file systems without statx still answer lstat.
    if (errno == ENOSYS) return attributesFromLstat(path);
    return std::nullopt;
  }
  EntryAttributes attributes;
  attributes.fileNumber = stx.stx_ino;
  attributes.size = stx.stx_size;
  if (stx.stx_mask & STATX_BTIME) {
    attributes.creationDate = timestampDate(stx.stx_btime.tv_sec, stx.stx_btime.tv_nsec);
    attributes.birthNanoseconds = timestampNanoseconds(stx.stx_btime.tv_sec, stx.stx_btime.tv_nsec);
  }
  attributes.changeNanoseconds = timestampNanoseconds(stx.stx_ctime.tv_sec, stx.stx_ctime.tv_nsec);
  attributes.modificationDate = timestampDate(stx.stx_mtime.tv_sec, stx.stx_mtime.tv_nsec);
  attributes.mode = stx.stx_mode;
  attributes.owner = stx.stx_uid;
  attributes.group = stx.stx_gid;
  attributes.device = makedev(stx.stx_dev_major, stx.stx_dev_minor);
  return attributes;
}

}  // namespace sweeprun
