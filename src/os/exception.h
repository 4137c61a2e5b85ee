#pragma once

#include <stdexcept>
#include <string>

namespace sweeprun {

/// The one exception type of the project. It is thrown only where the
/// platform would raise (an archive that cannot be decoded, a malformed
/// object graph) and caught only by the entry point, which reports
/// "Died with exception: <reason>" and ends with status 1.
class PlatformException : public std::runtime_error {
 public:
  explicit PlatformException(const std::string& reason) : std::runtime_error(reason) {}
};

}  // namespace sweeprun
