#pragma once

#include <string>

#include "fs/dir_handle.h"
#include "fs/entry_attributes.h"

namespace sweeprun {

/// Reads the attributes of the folder at |path| as DirHandle::openDirectory
/// reaches it: a link on the way is followed only when root or the
/// effective user owns it, and the folder behind a followed last link is
/// the one described. |attributes| is filled only when kOpened.
OpenStatus attributesOfFolderAtPath(const std::string& path, EntryAttributes& attributes);

}  // namespace sweeprun
