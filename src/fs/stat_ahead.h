#pragma once
// fs: a listing's entries with their attributes, read ahead on a second core.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fs/entry_attributes.h"
#include "fs/folder.h"
#include "fs/folder_listing.h"

namespace sweeprun {

/// Hands out a listing's entries in list order, each with its attributes as
/// Folder::statEntry reads them, read right after the name: the kernel then
/// still holds the entry close. Reading them is most of an unchanged
/// folder's check, and the kernel reads two entries on two cores as fast as
/// one, so where a second core is free a helper thread lists and reads ahead
/// of the caller, and the caller reads too whenever the entry it wants is
/// not there yet. Everything stays relative to the folder's descriptor, as
/// statEntry is.
///
/// At most kAhead entries are read ahead: the memory stays small, and the
/// attributes a decision uses are never older than that many entries' work.
/// An entry the caller's own removals can change (one with more than one
/// link, whose link count and change time drop with a sibling's removal) is
/// read again if the caller changed the folder since it was read.
class StatAhead {
 public:
  enum class Helper { kWherePaying, kAlways, kNever };

  /// |dir| and |listing|, a listing of it read only through this object,
  /// must outlive it. kWherePaying starts a helper once the listing proves
  /// long enough to repay a thread, when this process may run on a second
  /// core.
  StatAhead(const Folder& dir, FolderListing& listing, Helper helper = Helper::kWherePaying);
  ~StatAhead();
  StatAhead(const StatAhead&) = delete;
  StatAhead& operator=(const StatAhead&) = delete;

  /// The next entry: its name, and its attributes (none when it is gone or
  /// cannot be read). False at the end of the listing.
  bool next(std::string& name, std::optional<EntryAttributes>& attributes);
  /// Once next() said false: 0, or the errno value of the read that cut the
  /// listing short.
  int listingError() const { return listing_.error(); }
  /// Says that the caller removed or moved an entry of the folder.
  void folderChanged() { changes_.fetch_add(1, std::memory_order_release); }
  bool hasHelper() const { return helper_.joinable(); }

  static constexpr size_t kBatch = 32;  // entries listed and read per claim
  static constexpr size_t kAhead = 1024;

 private:
  struct Slot;
  void startHelper();
  bool await(size_t batch);
  bool claim(size_t& batch);
  void readBatch(size_t batch);
  void publish(size_t batch, bool complete);
  void helperLoop();

  const Folder& dir_;
  FolderListing& listing_;
  bool helperWanted_;  // a helper is to start once the listing is long enough
  size_t readAlone_ = 0;  // entries the caller read before a helper started
  std::atomic<uint64_t> changes_{0};
  std::vector<Slot> slots_;

  std::mutex mutex_;  // over the listing and the counts below, once a helper runs
  std::condition_variable changed_;
  size_t claimed_ = 0;   // batches listed, in order
  size_t consumed_ = 0;  // the batch the caller is at; those before are free
  bool listed_ = false;  // the listing has given its last name
  bool stopping_ = false;
  size_t current_ = SIZE_MAX;  // the caller's batch
  size_t position_ = 0;        // the caller's next entry in it

  std::thread helper_;  // last: started once the rest is in place
};

}  // namespace sweeprun
