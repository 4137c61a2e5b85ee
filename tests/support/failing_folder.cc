#include "support/failing_folder.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace sweeprun {

namespace {

// The message a real folder gives: "operation(path): reason".
std::string errorText(const char* operation, const std::string& path, int errorNumber) {
  return std::string(operation) + "(" + path + "): " + std::strerror(errorNumber);
}

// How a real open that failed with |errorNumber| answers.
OpenStatus openStatusOf(int errorNumber) {
  if (errorNumber == ENOENT) return OpenStatus::kMissing;
  if (errorNumber == ENOTDIR || errorNumber == ELOOP) return OpenStatus::kNotDirectory;
  return OpenStatus::kFailed;
}

std::string joined(const std::string& folderPath, const std::string& name) {
  if (folderPath.empty() || folderPath.back() == '/') return folderPath + name;
  return folderPath + "/" + name;
}

}  // namespace

FolderFailures& FolderFailures::fail(FolderOperation operation, std::string name, int errorNumber) {
  failures_.push_back({operation, std::move(name), errorNumber});
  return *this;
}

int FolderFailures::errorFor(FolderOperation operation, const std::string& folderPath,
                             const std::string& name) const {
  for (const Failure& failure : failures_) {
    if (failure.operation != operation) continue;
    const bool matches = name.empty()
                             ? failure.name == folderPath
                             : failure.name == name || failure.name == joined(folderPath, name);
    if (!matches) continue;
    ++played_;
    return failure.errorNumber;
  }
  return 0;
}

EntryNames FailingFolder::listNames(bool& ok) const {
  if (const int error = errorFor(FolderOperation::kList, {})) {
    ok = false;
    errno = error;
    return {};
  }
  return real_->listNames(ok);
}

namespace {

// A real listing whose last read fails.
class ListingFailingAtEnd : public FolderListing {
 public:
  ListingFailingAtEnd(std::unique_ptr<FolderListing> real, int errorNumber)
      : real_(std::move(real)), errorNumber_(errorNumber) {}
  bool next(std::string& name) override {
    if (real_->next(name)) return true;
    ended_ = true;
    return false;
  }
  int error() const override { return ended_ ? errorNumber_ : 0; }

 private:
  std::unique_ptr<FolderListing> real_;
  int errorNumber_;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<FolderListing> FailingFolder::startListing(int& errorNumber) const {
  if ((errorNumber = errorFor(FolderOperation::kList, {}))) return nullptr;
  std::unique_ptr<FolderListing> listing = real_->startListing(errorNumber);
  const int atEnd = errorFor(FolderOperation::kListEnd, {});
  if (!listing || !atEnd) return listing;
  return std::make_unique<ListingFailingAtEnd>(std::move(listing), atEnd);
}

std::optional<EntryAttributes> FailingFolder::statEntry(const std::string& name,
                                                        int& errorNumber) const {
  if ((errorNumber = errorFor(FolderOperation::kStat, name))) return std::nullopt;
  return real_->statEntry(name, errorNumber);
}

bool FailingFolder::isDeletable(const std::string& name, const EntryAttributes* known) const {
  return !errorFor(FolderOperation::kDeletable, name) && real_->isDeletable(name, known);
}

bool FailingFolder::unlock(const std::string& name) const {
  return !errorFor(FolderOperation::kUnlock, name) && real_->unlock(name);
}

RemoveStatus FailingFolder::removeEntry(const std::string& name, std::chrono::seconds treeTimeLimit,
                                        std::string& error, const EntryAttributes* known) const {
  if (const int e = errorFor(FolderOperation::kRemove, name)) {
    if (e == ENOENT) return RemoveStatus::kGone;
    error = errorText("unlinkat", entryPath(name), e);
    return RemoveStatus::kFailed;
  }
  return real_->removeEntry(name, treeTimeLimit, error, known);
}

RemoveStatus FailingFolder::removeFile(const std::string& name, std::string& error) const {
  if (const int e = errorFor(FolderOperation::kRemove, name)) {
    if (e == ENOENT) return RemoveStatus::kGone;
    if (e == EISDIR) return RemoveStatus::kIsDirectory;
    error = errorText("unlinkat", entryPath(name), e);
    return RemoveStatus::kFailed;
  }
  return real_->removeFile(name, error);
}

MoveStatus FailingFolder::moveEntry(const std::string& name, const Folder& destination,
                                    const std::string& targetName,
                                    std::chrono::seconds treeTimeLimit, std::string& error,
                                    EntryAttributes* placed, const EntryAttributes* known) const {
  int e = errorFor(FolderOperation::kMove, name);
  // The target by its full path only: a bare name would be the source's.
  if (!e) e = failures_.errorFor(FolderOperation::kMove, destination.entryPath(targetName));
  if (e == ENOENT) return MoveStatus::kGone;
  if (e == EEXIST) return MoveStatus::kTargetExists;
  if (e) {
    error = errorText("renameat2", entryPath(name), e);
    return MoveStatus::kFailed;
  }
  return real_->moveEntry(name, destination, targetName, treeTimeLimit, error, placed, known);
}

CreateStatus FailingFolder::createFileExclusive(const std::string& name, std::string_view contents,
                                                unsigned mode, std::string& error) const {
  if (const int e = errorFor(FolderOperation::kCreateFile, name)) {
    error = errorText("openat", entryPath(name), e);
    return e == EEXIST ? CreateStatus::kExists : CreateStatus::kFailed;
  }
  return real_->createFileExclusive(name, contents, mode, error);
}

OpenStatus FailingFolder::openChild(const std::string& name, std::unique_ptr<Folder>& child,
                                    std::string& error) const {
  if (const int e = errorFor(FolderOperation::kOpenChild, name)) {
    error = errorText("openat", entryPath(name), e);
    return openStatusOf(e);
  }
  std::unique_ptr<Folder> opened;
  const OpenStatus status = real_->openChild(name, opened, error);
  if (status == OpenStatus::kOpened)
    child = std::make_unique<FailingFolder>(std::move(opened), failures_);
  return status;
}

OpenStatus FailingFolder::createChild(const std::string& name, std::unique_ptr<Folder>& child,
                                      bool& created, std::string& error) const {
  created = false;
  if (const int e = errorFor(FolderOperation::kCreateChild, name)) {
    error = errorText("mkdirat", entryPath(name), e);
    return openStatusOf(e);
  }
  std::unique_ptr<Folder> opened;
  const OpenStatus status = real_->createChild(name, opened, created, error);
  if (status == OpenStatus::kOpened)
    child = std::make_unique<FailingFolder>(std::move(opened), failures_);
  return status;
}

OpenStatus FailingFolders::openDirectory(const std::string& path, std::unique_ptr<Folder>& folder,
                                         std::string& error) const {
  if (const int e = failures_.errorFor(FolderOperation::kOpen, path)) {
    error = errorText("openat", path, e);
    return openStatusOf(e);
  }
  std::unique_ptr<Folder> opened;
  const OpenStatus status = diskFolders().openDirectory(path, opened, error);
  if (status == OpenStatus::kOpened)
    folder = std::make_unique<FailingFolder>(std::move(opened), failures_);
  return status;
}

bool FailingFolders::folderExists(const std::string& path) const {
  return !failures_.errorFor(FolderOperation::kOpen, path) && diskFolders().folderExists(path);
}

}  // namespace sweeprun
