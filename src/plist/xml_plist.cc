#include "plist/xml_plist.h"

#include <plist/plist.h>

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "plist/binary_plist.h"
#include "plist/property_list.h"
#include "plist/xml_fault.h"

// libplist 2.2 is used for XML only; its binary writer is quadratic. Its
// pitfalls, and how this file meets them:
// - Failure shows only as a NULL result, and its parser is lenient (a key
//   without a value is dropped), so callers validate structure themselves.
// - It has one integer type of 64 raw bits. A node parsed from a value above
//   2^63-1 remembers that it is unsigned, which the API does not expose; its
//   own XML writer still prints it unsigned, so that text decides. Nodes for
//   such values are made by parsing a one-value document.
// - Its date API is 32-bit seconds; dates are made from and, when out of that
//   range, read from their XML text instead. Fractions of a second are lost.
// - "CF$UID" dictionaries are not converted to UIDs (the keyed-archive
//   reader does that).
// - Its recursive parser has no depth limit; the text is checked first.

namespace sweeprun {

namespace {

struct NodeDeleter {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using NodePtr = std::unique_ptr<void, NodeDeleter>;

std::string nodeXml(plist_t node) {
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(node, &xml, &length);
  if (!xml) return {};
  std::string text(xml, length);
  plist_to_xml_free(xml);
  return text;
}

plist_t nodeFromXml(const std::string& element) {
  const std::string document = "<plist version=\"1.0\">" + element + "</plist>";
  plist_t node = nullptr;
  plist_from_xml(document.data(), static_cast<uint32_t>(document.size()), &node);
  return node;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

// "<date>YYYY-MM-DDTHH:MM:SSZ</date>" for whole seconds since 2001.
std::string dateElement(double seconds) {
  double whole = std::floor(seconds);
  if (!(whole > -1e14 && whole < 1e14)) whole = 0;  // beyond any calendar we print
  const int64_t unix = static_cast<int64_t>(whole) + static_cast<int64_t>(Date::kUnixOffset);
  const int64_t days = (unix >= 0 ? unix : unix - 86399) / 86400;
  const int64_t secs = unix - days * 86400;
  int64_t y;
  unsigned m, d;
  civilFromDays(days, y, m, d);
  char buffer[80];
  std::snprintf(buffer, sizeof buffer, "<date>%04" PRId64 "-%02u-%02uT%02d:%02d:%02dZ</date>", y, m,
                d, static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                static_cast<int>(secs % 60));
  return buffer;
}

// The date of a node whose 32-bit reading overflowed, from its XML text.
double dateFromXml(plist_t node) {
  const std::string xml = nodeXml(node);
  const size_t at = xml.find("<date>");
  long long y = 0;
  unsigned mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (at == std::string::npos ||
      std::sscanf(xml.c_str() + at + 6, "%lld-%u-%uT%u:%u:%u", &y, &mo, &d, &h, &mi, &s) != 6 ||
      mo < 1 || mo > 12 || d < 1 || d > 31 || y < -1000000 || y > 1000000)
    return 0;
  const int64_t days = daysFromCivil(y, mo, d);
  return static_cast<double>(days * 86400 + h * 3600 + mi * 60 + s) - Date::kUnixOffset;
}

bool looksUnsigned(plist_t node) { return nodeXml(node).find("<integer>-") == std::string::npos; }

bool toValue(plist_t node, int depth, Value& out, std::string& error) {
  if (depth > kMaxPlistDepth) {
    error = "property list nested too deeply";
    return false;
  }
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node, &b);
      out = Value::boolean(b != 0);
      return true;
    }
    case PLIST_UINT: {
      uint64_t u = 0;
      plist_get_uint_val(node, &u);
      const bool fitsSigned = u <= static_cast<uint64_t>(INT64_MAX);
      out = !fitsSigned && looksUnsigned(node) ? Value::unsignedInteger(u)
                                               : Value::integer(static_cast<int64_t>(u));
      return true;
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      out = Value::real(d);
      return true;
    }
    case PLIST_STRING:
    case PLIST_KEY: {
      uint64_t length = 0;
      const char* p = plist_get_string_ptr(node, &length);
      out = Value::text(p ? std::string_view(p, length) : std::string_view());
      return true;
    }
    case PLIST_DATA: {
      uint64_t length = 0;
      const char* p = plist_get_data_ptr(node, &length);
      out = Value::data(p ? std::string_view(p, length) : std::string_view());
      return true;
    }
    case PLIST_DATE: {
      int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      const bool overflowed = sec == INT32_MIN || sec == INT32_MAX;
      out = Value::date(Date{overflowed ? dateFromXml(node) : static_cast<double>(sec)});
      return true;
    }
    case PLIST_UID: {
      uint64_t u = 0;
      plist_get_uid_val(node, &u);
      out = Value::uid(u);
      return true;
    }
    case PLIST_ARRAY: {
      const uint32_t n = plist_array_get_size(node);
      Array elements;
      elements.reserve(n);
      for (uint32_t i = 0; i < n; ++i) {
        Value element;
        if (!toValue(plist_array_get_item(node, i), depth + 1, element, error)) return false;
        elements.push_back(std::move(element));
      }
      out = Value::array(std::move(elements));
      return true;
    }
    case PLIST_DICT: {
      if (plist_dict_get_size(node) > kMaxDictionaryEntries) {
        error = "property list dictionary has too many entries";
        return false;
      }
      Dictionary entries;
      entries.reserve(plist_dict_get_size(node));
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      bool ok = true;
      for (;;) {
        char* key = nullptr;
        plist_t child = nullptr;
        plist_dict_next_item(node, it, &key, &child);
        if (!child) {
          std::free(key);
          break;
        }
        Value element;
        ok = toValue(child, depth + 1, element, error);
        if (ok) entries.set(std::string_view(key ? key : ""), std::move(element));
        std::free(key);
        if (!ok) break;
      }
      std::free(it);
      if (!ok) return false;
      out = Value::dictionary(std::move(entries));
      return true;
    }
    default:
      out = Value();
      return true;
  }
}

plist_t toNode(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::kBoolean:
      return plist_new_bool(v.asBool());
    case Value::Kind::kInteger:
      return plist_new_uint(static_cast<uint64_t>(v.asInteger()));
    case Value::Kind::kUnsigned:
      if (v.asUnsigned() <= static_cast<uint64_t>(INT64_MAX)) return plist_new_uint(v.asUnsigned());
      return nodeFromXml("<integer>" + std::to_string(v.asUnsigned()) + "</integer>");
    case Value::Kind::kReal:
      return plist_new_real(v.asReal());
    case Value::Kind::kDate:
      return nodeFromXml(dateElement(v.asDate().seconds));
    case Value::Kind::kText:
      return plist_new_string(std::string(v.asText()).c_str());
    case Value::Kind::kData:
      return plist_new_data(v.asData().data(), v.asData().size());
    case Value::Kind::kUid:
      return plist_new_uid(v.asUid());
    case Value::Kind::kArray: {
      plist_t array = plist_new_array();
      for (const Value& e : *v.arrayPtr())
        if (plist_t child = toNode(e)) plist_array_append_item(array, child);
      return array;
    }
    case Value::Kind::kDictionary: {
      plist_t dict = plist_new_dict();
      for (const auto& e : *v.dictionaryPtr())
        if (plist_t child = toNode(e.second)) plist_dict_set_item(dict, e.first.str().c_str(), child);
      return dict;
    }
    default:
      return nullptr;
  }
}

// The deepest nesting of <array> and <dict> elements, skipping comments and
// character data sections, so that the parser never recurses past our limit.
int nestingDepth(std::string_view xml) {
  int depth = 0, deepest = 0;
  for (size_t i = xml.find('<'); i != std::string_view::npos; i = xml.find('<', i + 1)) {
    const std::string_view rest = xml.substr(i);
    if (rest.compare(0, 4, "<!--") == 0) {
      i = xml.find("-->", i);
    } else if (rest.compare(0, 9, "<![CDATA[") == 0) {
      i = xml.find("]]>", i);
    } else if (rest.compare(0, 6, "<array") == 0 || rest.compare(0, 5, "<dict") == 0) {
      const size_t close = xml.find('>', i);
      if (close != std::string_view::npos && xml[close - 1] != '/') deepest = std::max(deepest, ++depth);
    } else if (rest.compare(0, 7, "</array") == 0 || rest.compare(0, 6, "</dict") == 0) {
      --depth;
    }
    if (i == std::string_view::npos) break;
  }
  return deepest;
}

}  // namespace

bool readXmlPropertyList(std::string_view bytes, Value& out, std::string& error) {
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.remove_prefix(3);
  if (bytes.size() > UINT32_MAX) {
    error = "property list too large";
    return false;
  }
  if (nestingDepth(bytes) > kMaxPlistDepth) {
    error = "property list nested too deeply";
    return false;
  }
  plist_t root = nullptr;
  plist_from_xml(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  if (!root) {
    // The parser tells no place; the nesting of the tags often does.
    const std::string fault = xmlNestingFault(bytes);
    error = "not a well-formed property list";
    if (!fault.empty()) error += ": " + fault;
    return false;
  }
  NodePtr owner(root);
  return toValue(root, 0, out, error);
}

std::string writeXmlPropertyList(const Value& root) {
  NodePtr node(root.isNone() ? plist_new_dict() : toNode(root));
  return nodeXml(static_cast<plist_t>(node.get()));
}

}  // namespace sweeprun
