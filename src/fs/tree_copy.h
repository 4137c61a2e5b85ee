#pragma once

// fs: copying one entry's tree to another volume, as it is.

#include <cstdint>
#include <string>

#include "fs/tree_deadline.h"

namespace sweeprun {
namespace fs {

/// Copies entry |name| of the folder |fromDir| (shown as |displayPath|),
/// with everything below it, as |toName| into |toDir| (shown as
/// |toDisplayPath|, where the copy is going: a failure to make or write a
/// node of the copy names it there, a failure to read one the source): modes, times, links
/// as links (owners too when run by root), never following a link, never
/// entering a file system other than |sourceDevice|, at most kMaxTreeDepth
/// levels deep. |toDir| must be a folder nobody else can enter (a
/// StagingFolder), since the copy makes its nodes by name. False with
/// |error| when the copy is incomplete, also when still going at |deadline|;
/// what was made stays for the caller to discard.
bool copyTree(int fromDir, const std::string& name, const std::string& displayPath, int toDir,
              const std::string& toName, const std::string& toDisplayPath, uint64_t sourceDevice,
              const TreeDeadline& deadline, std::string& error);

}  // namespace fs
}  // namespace sweeprun
