// Decodes the bytes as a keyed archive three ways: as a plain object graph,
// as the folder database file (an array of folder records, each with its
// alias, items and rules, read from the mapped file) and as an array of
// rules. A malformed archive may only
// throw PlatformException; anything else, or a crash, is a fault.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "archive/keyed_archive.h"
#include "fuzz_support.h"
#include "model/trash_application.h"
#include "model/trash_rule.h"
#include "os/exception.h"

using namespace sweeprun;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Stored aliases resolve against the home folder, which lies in the
  // scratch folder.
  static FuzzProcess process(/*checkMode=*/false);
  const std::string_view bytes = fuzzInput(data, size);

  try {
    unarchivePlainGraph(bytes);
  } catch (const PlatformException&) {
  }
  // The folder database is read from its file, as a run reads it.
  static const std::string database = scratchFolder() + "/folders.data";
  static const std::string rewritten = scratchFolder() + "/rewritten.data";
  writeScratchFile(database, bytes);
  TrashApplication application;
  try {
    application.unarchiveWithFile(database, process.context, nullptr);
  } catch (const PlatformException&) {
  }
  if (const FolderList* folders = application.trashFolderList()) {
    // A run writes back what it read, and the next run must read that.
    std::string archiveError;
    if (!application.archiveToFile(rewritten, archiveError))
      fuzzFailure("a folder database was not written");
    TrashApplication next;
    try {
      next.unarchiveWithFile(rewritten, process.context, nullptr);
    } catch (const PlatformException&) {
      fuzzFailure("a written folder database does not read");
    }
    if (next.countOfTrashFolderList() != folders->size())
      fuzzFailure("a written folder database lost records");
  }
  try {
    unarchiveRootObjectArray(bytes, "TrashRule",
                             [](KeyedDecoder& element) { TrashRule::fromCoder(element); });
  } catch (const PlatformException&) {
  }
  return 0;
}
