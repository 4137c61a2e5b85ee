#pragma once

// fs: the descriptor-level steps DirHandle and its tree walks share (status,
// flags, permission tests, listing). Not for the rest of the code:
// everything here works on raw descriptors.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fs/dir_handle.h"
#include "fs/entry_attributes.h"

namespace sweeprun {
namespace fs {

/// Deepest folder level that a copy to another volume (and its check)
/// enters below the entry it starts at. Removal has no such limit.
constexpr int kMaxTreeDepth = 256;

/// Why a tree deeper than kMaxTreeDepth at |path| is not copied.
std::string tooDeepToCopyText(const std::string& path);

/// A single entry name: a path with a separator or a dot entry would let an
/// operation reach outside the folder.
bool isEntryName(const std::string& name);

/// "operation(path): reason".
std::string errorText(const char* operation, const std::string& path, int errorNumber);

/// One entry's status as read without following a link.
struct EntryStatus {
  EntryAttributes attributes;  // with the mount-root mark and the pinning flags
  uint64_t specialDevice = 0;  // st_rdev of a device node
  int64_t accessSeconds = 0;
  int64_t accessNanoseconds = 0;
  int64_t modificationSeconds = 0;
  int64_t modificationNanoseconds = 0;
};

/// Status of |name| in |dirFd| (an empty |name| means |dirFd| itself).
/// Returns 0 or the errno value.
int statusAt(int dirFd, const std::string& name, EntryStatus& status);

/// The status a caller read before, as |attributes| (from statusAt, through
/// DirHandle::statEntry) keep it: enough to remove or move the entry, not to
/// copy it (no access time, no device number of a node).
EntryStatus statusFrom(const EntryAttributes& attributes);

/// True when |status| lies on |device| and is not the root of a mount
/// (also a bind mount of the same device).
inline bool sameFileSystem(const EntryStatus& status, uint64_t device) {
  return status.attributes.device == device && !status.attributes.mountRoot;
}

/// The inode flags (FS_IOC_GETFLAGS) of the entry |name| of |dirFd|, which
/// must be a regular file or folder; opened without following a link.
/// Returns 0 or the errno value.
int inodeFlagsAt(int dirFd, const std::string& name, bool directory, int& flags);
/// Clears the immutable flag of a regular file or folder |name| of |dirFd|.
/// True when it is clear afterwards (also when it was never set). When
/// |status| says the file system reported the flag and it was clear, the
/// entry is not opened at all. A regular
/// file with more than one hard link is left locked: another link may lie
/// outside the folder, and the flag belongs to that file too.
bool unlockAt(int dirFd, const std::string& name, const EntryStatus& status);

/// Whether entry |name| of |dirFd| (with |status|) carries the immutable or
/// the append-only flag, either of which stops its removal, even by root.
bool hasPinningFlag(int dirFd, const std::string& name, const EntryStatus& status);
/// Whether the effective user may remove entries from the folder |dirFd|
/// (with |folder|, its own status): write and search permission, and neither
/// flag of hasPinningFlag on the folder. The sticky-bit rule is apart.
bool mayChangeEntriesOf(int dirFd, const EntryStatus& folder);
/// The sticky-bit rule: in a sticky folder only root, the folder's owner and
/// the entry's owner may remove the entry.
bool stickyAllows(const EntryStatus& folder, const EntryStatus& entry);

/// Names of one level of the folder |dirFd|, without "." and "..".
/// Calls |each| with the name of every entry but "." and ".."; false (with
/// errno set) when the folder could not be read to its end.
bool forEachName(int dirFd, const std::function<void(const char*)>& each);
std::vector<std::string> readNames(int dirFd, bool& ok);

/// A rename that never replaces an existing target. Where the file system
/// cannot promise that (EINVAL), the target is checked first: a narrow race,
/// but the old entry at the target is never replaced knowingly. Returns 0 or
/// the errno value.
int renameNoReplace(int fromDir, const char* from, int toDir, const char* to);

}  // namespace fs
}  // namespace sweeprun
