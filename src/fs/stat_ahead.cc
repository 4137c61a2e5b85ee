#include "fs/stat_ahead.h"

#include <limits.h>
#include <sched.h>

#include <array>
#include <system_error>

namespace sweeprun {

namespace {

// Below this a thread costs more than it saves.
constexpr size_t kPayingListing = 4096;
constexpr size_t kSlots = StatAhead::kAhead / StatAhead::kBatch;

// Whether this process may run on more than one core.
bool secondCoreAvailable() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  return sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 1;
}

}  // namespace

struct StatAhead::Slot {
  size_t batch = SIZE_MAX;  // the batch it holds, once its attributes are read
  size_t count = 0;         // names in the batch
  bool complete = false;    // false: the reader stopped part-way (the caller reads it)
  bool reading = false;     // claimed and not yet published: no other batch may have it
  uint64_t changes = 0;     // the caller's changes when the reading began
  std::array<std::string, kBatch> names;
  std::array<std::optional<EntryAttributes>, kBatch> attributes;
};

StatAhead::StatAhead(const Folder& dir, FolderListing& listing, Helper helper)
    : dir_(dir),
      listing_(listing),
      helperWanted_(helper == Helper::kAlways ||
                    (helper == Helper::kWherePaying && secondCoreAvailable())) {
  if (helper == Helper::kAlways) startHelper();
}

StatAhead::~StatAhead() {
  if (!helper_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  helper_.join();
}

void StatAhead::startHelper() {
  helperWanted_ = false;
  slots_.resize(kSlots);
  // Room for the longest name, so that listing never allocates on the helper.
  for (Slot& slot : slots_)
    for (std::string& name : slot.names) name.reserve(NAME_MAX + 1);
  try {
    helper_ = std::thread([this] { helperLoop(); });
  } catch (const std::system_error&) {
    slots_.clear();  // no thread to be had: the caller reads alone
  }
}

bool StatAhead::next(std::string& name, std::optional<EntryAttributes>& attributes) {
  if (!helper_.joinable()) {
    if (!listing_.next(name)) return false;
    attributes = dir_.statEntry(name);
    if (++readAlone_ >= kPayingListing && helperWanted_) startHelper();
    return true;
  }
  for (;;) {
    if (current_ != SIZE_MAX) {
      Slot& slot = slots_[current_ % kSlots];
      if (position_ < slot.count) {
        name.assign(slot.names[position_]);
        attributes = std::move(slot.attributes[position_]);
        ++position_;
        const bool changeable = attributes && !attributes->isDirectory() && attributes->links > 1;
        if (changeable && slot.changes != changes_.load(std::memory_order_relaxed))
          attributes = dir_.statEntry(name);
        return true;
      }
    }
    const size_t batch = current_ + 1;  // 0 for the first
    {
      std::lock_guard<std::mutex> lock(mutex_);
      consumed_ = batch;  // the slots of the batches before are free again
    }
    changed_.notify_all();
    if (!await(batch)) return false;
    current_ = batch;
    position_ = 0;
  }
}

// Waits for |batch| to be read, listing and reading the next unclaimed
// batch (possibly this one) meanwhile rather than idling. False when the
// listing ended before it.
bool StatAhead::await(size_t batch) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Slot& slot = slots_[batch % kSlots];
    if (slot.batch == batch) {
      if (!slot.complete) {
        // The helper stopped part-way through it, and for good.
        lock.unlock();
        readBatch(batch);
        lock.lock();
        slot.complete = true;
      }
      return true;
    }
    size_t next = 0;
    if (claim(next)) {
      lock.unlock();
      readBatch(next);
      lock.lock();
      publish(next, true);
      continue;
    }
    if (listed_ && claimed_ <= batch) return false;  // the claim itself may have found the end
    changed_.wait(lock);
  }
}

// Lists the next batch, if its slot is free: the caller is past the batch it
// held, and no one is still reading that.
bool StatAhead::claim(size_t& batch) {
  if (listed_ || claimed_ >= consumed_ + kSlots) return false;
  Slot& slot = slots_[claimed_ % kSlots];
  if (slot.reading) return false;
  size_t count = 0;
  while (count < kBatch && listing_.next(slot.names[count])) ++count;
  if (count < kBatch) {
    listed_ = true;
    changed_.notify_all();  // a caller waiting for a batch past the end
  }
  if (count == 0) return false;
  slot.count = count;
  slot.reading = true;
  batch = claimed_++;
  return true;
}

void StatAhead::readBatch(size_t batch) {
  Slot& slot = slots_[batch % kSlots];
  slot.changes = changes_.load(std::memory_order_acquire);
  for (size_t i = 0; i < slot.count; ++i) slot.attributes[i] = dir_.statEntry(slot.names[i]);
}

void StatAhead::publish(size_t batch, bool complete) {
  Slot& slot = slots_[batch % kSlots];
  slot.batch = batch;
  slot.complete = complete;
  slot.reading = false;
  changed_.notify_all();
}

void StatAhead::helperLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    size_t batch = 0;
    bool claimed = false;
    changed_.wait(lock, [&] { return stopping_ || listed_ || (claimed = claim(batch)); });
    if (!claimed) return;
    lock.unlock();
    bool complete = true;
    try {
      readBatch(batch);
    } catch (...) {
      complete = false;  // out of memory, say: the caller reads this batch itself
    }
    lock.lock();
    publish(batch, complete);
    if (!complete) return;
  }
}

}  // namespace sweeprun
