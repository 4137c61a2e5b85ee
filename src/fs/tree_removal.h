#pragma once

// fs: removing one entry's tree through descriptors.

#include <cstdint>
#include <functional>
#include <string>

#include "fs/descriptor_ops.h"
#include "fs/folder_status.h"
#include "fs/tree_deadline.h"

namespace sweeprun {
namespace fs {

/// Removes entry |name| of |dirFd| (of any kind), a folder as a tree through
/// descriptors, never following a link nor leaving |device|: a mount point
/// below is skipped (kSkipped) and the folders holding it stay. With
/// |unlock|, every regular file and folder below |name| is unlocked (as
/// unlockAt) before it is removed; |name| itself is not. |displayPath| names
/// |name| in messages; it is made only for one.
/// |known|, when given, is the status of |name| the caller read already: a
/// file it describes is unlinked without reading it again (unlinkat follows
/// no link, and one swapped for a folder meanwhile is read afresh).
/// A walk still going at |deadline| stops there: kFailed, and the entry
/// stays, partly removed, as |error| says.
RemoveStatus removeAt(int dirFd, const std::string& name,
                      const std::function<std::string()>& displayPath, uint64_t device, bool unlock,
                      const TreeDeadline& deadline, std::string& error,
                      const EntryStatus* known = nullptr);

}  // namespace fs
}  // namespace sweeprun
