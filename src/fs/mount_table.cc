#include "fs/mount_table.h"

#include <sys/sysmacros.h>

#include <sstream>

#include "fs/file_io.h"

namespace sweeprun {

namespace {

// Mount points in the table escape space, tab, line feed and backslash as
// three octal digits ("\040").
std::string unescaped(std::string_view field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string_view digits = field.substr(i + 1, 3);
      if (digits.find_first_not_of("01234567") == std::string_view::npos) {
        text.push_back(
            static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0')));
        i += 3;
        continue;
      }
    }
    text.push_back(field[i]);
  }
  return text;
}

bool holds(const std::string& mountPoint, const std::string& path) {
  if (mountPoint == "/") return !path.empty() && path.front() == '/';
  return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
         (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

}  // namespace

std::optional<std::string> mountPointIn(std::string_view mountInfo, uint64_t device,
                                        const std::string& path) {
  const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  std::optional<std::string> best;
  std::istringstream lines{std::string(mountInfo)};
  for (std::string line; std::getline(lines, line);) {
    // id parent major:minor root mount-point options ...
    std::istringstream fields(line);
    std::string id, parent, numbers, root, mountPoint;
    if (!(fields >> id >> parent >> numbers >> root >> mountPoint) || numbers != wanted) continue;
    std::string point = unescaped(mountPoint);
    if (!holds(point, path)) continue;
    if (!best || point.size() > best->size()) best = std::move(point);
  }
  return best;
}

std::optional<std::string> mountPointOf(uint64_t device, const std::string& path) {
  std::string table, error;
  if (!readFile("/proc/self/mountinfo", table, error)) return std::nullopt;
  return mountPointIn(table, device, path);
}

}  // namespace sweeprun
