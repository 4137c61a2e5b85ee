#include "platform/trash_info.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "platform/path.h"

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
  tzset();
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

MoveStatus UserTrash::trashEntry(const DirHandle& source, const std::string& name,
                                 Date deletionDate, std::string& placedName,
                                 std::string& error) const {
  const std::string info = trashInfoText(source.entryPath(name), deletionDate);
  for (unsigned long n = 0;; ++n) {
    const std::string candidate = placeableName(name, n, kMaxTrashedNameBytes);
    if (files_.statEntry(candidate)) continue;
    const std::string infoName = candidate + kInfoSuffix;
    error.clear();
    switch (info_.createFileExclusive(infoName, info, kInfoMode, error)) {
      case CreateStatus::kCreated:
        break;
      case CreateStatus::kExists:
        continue;  // an info file without its entry still holds the name
      case CreateStatus::kFailed:
        return MoveStatus::kFailed;
    }
    const MoveStatus status = source.moveEntry(name, files_, candidate, error);
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
                                      DirHandle& folder, std::string& error) const {
  bool created = false;
  const OpenStatus status = files_.createChild(folderName, folder, created, error);
  if (status == OpenStatus::kOpened && created) {
    // Without an info file, trash tools would neither list nor empty it.
    std::string ignored;
    info_.createFileExclusive(folderName + kInfoSuffix,
                              trashInfoText(joinPath(originalFolder, folderName), date), kInfoMode,
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
