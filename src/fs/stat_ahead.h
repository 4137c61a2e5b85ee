#pragma once
// fs: the attributes of a listing's entries, read ahead on a second core.

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
#include "fs/entry_names.h"
#include "fs/folder.h"

namespace sweeprun {

/// Hands out the attributes of a listing's entries (as Folder::statEntry
/// reads them) in list order. Reading them is most of an unchanged folder's
/// check, and the kernel reads two entries on two cores as fast as one, so
/// where a second core is free a helper thread reads ahead of the caller,
/// and the caller reads too whenever the entry it wants is not there yet.
/// Everything stays relative to the folder's descriptor, as statEntry is.
///
/// At most kAhead entries are read ahead: the memory stays small, and the
/// attributes a decision uses are never older than that many entries' work.
/// An entry the caller's own removals can change (one with more than one
/// link, whose link count and change time drop with a sibling's removal) is
/// read again if the caller changed the folder since it was read.
class StatAhead {
 public:
  enum class Helper { kWherePaying, kAlways, kNever };

  /// |dir| and |names|, its listing, must outlive this object and stay
  /// unchanged. kWherePaying starts a helper for a listing long enough to
  /// repay a thread, when this process may run on a second core.
  StatAhead(const Folder& dir, const EntryNames& names, Helper helper = Helper::kWherePaying);
  ~StatAhead();
  StatAhead(const StatAhead&) = delete;
  StatAhead& operator=(const StatAhead&) = delete;

  /// The attributes of entry |index|, none when it is gone or cannot be
  /// read. Indexes come in rising order; any may be skipped.
  std::optional<EntryAttributes> take(size_t index);
  /// Says that the caller removed or moved an entry of the folder.
  void folderChanged() { changes_.fetch_add(1, std::memory_order_release); }
  bool hasHelper() const { return helper_.joinable(); }

  static constexpr size_t kBatch = 32;  // entries read per claim
  static constexpr size_t kAhead = 1024;

 private:
  struct Slot;
  std::optional<EntryAttributes> read(size_t index, std::string& buffer) const;
  void readBatch(size_t batch, std::string& buffer);
  bool claim(size_t& batch);
  void publish(size_t batch, bool complete);
  void await(size_t batch);
  void helperLoop();

  const Folder& dir_;
  const EntryNames& names_;
  const size_t batches_;
  std::atomic<uint64_t> changes_{0};
  std::vector<Slot> slots_;
  std::string buffer_;  // the caller's name buffer

  std::mutex mutex_;
  std::condition_variable changed_;
  size_t claimed_ = 0;   // batches claimed for reading, in order
  size_t consumed_ = 0;  // batches the caller is past
  bool stopping_ = false;
  size_t current_ = SIZE_MAX;  // the caller's batch

  std::thread helper_;  // last: started once the rest is in place
};

}  // namespace sweeprun
