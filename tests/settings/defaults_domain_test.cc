#include "settings/defaults_domain.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "plist/property_list.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

namespace fs = std::filesystem;

class DefaultsDomainTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(home.file("Library/Preferences")); }

  std::string writeDomain(std::string_view domain, std::string_view bytes) {
    return home.write("Library/Preferences/" + std::string(domain) + ".plist", bytes);
  }
  Dictionary read(std::string_view domain, DomainReadStatus expected) {
    Dictionary values;
    std::string error;
    EXPECT_EQ(expected, readDefaultsDomain(home.path(), domain, values, error)) << error;
    return values;
  }

  TempDir home;
  const Dictionary sample{{"LogToFile", Value::boolean(true)}, {"LogLimit", Value::text("3")}};
};

TEST_F(DefaultsDomainTest, ReadsBinaryAndXmlDomains) {
  writeDomain("binary", writeBinaryPropertyList(Value::dictionary(sample)));
  writeDomain("xml", writeXmlPropertyList(Value::dictionary(sample)));
  EXPECT_EQ(sample, read("binary", DomainReadStatus::kRead));
  EXPECT_EQ(sample, read("xml", DomainReadStatus::kRead));
  EXPECT_TRUE(read("absent", DomainReadStatus::kMissing).empty());
}

TEST_F(DefaultsDomainTest, DamagedDomainsReadEmpty) {
  writeDomain("garbage", "not a property list at all");
  writeDomain("truncated", writeBinaryPropertyList(Value::dictionary(sample)).substr(0, 20));
  writeDomain("array", writeXmlPropertyList(Value::array({Value::text("LogToFile")})));
  writeDomain("empty", "");
  fs::create_directory(home.file("Library/Preferences/folder.plist"));
  for (const char* domain : {"garbage", "truncated", "array", "empty", "folder", "../escape", ""}) {
    SCOPED_TRACE(domain);
    EXPECT_TRUE(read(domain, DomainReadStatus::kDamaged).empty());
  }
}

TEST_F(DefaultsDomainTest, WriteCreatesThePreferencesFolderAndKeepsOtherKeys) {
  TempDir freshHome;
  std::string error;
  ASSERT_TRUE(
      writeDefaultsDomainValue(freshHome.path(), "d", "LogToFile", Value::boolean(true), error))
      << error;
  ASSERT_TRUE(
      writeDefaultsDomainValue(freshHome.path(), "d", "DateFormat", Value::text("%F"), error))
      << error;
  ASSERT_TRUE(writeDefaultsDomainValue(freshHome.path(), "d", "LogToFile", Value::none(), error));

  const std::string bytes = freshHome.read("Library/Preferences/d.plist");
  EXPECT_EQ(0u, bytes.rfind("bplist", 0)) << "a new domain file is binary";
  Dictionary values;
  EXPECT_EQ(DomainReadStatus::kRead, readDefaultsDomain(freshHome.path(), "d", values, error));
  EXPECT_EQ((Dictionary{{"DateFormat", Value::text("%F")}}), values);
}

TEST_F(DefaultsDomainTest, WriteKeepsAnXmlDomainXml) {
  writeDomain("xml", writeXmlPropertyList(Value::dictionary(sample)));
  std::string error;
  ASSERT_TRUE(writeDefaultsDomainValue(home.path(), "xml", "DateFormat", Value::text("%F"), error));
  EXPECT_EQ(std::string::npos, home.read("Library/Preferences/xml.plist").rfind("bplist", 0));
  Dictionary expected = sample;
  expected.set("DateFormat", Value::text("%F"));
  EXPECT_EQ(expected, read("xml", DomainReadStatus::kRead));
}

TEST_F(DefaultsDomainTest, WriteNeverReplacesADomainItCannotRead) {
  const std::string damaged = "<?xml version=\"1.0\"?><plist><dict><key>LogToFile</key>";
  writeDomain("damaged", damaged);
  std::string error;
  EXPECT_FALSE(
      writeDefaultsDomainValue(home.path(), "damaged", "DateFormat", Value::text("%F"), error));
  EXPECT_NE(std::string::npos, error.find("damaged.plist")) << error;
  EXPECT_EQ(damaged, home.read("Library/Preferences/damaged.plist"));
}

TEST_F(DefaultsDomainTest, WithoutAnAbsoluteHomeNothingIsReadOrWritten) {
  for (const char* noHome : {"", "relative/home"}) {
    SCOPED_TRACE(noHome);
    Dictionary values;
    std::string error;
    EXPECT_EQ(DomainReadStatus::kMissing, readDefaultsDomain(noHome, "d", values, error));
    EXPECT_FALSE(writeDefaultsDomainValue(noHome, "d", "DateFormat", Value::text("%F"), error));
  }
  EXPECT_FALSE(std::filesystem::exists("Library/Preferences/d.plist"));
}

}  // namespace
}  // namespace sweeprun
