// Decodes the bytes as a keyed archive three ways: as a plain object graph,
// as the folder database (an array of folder records, each with its alias,
// items and rules) and as an array of rules. A malformed archive may only
// throw PlatformException; anything else, or a crash, is a fault.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "model/trash_folder.h"
#include "model/trash_rule.h"
#include "platform/exception.h"
#include "platform/keyed_archive.h"

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
  std::vector<TrashFolder> folders;
  bool decoded = false;
  try {
    decoded = unarchiveRootObjectArray(bytes, "TrashFolder", [&folders](KeyedDecoder& element) {
      folders.push_back(TrashFolder::fromCoder(element));
    });
  } catch (const PlatformException&) {
  }
  if (decoded) {
    // A run writes back what it read, and the next run must read that.
    const std::string written = archiveRootObjectArray(
        folders.size(), [&folders](size_t i) -> const ArchivableObject& { return folders[i]; });
    size_t reread = 0;
    try {
      unarchiveRootObjectArray(written, "TrashFolder", [&reread](KeyedDecoder& element) {
        TrashFolder::fromCoder(element);
        ++reread;
      });
    } catch (const PlatformException&) {
      fuzzFailure("a written folder database does not read");
    }
    if (reread != folders.size()) fuzzFailure("a written folder database lost records");
  }
  try {
    unarchiveRootObjectArray(bytes, "TrashRule",
                             [](KeyedDecoder& element) { TrashRule::fromCoder(element); });
  } catch (const PlatformException&) {
  }
  return 0;
}
