#pragma once

#include <cstddef>

#include "archive/keyed_archive.h"

namespace sweeprun {

class ByteSink;

/// Writes |count| records as the root array of a keyed archive in binary
/// form into |sink|. Objects are numbered as the platform's archiver numbers
/// them (depth-first, a class description after the first object of its
/// class); dictionary key strings and class descriptions are written once.
///
/// Works in two passes over the records: the first counts objects and
/// bytes, the second appends the objects to the sink through a fixed-size
/// buffer and puts their offset-table entries in place through bounded
/// windows, so memory stays small and independent of the archive's size.
/// A failed write is the sink's to report. Records must encode the same way
/// both times; if they do not, throws PlatformException rather than finish a
/// damaged archive.
void writeKeyedArchive(ByteSink& sink, size_t count, const ObjectAt& element);

}  // namespace sweeprun
