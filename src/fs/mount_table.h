#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sweeprun {

/// The mount point of the file system |device| (st_dev) that holds the
/// absolute path |path|: of the mounts of that device in the mount table
/// (/proc/self/mountinfo), the deepest whose mount point is |path| or one of
/// its parents. None when the table cannot be read or names none.
std::optional<std::string> mountPointOf(uint64_t device, const std::string& path);

/// The same from the text of a mount table, for tests.
std::optional<std::string> mountPointIn(std::string_view mountInfo, uint64_t device,
                                        const std::string& path);

}  // namespace sweeprun
