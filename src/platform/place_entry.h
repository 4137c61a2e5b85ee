#pragma once

#include <string>
#include <string_view>

#include "platform/dir_handle.h"

namespace sweeprun {

/// The |n|-th collision name of |name|: its stem, " copy " and |n|, then its
/// extension again. 'report.pdf' gives 'report copy 1.pdf', 'archive.tar.gz'
/// 'archive.tar copy 1.gz'; a name without extension (also a hidden name
/// such as '.bashrc') gives 'name copy 1'.
std::string collisionName(std::string_view name, unsigned long n);

/// Moves |name| of |source| into |destination| under the same name or, when
/// that is taken, the first free collision name, which |placedName| receives.
/// A name taken between the test and the move is skipped, never replaced.
MoveStatus placeEntry(const DirHandle& source, const std::string& name,
                      const DirHandle& destination, std::string& placedName, std::string& error);

}  // namespace sweeprun
