#include "platform/place_entry.h"

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

MoveStatus placeEntry(const DirHandle& source, const std::string& name,
                      const DirHandle& destination, std::string& placedName, std::string& error) {
  // No upper bound on n: every round either finds a taken name or attempts
  // the move, and a move fails for good on anything but a taken name.
  for (unsigned long n = 0;; ++n) {
    const std::string candidate = n == 0 ? name : collisionName(name, n);
    if (destination.statEntry(candidate)) continue;
    error.clear();
    const MoveStatus status = source.moveEntry(name, destination, candidate, error);
    if (status == MoveStatus::kTargetExists) continue;
    if (status == MoveStatus::kMoved || status == MoveStatus::kSourceRemains) {
      placedName = candidate;
    }
    return status;
  }
}

}  // namespace sweeprun
