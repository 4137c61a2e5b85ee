// Writes the generated seeds of the fuzz targets: files as the tool itself
// writes them (a folder database, preferences, an alias record) and a
// configuration file that reaches every kind of key. Run once by hand:
//   build-fuzz/fuzz/make_fuzz_seeds fuzz/corpus
// The keyed-archive fixtures of tests/fixtures/ are seeds too; they are
// copied as they are.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "archive/keyed_archive.h"
#include "fs/alias_record.h"
#include "fuzz_support.h"
#include "model/trash_folder.h"
#include "model/trash_item.h"
#include "plist/property_list.h"
#include "plist/value.h"

using namespace sweeprun;

namespace {

void put(const std::string& corpus, const std::string& target, const std::string& name,
         const std::string& bytes) {
  std::filesystem::create_directories(corpus + "/" + target);
  writeScratchFile(corpus + "/" + target + "/" + name, bytes);
}

// A database as a run leaves it: two folders, one with a tracked entry and
// a name rule besides its default age rule.
std::string folderDatabase(const std::string& home) {
  std::filesystem::create_directories(home + "/Downloads/old");
  std::vector<TrashFolder> folders{TrashFolder::folderWithPath(), TrashFolder::folderWithPath()};
  folders[0].setPath(home + "/Downloads", process());
  folders[0].setItems(std::make_shared<ItemList>(
      ItemList{TrashItem::trashItemWithPath(home + "/Downloads/old", home, process().clock())}));
  TrashRule nameRule = TrashRule::trashRuleWithType(kNameRule);
  nameRule.setValue("name", Value::text(".dmg"));
  folders[0].rules().push_back(nameRule);
  folders[1].setPath(home + "/Missing", process());
  folders[1].setValue("temp", Value::boolean(true));
  return archiveRootObjectArray(
      folders.size(), [&folders](size_t i) -> const ArchivableObject& { return folders[i]; });
}

Value preferences() {
  return Value::dictionary(
      {{"LogToFile", Value::text("YES")},
       {"LogLimit", Value::text("100")},
       {"DateFormat", Value::text("%F %T")},
       {"Sweeprun.Fuzz", Value::integer(-3)},
       {"Seen", Value::array({Value::real(1.5), Value::boolean(false), Value::data("\x01\x02")})}});
}

// A configuration with every kind of root and folder key; "/tmp" exists
// wherever the fuzzers run, the second folder is a pattern.
const char kConfiguration[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>DataFile</key><string>/tmp/sweeprun-fuzz.data</string>
  <key>Description</key><string>seed</string>
  <key>FilesToIgnore</key><array><string>.DS_Store</string></array>
  <key>LogToFile</key><true/>
  <key>LogFileName</key><string>sweeprun.log</string>
  <key>LogLimit</key><integer>3</integer>
  <key>DateFormat</key><string>%F</string>
  <key>Folders</key>
  <array>
    <dict>
      <key>Path</key><string>/tmp</string>
      <key>Action</key><string>moveto:/tmp</string>
      <key>Disabled</key><false/>
      <key>MoveWithDate</key><true/>
      <key>NetworkDisk</key><false/>
      <key>MeetAllConditions</key><true/>
      <key>ReadMeFileName</key><string>README</string>
      <key>ReadMeText</key><string>x</string>
      <key>Conditions</key>
      <array>
        <string>delay: 3 days</string>
        <string>!name: *.tmp</string>
        <string>size: &lt; 10</string>
      </array>
    </dict>
    <dict>
      <key>Path</key><string>/nonexistent/*/cache</string>
      <key>Action</key><string>delete</string>
      <key>Condition</key><string>delay: 2 checks</string>
    </dict>
  </array>
</dict>
</plist>
)";

// An alias record for a folder inside the alias target's tree: its absolute
// path starts with the "/@" that the target reads as the tree's root.
std::string aliasRecord(const std::string& scratch) {
  const std::string base = scratch + "/tree/base";
  std::filesystem::create_directories(base + "/a/b/c");
  std::optional<std::string> record = makeAliasRecord(base + "/a/b", base);
  if (!record) fuzzFailure("cannot make an alias record");
  const std::string absolute = base + "/a/b";
  const size_t at = record->rfind(absolute);
  const std::string rebased = "/@/a/b";
  std::string out = record->substr(0, at - 4);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((rebased.size() >> (8 * i)) & 0xff));
  return out + rebased;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS-FOLDER\n", argv[0]);
    return 2;
  }
  const std::string corpus = argv[1];
  FuzzProcess process(/*checkMode=*/false);

  const std::string database = folderDatabase(process.context.homeDirectory);
  put(corpus, "keyed_archive_fuzzer", "folder-database.data", database);
  put(corpus, "binary_plist_fuzzer", "folder-database.data", database);

  const Value prefs = preferences();
  put(corpus, "preferences_fuzzer", "preferences.plist", writeBinaryPropertyList(prefs));
  put(corpus, "preferences_fuzzer", "preferences-xml.plist", writeXmlPropertyList(prefs));
  put(corpus, "binary_plist_fuzzer", "preferences.plist", writeBinaryPropertyList(prefs));
  put(corpus, "xml_plist_fuzzer", "preferences-xml.plist", writeXmlPropertyList(prefs));

  put(corpus, "config_fuzzer", "configuration.plist", kConfiguration);
  Value config;
  std::string error;
  if (!readPropertyList(kConfiguration, config, error)) fuzzFailure("the seed configuration");
  put(corpus, "config_fuzzer", "configuration-binary.plist", writeBinaryPropertyList(config));
  put(corpus, "config_fuzzer", "conditions.txt", "!name: *.tmp*");
  put(corpus, "xml_plist_fuzzer", "configuration.plist", kConfiguration);

  put(corpus, "alias_record_fuzzer", "alias-record.bin", aliasRecord(scratchFolder()));
  return 0;
}
