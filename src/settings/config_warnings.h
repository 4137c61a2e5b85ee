#pragma once

#include <string>
#include <vector>

namespace sweeprun {

class TrashConfigFileParser;

/// What a configuration file that passed its checks still gets wrong in all
/// likelihood, for check mode and the tools that check like it (each a
/// sentence, without "Warning: "): a "Path" that matches nothing now, which
/// runs pass over without a word, and a "MetricsFile" whose folder only
/// root can read, so that no exporter running as its own account reads it.
/// |parser| has parsed the file, and not yet been merged.
std::vector<std::string> configurationWarnings(const TrashConfigFileParser& parser);

}  // namespace sweeprun
