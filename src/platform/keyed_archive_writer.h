#pragma once

#include <cstddef>
#include <string>

#include "platform/keyed_archive.h"

namespace sweeprun {

/// Writes |count| records as the root array of a keyed archive in binary
/// form. Objects are numbered as the platform's archiver numbers them
/// (depth-first, a class description after the first object of its class);
/// dictionary key strings and class descriptions are written once.
///
/// Works in two passes over the records: the first counts objects and
/// bytes, the second writes straight into an output buffer of the exact
/// size, so memory beyond the result stays small. Records must encode the
/// same way both times; if they do not, throws PlatformException rather than
/// return a damaged archive.
std::string writeKeyedArchive(size_t count, const ObjectAt& element);

}  // namespace sweeprun
