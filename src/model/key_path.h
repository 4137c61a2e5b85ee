#pragma once

#include <string_view>

namespace sweeprun {

/// The dictionary key that a record key path names: "data.path" and "path"
/// both name "path".
inline std::string_view dataKeyOf(std::string_view keyPath) {
  constexpr std::string_view kPrefix = "data.";
  if (keyPath.substr(0, kPrefix.size()) == kPrefix) keyPath.remove_prefix(kPrefix.size());
  return keyPath;
}

}  // namespace sweeprun
