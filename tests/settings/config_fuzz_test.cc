// Feeds damaged and random configuration files to the reader: it must never
// crash, and whatever it accepts must name a database and some folders.

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "fs/file_io.h"
#include "plist/property_list.h"
#include "settings/config_test_env.h"
#include "settings/trash_config_file_parser.h"

namespace sweeprun {
namespace {

constexpr int kSamplesPerShape = 200;

class ConfigFuzzTest : public testing::Test {
 protected:
  void SetUp() override { env.makeDir("watched"); }

  void parseBytes(const std::string& bytes) {
    env.out.str("");
    TrashConfigFileParser parser(env.context);
    if (parser.parse(env.writeBytes(bytes, "fuzz.plist"))) {
      EXPECT_TRUE(parser.dbPath());
      ASSERT_TRUE(parser.folders());
      EXPECT_FALSE(parser.folders()->empty());
      EXPECT_EQ("", env.out.str());
    } else {
      EXPECT_EQ(0u, env.out.str().rfind("Error: ", 0)) << env.out.str();
    }
  }

  // A valid file that reaches every branch of the walk.
  Value richConfig() {
    const std::string path = env.writeConfig(configRoot(
        folderEntry("<key>Action</key><string>moveto:/tmp</string><key>Disabled</key><false/>"
                    "<key>MoveWithDate</key><true/><key>ReadMeText</key><string>x</string>"
                    "<key>Conditions</key><array><string>delay: 3 days</string>"
                    "<string>!name: *.tmp</string><string>size: &lt; 10</string></array>") +
            folderEntry("<key>Condition</key><string>delay: 2 checks</string>"),
        "<key>FilesToIgnore</key><array><string>.x</string></array>"
        "<key>LogLimit</key><integer>3</integer><key>Description</key><string>d</string>"));
    std::string bytes, error;
    Value root;
    EXPECT_TRUE(readFile(path, bytes, error) && readPropertyList(bytes, root, error)) << error;
    return root;
  }

  ConfigTestEnv env;
  std::mt19937 random{20240607};
};

TEST_F(ConfigFuzzTest, DamagedFilesNeverCrashTheReader) {
  const Value root = richConfig();
  for (const std::string& original : {writeXmlPropertyList(root), writeBinaryPropertyList(root)}) {
    parseBytes(original);
    std::uniform_int_distribution<size_t> place(0, original.size() - 1);
    for (int i = 0; i < kSamplesPerShape; ++i) {
      parseBytes(original.substr(0, place(random)));
      std::string flipped = original;
      for (int flips = 1 + i % 8; flips > 0; --flips)
        flipped[place(random)] ^= static_cast<char>(1u << (random() % 8));
      parseBytes(flipped);
    }
  }
}

// Well-formed files with the vocabulary's keys in random places and of
// random kinds exercise the walk rather than the property-list reader.
TEST_F(ConfigFuzzTest, RandomlyShapedConfigurationsNeverCrashTheReader) {
  const auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  std::function<Value(int)> randomValue = [&](int depth) -> Value {
    static const char* const kTexts[] = {
        "$DIR/watched", "$DIR/db.data", "delay: 3 days", "name: *", "moveto:", "delete", "",
        "size: > 1",    "$DIR/*",       "/nonexistent/x"};
    switch (pick(depth > 3 ? 4 : 6)) {
      case 0:
        return Value::boolean(pick(2));
      case 1:
        return Value::integer(static_cast<int64_t>(pick(5)) - 1);
      case 2:
        return Value::real(0.5);
      case 3: {
        std::string text = kTexts[pick(std::size(kTexts))];
        if (size_t at = text.find("$DIR"); at != std::string::npos) text.replace(at, 4, env.dir);
        return Value::text(text);
      }
      case 4: {
        Array elements;
        for (size_t n = pick(4); n > 0; --n) elements.push_back(randomValue(depth + 1));
        return Value::array(std::move(elements));
      }
      default: {
        Dictionary entries;
        for (size_t n = pick(5); n > 0; --n) {
          const size_t code = pick(TrashConfigFileParser::xmlKeys.size() + 1);
          const std::string_view key = code < TrashConfigFileParser::xmlKeys.size()
                                           ? TrashConfigFileParser::xmlKeys[code]
                                           : "Foo";
          entries.set(key, randomValue(depth + 1));
        }
        return Value::dictionary(std::move(entries));
      }
    }
  };
  for (int i = 0; i < kSamplesPerShape; ++i) {
    Value root = randomValue(0);
    if (Dictionary* dict = root.dictionaryPtr()) {
      // Give most samples what a valid file needs, so they get deep.
      if (i % 4) dict->set("DataFile", Value::text(env.dir + "/db.data"));
      if (i % 3) {
        Array folders{randomValue(2),
                      Value::dictionary({{"Path", Value::text(env.dir + "/watched")}})};
        dict->set("Folders", Value::array(std::move(folders)));
      }
    }
    parseBytes(writeXmlPropertyList(root));
  }
}

}  // namespace
}  // namespace sweeprun
