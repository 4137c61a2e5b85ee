// Reads the bytes as a lookup in a mount table, as the Trash finder reads
// /proc/self/mountinfo: the first line is the path looked up, the rest the
// table. Each device that a line of the table names is looked up; a mount
// point found must hold the path (be it, or one of its parents).

#include <sys/sysmacros.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "fs/mount_table.h"
#include "fuzz_support.h"

using namespace sweeprun;

namespace {

constexpr int kDevicesLookedUp = 4;

bool holds(const std::string& mountPoint, const std::string& path) {
  if (mountPoint == "/") return !path.empty() && path.front() == '/';
  return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
         (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input = fuzzInput(data, size);
  const size_t end = input.find('\n');
  const std::string path(input.substr(0, end));
  const std::string_view table =
      end == std::string_view::npos ? std::string_view() : input.substr(end + 1);

  std::istringstream lines{std::string(table)};
  int lookedUp = 0;
  for (std::string line; lookedUp < kDevicesLookedUp && std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string id, parent, numbers;
    if (!(fields >> id >> parent >> numbers)) continue;
    const size_t colon = numbers.find(':');
    if (colon == std::string::npos) continue;
    const uint64_t device = makedev(std::strtoul(numbers.c_str(), nullptr, 10),
                                    std::strtoul(numbers.c_str() + colon + 1, nullptr, 10));
    ++lookedUp;
    const std::optional<std::string> point = mountPointIn(table, device, path);
    if (point && !holds(*point, path)) std::abort();
  }
  return 0;
}
