#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "os/process.h"

namespace sweeprun {

/// The bytes libFuzzer hands to a target, as a view.
inline std::string_view fuzzInput(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

/// A folder of the target's own, made once per process below $TMPDIR (or
/// /tmp) and removed when the process exits. Everything a target writes
/// goes below it.
const std::string& scratchFolder();

/// Writes |bytes| to |path| (inside the scratch folder), replacing it.
/// Aborts when the write fails: a target that cannot set up its input
/// would only report noise.
void writeScratchFile(const std::string& path, std::string_view bytes);

/// A process context for a target: the home and users folders lie in the
/// scratch folder, and standard output and error go nowhere (the system log
/// is still called, as the tool would). Installed for the process's lifetime.
class FuzzProcess {
 public:
  explicit FuzzProcess(bool checkMode);
  FuzzProcess(const FuzzProcess&) = delete;
  FuzzProcess& operator=(const FuzzProcess&) = delete;

  Process context;

 private:
  std::ostream discard_{nullptr};
  ScopedProcess scope_;
};

/// Stops the run with a message when a property the target checks fails;
/// libFuzzer records the input as a crash.
[[noreturn]] void fuzzFailure(const char* what);

}  // namespace sweeprun
