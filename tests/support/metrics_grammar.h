#pragma once

#include <map>
#include <string>

namespace sweeprun {

/// A metrics file read by the grammar of Prometheus' text format, version
/// 0.0.4: "# HELP" and "# TYPE" lines, samples "name{label="value",...} value"
/// with an optional timestamp, other comments and empty lines; every line
/// ends in a line feed.
struct ParsedMetrics {
  /// The first fault, with its line number; empty when the text is valid.
  std::string error;
  /// Each sample's value by its series: the name, then the labels in the
  /// order given, as "name{a=\"x\",b=\"y\"}" with the values unescaped.
  std::map<std::string, double> samples;
  /// The type each family declared.
  std::map<std::string, std::string> types;
  /// The series that carried a timestamp.
  std::map<std::string, std::string> timestamps;
};

/// Parses |text|. Beyond the line grammar it checks what a scraper refuses:
/// one TYPE per family, before its samples; one HELP per family; the
/// samples of a family together; no series twice; label names unique
/// within a sample; "_total" only on counters.
ParsedMetrics parseMetricsText(const std::string& text);

/// The series key for |name| with one label |label|="|value|".
std::string seriesKey(const std::string& name, const std::string& label = "",
                      const std::string& value = "");

}  // namespace sweeprun
