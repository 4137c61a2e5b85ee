// Reads the bytes as a binary property list. Whatever reads must write back
// and read again, and a second write must give the same bytes as the first:
// the tool rewrites the lists it reads.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "plist/binary_plist.h"
#include "plist/property_list.h"

using namespace sweeprun;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Value value;
  std::string error;
  if (!readBinaryPropertyList(fuzzInput(data, size), value, error)) return 0;

  const std::string written = writeBinaryPropertyList(value);
  Value reread;
  if (!readBinaryPropertyList(written, reread, error)) fuzzFailure("a written list does not read");
  if (writeBinaryPropertyList(reread) != written) fuzzFailure("a rewritten list changed");
  return 0;
}
