#pragma once

#include <string>
#include <string_view>

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
/// |placed| as DirHandle::moveEntry fills it; |known| as it takes it.
MoveStatus placeEntry(const Folder& source, const std::string& name, const Folder& destination,
                      std::string& placedName, std::string& error,
                      EntryAttributes* placed = nullptr, const EntryAttributes* known = nullptr);

}  // namespace sweeprun
