#include "companion/json_text.h"

#include <charconv>
#include <cmath>

#include "log/terminal_text.h"

namespace sweeprun {

namespace {

void appendText(std::string& out, std::string_view text) {
  out += '"';
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (size_t length = utf8SequenceLength(text, i)) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    } else {
      out += "\xEF\xBF\xBD";
    }
    ++i;
  }
  out += '"';
}

void appendNumber(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void appendDate(std::string& out, Date date) {
  // "2014-05-01 10:00:00 +0000" in UTC becomes "2014-05-01T10:00:00Z".
  std::string text = standardDateText(date);
  if (text.size() >= 19) {
    text = text.substr(0, 19);
    text[10] = 'T';
    text += 'Z';
  }
  appendText(out, text);
}

void appendValue(std::string& out, const Value& value, int depth) {
  const std::string indent(static_cast<size_t>(depth) * 2, ' ');
  const std::string inner(static_cast<size_t>(depth + 1) * 2, ' ');
  switch (value.kind()) {
    case Value::Kind::kBoolean:
      out += value.asBool() ? "true" : "false";
      return;
    case Value::Kind::kInteger:
      out += std::to_string(value.asInteger());
      return;
    case Value::Kind::kUnsigned:
      out += std::to_string(value.asUnsigned());
      return;
    case Value::Kind::kReal:
      appendNumber(out, value.asReal());
      return;
    case Value::Kind::kText:
      appendText(out, value.asText());
      return;
    case Value::Kind::kDate:
      appendDate(out, value.asDate());
      return;
    case Value::Kind::kArray: {
      const Array& elements = *value.arrayPtr();
      if (elements.empty()) {
        out += "[]";
        return;
      }
      out += "[\n";
      for (size_t i = 0; i < elements.size(); ++i) {
        out += inner;
        appendValue(out, elements[i], depth + 1);
        out += i + 1 < elements.size() ? ",\n" : "\n";
      }
      out += indent + "]";
      return;
    }
    case Value::Kind::kDictionary: {
      const Dictionary& entries = *value.dictionaryPtr();
      if (entries.empty()) {
        out += "{}";
        return;
      }
      out += "{\n";
      size_t i = 0;
      for (const auto& [key, element] : entries) {
        out += inner;
        appendText(out, key.text());
        out += ": ";
        appendValue(out, element, depth + 1);
        out += ++i < entries.size() ? ",\n" : "\n";
      }
      out += indent + "}";
      return;
    }
    default:
      out += "null";
      return;
  }
}

}  // namespace

std::string jsonText(const Value& value) {
  std::string out;
  appendValue(out, value, 0);
  out += '\n';
  return out;
}

void setFileText(Dictionary& entry, std::string_view key, std::string_view text) {
  entry.set(key, Value::text(text));
  bool utf8 = true;
  for (size_t i = 0; i < text.size() && utf8;) {
    const size_t length = utf8SequenceLength(text, i);
    utf8 = length > 0;
    i += length;
  }
  if (utf8) return;
  static const char kHex[] = "0123456789ABCDEF";
  std::string bytes;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c > 0x20 && c < 0x7F && c != '%') {
      bytes += ch;
    } else {
      bytes += {'%', kHex[c >> 4], kHex[c & 0xF]};
    }
  }
  entry.set(std::string(key) + "Bytes", Value::text(bytes));
}

}  // namespace sweeprun
