#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/keyed_archive.h"
#include "fs/entry_attributes.h"
#include "model/compact_name.h"
#include "os/date.h"
#include "plist/value.h"

namespace sweeprun {

/// One tracked entry of a watched folder: path, file number, size, dates, its
/// check-in date "idat" and the checks it survived unchanged ("hits").
///
/// Stored as the dictionary under "idat", it is held as typed fields: the
/// path split into its folder (shared by every entry of that folder) and its
/// last component, with the hash of that name the item index uses. Whatever
/// the fields cannot hold as stored (a key this tool does not know, a known
/// key with a value of another kind, keys in another order) is kept in a
/// side store, absent in the common case, so that a record written by
/// another program is written back as it was read. A missing key reads as
/// 0 or none, and callers rely on that.
/// Interns the folder parts of the item paths of one decoding. The entries
/// of one folder come in a row, so the last folder answers nearly every call
/// without a lookup in the process's key table (which copies the text). One
/// per decoding; not shared between threads.
class DirectoryInterner {
 public:
  const std::string* intern(std::string_view directory);

 private:
  const std::string* last_ = nullptr;
};

// Not an ArchivableObject itself: a folder holds up to millions of these,
// and a table of virtual functions would cost each 8 bytes. The folder hands
// them to the archive through one adapter (TrashFolder::encodeWithCoder).
class TrashItem {
 public:
  /// A fresh record for the entry at |path| ("~" read against
  /// |homeDirectory|), from its own attributes (a link is not followed),
  /// checked in at |now|; unreadable attributes give file number 0 and
  /// size 0.
  static TrashItem trashItemWithPath(const std::string& path, const std::string& homeDirectory,
                                     Date now);
  /// The same from attributes already read (none: unreadable), checked in at
  /// |now|. The engine uses this with attributes read through the handle of
  /// the watched folder. |path| must already be standardized.
  static TrashItem withAttributes(std::string_view path, const EntryAttributes* attributes,
                                  Date now);
  /// Decodes the dictionary under "idat", as stored, interning its folder
  /// through |directories|.
  static TrashItem fromCoder(KeyedDecoder& coder, DirectoryInterner& directories);
  /// The record whose stored dictionary is |data|.
  static TrashItem withDictionary(const Dictionary& data);

  TrashItem();
  TrashItem(const TrashItem& other);
  TrashItem& operator=(const TrashItem& other);
  TrashItem(TrashItem&&) noexcept;
  TrashItem& operator=(TrashItem&&) noexcept;
  ~TrashItem();

  std::string_view className() const { return "TrashItem"; }
  void encodeWithCoder(KeyedEncoder& coder) const;

  /// Same file number and the same path, compared exactly. A record without
  /// a text "path" equals none.
  bool isEqualToTrashItem(const TrashItem& other) const;
  /// Adds one to "hits", stored as an unsigned number.
  void incrHits();

  /// True when "path" holds a text.
  bool hasPath() const { return has(kPathField); }
  /// The path; empty when "path" holds no text.
  std::string path() const;
  /// The path up to and including its last "/" (empty without one), and
  /// what follows it: for an entry of a watched folder, the folder's path
  /// with a separator, and the entry's name.
  std::string_view directory() const { return has(kPathField) ? *directory_ : std::string_view(); }
  std::string_view name() const { return has(kPathField) ? name_.view() : std::string_view(); }
  /// The hash of name() that the item index files the record under.
  uint32_t nameHash() const { return nameHash_; }
  /// The file number "fnum" (0 when absent).
  uint64_t fileNumber() const;
  /// The size "size" in bytes (0 when absent).
  uint64_t size() const;
  /// The check-in date "idat" (the reference date when absent).
  Date checkedIn() const;
  /// The modification date "mdat", when it is a date.
  std::optional<Date> modified() const;
  /// The checks survived, "hits" (0 when absent).
  uint64_t hits() const;

  /// The stored dictionary, in stored order.
  Dictionary dictionary() const;
  /// Key-path access: "data.<key>" or the bare key both reach the stored
  /// dictionary.
  Value value(std::string_view keyPath) const;
  void setValue(std::string_view keyPath, Value value);

  /// The 24-bit hash of a name as nameHash() gives it.
  static uint32_t hashOfName(std::string_view name);

 private:
  enum Field : uint8_t {
    kPathField,
    kFileNumberField,
    kSizeField,
    kCreatedField,
    kModifiedField,
    kCheckedInField,
    kHitsField,
    kFieldCount
  };
  struct Extras;
  class Reader;

  bool has(Field field) const { return (present_ >> field) & 1; }
  static int fieldOf(Key key);
  static bool fits(Field field, const Value& value);
  void set(Key key, Value value);
  void store(Field field, const Value& value);
  void storePath(std::string_view path, DirectoryInterner& directories);
  void storePath(std::string_view path);
  Value fieldValue(Field field) const;
  // Appends the entry of a field other than the path, for encoding.
  void addScalarEntry(std::vector<PlainEntry>& entries, Field field) const;
  Value extraValue(Key key) const;
  void ensureExtras();
  // True when |field| may be stored without the side store: it keeps its
  // place, or it comes after every field held.
  bool takesInPlace(Field field) const {
    return !extras_ && (has(field) || (present_ >> field) == 0);
  }

  const std::string* directory_ = nullptr;  // interned
  CompactName name_;
  uint64_t fileNumber_ = 0;
  uint64_t size_ = 0;
  double created_ = 0;
  double modified_ = 0;
  double checkedIn_ = 0;
  uint32_t hits_ = 0;
  uint32_t nameHash_ : 24;
  uint32_t present_ : 8;  // one bit per Field held
  std::unique_ptr<Extras> extras_;
};

}  // namespace sweeprun
