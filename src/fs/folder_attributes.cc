#include "fs/folder_attributes.h"

#include <sys/stat.h>

namespace sweeprun {

OpenStatus attributesOfFolderAtPath(const std::string& path, EntryAttributes& attributes) {
  DirHandle folder;
  std::string error;
  const OpenStatus status = DirHandle::openDirectory(path, folder, error);
  if (status != OpenStatus::kOpened) return status;
  // Read through the open descriptor: what was opened is what is described.
  struct stat st;
  if (fstat(folder.fd(), &st) != 0) return OpenStatus::kFailed;
  attributes = EntryAttributes();
  attributes.fileNumber = st.st_ino;
  attributes.mode = st.st_mode;
  attributes.owner = st.st_uid;
  attributes.device = st.st_dev;
  return OpenStatus::kOpened;
}

}  // namespace sweeprun
