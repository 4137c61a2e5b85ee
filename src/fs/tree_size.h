#pragma once

// fs: the size of one entry's tree, read through descriptors.

#include <cstdint>
#include <string>

#include "fs/tree_deadline.h"

namespace sweeprun {
namespace fs {

/// Adds up the lengths of the regular files in the folder |name| of |dirFd|
/// and below, into |bytes|. The walk opens every folder through the one
/// above it, never following a link nor leaving |device| (a mount point
/// below is not entered), goes no deeper than kMaxTreeDepth levels (one
/// descriptor open per level) and stops at |deadline|, as a removal walk
/// would. Links, devices and the folders themselves count nothing. False,
/// with "operation(path): reason" in |error| (|displayPath| naming |name|),
/// when part of the tree could not be read or the walk stopped: |bytes|
/// then holds what was counted.
bool treeSizeAt(int dirFd, const std::string& name, const std::string& displayPath, uint64_t device,
                const TreeDeadline& deadline, uint64_t& bytes, std::string& error);

}  // namespace fs
}  // namespace sweeprun
