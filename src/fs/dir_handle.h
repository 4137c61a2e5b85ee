#pragma once

// fs: every descriptor-relative file-system operation, atomic files, paths, alias records and the
// Trash.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fs/entry_attributes.h"
#include "fs/entry_names.h"
#include "fs/folder.h"
#include "fs/folder_status.h"

namespace sweeprun {

/// An open folder. Every operation on an entry works relative to the folder's
/// descriptor on the entry itself: a symbolic link is acted on as the link and
/// never followed, and nothing crosses into another mounted file system, so an
/// entry swapped for a link at any moment cannot redirect the work outside.
/// Move-only; the descriptor closes with the handle.
class DirHandle : public Folder {
 public:
  DirHandle() = default;
  ~DirHandle() override;
  DirHandle(DirHandle&& other) noexcept;
  DirHandle& operator=(DirHandle&& other) noexcept;
  DirHandle(const DirHandle&) = delete;
  DirHandle& operator=(const DirHandle&) = delete;

  /// Opens the folder at |path|. A symbolic link on the way, the last
  /// component included, is followed only when root or the effective user
  /// owns it: a link that another user could have planted gives
  /// kNotDirectory. Fills |error| unless kOpened.
  static OpenStatus openDirectory(const std::string& path, DirHandle& dir, std::string& error);
  /// As openDirectory, creating every missing folder on the way with default
  /// attributes (mkdir -p).
  static OpenStatus createDirectories(const std::string& path, DirHandle& dir, std::string& error);

  /// Opens the folder |name| of this folder; a link is never followed.
  OpenStatus openChild(const std::string& name, DirHandle& child, std::string& error) const;
  OpenStatus openChild(const std::string& name, std::unique_ptr<Folder>& child,
                       std::string& error) const override;
  /// Opens the folder |name| of this folder, creating it with |mode| (less
  /// the umask) when missing; |created| tells which (a folder of another
  /// owner that took the name meanwhile is not one we created). A link is
  /// never followed.
  OpenStatus createChild(const std::string& name, DirHandle& child, bool& created,
                         std::string& error, unsigned mode = 0777) const;
  OpenStatus createChild(const std::string& name, std::unique_ptr<Folder>& child, bool& created,
                         std::string& error) const override;

  /// Gives the folder itself (through its descriptor) to |owner| and |group|.
  bool changeOwner(uint32_t owner, uint32_t group, std::string& error);

  bool isOpen() const { return fd_ >= 0; }
  /// The path the folder was opened by (for messages and joined paths).
  const std::string& path() const override { return path_; }
  uint64_t device() const override { return device_; }
  uint32_t owner() const { return owner_; }
  const DirHandle& realFolder() const override { return *this; }

  /// The names of one level: every entry including hidden ones, without "."
  /// and "..", in the file system's order. On failure an empty list and
  /// |ok| false.
  EntryNames listNames(bool& ok) const override;
  std::unique_ptr<FolderListing> startListing(int& errorNumber) const override;

  /// The attributes of entry |name| itself; none when it is gone or cannot be
  /// read. The creation date is the birth time where the file system keeps it.
  using Folder::statEntry;
  std::optional<EntryAttributes> statEntry(const std::string& name,
                                           int& errorNumber) const override;

  /// The locked flag (the immutable attribute) of |name|. A link, or an
  /// entry that is neither a file nor a folder, has none: false.
  bool isLocked(const std::string& name) const;
  /// Clears the locked flag of |name|. True when it is clear afterwards. A
  /// file with other hard links stays locked (false): the flag is also that
  /// of the file behind the other links, which may lie outside.
  bool unlock(const std::string& name) const override;

  /// Whether the effective user may delete |name| from this folder: write and
  /// search permission on the folder, the sticky-bit rule, and no immutable or
  /// append-only flag on the folder (which stop root too). False for a gone
  /// entry and for a mount point. With |known| (the entry's attributes, read
  /// during one pass over the folder) the entry is not read again, and the
  /// folder's half of the test is read by the first such test and reused by
  /// the later ones of the handle: an answer per entry would cost three
  /// system calls. That is safe because the test only decides what the run
  /// reports: the kernel still checks every permission and flag at the
  /// unlinkat or renameat itself, and a removal it refuses fails as such.
  bool isDeletable(const std::string& name, const EntryAttributes* known = nullptr) const override;

  /// Deletes entry |name| as the removal rules say: a file or link is
  /// unlocked (as unlock()) and unlinked; a folder has every entry below it
  /// unlocked (not itself) and is removed through descriptors, depth-capped,
  /// without following links or leaving the device (a mount point below is
  /// skipped, and the folder holding it stays). A tree still being removed
  /// after |treeTimeLimit| is given up, partly removed: kFailed, and |error|
  /// says so.
  /// |known|: as for isDeletable; a file is then unlinked without another
  /// read (and unlocked first only when its flags are unknown or set).
  RemoveStatus removeEntry(const std::string& name, std::chrono::seconds treeTimeLimit,
                           std::string& error,
                           const EntryAttributes* known = nullptr) const override;
  /// The total length of the regular files in the folder |name| and below,
  /// walked as fs::treeSizeAt walks it, on this folder's device, for at
  /// most |treeTimeLimit|. False, with |error|, when part of the tree could
  /// not be read: |bytes| then holds what was counted.
  bool treeSize(const std::string& name, std::chrono::seconds treeTimeLimit, uint64_t& bytes,
                std::string& error) const;
  /// Unlinks |name| when it is not a folder.
  RemoveStatus removeFile(const std::string& name, std::string& error) const override;

  /// Moves |name| into |destination| as |targetName|, never replacing an
  /// existing target. Across volumes the entry is copied as it is (modes,
  /// times, links as links; owners too when run by root) into a staging
  /// folder inside |destination| that only the effective user can enter,
  /// renamed into place when complete, and only then removed here;
  /// a failure part-way leaves no partial copy and the source intact. A
  /// source that the effective user could not delete completely, unlocking
  /// nothing (a locked or append-only entry, a folder it may not change, the
  /// sticky-bit rule), is not copied: kFailed. The check, the copy and the
  /// removal together stop after |treeTimeLimit|: kFailed
  /// before the copy is in place, kSourceRemains after. |placed|, when given,
  /// receives the attributes of the moved entry at its target after kMoved
  /// (those read before a rename, which keeps them, but for the change time
  /// the rename sets: read again where the entry has no birth time, else 0;
  /// the copy's after a copy).
  /// |known|: as for isDeletable, the entry's attributes read before; a
  /// rename then goes ahead without reading them again.
  MoveStatus moveEntry(const std::string& name, const Folder& destination,
                       const std::string& targetName, std::chrono::seconds treeTimeLimit,
                       std::string& error, EntryAttributes* placed = nullptr,
                       const EntryAttributes* known = nullptr) const override;

  /// Creates the file |name| with |contents| and permission bits |mode|.
  /// Never opens an existing entry (a planted link gives kExists).
  CreateStatus createFileExclusive(const std::string& name, std::string_view contents,
                                   unsigned mode, std::string& error) const override;
  /// The same, the new file given to |owner| and |group| (through its
  /// descriptor) before it is complete.
  CreateStatus createFileExclusive(const std::string& name, std::string_view contents,
                                   unsigned mode, std::string& error, uint32_t owner,
                                   uint32_t group) const;

  /// The folder's descriptor, for the platform layer's own helpers.
  int fd() const { return fd_; }

 private:
  static OpenStatus walkPath(const std::string& path, bool create, DirHandle& dir,
                             std::string& error);
  CreateStatus createFile(const std::string& name, std::string_view contents, unsigned mode,
                          std::string& error,
                          std::optional<std::pair<uint32_t, uint32_t>> owner) const;
  /// Takes ownership of |fd| (a folder) and records its device and owner.
  bool adopt(int fd, std::string path, std::string& error);

  // The folder's half of the deletable test, as the first test handed an
  // entry's attributes read it (see isDeletable).
  struct DeletableFolder {
    bool mayChangeEntries = false;
    uint32_t mode = 0;
    uint32_t owner = 0;
  };

  int fd_ = -1;
  std::string path_;
  uint64_t device_ = 0;
  uint32_t owner_ = 0;
  mutable std::optional<DeletableFolder> deletableFolder_;
};

}  // namespace sweeprun
