#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "os/process.h"
#include "settings/trash_config_file_parser.h"

namespace sweeprun {

/// A scratch folder and a check-mode process context for configuration
/// files: standard output and error are captured, the home, users and
/// system data folders lie inside the scratch folder.
class ConfigTestEnv {
 public:
  ConfigTestEnv() {
    std::string templ = testing::TempDir() + "sweeprun-config-XXXXXX";
    if (!mkdtemp(templ.data())) ADD_FAILURE() << "mkdtemp failed";
    dir = templ;
    context.checkMode = true;
    context.homeDirectory = dir;
    context.usersFolder = dir + "/Users";
    context.systemDataFolder = dir + "/var-lib-sweeprun";
    context.out = &out;
    context.err = &err;
    scope_.emplace(context);
  }
  ~ConfigTestEnv() {
    scope_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  /// Creates the folder (and its parents) below the scratch folder.
  std::string makeDir(const std::string& relative) const {
    std::filesystem::create_directories(dir + "/" + relative);
    return dir + "/" + relative;
  }

  /// Writes an XML property list whose root element is |body|, with every
  /// "$DIR" replaced by the scratch folder; returns its path.
  std::string writeConfig(const std::string& body, const std::string& name = "config.plist") {
    std::string text = body;
    for (size_t at; (at = text.find("$DIR")) != std::string::npos;) text.replace(at, 4, dir);
    return writeBytes(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">" +
            text + "</plist>\n",
        name);
  }

  std::string writeBytes(const std::string& bytes, const std::string& name) const {
    const std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  /// The first line of standard output, with its line feed: an error's own
  /// line, without the line naming its folder entry.
  std::string firstLine() const {
    const std::string text = out.str();
    return text.substr(0, text.find('\n') + 1);
  }

  std::string dir;
  Process context;
  std::ostringstream out;
  std::ostringstream err;

 private:
  std::optional<ScopedProcess> scope_;
};

/// A root with a database path in the scratch folder and the given folder
/// entries (the inside of the "Folders" array), plus other root keys.
inline std::string configRoot(const std::string& folderEntries, const std::string& moreKeys = "") {
  return "<dict><key>DataFile</key><string>$DIR/db.data</string>" + moreKeys +
         "<key>Folders</key><array>" + folderEntries + "</array></dict>";
}

/// A folder entry watching the existing folder $DIR/watched, plus other keys.
inline std::string folderEntry(const std::string& moreKeys = "") {
  return "<dict><key>Path</key><string>$DIR/watched</string>" + moreKeys + "</dict>";
}

}  // namespace sweeprun
