// Decodes the bytes as a keyed archive three ways: as a plain object graph,
// as a folder database (an array of folder records, each with its alias,
// items and rules) and as an array of rules. A malformed archive may only
// throw PlatformException; anything else, or a crash, is a fault.
//
// The database is decoded from memory, not from a file: reading it from a
// file differs only by the mapping, which the tests cover, and the file's
// write, map and unmap cost more than the decoding (under the sanitizers
// each unmap stops both cores), so this way the target tries several times
// as many inputs.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "archive/keyed_archive.h"
#include "fuzz_support.h"
#include "model/trash_application.h"
#include "model/trash_folder.h"
#include "model/trash_rule.h"
#include "os/exception.h"

using namespace sweeprun;

namespace {

// The folder records of |bytes|, as a run reads its database; none when the
// bytes are no such archive.
std::optional<FolderList> decodeFolders(std::string_view bytes, const RunWorld& world) {
  FolderList folders;
  try {
    if (unarchiveRootObjectArray(bytes, "TrashFolder", [&](KeyedDecoder& element) {
          folders.push_back(TrashFolder::fromCoder(element, world));
        }))
      return folders;
  } catch (const PlatformException&) {
  }
  return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Stored aliases resolve against the home folder, which lies in the
  // scratch folder.
  static FuzzProcess process(/*checkMode=*/false);
  const std::string_view bytes = fuzzInput(data, size);

  try {
    unarchivePlainGraph(bytes);
  } catch (const PlatformException&) {
  }
  if (const std::optional<FolderList> folders = decodeFolders(bytes, process.context)) {
    // A run writes back what it read, and the next run must read that.
    std::string rewritten;
    try {
      rewritten = archiveRootObjectArray(
          folders->size(), [&](size_t i) -> const ArchivableObject& { return (*folders)[i]; });
    } catch (const PlatformException&) {
      fuzzFailure("a folder database was not written");
    }
    const std::optional<FolderList> next = decodeFolders(rewritten, process.context);
    if (!next) fuzzFailure("a written folder database does not read");
    if (next->size() != folders->size()) fuzzFailure("a written folder database lost records");
  }
  try {
    unarchiveRootObjectArray(bytes, "TrashRule",
                             [](KeyedDecoder& element) { TrashRule::fromCoder(element); });
  } catch (const PlatformException&) {
  }
  return 0;
}
