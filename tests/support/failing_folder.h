#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fs/entry_names.h"
#include "fs/folder.h"

namespace sweeprun {

/// The operations a failing folder can be told to fail.
enum class FolderOperation {
  kOpen,         // opening a folder by path; its folderExists() answers no too
  kList,         // listNames: no names, not ok; startListing: none
  kListEnd,      // startListing: the listing fails once it has given every name
  kStat,         // statEntry: none, with the errno
  kDeletable,    // isDeletable answers no
  kUnlock,       // unlock answers no
  kRemove,       // removeEntry and removeFile
  kMove,         // moveEntry
  kCreateFile,   // createFileExclusive
  kOpenChild,    // openChild
  kCreateChild,  // createChild
};

/// Which operations fail, on which names, with which errno value. A name
/// matches an entry by its name or by its full path (for kMove also the
/// target's full path, so that a taken target name can be played); kOpen,
/// kList and kListEnd match the folder's path.
class FolderFailures {
 public:
  FolderFailures& fail(FolderOperation operation, std::string name, int errorNumber);

  /// The errno value |operation| on entry |name| of the folder at
  /// |folderPath| fails with (counted as a failure played); 0 when it goes
  /// through. An empty |name| asks for the folder itself.
  int errorFor(FolderOperation operation, const std::string& folderPath,
               const std::string& name = {}) const;
  /// How many operations failed as told so far.
  int played() const { return played_; }

 private:
  struct Failure {
    FolderOperation operation;
    std::string name;
    int errorNumber;
  };
  std::vector<Failure> failures_;
  mutable int played_ = 0;
};

/// A real folder that fails the operations |failures| names and passes every
/// other one to the real folder. The folders it opens are failing folders
/// with the same failures. |failures| must outlive it.
class FailingFolder : public Folder {
 public:
  FailingFolder(std::unique_ptr<Folder> real, const FolderFailures& failures)
      : real_(std::move(real)), failures_(failures) {}

  const std::string& path() const override { return real_->path(); }
  uint64_t device() const override { return real_->device(); }
  const DirHandle& realFolder() const override { return real_->realFolder(); }

  EntryNames listNames(bool& ok) const override;
  std::unique_ptr<FolderListing> startListing(int& errorNumber) const override;
  using Folder::statEntry;
  std::optional<EntryAttributes> statEntry(const std::string& name,
                                           int& errorNumber) const override;
  bool isDeletable(const std::string& name, const EntryAttributes* known = nullptr) const override;
  bool unlock(const std::string& name) const override;
  RemoveStatus removeEntry(const std::string& name, std::chrono::seconds treeTimeLimit,
                           std::string& error,
                           const EntryAttributes* known = nullptr) const override;
  RemoveStatus removeFile(const std::string& name, std::string& error) const override;
  MoveStatus moveEntry(const std::string& name, const Folder& destination,
                       const std::string& targetName, std::chrono::seconds treeTimeLimit,
                       std::string& error, EntryAttributes* placed = nullptr,
                       const EntryAttributes* known = nullptr) const override;
  CreateStatus createFileExclusive(const std::string& name, std::string_view contents,
                                   unsigned mode, std::string& error) const override;
  OpenStatus openChild(const std::string& name, std::unique_ptr<Folder>& child,
                       std::string& error) const override;
  OpenStatus createChild(const std::string& name, std::unique_ptr<Folder>& child, bool& created,
                         std::string& error) const override;

 private:
  int errorFor(FolderOperation operation, const std::string& name) const {
    return failures_.errorFor(operation, path(), name);
  }

  std::unique_ptr<Folder> real_;
  const FolderFailures& failures_;
};

/// Opens real folders by path as failing folders; a kOpen failure on the
/// path comes first. |failures| must outlive it and what it opens.
class FailingFolders : public FolderOpener {
 public:
  explicit FailingFolders(const FolderFailures& failures) : failures_(failures) {}

  OpenStatus openDirectory(const std::string& path, std::unique_ptr<Folder>& folder,
                           std::string& error) const override;
  bool folderExists(const std::string& path) const override;

 private:
  const FolderFailures& failures_;
};

}  // namespace sweeprun
