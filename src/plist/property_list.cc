#include "plist/property_list.h"

#include "plist/binary_plist.h"
#include "plist/xml_plist.h"

namespace sweeprun {

bool readPropertyList(std::string_view bytes, Value& out, std::string& error) {
  if (BinaryPlistView::hasMagic(bytes)) return readBinaryPropertyList(bytes, out, error);
  if (bytes.compare(0, 6, "bplist") == 0) {
    error = "unsupported binary property list version";
    return false;
  }
  return readXmlPropertyList(bytes, out, error);
}

}  // namespace sweeprun
