#include "fs/temporary_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <random>

#include "fs/file_open.h"

namespace sweeprun {

namespace {

constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kSuffixLength = 8;
constexpr char kInfix[] = ".tmp-";

std::string prefixFor(const std::string& name) { return "." + name + kInfix; }

bool isSuffixCharacter(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

}  // namespace

std::string temporaryName(const std::string& name, unsigned attempt) {
  // Bits from the system's random source keep the names of calls in one
  // process (and thread) apart; the clock and the process those of others.
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  const unsigned long long mix = static_cast<unsigned long long>(ticks) * 2654435761u +
                                 static_cast<unsigned long long>(getpid()) * 40503u +
                                 static_cast<unsigned long long>(std::random_device()()) * 7919u +
                                 attempt;
  std::string suffix;
  for (unsigned long long v = mix; suffix.size() < kSuffixLength; v /= 36)
    suffix.push_back(kAlphabet[v % 36]);
  return prefixFor(name) + suffix;
}

bool isTemporaryNameFor(const std::string& candidate, const std::string& name) {
  const std::string prefix = prefixFor(name);
  if (candidate.size() != prefix.size() + kSuffixLength ||
      candidate.compare(0, prefix.size(), prefix) != 0)
    return false;
  for (size_t i = prefix.size(); i < candidate.size(); ++i)
    if (!isSuffixCharacter(candidate[i])) return false;
  return true;
}

int removeAbandonedTemporaries(const DirHandle& folder, const std::string& name,
                               int64_t minimumAgeSeconds) {
  bool listed = false;
  const std::vector<std::string> names = folder.listNames(listed).strings();
  if (!listed) return 0;
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  int removed = 0;
  for (const std::string& candidate : names) {
    if (!isTemporaryNameFor(candidate, name)) continue;
    struct stat st;
    if (::fstatat(folder.fd(), candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    // Another user's file, or one a live writer may still be filling, is
    // not ours to take.
    if (!S_ISREG(st.st_mode) || st.st_uid != geteuid()) continue;
    // With no minimum age, a file stamped a clock tick ahead of time() goes too.
    if (minimumAgeSeconds > 0 && now - static_cast<int64_t>(st.st_mtim.tv_sec) < minimumAgeSeconds)
      continue;
    if (::unlinkat(folder.fd(), candidate.c_str(), 0) == 0) ++removed;
  }
  return removed;
}

int removeAbandonedTemporariesOf(const std::string& path, int64_t minimumAgeSeconds) {
  DirHandle folder;
  std::string name, error;
  if (!openContainingFolder(path, folder, name, error)) return 0;
  return removeAbandonedTemporaries(folder, name, minimumAgeSeconds);
}

}  // namespace sweeprun
