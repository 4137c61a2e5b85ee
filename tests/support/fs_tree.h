#pragma once

#include <optional>
#include <string>

namespace sweeprun {

// Small helpers for tests that build real folder trees. Paths are plain
// strings; failures are reported to the running test.

void makeFolder(const std::string& path, unsigned mode = 0755);
void writeText(const std::string& path, const std::string& text);
void makeLink(const std::string& target, const std::string& path);
/// The text of a file; none when it cannot be read.
std::optional<std::string> readText(const std::string& path);
/// Whether something is at |path| itself (a link is not followed).
bool entryExists(const std::string& path);
bool isLink(const std::string& path);

bool runningAsRoot();

/// Sets or clears the immutable attribute; false when the file system or
/// privileges refuse.
bool setImmutable(const std::string& path, bool on);
bool isImmutable(const std::string& path);
/// Sets or clears the append-only attribute, as setImmutable.
bool setAppendOnly(const std::string& path, bool on);
/// Clears the immutable and append-only attributes of everything at and
/// below |path| (links not followed), so that a failed test still leaves a
/// removable tree.
void clearImmutableBelow(const std::string& path);

/// Mounts a small tmpfs at |path| (root only); false when that fails.
bool mountTmpfs(const std::string& path, const std::string& options = "size=4m");
void unmount(const std::string& path);

/// A small tmpfs mounted at a folder for the lifetime of the object (root
/// only); mounted() is false when the mount failed.
class ScopedTmpfs {
 public:
  explicit ScopedTmpfs(std::string path, const std::string& options = "size=4m");
  ~ScopedTmpfs();
  ScopedTmpfs(const ScopedTmpfs&) = delete;
  ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

/// Runs as another effective user and group for the lifetime of the object
/// (from root); root again afterwards.
class ScopedEffectiveUser {
 public:
  explicit ScopedEffectiveUser(unsigned user);
  ~ScopedEffectiveUser();
  ScopedEffectiveUser(const ScopedEffectiveUser&) = delete;
  ScopedEffectiveUser& operator=(const ScopedEffectiveUser&) = delete;
};

/// Sets an environment variable (or unsets it for none) for the lifetime of
/// the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

}  // namespace sweeprun
