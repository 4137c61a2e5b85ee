#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fs/dir_handle.h"
#include "fs/place_entry.h"
#include "os/date.h"

namespace sweeprun {

/// |path| as the "Path=" line of an info file holds it: every byte other
/// than letters, digits, "/", "-", "_", "." and "~" written as %XX.
std::string escapedTrashPath(std::string_view path);

/// The contents of the info file of an entry trashed from |originalPath| at
/// |deletionDate| (local time, TZ honoured).
std::string trashInfoText(std::string_view originalPath, Date deletionDate);

/// The longest name an entry takes in "files": its info file's name adds
/// ".trashinfo" and must still fit.
constexpr size_t kMaxTrashedNameBytes = kMaxNameBytes - 10;

/// The user Trash: entries in "files", and for each one
/// "info/<its name in files>.trashinfo" telling where it came from, so that
/// desktop file managers and trash tools can list and restore it.
class UserTrash {
 public:
  /// Opens the Trash whose "files" folder is |filesPath| (as
  /// locateUserTrash() gives it), creating it and
  /// the "info" folder beside it (private to the user) when missing.
  /// kNotDirectory when one of them is something else.
  static OpenStatus open(const std::string& filesPath, UserTrash& trash, std::string& error);

  /// Who a Trash belongs to, when root works in another user's Trash: the
  /// folders and info files it makes there are given to them.
  struct Owner {
    uint32_t user;
    uint32_t group;
  };
  /// Opens the Trash folder |trashFolder| (already opened and checked by the
  /// caller), making "files" and "info" (0700) in it when missing, given to
  /// |owner| when one is named. A "files" or "info" that is a link, not a
  /// folder, or a folder of anyone but root or the Trash's user is refused as
  /// kNotDirectory. |topdir|, when not empty, is the mount point whose Trash
  /// this is: info files then hold paths relative to it, as trash tools
  /// expect of a top-directory Trash.
  static OpenStatus openIn(DirHandle trashFolder, const std::optional<Owner>& owner,
                           std::string topdir, UserTrash& trash, std::string& error);

  const DirHandle& files() const { return files_; }
  /// The Trash folder itself (the parent of "files").
  std::string path() const;

  /// Moves |name| of |source| (a folder opened by an absolute path) into
  /// "files" under its own name or the first placeableName (at most
  /// kMaxTrashedNameBytes) free in both "files" and "info"; the info file
  /// keeps the whole original path, so a restore gives back the whole name.
  /// The info file is created, exclusively, before the move and removed
  /// again when the move fails. |treeTimeLimit| and |placed| as
  /// DirHandle::moveEntry takes and fills them, |known| as it takes it.
  MoveStatus trashEntry(const Folder& source, const std::string& name, Date deletionDate,
                        std::chrono::seconds treeTimeLimit, std::string& placedName,
                        std::string& error, EntryAttributes* placed = nullptr,
                        const EntryAttributes* known = nullptr) const;
  /// The path of the info file of the entry |placedName| of "files".
  std::string infoFilePath(const std::string& placedName) const;

  /// Opens the dated sub-folder |folderName| of "files", creating it when
  /// missing; a new one gets an info file that restores it into
  /// |originalFolder|. Entries placed inside it have no info files of their
  /// own. |created|, when given, tells whether this call made the folder.
  OpenStatus openDatedFolder(const std::string& folderName, const std::string& originalFolder,
                             Date date, DirHandle& folder, std::string& error,
                             bool* created = nullptr) const;

 private:
  /// The "Path=" text for |path|: relative to the top directory of a
  /// top-directory Trash, else |path| itself.
  std::string recordedPath(const std::string& path) const;
  CreateStatus createInfoFile(const std::string& name, const std::string& text,
                              std::string& error) const;

  DirHandle files_;
  DirHandle info_;
  std::string topdir_;
  std::optional<Owner> owner_;
};

/// The Trash of an account folder in system mode, "<accountFolder>/.Trash":
/// a plain folder without info files, created with default attributes when
/// missing. A Trash that is a link, or a folder owned by neither root nor
/// the owner of the account folder, is refused as kNotDirectory: its owner
/// could point it anywhere.
OpenStatus openAccountTrash(const std::string& accountFolder, DirHandle& trash, std::string& error);

}  // namespace sweeprun
