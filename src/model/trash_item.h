#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "os/date.h"
#include "fs/entry_attributes.h"
#include "archive/keyed_archive.h"
#include "plist/value.h"

namespace sweeprun {

/// One tracked entry of a watched folder: path, file number, size, dates, its
/// check-in date "idat" and the checks it survived unchanged ("hits"). All
/// persistent state is |data|; a missing key reads as 0 or none, and callers
/// rely on that.
class TrashItem : public ArchivableObject {
 public:
  /// A fresh record for the entry at |path|, from its own attributes (a link
  /// is not followed); unreadable attributes give file number 0 and size 0.
  static TrashItem trashItemWithPath(const std::string& path);
  /// The same from attributes already read (none: unreadable), checked in at
  /// |now|. The engine uses this with attributes read through the handle of
  /// the watched folder. |path| must already be standardized.
  static TrashItem withAttributes(std::string_view path, const EntryAttributes* attributes,
                                  Date now);
  /// Decodes the dictionary under "idat", as stored.
  static TrashItem fromCoder(KeyedDecoder& coder);

  TrashItem() = default;

  std::string_view className() const override { return "TrashItem"; }
  void encodeWithCoder(KeyedEncoder& coder) const override;

  /// Same file number and the same path, compared exactly. A record without
  /// "path" equals none.
  bool isEqualToTrashItem(const TrashItem& other) const;
  /// Adds one to "hits", stored as an unsigned number.
  void incrHits();

  const Value& value(std::string_view keyPath) const;
  void setValue(std::string_view keyPath, Value value);
  std::string_view path() const { return data.get("path").asText(); }

  Dictionary data;
};

}  // namespace sweeprun
