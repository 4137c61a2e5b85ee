#include "settings/trash_config_file_parser.h"

namespace sweeprun {

const std::array<std::string_view, 21> TrashConfigFileParser::xmlKeys = {
    "MoveWithDate",  "Disabled",       "NetworkDisk",     "ReadMeFileName",
    "ReadMeText",    "MeetAllConditions", "Action",       "Path",
    "Condition",     "Conditions",     "Description",     "FilesToIgnore",
    "DateFormat",    "UseGrowl",       "GrowlnotifyPath", "DisabledGrowlMessages",
    "LogToFile",     "LogFileName",    "LogLimit",        "Folders",
    "DataFile",
};

const std::array<std::string_view, 6> TrashConfigFileParser::tlxKeys = {
    "data.datf", "data.ison", "data.temp", "data.rfil", "data.rtxt", "data.gran",
};

TrashConfigFileParser::TrashConfigFileParser()
    : data_{{"DateFormat", Value::text("%F")},
            {"UseGrowl", Value::boolean(true)},
            {"GrowlnotifyPath", Value::text("/usr/local/bin/growlnotify")},
            {"DisabledGrowlMessages", Value::text("396")},
            {"LogToFile", Value::text("NO")},
            {"LogFileName", Value::text("/var/log/sweeply.log")},
            {"LogLimit", Value::text("0")}} {}

Value TrashConfigFileParser::objectForKey(std::string_view key) const { return data_.get(key); }

std::optional<std::string> TrashConfigFileParser::stringForKey(std::string_view key) const {
  const Value& value = data_.get(key);
  if (!value.isText()) return std::nullopt;
  return std::string(value.asText());
}

void TrashConfigFileParser::setObject(const Value& value, std::string_view key) {
  data_.set(key, value);
}

bool TrashConfigFileParser::parse(const std::string& /*path*/) { return false; }

void TrashConfigFileParser::merge(FolderList* /*stored*/) {}

}  // namespace sweeprun
