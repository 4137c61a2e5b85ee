#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sweeprun {

/// Result code of a path or alias that names nothing.
constexpr int16_t kFileNotFound = -43;

/// The outcome of resolving an alias record.
struct AliasResolution {
  int16_t resultCode = kFileNotFound;  // 0 on success
  bool changed = false;                // the target moved or was renamed
  std::string path;                    // the target's path on success
};

/// Makes an alias record (our own versioned byte format) for the existing
/// |path| relative to |baseDirectory|. None when |path| does not exist.
std::optional<std::string> makeAliasRecord(const std::string& path,
                                           const std::string& baseDirectory);

/// Resolves alias record |bytes| relative to |baseDirectory|. Finds a folder
/// that was renamed or moved on the same file system within a bounded search
/// and reports its new path with |changed| set. Zero bytes never resolve;
/// bytes not in our format resolve by |storedPath| (a directory there:
/// success, no change).
AliasResolution resolveAliasRecord(std::string_view bytes, const std::string& baseDirectory,
                                   const std::string& storedPath);

}  // namespace sweeprun
