#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "fs/dir_handle.h"
#include "fs/trash_info.h"
#include "os/process_info.h"

namespace sweeprun {

/// Finds and opens the Trash of entries: in the home Trash of their user
/// when they lie on the home folder's file system, else in the
/// top-directory Trash of their own file system: "$topdir/.Trash/$uid" when
/// the administrator made "$topdir/.Trash" (a real folder with the sticky
/// bit), else "$topdir/.Trash-$uid". Every step works through folder
/// descriptors: a link is never followed, and a Trash folder that is a link
/// or belongs to anyone but root or the Trash's user is refused.
class TrashFinder {
 public:
  /// A user's home folder and group (RunWorld::accountOf).
  using AccountLookup = std::function<std::optional<UserAccount>(unsigned user)>;
  /// The mount point of file system |device| holding |path| (RunWorld::mountPointOf).
  using MountLookup =
      std::function<std::optional<std::string>(uint64_t device, const std::string& path)>;

  /// |homeTrashFiles|: the running user's own Trash "files" folder (user
  /// mode), or none: the Trash of each entry's owner, found through
  /// |accountOf| (system mode, run by root). |mountPointOf| names the top
  /// directory of an entry's file system.
  TrashFinder(std::optional<std::string> homeTrashFiles, AccountLookup accountOf,
              MountLookup mountPointOf)
      : homeTrashFiles_(std::move(homeTrashFiles)),
        accountOf_(std::move(accountOf)),
        mountPointOf_(std::move(mountPointOf)) {}

  /// Opens (making what is missing) the Trash for entry |name| of |watched|.
  /// kMissing when no Trash can be had for it at all (no home Trash on its
  /// file system, no mount point known); otherwise as the last Trash tried
  /// opened, with the reason in |error|. |notes| receives the reasons a
  /// preferred Trash was passed over, for the run log.
  OpenStatus openTrashFor(const Folder& watched, const std::string& name, UserTrash& trash,
                          std::string& notes, std::string& error) const;

  /// As openTrashFor, but each Trash opened is kept while the finder lives,
  /// keyed by the entry's file system and user, and handed to the later
  /// entries of those (with the notes it gave) without opening it again; a
  /// Trash that could not be opened is tried again for the next entry. A
  /// kept Trash is a set of open folder descriptors: a Trash replaced by a
  /// link meanwhile is never followed, its entries keep going where the
  /// first one went. |trash| points into the finder. |known|, when given,
  /// are the entry's attributes the caller read; in user mode (where only
  /// the entry's file system decides) they are not read again.
  OpenStatus sharedTrashFor(const Folder& watched, const std::string& name, const UserTrash*& trash,
                            std::string& notes, std::string& error,
                            const EntryAttributes* known = nullptr);

  /// The Trash folder (which holds "files" and "info") openTrashFor would
  /// put the entry in, touching nothing (for a preview); none when no Trash
  /// could be had.
  std::optional<std::string> placeFor(const Folder& watched, const std::string& name) const;

 private:
  struct Candidate;
  bool candidatesFor(const Folder& watched, const std::string& name, std::optional<Candidate>& home,
                     std::optional<Candidate>& top, std::string& notes, std::string& error) const;
  OpenStatus openHome(const Candidate& home, UserTrash& trash, std::string& error) const;
  OpenStatus openTop(const Candidate& top, UserTrash& trash, std::string& notes,
                     std::string& error) const;

  std::optional<std::string> homeTrashFiles_;
  AccountLookup accountOf_;
  MountLookup mountPointOf_;
  struct Kept {
    UserTrash trash;
    std::string notes;
  };
  std::map<std::pair<uint64_t, uint32_t>, Kept> kept_;  // by device and user
};

}  // namespace sweeprun
