#pragma once

// Opening files by path without being led elsewhere by a symbolic link that
// another user planted on the way. For the platform layer's own files:
// everything here works on raw descriptors.

#include <string>

#include "fs/dir_handle.h"

namespace sweeprun {

/// Opens the folder that holds the final entry of |path| as
/// DirHandle::openDirectory does (a link on the way is followed only when
/// root or the effective user owns it) and names that entry in |name|. A
/// path that names no entry (empty, ending in '/', "." or "..") is refused.
/// False with "operation(path): reason" in |error|.
bool openContainingFolder(const std::string& path, DirHandle& folder, std::string& name,
                          std::string& error);

/// Opens the file at |path| read-only with |extraFlags|: the folders on the
/// way as openContainingFolder opens them, and a final symbolic link followed
/// on the same terms (a link another user owns is refused), so that nothing
/// another user controls decides which file is read. The file may be of any
/// kind; the caller checks. The descriptor, or -1 with "operation(path):
/// reason" in |error|.
int openFileForReading(const std::string& path, int extraFlags, std::string& error);

/// Reads from |offset| to the end of the open file |fd| into |bytes|.
bool readFromDescriptor(int fd, long long offset, std::string& bytes);

}  // namespace sweeprun
