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
  size_t batch = SIZE_MAX;  // the batch whose attributes it holds, once read
  bool complete = false;    // false: the reader stopped part-way (the caller reads it)
  bool reading = false;     // claimed and not yet published: no other batch may have it
  uint64_t changes = 0;     // the caller's changes when the reading began
  std::array<std::optional<EntryAttributes>, kBatch> attributes;
};

StatAhead::StatAhead(const Folder& dir, const EntryNames& names, Helper helper)
    : dir_(dir), names_(names), batches_((names.size() + kBatch - 1) / kBatch) {
  buffer_.reserve(NAME_MAX + 1);
  const bool wanted =
      helper == Helper::kAlways ||
      (helper == Helper::kWherePaying && names.size() >= kPayingListing && secondCoreAvailable());
  if (!wanted || batches_ == 0) return;
  slots_.resize(kSlots);
  try {
    helper_ = std::thread([this] { helperLoop(); });
  } catch (const std::system_error&) {
    slots_.clear();  // no thread to be had: the caller reads alone
  }
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

std::optional<EntryAttributes> StatAhead::read(size_t index, std::string& buffer) const {
  buffer.assign(names_[index]);
  return dir_.statEntry(buffer);
}

std::optional<EntryAttributes> StatAhead::take(size_t index) {
  if (!helper_.joinable()) return read(index, buffer_);
  const size_t batch = index / kBatch;
  if (batch != current_) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      consumed_ = batch;  // the slots of the batches before are free again
    }
    changed_.notify_all();
    await(batch);
    current_ = batch;
  }
  Slot& slot = slots_[batch % kSlots];
  std::optional<EntryAttributes>& attributes = slot.attributes[index % kBatch];
  const bool changeable = attributes && !attributes->isDirectory() && attributes->links > 1;
  if (changeable && slot.changes != changes_.load(std::memory_order_relaxed))
    return read(index, buffer_);
  return std::move(attributes);
}

// Waits for |batch| to be read, reading the next unclaimed batch (possibly
// this one) meanwhile rather than idling.
void StatAhead::await(size_t batch) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    const Slot& slot = slots_[batch % kSlots];
    if (slot.batch == batch && slot.complete) return;
    // Published but not complete: the helper stopped part-way through it.
    size_t next = batch;
    if (slot.batch == batch || claim(next)) {
      lock.unlock();
      readBatch(next, buffer_);
      lock.lock();
      publish(next, true);
      continue;
    }
    changed_.wait(lock);
  }
}

// The next batch in list order, if its slot is free: the caller is past the
// batch it held, and no one is still reading that (a caller that skips
// batches moves past ones the helper has yet to publish).
bool StatAhead::claim(size_t& batch) {
  if (claimed_ >= batches_ || claimed_ >= consumed_ + kSlots) return false;
  Slot& slot = slots_[claimed_ % kSlots];
  if (slot.reading) return false;
  slot.reading = true;
  batch = claimed_++;
  return true;
}

void StatAhead::readBatch(size_t batch, std::string& buffer) {
  Slot& slot = slots_[batch % kSlots];
  slot.changes = changes_.load(std::memory_order_acquire);
  const size_t first = batch * kBatch;
  const size_t end = std::min(first + kBatch, names_.size());
  for (size_t index = first; index < end; ++index)
    slot.attributes[index - first] = read(index, buffer);
}

void StatAhead::publish(size_t batch, bool complete) {
  Slot& slot = slots_[batch % kSlots];
  slot.batch = batch;
  slot.complete = complete;
  slot.reading = false;
  changed_.notify_all();
}

void StatAhead::helperLoop() {
  std::string buffer;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    size_t batch = 0;
    bool claimed = false;
    changed_.wait(lock,
                  [&] { return stopping_ || claimed_ >= batches_ || (claimed = claim(batch)); });
    if (!claimed) return;
    lock.unlock();
    bool complete = true;
    try {
      readBatch(batch, buffer);
    } catch (...) {
      complete = false;  // out of memory, say: the caller reads this batch itself
    }
    lock.lock();
    publish(batch, complete);
    if (!complete) return;
  }
}

}  // namespace sweeprun
