#include "plist/xml_fault.h"

#include <vector>

namespace sweeprun {
namespace {

// Lines and columns of offsets met in increasing order.
class Positions {
 public:
  explicit Positions(std::string_view text) : text_(text) {}
  std::string at(size_t offset) {
    for (; counted_ < offset && counted_ < text_.size(); ++counted_) {
      if (text_[counted_] == '\n') {
        ++line_;
        column_ = 1;
      } else {
        ++column_;
      }
    }
    return "line " + std::to_string(line_) + ", column " + std::to_string(column_);
  }

 private:
  std::string_view text_;
  size_t counted_ = 0, line_ = 1, column_ = 1;
};

struct OpenElement {
  std::string name;
  std::string where;
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string xmlNestingFault(std::string_view xml) {
  size_t start = 0;
  while (start < xml.size() && isBlank(xml[start])) ++start;
  if (start == xml.size()) return "the file is empty";
  if (xml[start] != '<') return "the file is not a property list (neither XML nor binary)";

  Positions positions(xml);
  std::vector<OpenElement> open;
  for (size_t i = xml.find('<', start); i != std::string_view::npos; i = xml.find('<', i + 1)) {
    const std::string_view rest = xml.substr(i);
    // Comments, character data, declarations and instructions hold no
    // elements.
    std::string_view closer;
    if (rest.compare(0, 4, "<!--") == 0) {
      closer = "-->";
    } else if (rest.compare(0, 9, "<![CDATA[") == 0) {
      closer = "]]>";
    } else if (rest.compare(0, 2, "<?") == 0) {
      closer = "?>";
    } else if (rest.compare(0, 2, "<!") == 0) {
      closer = ">";
    }
    if (!closer.empty()) {
      const size_t end = xml.find(closer, i + 2);
      if (end == std::string_view::npos) return positions.at(i) + ": this markup is never closed";
      i = end;
      continue;
    }
    const size_t close = xml.find('>', i);
    if (close == std::string_view::npos)
      return positions.at(i) + ": this tag is never closed with '>'";
    const bool closing = rest.size() > 1 && rest[1] == '/';
    size_t nameEnd = i + (closing ? 2 : 1);
    while (nameEnd < close && !isBlank(xml[nameEnd]) && xml[nameEnd] != '/') ++nameEnd;
    const std::string name(xml.substr(i + (closing ? 2 : 1), nameEnd - i - (closing ? 2 : 1)));
    if (!closing) {
      if (xml[close - 1] != '/') open.push_back({name, positions.at(i)});
    } else if (open.empty()) {
      return positions.at(i) + ": </" + name + "> closes no open element";
    } else if (open.back().name != name) {
      return positions.at(i) + ": expected </" + open.back().name + "> (for the <" +
             open.back().name + "> at " + open.back().where + "), found </" + name + ">";
    } else {
      open.pop_back();
    }
    i = close;
  }
  if (!open.empty())
    return "the <" + open.back().name + "> at " + open.back().where + " is never closed";
  return {};
}

}  // namespace sweeprun
