#pragma once

// The temporary files that atomic saves write beside their target. For the
// platform layer's own files.

#include <cstdint>
#include <string>

#include "fs/dir_handle.h"

namespace sweeprun {

/// How long a temporary file must have gone unmodified before a later save
/// takes it for the leftover of a killed one. A save in progress writes its
/// file continuously, so an hour without a change means its writer is gone.
/// A writer that holds the target's lock (DatabaseLock) knows that no other
/// save of it runs, and removes leftovers of any age
/// (removeAbandonedTemporariesOf with 0).
constexpr int64_t kAbandonedTemporaryAgeSeconds = 60 * 60;

/// A name for a temporary file beside the target |name| that no other writer
/// picks: "." + |name| + ".tmp-" + 8 characters of [a-z0-9]. |attempt|
/// varies it when a name was taken.
std::string temporaryName(const std::string& name, unsigned attempt);

/// True when |candidate| is a name temporaryName could give for |name|.
bool isTemporaryNameFor(const std::string& candidate, const std::string& name);

/// Removes from |folder| what saves of |name| left behind when they were
/// killed: regular files whose name isTemporaryNameFor |name|, owned by the
/// effective user and last modified at least |minimumAgeSeconds| ago.
/// Nothing else is touched, and nothing is followed: each file is unlinked
/// by name relative to the folder. Returns how many were removed; failures
/// are ignored (the next save tries again).
int removeAbandonedTemporaries(const DirHandle& folder, const std::string& name,
                               int64_t minimumAgeSeconds);
/// The same for the file at |path|, its folder opened as
/// openContainingFolder opens it; 0 when that fails.
int removeAbandonedTemporariesOf(const std::string& path, int64_t minimumAgeSeconds);

}  // namespace sweeprun
