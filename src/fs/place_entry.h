#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "fs/dir_handle.h"

namespace sweeprun {

/// The |n|-th collision name of |name|: its stem, " copy " and |n|, then its
/// extension again. 'report.pdf' gives 'report copy 1.pdf', 'archive.tar.gz'
/// 'archive.tar copy 1.gz'; a name without extension (also a hidden name
/// such as '.bashrc') gives 'name copy 1'.
std::string collisionName(std::string_view name, unsigned long n);

/// The longest entry name that file systems here take (NAME_MAX).
constexpr size_t kMaxNameBytes = 255;

/// The |n|-th name to try for |name| in a folder whose names hold at most
/// |maxBytes| bytes: |name| itself for 0, else collisionName(name, n). A
/// name too long is cut short in its stem, at a character boundary, keeping
/// the extension (when that is short) and the " copy N".
std::string placeableName(std::string_view name, unsigned long n, size_t maxBytes = kMaxNameBytes);

/// Moves |name| of |source| into |destination| under the same name or, when
/// that is taken (or too long), the first free placeableName, which
/// |placedName| receives.
/// A name taken between the test and the move is skipped, never replaced.
/// |treeTimeLimit| and |placed| as DirHandle::moveEntry takes and fills
/// them; |known| as it takes it.
MoveStatus placeEntry(const Folder& source, const std::string& name, const Folder& destination,
                      std::chrono::seconds treeTimeLimit, std::string& placedName,
                      std::string& error, EntryAttributes* placed = nullptr,
                      const EntryAttributes* known = nullptr);

/// A staging folder that a move to another volume, ended part-way (killed),
/// left in its destination.
struct LeftoverStaging {
  std::string path;
  std::string error;  // why it, or something in it, stayed; empty when removed
};

/// Removes from |destination| the staging folders of moves to another volume
/// (see DirHandle::moveEntry) that were ended part-way: those named exactly
/// as a mover names them, of the effective user, mode 0700, on the
/// destination's file system, and not in use. A mover holds an advisory lock
/// on its folder until the folder is gone, and the lock is taken here before
/// anything is removed: a move under way, or a folder another run is
/// removing, is left alone, and so is everything on a file system without
/// such locks. Removal goes through descriptors, as DirHandle::removeEntry.
/// Returns the folders taken up, each removed or with the reason it stayed.
std::vector<LeftoverStaging> removeLeftoverStaging(const DirHandle& destination);

}  // namespace sweeprun
