#pragma once

#include <string>
#include <string_view>

namespace sweeprun {

/// Reads the whole file. False with "operation(path): reason" in |error|.
bool readFile(const std::string& path, std::string& bytes, std::string& error);

/// Replaces the file at |path| atomically: writes a temporary file beside it,
/// flushes it to disk and renames it over the old one, keeping the old
/// file's permission bits (|newFileMode| for a new file). No intermediate
/// folders are created. On failure the old file is intact, the temporary file
/// is removed, and |error| says what failed.
bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string& error,
                         unsigned newFileMode = 0644);

/// True when something exists at |path| (a final link is followed).
bool fileExists(const std::string& path);
/// True when a directory exists at |path| (a final link is followed).
bool directoryExists(const std::string& path);

}  // namespace sweeprun
