// Feeds the bytes to the system-mode configuration reader as the file it
// checks (check mode: faults are reported on the discarded standard
// output), and to the condition parser as one condition text, a budget
// and a minimum age. A file the
// reader accepts must name a database and some folders.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz_support.h"
#include "model/trash_rule.h"
#include "settings/condition_parser.h"
#include "settings/trash_config_file_parser.h"

using namespace sweeprun;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzProcess process(/*checkMode=*/true);
  static const std::string path = [] {
    // Seeds watch this folder, so that their folder entries get past the
    // glob and into the rules.
    std::filesystem::create_directories(scratchFolder() + "/watched");
    return scratchFolder() + "/config.plist";
  }();

  TrashRule rule;
  std::string error;
  parseCondition(fuzzInput(data, size), rule, error);
  uint64_t bytes = 0;
  if (parseBudgetSize(fuzzInput(data, size), bytes, error)) byteCountText(bytes);
  double seconds = 0;
  if (parseBudgetAge(fuzzInput(data, size), seconds, error)) budgetAgeText(seconds);

  writeScratchFile(path, fuzzInput(data, size));
  TrashConfigFileParser parser(process.context);
  if (parser.parse(path)) {
    if (!parser.dbPath()) fuzzFailure("an accepted configuration names no database");
    if (!parser.folders() || parser.folders()->empty())
      fuzzFailure("an accepted configuration names no folders");
    FolderList stored;
    parser.merge(&stored);
  }
  return 0;
}
