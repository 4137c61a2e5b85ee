#include "fs/folder.h"

#include "fs/dir_handle.h"
#include "fs/file_io.h"

namespace sweeprun {

namespace {

class DiskFolders : public FolderOpener {
 public:
  OpenStatus openDirectory(const std::string& path, std::unique_ptr<Folder>& folder,
                           std::string& error) const override {
    auto opened = std::make_unique<DirHandle>();
    const OpenStatus status = DirHandle::openDirectory(path, *opened, error);
    if (status == OpenStatus::kOpened) folder = std::move(opened);
    return status;
  }
  bool folderExists(const std::string& path) const override { return directoryExists(path); }
};

}  // namespace

std::string Folder::entryPath(const std::string& name) const {
  const std::string& folder = path();
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

const FolderOpener& diskFolders() {
  static const DiskFolders folders;
  return folders;
}

}  // namespace sweeprun
