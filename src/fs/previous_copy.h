#pragma once

// Putting back the copy that a save keeps of the file it replaced (see
// writeFileAtomicallyKeepingPrevious).

#include <string>

#include "fs/file_io.h"

namespace sweeprun {

/// What the file a restore replaces is kept as, beside it.
constexpr const char* kReplacedCopySuffix = ".damaged";

/// Puts the copy |path| + kPreviousCopySuffix back in place of the file at
/// |path|, by rename in the folder opened as openContainingFolder opens it;
/// the copy's name is then free. The copy must be the file |shown| (the one
/// the caller read and showed, its device and inode), a regular file (not a
/// link) owned by the owner of its folder and writable by no one else:
/// anything else is refused and nothing changes. A file at |path| (of any
/// kind) is first kept as |path| + kReplacedCopySuffix, replacing what was
/// there. False with the reason in |error|.
bool restorePreviousCopy(const std::string& path, const FileIdentity& shown, std::string& error);

}  // namespace sweeprun
