#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sweeprun {

/// The non-empty components of |path|, without the separators between
/// them ("/a//b/" gives "a", "b"). Views into |path|.
std::vector<std::string_view> pathComponents(std::string_view path);

/// Standardizes a path as the platform does: a leading "~" expanded to the
/// home directory, empty and "." components removed, ".." resolved in
/// absolute paths, a trailing separator dropped.
std::string standardizePath(std::string_view path, std::string_view homeDirectory);

/// The last path component; "/" for the root.
std::string lastPathComponent(std::string_view path);

/// The path without its last component ("/" for a file in the root).
std::string deletingLastPathComponent(std::string_view path);

/// Joins a directory path and a name with one separator.
std::string joinPath(std::string_view directory, std::string_view name);
/// The same into |joined|, whose buffer is reused: for a caller that joins
/// a path for every entry of a folder.
void assignJoinedPath(std::string& joined, std::string_view directory, std::string_view name);

}  // namespace sweeprun
