#include "support/metrics_grammar.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <set>
#include <vector>

namespace sweeprun {

namespace {

bool isNameStart(char c, bool colonAllowed) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || (colonAllowed && c == ':');
}
bool isNameChar(char c, bool colonAllowed) {
  return isNameStart(c, colonAllowed) || std::isdigit(static_cast<unsigned char>(c));
}

// Reads a metric name (colons allowed) or a label name (none) at |at|.
bool readName(const std::string& line, size_t& at, bool colonAllowed, std::string& name) {
  if (at >= line.size() || !isNameStart(line[at], colonAllowed)) return false;
  const size_t start = at;
  while (at < line.size() && isNameChar(line[at], colonAllowed)) ++at;
  name = line.substr(start, at - start);
  return true;
}

// A float as Go's ParseFloat reads it, or NaN, +Inf, -Inf.
bool readValue(const std::string& text, double& value) {
  if (text == "NaN" || text == "+Inf" || text == "-Inf" || text == "Inf") {
    value = text == "NaN" ? NAN : (text[0] == '-' ? -INFINITY : INFINITY);
    return true;
  }
  if (text.empty()) return false;
  for (const char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.' && c != 'e' && c != 'E' &&
        c != '+' && c != '-')
      return false;
  }
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size();
}

bool isInteger(const std::string& text) {
  size_t at = text[0] == '-' ? 1 : 0;
  if (at >= text.size()) return false;
  for (; at < text.size(); ++at)
    if (!std::isdigit(static_cast<unsigned char>(text[at]))) return false;
  return true;
}

// Reads the label set at |at| (on the "{") into |labels|: "a=\"x\",b=\"y\"".
bool readLabels(const std::string& line, size_t& at, std::string& labels, std::string& fault) {
  ++at;  // "{"
  std::set<std::string> names;
  while (at < line.size() && line[at] != '}') {
    std::string name;
    if (!readName(line, at, false, name)) {
      fault = "a label name";
      return false;
    }
    if (!names.insert(name).second) {
      fault = "label '" + name + "' twice";
      return false;
    }
    if (at + 1 >= line.size() || line[at] != '=' || line[at + 1] != '"') {
      fault = "=\" after a label name";
      return false;
    }
    at += 2;
    std::string value;
    for (;; ++at) {
      if (at >= line.size()) {
        fault = "an end to a label value";
        return false;
      }
      if (line[at] == '"') break;
      if (line[at] == '\\') {
        if (++at >= line.size()) break;
        if (line[at] == 'n') {
          value.push_back('\n');
        } else if (line[at] == '\\' || line[at] == '"') {
          value.push_back(line[at]);
        } else {
          fault = "a known escape in a label value";
          return false;
        }
      } else {
        value.push_back(line[at]);
      }
    }
    ++at;  // the closing quote
    if (!labels.empty()) labels.push_back(',');
    labels += name + "=\"" + value + "\"";
    if (at < line.size() && line[at] == ',') ++at;
  }
  if (at >= line.size()) {
    fault = "a closing brace";
    return false;
  }
  ++at;  // "}"
  return true;
}

}  // namespace

std::string seriesKey(const std::string& name, const std::string& label, const std::string& value) {
  if (label.empty()) return name;
  return name + "{" + label + "=\"" + value + "\"}";
}

ParsedMetrics parseMetricsText(const std::string& text) {
  ParsedMetrics parsed;
  if (!text.empty() && text.back() != '\n') {
    parsed.error = "the last line does not end in a line feed";
    return parsed;
  }
  std::set<std::string> helped, finished;
  std::string currentFamily;
  size_t number = 0;
  size_t start = 0;
  auto fail = [&](const std::string& what) {
    parsed.error = "line " + std::to_string(number) + ": " + what;
    return parsed;
  };
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (line.empty()) continue;
    if (line[0] == '#') {
      // "# HELP name text", "# TYPE name type"; any other comment is free.
      const bool help = line.rfind("# HELP ", 0) == 0, type = line.rfind("# TYPE ", 0) == 0;
      if (!help && !type) continue;
      size_t at = 7;
      std::string name;
      if (!readName(line, at, true, name)) return fail("no metric name after HELP or TYPE");
      if (at < line.size() && line[at] != ' ') return fail("junk after the metric name");
      const std::string rest = at < line.size() ? line.substr(at + 1) : std::string();
      if (help) {
        if (!helped.insert(name).second) return fail("a second HELP for " + name);
        continue;
      }
      static const std::set<std::string> kTypes = {"counter", "gauge", "histogram", "summary",
                                                   "untyped"};
      if (!kTypes.count(rest)) return fail("an unknown type '" + rest + "'");
      if (parsed.types.count(name)) return fail("a second TYPE for " + name);
      if (finished.count(name) || currentFamily == name)
        return fail("TYPE after samples of " + name);
      parsed.types[name] = rest;
      continue;
    }
    size_t at = 0;
    std::string name;
    if (!readName(line, at, true, name)) return fail("a sample without a metric name");
    std::string labels;
    std::string fault;
    if (at < line.size() && line[at] == '{' && !readLabels(line, at, labels, fault)) {
      return fail("expected " + fault);
    }
    if (at >= line.size() || line[at] != ' ') return fail("no space before the value");
    const std::string fields = line.substr(at + 1);
    const size_t space = fields.find(' ');
    double value = 0;
    if (!readValue(fields.substr(0, space), value)) return fail("a value that is no number");
    const std::string series = labels.empty() ? name : name + "{" + labels + "}";
    if (space != std::string::npos) {
      const std::string timestamp = fields.substr(space + 1);
      if (!isInteger(timestamp)) return fail("a timestamp that is no integer");
      parsed.timestamps[series] = timestamp;
    }
    if (name != currentFamily) {
      if (finished.count(name)) return fail("samples of " + name + " apart from each other");
      if (!currentFamily.empty()) finished.insert(currentFamily);
      currentFamily = name;
    }
    const auto type = parsed.types.find(name);
    const bool counter = type != parsed.types.end() && type->second == "counter";
    if (name.size() > 6 && name.compare(name.size() - 6, 6, "_total") == 0 && !counter)
      return fail(name + " ends in _total but is no counter");
    if (!parsed.samples.emplace(series, value).second) return fail("a second sample of " + series);
  }
  return parsed;
}

}  // namespace sweeprun
