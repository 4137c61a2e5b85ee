#include "fs/trash_info.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "fs/path.h"

namespace sweeprun {

namespace {

constexpr const char* kInfoSuffix = ".trashinfo";
constexpr unsigned kInfoMode = 0600;
constexpr unsigned kPrivateFolderMode = 0700;

bool isUnescaped(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' ||
         c == '-' || c == '_' || c == '.' || c == '~';
}

std::string localTimeText(Date date) {
  const time_t seconds = static_cast<time_t>(date.unix());
  readTimeZoneUnlessHeld();
  struct tm local;
  if (!localtime_r(&seconds, &local)) return "1970-01-01T00:00:00";
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

OpenStatus openPrivateChild(const DirHandle& parent, const std::string& name, DirHandle& child,
                            std::string& error) {
  bool created = false;
  return parent.createChild(name, child, created, error, kPrivateFolderMode);
}

}  // namespace

std::string escapedTrashPath(std::string_view path) {
  std::string escaped;
  escaped.reserve(path.size());
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (isUnescaped(c)) {
      escaped += ch;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      escaped += hex;
    }
  }
  return escaped;
}

std::string trashInfoText(std::string_view originalPath, Date deletionDate) {
  return "[Trash Info]\nPath=" + escapedTrashPath(originalPath) +
         "\nDeletionDate=" + localTimeText(deletionDate) + "\n";
}

OpenStatus UserTrash::open(const std::string& filesPath, UserTrash& trash, std::string& error) {
  const std::string trashPath = deletingLastPathComponent(filesPath);
  DirHandle dataHome;
  OpenStatus status =
      DirHandle::createDirectories(deletingLastPathComponent(trashPath), dataHome, error);
  if (status != OpenStatus::kOpened) return status;
  DirHandle trashFolder;
  status = openPrivateChild(dataHome, lastPathComponent(trashPath), trashFolder, error);
  if (status != OpenStatus::kOpened) return status;
  status = openPrivateChild(trashFolder, lastPathComponent(filesPath), trash.files_, error);
  if (status != OpenStatus::kOpened) return status;
  return openPrivateChild(trashFolder, "info", trash.info_, error);
}

OpenStatus UserTrash::openIn(DirHandle trashFolder, const std::optional<Owner>& owner,
                             std::string topdir, UserTrash& trash, std::string& error) {
  trash = UserTrash();
  for (const char* name : {"files", "info"}) {
    DirHandle& child = std::string(name) == "files" ? trash.files_ : trash.info_;
    bool created = false;
    OpenStatus status = trashFolder.createChild(name, child, created, error, kPrivateFolderMode);
    if (status != OpenStatus::kOpened) return status;
    if (created && owner && !child.changeOwner(owner->user, owner->group, error)) {
      return OpenStatus::kFailed;
    }
    const uint32_t user = owner ? owner->user : trashFolder.owner();
    if (child.owner() != 0 && child.owner() != user) {
      error = "open(" + child.path() + "): owned by neither root nor the Trash's user, not used";
      return OpenStatus::kNotDirectory;
    }
  }
  trash.topdir_ = std::move(topdir);
  trash.owner_ = owner;
  return OpenStatus::kOpened;
}

std::string UserTrash::path() const { return deletingLastPathComponent(files_.path()); }

std::string UserTrash::infoFilePath(const std::string& placedName) const {
  return info_.entryPath(placedName + kInfoSuffix);
}

std::string UserTrash::recordedPath(const std::string& path) const {
  if (topdir_.empty()) return path;
  if (topdir_ == "/") return path.substr(1);
  return path.substr(std::min(path.size(), topdir_.size() + 1));
}

CreateStatus UserTrash::createInfoFile(const std::string& name, const std::string& text,
                                       std::string& error) const {
  if (owner_) {
    return info_.createFileExclusive(name, text, kInfoMode, error, owner_->user, owner_->group);
  }
  return info_.createFileExclusive(name, text, kInfoMode, error);
}

MoveStatus UserTrash::trashEntry(const Folder& source, const std::string& name, Date deletionDate,
                                 std::chrono::seconds treeTimeLimit, std::string& placedName,
                                 std::string& error, EntryAttributes* placed,
                                 const EntryAttributes* known) const {
  const std::string info = trashInfoText(recordedPath(source.entryPath(name)), deletionDate);
  for (unsigned long n = 0;; ++n) {
    const std::string candidate = placeableName(name, n, kMaxTrashedNameBytes);
    // A name taken in "files" is not looked for first: the move refuses to
    // replace it, and the info file made for it goes again.
    const std::string infoName = candidate + kInfoSuffix;
    error.clear();
    switch (createInfoFile(infoName, info, error)) {
      case CreateStatus::kCreated:
        break;
      case CreateStatus::kExists:
        continue;  // an info file without its entry still holds the name
      case CreateStatus::kFailed:
        return MoveStatus::kFailed;
    }
    const MoveStatus status =
        source.moveEntry(name, files_, candidate, treeTimeLimit, error, placed, known);
    if (status == MoveStatus::kMoved || status == MoveStatus::kSourceRemains) {
      placedName = candidate;
      return status;
    }
    std::string ignored;
    info_.removeFile(infoName, ignored);
    if (status != MoveStatus::kTargetExists) return status;
  }
}

OpenStatus UserTrash::openDatedFolder(const std::string& folderName,
                                      const std::string& originalFolder, Date date,
                                      DirHandle& folder, std::string& error, bool* madeNow) const {
  bool created = false;
  const OpenStatus status = files_.createChild(folderName, folder, created, error);
  if (madeNow) *madeNow = status == OpenStatus::kOpened && created;
  if (status == OpenStatus::kOpened && created) {
    std::string ignored;
    if (owner_) folder.changeOwner(owner_->user, owner_->group, ignored);
    // Without an info file, trash tools would neither list nor empty it.
    createInfoFile(folderName + kInfoSuffix,
                   trashInfoText(recordedPath(joinPath(originalFolder, folderName)), date),
                   ignored);
  }
  return status;
}

OpenStatus openAccountTrash(const std::string& accountFolder, DirHandle& trash,
                            std::string& error) {
  DirHandle account;
  OpenStatus status = DirHandle::openDirectory(accountFolder, account, error);
  if (status != OpenStatus::kOpened) return status;
  bool created = false;
  status = account.createChild(".Trash", trash, created, error, kPrivateFolderMode);
  if (status != OpenStatus::kOpened) return status;
  struct stat accountInfo;
  if (created && fstat(account.fd(), &accountInfo) == 0) {
    // A Trash the tool makes belongs to the account, so its owner can empty
    // it. Given through the descriptor: the name may hold something else by
    // now.
    std::string ignored;
    trash.changeOwner(accountInfo.st_uid, accountInfo.st_gid, ignored);
  }
  if (trash.owner() != 0 && trash.owner() != account.owner()) {
    error = "open(" + trash.path() + "): owned by neither root nor the account, not used";
    trash = DirHandle();
    return OpenStatus::kNotDirectory;
  }
  return status;
}

}  // namespace sweeprun
