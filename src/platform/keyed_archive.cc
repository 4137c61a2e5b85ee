#include "platform/keyed_archive.h"

#include "platform/keyed_archive_reader.h"
#include "platform/keyed_archive_writer.h"

namespace sweeprun {

std::string archiveRootObjectArray(size_t count, const ObjectAt& element) {
  return writeKeyedArchive(count, element);
}

bool unarchiveRootObjectArray(std::string_view bytes, std::string_view className,
                              const std::function<void(KeyedDecoder&)>& each) {
  KeyedArchiveReader reader(bytes);
  uint64_t root;
  if (!reader.top("root", root)) return false;
  reader.eachRecord(root, className, each);
  return true;
}

Value unarchivePlainGraph(std::string_view bytes, std::string_view topKey) {
  KeyedArchiveReader reader(bytes);
  uint64_t root;
  if (!reader.top(topKey, root)) return Value();
  return reader.plainValue(root, true);
}

}  // namespace sweeprun
