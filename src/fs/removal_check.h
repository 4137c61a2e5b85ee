#pragma once

// fs: whether one entry's tree could be removed, changing nothing.

#include <cstdint>
#include <string>

#include "fs/tree_deadline.h"

namespace sweeprun {
namespace fs {

/// Whether the effective user could delete entry |name| of |dirFd| with
/// everything below it, unlocking nothing: mayChangeEntriesOf |dirFd| and
/// every folder below that holds entries, the sticky-bit rule for every
/// entry, and no pinning flag on |name| or anything below it. Walks as
/// removeAt does; a mount point below, a folder too deep or anything that
/// cannot be read gives false, and so does a check still going at
/// |deadline|. Fills |error| when false.
bool mayRemoveTree(int dirFd, const std::string& name, const std::string& displayPath,
                   uint64_t device, const TreeDeadline& deadline, std::string& error);

}  // namespace fs
}  // namespace sweeprun
