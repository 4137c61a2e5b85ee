#pragma once

#include <string>
#include <vector>

namespace sweeprun {

class TrashConfigFileParser;

/// Reads the configuration file at |path| into |parser| as check mode does,
/// with its messages captured instead of printed. False with the fault in
/// |error| (and the folder entry that holds it on a line of its own, when
/// one does); true with the warnings check mode prints (each line ending in
/// a line feed) in |warnings|, when given.
bool readConfiguration(TrashConfigFileParser& parser, const std::string& path, std::string& error,
                       std::string* warnings = nullptr);

/// What check mode would refuse about |file|'s own place, owner and mode
/// before it reads a line, as notes: a candidate file is not yet where
/// system mode reads it.
std::vector<std::string> placeNotes(const std::string& file);

}  // namespace sweeprun
