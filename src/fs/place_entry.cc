#include "fs/place_entry.h"

#include <algorithm>

namespace sweeprun {

std::string collisionName(std::string_view name, unsigned long n) {
  const std::string number = " copy " + std::to_string(n);
  const size_t dot = name.rfind('.');
  // A leading dot marks a hidden name, not an extension; a trailing dot
  // leaves no extension to keep.
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) {
    return std::string(name) + number;
  }
  return std::string(name.substr(0, dot)) + number + std::string(name.substr(dot));
}

std::string placeableName(std::string_view name, unsigned long n, size_t maxBytes) {
  std::string candidate = n == 0 ? std::string(name) : collisionName(name, n);
  if (candidate.size() <= maxBytes) return candidate;
  const std::string suffix = n == 0 ? std::string() : " copy " + std::to_string(n);
  std::string_view stem = name, extension;
  const size_t dot = name.rfind('.');
  // An extension as long as a quarter of the limit is no extension to keep.
  if (dot != std::string_view::npos && dot != 0 && dot + 1 != name.size() &&
      name.size() - dot <= maxBytes / 4) {
    stem = name.substr(0, dot);
    extension = name.substr(dot);
  }
  size_t room = maxBytes - std::min(maxBytes, suffix.size() + extension.size());
  // Never cut a character of several bytes in two.
  while (room > 0 && room < stem.size() &&
         (static_cast<unsigned char>(stem[room]) & 0xC0) == 0x80) {
    --room;
  }
  return std::string(stem.substr(0, room)) + suffix + std::string(extension);
}

MoveStatus placeEntry(const Folder& source, const std::string& name, const Folder& destination,
                      std::chrono::seconds treeTimeLimit, std::string& placedName,
                      std::string& error, EntryAttributes* placed, const EntryAttributes* known) {
  // No upper bound on n: every round either finds a taken name or attempts
  // the move, and a move fails for good on anything but a taken name.
  for (unsigned long n = 0;; ++n) {
    const std::string candidate = placeableName(name, n);
    // On one file system the rename itself refuses a taken name; a move to
    // another one copies first, which a taken name would waste.
    const bool renamed = source.device() == destination.device();
    if (!renamed && destination.statEntry(candidate)) continue;
    error.clear();
    const MoveStatus status =
        source.moveEntry(name, destination, candidate, treeTimeLimit, error, placed, known);
    if (status == MoveStatus::kTargetExists) continue;
    if (status == MoveStatus::kMoved || status == MoveStatus::kSourceRemains) {
      placedName = candidate;
    }
    return status;
  }
}

}  // namespace sweeprun
