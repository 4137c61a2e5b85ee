#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/trash_application.h"
#include "model/trash_rule.h"

namespace sweeprun {

/// The condition expression of the configuration file that reads back as
/// exactly |rule| ("delay: 2 weeks", "!name: Keep*", "size: > 1000000").
/// None, with the reason in |why|, for a rule no expression can state: a
/// disabled rule, an unknown kind, the unit "tune" 6, an age rule reversed
/// with "oppo", a name holding ":" or surrounding blanks, a negative number.
std::optional<std::string> conditionExpression(const TrashRule& rule, std::string& why);

/// A configuration file (an XML property list) that configures |folders| as
/// they are, with |dataFile| as its "DataFile". A rule that no expression
/// can state is left out; |warnings| then names the folder and the rule.
std::string exportConfiguration(const FolderList& folders, const std::string& dataFile,
                                std::vector<std::string>& warnings);

}  // namespace sweeprun
