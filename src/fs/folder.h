#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/entry_attributes.h"
#include "fs/entry_names.h"
#include "fs/folder_listing.h"
#include "fs/folder_status.h"

namespace sweeprun {

class DirHandle;

/// The entries of one open folder, as the collection engine reaches them:
/// list, stat, the deletable test, remove, move, create exclusive, open or
/// create a child folder, unlock. DirHandle is the real one, working on the
/// folder's descriptor; a test puts a folder that fails chosen operations in
/// its place. Every operation has DirHandle's contract; a failure fills
/// |error| with "operation(path): reason".
class Folder {
 public:
  virtual ~Folder() = default;

  /// The path the folder was opened by (for messages and joined paths).
  virtual const std::string& path() const = 0;
  virtual uint64_t device() const = 0;
  /// The real folder behind this one (itself for a DirHandle): a move into
  /// this folder reaches its descriptor through it.
  virtual const DirHandle& realFolder() const = 0;
  /// The folder's path joined with |name|.
  std::string entryPath(const std::string& name) const;

  /// The names of the folder's entries; none and not |ok|, with errno set,
  /// when the listing fails, even part-way.
  virtual EntryNames listNames(bool& ok) const = 0;
  /// The same names read as they are asked for; none, with the errno value
  /// in |errorNumber|, when the folder cannot be listed at all.
  virtual std::unique_ptr<FolderListing> startListing(int& errorNumber) const = 0;
  /// The attributes of entry |name| itself; none, with the errno value in
  /// |errorNumber|, when it is gone or cannot be read.
  virtual std::optional<EntryAttributes> statEntry(const std::string& name,
                                                   int& errorNumber) const = 0;
  std::optional<EntryAttributes> statEntry(const std::string& name) const {
    int ignored = 0;
    return statEntry(name, ignored);
  }
  /// |known|, here and below: the attributes of |name| the caller read
  /// (statEntry) during its pass over the folder, used instead of reading
  /// the entry again.
  virtual bool isDeletable(const std::string& name,
                           const EntryAttributes* known = nullptr) const = 0;
  virtual bool unlock(const std::string& name) const = 0;

  /// |treeTimeLimit|, here and for moveEntry: how long the walk through the
  /// entry's tree may take (see DirHandle::removeEntry).
  virtual RemoveStatus removeEntry(const std::string& name, std::chrono::seconds treeTimeLimit,
                                   std::string& error,
                                   const EntryAttributes* known = nullptr) const = 0;
  virtual RemoveStatus removeFile(const std::string& name, std::string& error) const = 0;
  /// |placed|, when given, receives the attributes of the moved entry at
  /// its target after kMoved (see DirHandle::moveEntry).
  virtual MoveStatus moveEntry(const std::string& name, const Folder& destination,
                               const std::string& targetName, std::chrono::seconds treeTimeLimit,
                               std::string& error, EntryAttributes* placed = nullptr,
                               const EntryAttributes* known = nullptr) const = 0;
  virtual CreateStatus createFileExclusive(const std::string& name, std::string_view contents,
                                           unsigned mode, std::string& error) const = 0;

  /// Opens the folder |name| of this folder; a link is never followed.
  virtual OpenStatus openChild(const std::string& name, std::unique_ptr<Folder>& child,
                               std::string& error) const = 0;
  /// Opens the folder |name|, creating it (default attributes) when missing.
  virtual OpenStatus createChild(const std::string& name, std::unique_ptr<Folder>& child,
                                 bool& created, std::string& error) const = 0;
};

/// Opens folders by path for the engine: the watched folders and the
/// destinations named by path. A test hands the engine one that opens
/// failing folders.
class FolderOpener {
 public:
  virtual ~FolderOpener() = default;
  /// As DirHandle::openDirectory.
  virtual OpenStatus openDirectory(const std::string& path, std::unique_ptr<Folder>& folder,
                                   std::string& error) const = 0;
  /// Whether a folder is at |path|, a final link followed.
  virtual bool folderExists(const std::string& path) const = 0;
};

/// The opener of real folders (DirHandle).
const FolderOpener& diskFolders();

}  // namespace sweeprun
