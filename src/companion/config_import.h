#pragma once

#include <string>
#include <vector>

#include "model/trash_application.h"
#include "settings/trash_config_file_parser.h"

namespace sweeprun {

/// What importing a configuration file did to the folder list.
struct ImportOutcome {
  size_t updated = 0;  // folders already watched: the file's settings, their history kept
  size_t added = 0;    // folders that were not watched yet
  std::vector<std::string> warnings;
};

/// Merges the folders that |parser| read from a configuration file into
/// |stored|, with the merge of system mode: a configured folder takes over
/// the history of the stored folder of its path (a pattern folder, of every
/// stored folder its pattern matches). Unlike system mode, stored folders
/// the file does not name stay, in their places; a folder already watched
/// is replaced where it stands, and new folders go to the end. A pattern
/// that matches nothing is left out with a warning, except a plain path
/// marked "NetworkDisk", which is added as it is.
ImportOutcome importConfiguredFolders(TrashConfigFileParser& parser, FolderList& stored);

}  // namespace sweeprun
