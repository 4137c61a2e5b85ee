// Reads the bytes as a property list through the reader that tells binary
// from XML. Whatever reads must write back as XML and read again, and a
// second write must give the same text: XML preferences stay XML when the
// tool stores a value into them.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "plist/property_list.h"
#include "plist/xml_plist.h"

using namespace sweeprun;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Value value;
  std::string error;
  if (!readPropertyList(fuzzInput(data, size), value, error)) return 0;

  const std::string written = writeXmlPropertyList(value);
  Value reread;
  if (!readXmlPropertyList(written, reread, error)) fuzzFailure("a written XML list does not read");
  if (writeXmlPropertyList(reread) != written) fuzzFailure("a rewritten XML list changed");
  return 0;
}
