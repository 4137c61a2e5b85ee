#pragma once

#include <string>
#include <vector>

#include "model/trash_application.h"
#include "model/trash_folder.h"
#include "platform/date.h"

namespace sweeprun {

/// One run of the tool over the folder list: read the folder database, check
/// every folder that is due, save the database.
class TrashCollector {
 public:
  /// Names skipped in every folder, before the configured ones.
  static const std::vector<std::string> kBuiltInIgnoreNames;
  /// Conversions of the time of day that "DateFormat" must not hold.
  static const std::vector<std::string> kTimeSpecifiers;

  void setSafe(TrashApplication* application) { safe = application; }

  /// Performs the run. True when the folder list held at least one folder
  /// when the walk began. Exceptions from decoding the database leave the run
  /// at once, before anything is saved.
  bool run();

  /// Examines one due folder: tracks, tests and removes its entries.
  void checkFolder(TrashFolder& folder);

  /// Reads the folder database of the current mode into the application.
  void readDB();
  /// Writes the application's folder list back to the same place.
  void saveDB();

 private:
  std::string databasePath() const;
  void repairDateFormat();

  TrashApplication* safe = nullptr;
  Date start;
  std::vector<std::string> vips;
};

}  // namespace sweeprun
