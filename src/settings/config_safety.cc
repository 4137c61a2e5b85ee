// The refusals of the configuration file that keep a system-mode run, which
// works as root, from being turned against the system or against its own
// files. They run after the whole file has been read, since the keys they
// relate come in no defined order.

#include <algorithm>
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
#include "os/process.h"
#include "os/process_info.h"
#include "settings/settings_keys.h"
#include "settings/trash_config_file_parser.h"

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

// True when |folder| is an ancestor of |file| (both standardized).
bool holds(const std::string& folder, const std::string& file) {
  if (folder.empty() || file.size() <= folder.size()) return false;
  if (folder == "/") return file[0] == '/';
  return file.compare(0, folder.size(), folder) == 0 && file[folder.size()] == '/';
}

}  // namespace

bool TrashConfigFileParser::checkMetricsFile(std::string& error) const {
  const std::optional<std::string> metrics = stringForKey(kMetricsFile);
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
  if (process().checkMode && !directoryExists(deletingLastPathComponent(file))) {
    error = localized("MetricsFile '%@' names no file in an existing folder.", {*metrics});
    return false;
  }
  return true;
}

TrashConfigFileParser::GuardedFolders TrashConfigFileParser::guardedFolders() const {
  const std::string home = process().homeDirectory;
  GuardedFolders guarded;
  guarded.accounts = standardizePath(process().usersFolder, "");
  guarded.root = folderIdentity("/");
  guarded.accountsIdentity = folderIdentity(guarded.accounts);
  auto guard = [&guarded](std::string_view refusal, std::string file) {
    std::vector<FolderIdentity> holders = foldersHolding(file);
    guarded.files.push_back({refusal, std::move(file), std::move(holders)});
  };
  guard(
      "Path '%@' gives the watched folder %@, which holds the configuration file %@: watch a "
      "folder that holds none of the tool's own files.",
      standardizePath(configFile_, home));
  if (dbPath_) {
    guard(
        "Path '%@' gives the watched folder %@, which holds the DataFile %@: watch a folder that "
        "holds none of the tool's own files.",
        standardizePath(*dbPath_, ""));
  }
  if (boolForKey(kLogToFile)) {
    guard(
        "Path '%@' gives the watched folder %@, which holds the log file %@: watch a folder that "
        "holds none of the tool's own files.",
        standardizePath(stringForKey(kLogFileName).value_or(""), home));
  }
  if (const std::optional<std::string> metrics = stringForKey(kMetricsFile)) {
    guard(
        "Path '%@' gives the watched folder %@, which holds the MetricsFile %@: watch a folder "
        "that holds none of the tool's own files.",
        standardizePath(*metrics, ""));
  }
  guard(
      "Path '%@' gives the watched folder %@, which holds the journal %@: watch a folder that "
      "holds none of the tool's own files.",
      standardizePath(journalPath(process(), true), ""));
  return guarded;
}

std::string TrashConfigFileParser::watchedFolderRefusal(
    const GuardedFolders& guarded, const std::string& pattern, const std::string& path,
    const std::optional<FolderIdentity>& identity) const {
  // By the path's text, and by the folder the path opens: a link, a /proc
  // path or a bind mount leading to a guarded folder is refused as the
  // folder's own path is.
  const std::string watched = standardizePath(path, "");
  auto is = [&identity](const std::optional<FolderIdentity>& guardedFolder) {
    return identity && guardedFolder && *identity == *guardedFolder;
  };
  if (watched == "/" || is(guarded.root)) {
    return localized(
        "Path '%@' gives the watched folder %@, which is the root folder: watch a folder below "
        "it.",
        {pattern, watched});
  }
  if (watched == guarded.accounts || is(guarded.accountsIdentity)) {
    return localized(
        "Path '%@' gives the watched folder %@, which is the accounts folder: watch a folder "
        "below it.",
        {pattern, watched});
  }
  for (const OwnFile& file : guarded.files) {
    const bool holdsByIdentity = identity && std::find(file.holders.begin(), file.holders.end(),
                                                       *identity) != file.holders.end();
    if (holds(watched, file.path) || holdsByIdentity) {
      return localized(file.refusal, {pattern, watched, file.path});
    }
  }
  return std::string();
}

std::string TrashConfigFileParser::refusalOfWatchedFolder(const std::string& path,
                                                          const DirHandle& folder) const {
  return watchedFolderRefusal(guardedFolders(), path, path, folderIdentity(folder));
}

bool TrashConfigFileParser::checkSafety(std::string& error) const {
  const std::string home = process().homeDirectory;
  const std::string dataFile = standardizePath(*dbPath_, "");
  if (const auto existing = attributesOfItemAtPath(dataFile);
      existing && !existing->isRegularFile()) {
    error =
        localized("DataFile '%@' is not a regular file: it must name a plain file, or nothing yet.",
                  {*dbPath_});
    return false;
  }
  error = checkFileFolders("DataFile", dataFile);
  if (!error.empty()) return false;

  if (boolForKey(kLogToFile)) {
    const std::string logFile = standardizePath(stringForKey(kLogFileName).value_or(""), home);
    error = checkFileFolders("LogFileName", logFile);
    if (!error.empty()) return false;
  }

  const GuardedFolders guarded = guardedFolders();
  for (size_t i = 0; i < folders_->size(); ++i) {
    const std::string path((*folders_)[i].path());
    // Opened as a run opens it; a folder that does not open now (a pattern
    // that matched nothing) is judged by its text alone.
    DirHandle opened;
    std::string ignored;
    std::optional<FolderIdentity> identity;
    if (DirHandle::openDirectory(standardizePath(path, ""), opened, ignored) ==
        OpenStatus::kOpened) {
      identity = folderIdentity(opened);
    }
    error = watchedFolderRefusal(guarded, folderPatterns_[i], path, identity);
    if (!error.empty()) return false;
  }
  return true;
}

}  // namespace sweeprun
