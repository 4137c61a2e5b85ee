// Puts the bytes where the tool's own preferences live and reads them as
// user mode does. A file that reads must take a stored value, keep its
// other keys and read again afterwards; a damaged one must never be
// overwritten.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "settings/defaults_domain.h"
#include "plist/value.h"
#include "settings/settings_keys.h"
#include "settings/user_defaults.h"

using namespace sweeprun;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzProcess process(/*checkMode=*/false);
  static const std::string home = process.context.homeDirectory;
  static const std::string path = [] {
    std::filesystem::create_directories(home + "/Library/Preferences");
    return defaultsDomainPath(home, kToolDomain);
  }();
  writeScratchFile(path, fuzzInput(data, size));

  Dictionary before;
  std::string error;
  const DomainReadStatus status = readDefaultsDomain(home, kToolDomain, before, error);

  const UserDefaults defaults(process.context, {"sweeprun", "-LogToFile", "NO"});
  for (std::string_view key : {kLogToFile, kDateFormat, std::string_view("Sweeprun.Fuzz")}) {
    defaults.objectForKey(key);
    defaults.stringForKey(key);
  }

  const std::string_view key = "Sweeprun.Fuzz";
  const bool stored = writeDefaultsDomainValue(home, kToolDomain, key, Value::integer(7), error);
  if (status == DomainReadStatus::kDamaged) {
    if (stored) fuzzFailure("a damaged preferences file was overwritten");
    return 0;
  }
  if (!stored) fuzzFailure("a readable preferences file did not take a value");
  Dictionary after;
  if (readDefaultsDomain(home, kToolDomain, after, error) != DomainReadStatus::kRead)
    fuzzFailure("a rewritten preferences file does not read");
  const Value* value = after.find(key);
  if (!value || !(*value == Value::integer(7))) fuzzFailure("a stored preference was lost");
  // Every other key with a value must still be there (a key holding the
  // binary form's null object has none and is not written back).
  for (const auto& [otherKey, otherValue] : before) {
    if (!otherValue.isNone() && !after.contains(otherKey.text()))
      fuzzFailure("storing a preference lost another key");
  }
  return 0;
}
