#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "os/date.h"

namespace sweeprun {

/// What the file system reports about one entry itself (a symbolic link is
/// not followed).
struct EntryAttributes {
  uint64_t fileNumber = 0;
  uint64_t size = 0;
  std::optional<Date> creationDate;
  std::optional<Date> modificationDate;
  uint32_t mode = 0;  // type and permission bits, as st_mode
  uint32_t owner = 0;
  uint32_t group = 0;
  uint32_t links = 1;  // hard links; another name's removal changes an entry with more
  uint64_t device = 0;
  // Nanoseconds since 1970: the entry's birth (0 where the file system
  // reports none) and its last status change. With device, inode and owner
  // they tell the entry from a later one that was handed its freed inode
  // number.
  uint64_t birthNanoseconds = 0;
  uint64_t changeNanoseconds = 0;
  // Read with the rest, so that a removal handed these attributes need not
  // read the entry again: whether it is the root of a mount, and its
  // immutable and append-only flags when the file system reports them
  // (|pinningFlagsKnown|; else the flags below say nothing).
  bool mountRoot = false;
  bool pinningFlagsKnown = false;
  bool immutable = false;
  bool appendOnly = false;
  bool isDirectory() const { return (mode & 0170000) == 0040000; }
  bool isSymbolicLink() const { return (mode & 0170000) == 0120000; }
  bool isRegularFile() const { return (mode & 0170000) == 0100000; }
};

/// The attributes of |path| itself, or none when they cannot be read.
std::optional<EntryAttributes> attributesOfItemAtPath(const std::string& path);

/// A file system timestamp (seconds and nanoseconds since 1970) as a date.
Date timestampDate(int64_t seconds, uint32_t nanoseconds);
/// The same timestamp in nanoseconds since 1970; 0 for one before 1970.
uint64_t timestampNanoseconds(int64_t seconds, uint32_t nanoseconds);

}  // namespace sweeprun
