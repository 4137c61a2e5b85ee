#include "settings/config_safety.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/dir_handle.h"
#include "fs/entry_attributes.h"
#include "fs/file_io.h"
#include "fs/folder_attributes.h"
#include "fs/folder_identity.h"
#include "fs/path.h"
#include "log/run_journal.h"
#include "os/localization.h"
#include "os/process_info.h"

namespace sweeprun {
namespace {

constexpr unsigned kGroupOrOtherWrite = 022;
constexpr unsigned kStickyBit = 01000;

// Root, and the effective user, which is root whenever the tool runs in
// system mode (an ordinary user may only check a file of their own).
bool isTrustedOwner(uint32_t owner) { return owner == 0 || owner == effectiveUserId(); }

// The folders from the root down to |folder|; only |folder| itself for a
// relative path.
std::vector<std::string> foldersDownTo(const std::string& folder) {
  if (folder.empty() || folder[0] != '/') return {folder.empty() ? "." : folder};
  std::vector<std::string> chain = {"/"};
  size_t slash = 0;
  while (chain.back() != folder) {
    slash = folder.find('/', slash + 1);
    chain.push_back(slash == std::string::npos ? folder : folder.substr(0, slash));
  }
  return chain;
}

// Empty when nobody but root can replace |file| or plant something under
// its name; else the message, which names the file by its key |key|. The folder that holds it,
// or the deepest one that exists, must belong to root and be writable by
// root alone: a sticky bit does not help there, since another user could
// create the name first. A folder further up may be sticky and
// world-writable, as /tmp is, since then nobody else can rename the folders
// below it.
std::string checkFileFolders(std::string_view key, const std::string& file) {
  const std::vector<std::string> chain = foldersDownTo(deletingLastPathComponent(file));
  EntryAttributes holder;
  std::string holderPath;
  for (const std::string& folder : chain) {
    EntryAttributes attributes;
    const OpenStatus status = attributesOfFolderAtPath(folder, attributes);
    if (status == OpenStatus::kMissing) break;  // whoever may write the last one may create it
    if (status != OpenStatus::kOpened) {
      return localized(
          "%@ '%@' lies below %@, which cannot be opened as a folder: it is none, or a link "
          "that a user other than root could change leads there.",
          {key, file, folder});
    }
    if (!holderPath.empty()) {
      const bool stickyTrustedFolder = isTrustedOwner(holder.owner) && (holder.mode & kStickyBit);
      if (!isTrustedOwner(holder.owner) ||
          ((holder.mode & kGroupOrOtherWrite) && !stickyTrustedFolder)) {
        return localized(
            "%@ '%@' lies below %@, which users other than root can change: every folder on the "
            "way must belong to root and be writable by root alone, or be sticky.",
            {key, file, holderPath});
      }
    }
    holder = attributes;
    holderPath = folder;
  }
  if (holderPath.empty()) return std::string();  // not even the root: nothing to plant in
  if (!isTrustedOwner(holder.owner) || (holder.mode & kGroupOrOtherWrite)) {
    return localized(
        "%@ '%@' lies in %@, which users other than root can write: the folder must belong to "
        "root and be writable by root alone.",
        {key, file, holderPath});
  }
  return std::string();
}

}  // namespace

ConfigSafety::ConfigSafety(const RunWorld& world, OwnFiles files)
    : world_(world), files_(std::move(files)) {}

bool ConfigSafety::checkMetricsFile(std::string& error) const {
  const std::optional<std::string>& metrics = files_.metricsFile;
  if (!metrics) return true;
  if (metrics->empty() || (*metrics)[0] != '/') {
    error = localized("MetricsFile '%@' is not an absolute path.", {*metrics});
    return false;
  }
  const std::string file = standardizePath(*metrics, "");
  if (file == "/") {
    error = localized("MetricsFile '%@' names no file in an existing folder.", {*metrics});
    return false;
  }
  // What the folder holds, and whether it is there at all, is up to its
  // owner, often another account (the exporter's): a run finds out when it
  // writes the file, and reports a failed write without stopping (see
  // RunReport). Only the check tells the administrator of a folder that is
  // missing now.
  if (world_.checkMode && !directoryExists(deletingLastPathComponent(file))) {
    error = localized("MetricsFile '%@' names no file in an existing folder.", {*metrics});
    return false;
  }
  return true;
}

WatchGuard ConfigSafety::guardedFolders() const {
  const std::string& home = world_.homeDirectory;
  WatchGuard guarded;
  guarded.guardFolder(
      "Path '%@' gives the watched folder %@, which is the root folder: watch a folder below "
      "it.",
      "/");
  guarded.guardFolder(
      "Path '%@' gives the watched folder %@, which is the accounts folder: watch a folder "
      "below it.",
      standardizePath(world_.usersFolder, ""));
  guarded.guardFile(
      "Path '%@' gives the watched folder %@, which holds the configuration file %@: watch a "
      "folder that holds none of the tool's own files.",
      standardizePath(files_.configFile, home));
  if (files_.dataFile) {
    guarded.guardFile(
        "Path '%@' gives the watched folder %@, which holds the DataFile %@: watch a folder that "
        "holds none of the tool's own files.",
        standardizePath(*files_.dataFile, ""));
  }
  if (files_.logFile) {
    guarded.guardFile(
        "Path '%@' gives the watched folder %@, which holds the log file %@: watch a folder that "
        "holds none of the tool's own files.",
        standardizePath(*files_.logFile, home));
  }
  if (const std::optional<std::string>& metrics = files_.metricsFile) {
    guarded.guardFile(
        "Path '%@' gives the watched folder %@, which holds the MetricsFile %@: watch a folder "
        "that holds none of the tool's own files.",
        standardizePath(*metrics, ""));
  }
  guarded.guardFile(
      "Path '%@' gives the watched folder %@, which holds the journal %@: watch a folder that "
      "holds none of the tool's own files.",
      standardizePath(journalPath(world_, true), ""));
  return guarded;
}

std::string ConfigSafety::watchedFolderRefusal(
    const WatchGuard& guarded, const std::string& pattern, const std::string& path,
    const std::optional<FolderIdentity>& identity) const {
  const std::string watched = standardizePath(path, "");
  const std::optional<WatchGuard::Hit> hit = guarded.hit(watched, identity);
  if (!hit) return std::string();
  return localized(hit->tag, {pattern, watched, hit->path});
}

std::string ConfigSafety::refusalOfWatchedFolder(const std::string& path,
                                                 const DirHandle& folder) const {
  return watchedFolderRefusal(guardedFolders(), path, path, folderIdentity(folder));
}

bool ConfigSafety::checkFiles(const FolderList& folders, const std::vector<std::string>& patterns,
                              std::string& error, size_t* refused) const {
  if (refused) *refused = folders.size();
  const std::string& dbPath = *files_.dataFile;
  const std::string dataFile = standardizePath(dbPath, "");
  if (const auto existing = attributesOfItemAtPath(dataFile);
      existing && !existing->isRegularFile()) {
    error =
        localized("DataFile '%@' is not a regular file: it must name a plain file, or nothing yet.",
                  {dbPath});
    return false;
  }
  error = checkFileFolders("DataFile", dataFile);
  if (!error.empty()) return false;

  if (files_.logFile) {
    const std::string logFile = standardizePath(*files_.logFile, world_.homeDirectory);
    error = checkFileFolders("LogFileName", logFile);
    if (!error.empty()) return false;
  }

  const WatchGuard guarded = guardedFolders();
  for (size_t i = 0; i < folders.size(); ++i) {
    const std::string path(folders[i].path());
    // Opened as a run opens it; a folder that does not open now (a pattern
    // that matched nothing) is judged by its text alone.
    DirHandle opened;
    std::string ignored;
    std::optional<FolderIdentity> identity;
    if (DirHandle::openDirectory(standardizePath(path, ""), opened, ignored) ==
        OpenStatus::kOpened) {
      identity = folderIdentity(opened);
    }
    error = watchedFolderRefusal(guarded, patterns[i], path, identity);
    if (!error.empty()) {
      if (refused) *refused = i;
      return false;
    }
  }
  return true;
}

}  // namespace sweeprun
