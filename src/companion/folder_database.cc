#include "companion/folder_database.h"

#include "fs/dir_handle.h"
#include "os/exception.h"
#include "fs/file_io.h"
#include "archive/keyed_archive.h"
#include "os/localization.h"
#include "fs/path.h"
#include "os/process.h"
#include "fs/temporary_file.h"

namespace sweeprun {

namespace {

constexpr const char* kUserDatabase = "~/Library/Application Support/Sweeply/Sweeply.data";

}  // namespace

std::string FolderDatabase::userDatabasePath() {
  return standardizePath(kUserDatabase, process().homeDirectory);
}

FolderDatabase::LoadStatus FolderDatabase::load(std::string& error,
                                                const TrashFolder::ItemSelection& withItems) {
  application_.setTrashFolderList(FolderList());
  loadedBytes_.reset();
  forReportOnly_ = static_cast<bool>(withItems);
  if (!fileExists(path_)) return status_ = LoadStatus::kMissing;
  if (forReportOnly_) return loadForReport(error, withItems);

  std::string bytes;
  if (!readFile(path_, bytes, error)) return status_ = LoadStatus::kDamaged;
  FolderList folders;
  try {
    // The decoding the tool does, alias resolution included.
    if (!unarchiveRootObjectArray(bytes, "TrashFolder", [&folders](KeyedDecoder& element) {
          folders.push_back(TrashFolder::fromCoder(element));
        })) {
      error = localized("the archive has no root object");
      return status_ = LoadStatus::kDamaged;
    }
  } catch (const PlatformException& e) {
    error = e.what();
    return status_ = LoadStatus::kDamaged;
  }
  application_.setTrashFolderList(std::move(folders));
  loadedBytes_ = std::move(bytes);
  return status_ = LoadStatus::kLoaded;
}

FolderDatabase::LoadStatus FolderDatabase::loadForReport(
    std::string& error, const TrashFolder::ItemSelection& withItems) {
  FolderList folders;
  try {
    if (!unarchiveRootObjectArrayFromFile(
            path_, "TrashFolder",
            [&](KeyedDecoder& element) {
              folders.push_back(TrashFolder::fromCoder(element, withItems));
            },
            error)) {
      if (error.empty()) error = localized("the archive has no root object");
      return status_ = LoadStatus::kDamaged;
    }
  } catch (const PlatformException& e) {
    error = e.what();
    return status_ = LoadStatus::kDamaged;
  }
  application_.setTrashFolderList(std::move(folders));
  return status_ = LoadStatus::kLoaded;
}

TrashFolder* FolderDatabase::find(std::string_view path) {
  std::optional<size_t> index = indexOf(path);
  return index ? &folders()[*index] : nullptr;
}

std::optional<size_t> FolderDatabase::indexOf(std::string_view path) const {
  const FolderList& list = folders();
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].path() == path) return i;
  }
  return std::nullopt;
}

bool FolderDatabase::save(std::string& error) {
  if (status_ == LoadStatus::kDamaged) {
    error = localized("the folder database could not be read, so it is left as it is");
    return false;
  }
  if (forReportOnly_) {
    // Folders loaded without their entries would be saved without them.
    error = "the folder database was loaded for a report only";
    return false;
  }
  // A run (or another command) that saved since we read would lose its
  // work to our write; better to ask the user to try again.
  std::string current;
  std::string ignored;
  const bool exists = fileExists(path_);
  if (exists != loadedBytes_.has_value() ||
      (exists && (!readFile(path_, current, ignored) || current != *loadedBytes_))) {
    error = localized(
        "the folder database changed while this command ran; nothing was saved, "
        "please try again");
    return false;
  }
  DirHandle folder;
  if (DirHandle::createDirectories(deletingLastPathComponent(path_), folder, error) !=
      OpenStatus::kOpened) {
    return false;
  }
  const FolderList& list = folders();
  std::string bytes = archiveRootObjectArray(
      list.size(), [&list](size_t i) -> const ArchivableObject& { return list[i]; });
  // Every command that saves holds the database's lock: a temporary file
  // beside it was left by a killed save, whatever its age.
  removeAbandonedTemporariesOf(path_, 0);
  if (!writeFileAtomically(path_, bytes, error)) return false;
  loadedBytes_ = std::move(bytes);
  return true;
}

}  // namespace sweeprun
