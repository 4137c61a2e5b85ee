#include "archive/keyed_archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "os/exception.h"
#include "fs/file_io.h"
#include "plist/property_list.h"
#include "support/temp_dir.h"

namespace sweeprun {
namespace {

// The bytes of a committed fixture. A fixture that cannot be read fails the
// test with its path, rather than reading as an empty archive whose failure
// would point somewhere else.
std::string fixture(const std::string& name) {
  const std::string path = std::string(SWEEPRUN_FIXTURES_DIR) + "/keyed-archives/" + name;
  std::string bytes, error;
  if (!readFile(path, bytes, error))
    ADD_FAILURE() << "cannot read fixture " << name << ": " << error;
  return bytes;
}

// A record shaped like the folder database's: inline bytes, a dictionary and
// an optional array of child records.
struct TestRecord : ArchivableObject {
  std::string cls = "TrashFolder";
  std::string bytes;
  Value data;
  std::vector<TestRecord> children;

  std::string_view className() const override { return cls; }
  void encodeWithCoder(KeyedEncoder& coder) const override {
    if (cls == "TrashFolder") coder.encodeBytes("fink", bytes);
    coder.encodeValue(cls == "TrashFolder" ? "fdat" : cls == "TrashItem" ? "idat" : "rdat", data);
    if (!children.empty())
      coder.encodeObjectArray("fist", children.size(),
                              [this](size_t i) -> const ArchivableObject& { return children[i]; });
  }
};

std::string archive(const std::vector<TestRecord>& records) {
  return archiveRootObjectArray(records.size(),
                                [&](size_t i) -> const ArchivableObject& { return records[i]; });
}

std::vector<TestRecord> unarchive(std::string_view bytes, bool* found = nullptr) {
  std::vector<TestRecord> folders;
  const bool root = unarchiveRootObjectArray(bytes, "TrashFolder", [&](KeyedDecoder& coder) {
    TestRecord folder;
    folder.bytes = coder.decodeBytes("fink");
    folder.data = coder.decodeValue("fdat");
    coder.decodeObjectArray("fist", "TrashItem", [&](KeyedDecoder& itemCoder) {
      TestRecord item;
      item.cls = "TrashItem";
      item.data = itemCoder.decodeValue("idat");
      folder.children.push_back(item);
    });
    folders.push_back(folder);
  });
  if (found) *found = root;
  return folders;
}

TestRecord item(const std::string& path, uint64_t fnum) {
  TestRecord r;
  r.cls = "TrashItem";
  r.data = Value::dictionary({{"path", Value::text(path)},
                              {"fnum", Value::unsignedInteger(fnum)},
                              {"idat", Value::date(Date{700000000.25})},
                              {"hits", Value::unsignedInteger(3)}});
  return r;
}

void expectSame(const std::vector<TestRecord>& a, const std::vector<TestRecord>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(a[i].bytes, b[i].bytes);
    EXPECT_EQ(a[i].data, b[i].data);
    expectSame(a[i].children, b[i].children);
  }
}

// An archive assembled by hand from its "$objects".
std::string handMade(Array objects, Value top = Value::dictionary({{"root", Value::uid(1)}})) {
  return writeBinaryPropertyList(
      Value::dictionary({{"$version", Value::integer(100000)},
                         {"$archiver", Value::text("NSKeyedArchiver")},
                         {"$top", std::move(top)},
                         {"$objects", Value::array(std::move(objects))}}));
}

Value classDescription(std::string_view name, std::vector<std::string_view> chain) {
  Array classes;
  for (std::string_view c : chain) classes.push_back(Value::text(c));
  return Value::dictionary(
      {{"$classname", Value::text(name)}, {"$classes", Value::array(std::move(classes))}});
}

Value arrayObject(Array uids, uint64_t cls) {
  return Value::dictionary(
      {{"NS.objects", Value::array(std::move(uids))}, {"$class", Value::uid(cls)}});
}

TEST(KeyedArchiveTest, ExampleRuleDecodesIntoItsDictionary) {
  std::vector<Value> rules;
  ASSERT_TRUE(unarchiveRootObjectArray(
      fixture("example-rule.bplist"), "TrashRule",
      [&](KeyedDecoder& coder) { rules.push_back(coder.decodeValue("rdat")); }));
  ASSERT_EQ(1u, rules.size());
  EXPECT_EQ(Value::dictionary({{"type", Value::integer(1)},
                               {"ison", Value::boolean(true)},
                               {"name", Value::text(".dmg")},
                               {"part", Value::integer(3)}}),
            rules[0]);
}

TEST(KeyedArchiveTest, FoundationArchivesDecodeIntoTheirGraphs) {
  const Value keys = unarchivePlainGraph(fixture("uint64-key-dictionary.bin"));
  const Value& process = keys.dictionaryPtr()->get("40400");
  EXPECT_EQ(Value::integer(40400), process.dictionaryPtr()->get("pid"));
  EXPECT_EQ(Value::date(Date{625390557.003659}), process.dictionaryPtr()->get("time"));
  const Array& files = *process.dictionaryPtr()->get("disk.openfiles[]").arrayPtr();
  ASSERT_EQ(3u, files.size());
  EXPECT_EQ(Value::text("/dev/ttys001"), files[2].dictionaryPtr()->get("path"));

  const Value record = unarchivePlainGraph(fixture("XCActivityRecord.bin"));
  EXPECT_EQ(Value::text("XCActivityRecord"), record.dictionaryPtr()->get("$class"));
  EXPECT_EQ(Value::text("Suite Set Up"), record.dictionaryPtr()->get("title"));
  EXPECT_TRUE(record.dictionaryPtr()->get("finish").isNone());
  EXPECT_EQ(Value::array(), record.dictionaryPtr()->get("attachments"));
  EXPECT_EQ(
      16u,
      record.dictionaryPtr()->get("uuid").dictionaryPtr()->get("NS.uuidbytes").asData().size());

  const Value text = unarchivePlainGraph(fixture("NSMutableAttributedString.archive"));
  EXPECT_EQ(Value::text("0123456789"), text.dictionaryPtr()->get("NSString"));
  const Value times =
      Value::dictionary({{"Size", Value::integer(456)}, {"Font", Value::text("Times")}});
  EXPECT_EQ(Value::array({Value::dictionary({}),
                          Value::dictionary(
                              {{"Size", Value::integer(123)}, {"Font", Value::text("Helvetica")}}),
                          times, times}),
            text.dictionaryPtr()->get("NSAttributes"));
  EXPECT_EQ(12u, text.dictionaryPtr()->get("NSAttributeInfo").asData().size());

  const Value complex = unarchivePlainGraph(fixture("NSKeyedUnarchiver-ComplexTest.plist"));
  EXPECT_EQ(Value::array({Value(), Value::text("hello"), Value::integer(34545),
                          Value::dictionary({{"key", Value::text("val")}})}),
            complex.dictionaryPtr()->get("array"));
  EXPECT_EQ(
      Value::text("https://www.swift.org"),
      complex.dictionaryPtr()->get("url").dictionaryPtr()->get("NS.base").dictionaryPtr()->get(
          "NS.relative"));

  const Value angle = unarchivePlainGraph(fixture("NSMeasurement-Angle.archive"));
  EXPECT_EQ(Value::real(90.0), angle.dictionaryPtr()->get("NS.value"));
  EXPECT_EQ(Value::text("\xc2\xb0"),
            angle.dictionaryPtr()->get("NS.unit").dictionaryPtr()->get("NS.symbol"));

  const Value formatter = unarchivePlainGraph(fixture("DateIntervalFormatter-Default.archive"));
  const Dictionary& calendar = *formatter.dictionaryPtr()->get("NS.calendar").dictionaryPtr();
  EXPECT_EQ(Value::date(Date{-13197600000.0}), calendar.get("NS.gstartdate"));
  EXPECT_EQ(0u, calendar.get("NS.timezone").dictionaryPtr()->get("NS.data").asData().find("TZif2"));
}

TEST(KeyedArchiveTest, TopKeysOtherThanRootAndTheXmlForm) {
  const std::string primitives = fixture("primitives.bin");
  EXPECT_TRUE(unarchivePlainGraph(primitives).isNone());
  const struct {
    const char* key;
    Value expected;
  } kCases[] = {
      {"$0", Value::integer(1)},
      {"$3", Value::real(1.5)},
      {"$4", Value::data("asdfasdfadsfadsf")},
      {"$5", Value::boolean(true)},
      {"$8", Value::text("Hello, World!")},
      {"$11", Value::integer(42)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(c.expected, unarchivePlainGraph(primitives, c.key));
  }
  const std::string xml = fixture("arrays.xml");
  EXPECT_EQ(12u, unarchivePlainGraph(xml, "$0").arrayPtr()->size());
  EXPECT_EQ(Value::array({Value::boolean(true), Value::text("Hello, World!"), Value::integer(42)}),
            unarchivePlainGraph(xml, "$1"));
  EXPECT_EQ(Value::array({Value::boolean(true)}), unarchivePlainGraph(xml, "$2"));
}

TEST(KeyedArchiveTest, WritesTheObjectsInThePlatformsOrder) {
  TestRecord rule;
  rule.cls = "TrashRule";
  rule.data = Value::dictionary({{"type", Value::integer(1)},
                                 {"ison", Value::boolean(true)},
                                 {"name", Value::text(".dmg")},
                                 {"part", Value::integer(3)}});
  Value written;
  std::string error;
  ASSERT_TRUE(readPropertyList(archive({rule}), written, error)) << error;
  // The worked example of the format, object for object.
  const Value expected = Value::array({
      Value::text("$null"),
      arrayObject({Value::uid(2)}, 14),
      Value::dictionary({{"rdat", Value::uid(3)}, {"$class", Value::uid(13)}}),
      Value::dictionary(
          {{"NS.keys", Value::array({Value::uid(4), Value::uid(5), Value::uid(6), Value::uid(7)})},
           {"NS.objects",
            Value::array({Value::uid(8), Value::uid(9), Value::uid(10), Value::uid(11)})},
           {"$class", Value::uid(12)}}),
      Value::text("type"),
      Value::text("ison"),
      Value::text("name"),
      Value::text("part"),
      Value::integer(1),
      Value::boolean(true),
      Value::text(".dmg"),
      Value::integer(3),
      classDescription("NSMutableDictionary", {"NSMutableDictionary", "NSDictionary", "NSObject"}),
      classDescription("TrashRule", {"TrashRule", "NSObject"}),
      classDescription("NSMutableArray", {"NSMutableArray", "NSArray", "NSObject"}),
  });
  const Dictionary& outer = *written.dictionaryPtr();
  EXPECT_EQ(expected, outer.get("$objects"));
  EXPECT_EQ(Value::text("NSKeyedArchiver"), outer.get("$archiver"));
  EXPECT_EQ(Value::integer(100000), outer.get("$version"));
  EXPECT_EQ(Value::dictionary({{"root", Value::uid(1)}}), outer.get("$top"));
}

TEST(KeyedArchiveTest, RecordsRoundTrip) {
  TestRecord folder;
  folder.bytes = std::string("\0alias\xff", 7);
  folder.data = Value::dictionary({
      {"path", Value::text("/Users/\xc3\xa9t\xc3\xa9/Downloads")},
      {"last", Value::real(7.5e8)},
      {"ison", Value::boolean(true)},
      {"gran", Value::integer(-2)},
      {"ckin", Value::unsignedInteger((uint64_t{1} << 63) + 5)},
      {"none", Value()},
      {"list", Value::array({Value::text("a"), Value::array(), Value::dictionary({})})},
  });
  folder.children = {item("/Users/a/Downloads/x.dmg", 12), item("/Users/a/Downloads/y", 13)};
  TestRecord empty;  // no bytes, no items, data none
  std::vector<TestRecord> many(1, TestRecord());
  for (int i = 0; i < 40000; ++i) many[0].children.push_back(item("/p/" + std::to_string(i), i));

  const struct {
    const char* label;
    std::vector<TestRecord> records;
  } kCases[] = {{"no folders", {}}, {"two folders", {folder, empty}}, {"wide references", many}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::vector<TestRecord> expected = c.records;
    for (TestRecord& r : expected)
      if (Dictionary* d = r.data.dictionaryPtr()) d->remove("none");  // nil is left out
    bool found = false;
    expectSame(expected, unarchive(archive(c.records), &found));
    EXPECT_TRUE(found);
  }
}

// Many records whose dictionaries compete for the slots of the coders' fast
// paths: more keys than slots, key sets that change from record to record,
// and shared dates a slot apart.
std::vector<TestRecord> crowdedRecords() {
  std::vector<TestRecord> folders(1, TestRecord());
  for (int i = 0; i < 300; ++i) {
    Dictionary data;
    for (int k = i % 7; k < 90; k += 1 + i % 3)
      data.set("k" + std::to_string(k), Value::unsignedInteger(static_cast<uint64_t>(i * k)));
    data.set("when", Value::date(Date{700000000.0 + (i % 40) * 16}));
    data.set("text", Value::text("t" + std::to_string(i % 5)));
    TestRecord record;
    record.cls = "TrashItem";
    record.data = Value::dictionary(std::move(data));
    folders[0].children.push_back(std::move(record));
  }
  return folders;
}

TEST(KeyedArchiveTest, WriterFastPathsWriteEachKeyOnce) {
  const std::vector<TestRecord> records = crowdedRecords();
  const std::string bytes = archive(records);
  expectSame(records, unarchive(bytes));
  Value written;
  std::string error;
  ASSERT_TRUE(readPropertyList(bytes, written, error)) << error;
  const Value& objects = written.dictionaryPtr()->get("$objects");
  for (const char* key : {"k0", "k45", "k89", "when", "text"}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(1, std::count(objects.arrayPtr()->begin(), objects.arrayPtr()->end(),
                            Value::text(key)));
  }
}

// Collects what a decoder hands a visitor, as decodeValue would return it.
struct CollectingVisitor : DictionaryVisitor {
  Dictionary entries;
  void text(Key key, std::string_view text) override { entries.set(key, Value::text(text)); }
  void unsignedNumber(Key key, uint64_t number) override {
    entries.set(key, Value::unsignedInteger(number));
  }
  void date(Key key, Date date) override { entries.set(key, Value::date(date)); }
  void value(Key key, Value value) override { entries.set(key, std::move(value)); }
};

TEST(KeyedArchiveTest, ReaderFastPathsReadAsThePlainPath) {
  const std::string bytes = archive(crowdedRecords());
  int read = 0;
  unarchiveRootObjectArray(bytes, "TrashFolder", [&](KeyedDecoder& folder) {
    folder.decodeObjectArray("fist", "TrashItem", [&](KeyedDecoder& record) {
      SCOPED_TRACE(read);
      CollectingVisitor visited;
      ASSERT_TRUE(record.decodeDictionary("idat", visited));
      EXPECT_EQ(record.decodeValue("idat"), Value::dictionary(visited.entries));
      ++read;
    });
  });
  EXPECT_EQ(300, read);
}

TEST(KeyedArchiveTest, PlistlibReadsWhatWeWrite) {
  if (std::system("python3 -c 'import plistlib' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3 is not available";
  TestRecord folder;
  folder.bytes = "ab";
  folder.data = Value::dictionary({{"path", Value::text("/tmp/\xc3\xa9")}});
  folder.children = {item("/tmp/x", (uint64_t{1} << 63) + 5)};
  TempDir dir;
  const std::string path = dir.write("Sweeply.data", archive({folder}));
  const std::string output = dir.file("out.txt");
  const std::string command = "python3 '" + std::string(SWEEPRUN_SOURCE_DIR) +
                              "/tests/plist/plistlib_check.py' '" + path + "' > '" + output +
                              "' 2>&1";
  ASSERT_EQ(0, std::system(command.c_str())) << dir.read("out.txt");
  EXPECT_EQ(
      "classes NSDate,NSObject\n"
      "classes NSMutableArray,NSArray,NSObject\n"
      "classes NSMutableDictionary,NSDictionary,NSObject\n"
      "classes TrashFolder,NSObject\n"
      "classes TrashItem,NSObject\n"
      "root [{\"$class\": \"TrashFolder\", \"fdat\": {\"path\": \"/tmp/\\u00e9\"}, \"fink\": "
      "\"6162\", \"fist\": [{\"$class\": \"TrashItem\", \"idat\": {\"fnum\": "
      "9223372036854775813, \"hits\": 3, \"idat\": {\"NS.time\": 700000000.25}, \"path\": "
      "\"/tmp/x\"}}]}]\n",
      dir.read("out.txt"));
}

std::vector<TestRecord> manyItems(int count) {
  std::vector<TestRecord> folders(2, TestRecord());
  for (int i = 0; i < count; ++i)
    folders[i % 2].children.push_back(item("/p/" + std::to_string(i), i));
  return folders;
}

bool unarchiveFile(const std::string& path, std::vector<TestRecord>& folders, std::string& error,
                   const std::function<void()>& onEach = {}) {
  return unarchiveRootObjectArrayFromFile(
      path, "TrashFolder",
      [&](KeyedDecoder& coder) {
        if (onEach) onEach();
        TestRecord folder;
        folder.bytes = coder.decodeBytes("fink");
        folder.data = coder.decodeValue("fdat");
        folders.push_back(folder);
      },
      error);
}

TEST(KeyedArchiveTest, FileRoundTripStreamsTheArchiveAndMapsItBack) {
  // Far more objects than one window of the offset table holds, so that
  // entries of containers still open are put in place late.
  const std::vector<TestRecord> records = manyItems(20000);
  TempDir dir;
  const std::string path = dir.file("Sweeply.data");
  std::string error;
  ASSERT_TRUE(archiveRootObjectArrayToFile(
      path, records.size(), [&](size_t i) -> const ArchivableObject& { return records[i]; }, error))
      << error;
  EXPECT_TRUE(dir.read("Sweeply.data") == archive(records));

  std::vector<TestRecord> folders;
  ASSERT_TRUE(unarchiveFile(path, folders, error)) << error;
  EXPECT_EQ(2u, folders.size());

  if (std::system("python3 -c 'import plistlib' >/dev/null 2>&1") != 0) return;
  // An independent reader finds every object through the offset table.
  const std::string command =
      "python3 -c 'import plistlib,sys; a=plistlib.load(open(sys.argv[1],\"rb\")); "
      "print(len(a[\"$objects\"]))' '" +
      path + "' > '" + dir.file("count.txt") + "'";
  ASSERT_EQ(0, std::system(command.c_str()));
  EXPECT_GT(std::stoul(dir.read("count.txt")), 20000u * 4);
}

TEST(KeyedArchiveTest, FileThatYieldsNoRecordsSaysWhy) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("folder"));
  const struct {
    const char* label;
    std::string path;
    bool reasonGiven;
  } kCases[] = {
      {"missing", dir.file("missing"), true},
      {"a folder", dir.file("folder"), true},
      {"no root object",
       dir.write("noroot", handMade({Value::text("$null")}, Value::dictionary({}))), false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::vector<TestRecord> folders;
    std::string error = "earlier";
    EXPECT_FALSE(unarchiveFile(c.path, folders, error));
    EXPECT_EQ(c.reasonGiven, !error.empty()) << error;
  }
  const std::string text = dir.write("text", "just some text");
  std::vector<TestRecord> folders;
  std::string error;
  EXPECT_THROW(unarchiveFile(text, folders, error), PlatformException);
}

TEST(KeyedArchiveTest, FileCutShortWhileReadIsReportedNotDecoded) {
  const std::vector<TestRecord> records = manyItems(20000);
  TempDir dir;
  const std::string path = dir.write("Sweeply.data", archive(records));
  std::vector<TestRecord> folders;
  std::string error;
  EXPECT_FALSE(
      unarchiveFile(path, folders, error, [&] { std::filesystem::resize_file(path, 4096); }));
  EXPECT_NE(std::string::npos, error.find("cut short")) << error;
}

// Encodes one more character each time it is asked.
struct GrowingRecord : ArchivableObject {
  mutable std::string text;
  std::string_view className() const override { return "TrashFolder"; }
  void encodeWithCoder(KeyedEncoder& coder) const override {
    text += "x";
    coder.encodeValue("fdat", Value::text(text));
  }
};

TEST(KeyedArchiveTest, RecordsThatChangeWhileWrittenLeaveTheOldFile) {
  TempDir dir;
  const std::string path = dir.write("Sweeply.data", "old");
  const GrowingRecord record;
  std::string error;
  EXPECT_THROW(archiveRootObjectArrayToFile(
                   path, 1, [&](size_t) -> const ArchivableObject& { return record; }, error),
               PlatformException);
  EXPECT_EQ("old", dir.read("Sweeply.data"));
  const auto entries = std::distance(std::filesystem::directory_iterator(dir.path()),
                                     std::filesystem::directory_iterator());
  EXPECT_EQ(1, entries);  // no temporary file left behind
}

TEST(KeyedArchiveTest, ForwardAndSharedReferences) {
  // The root array lists a folder whose dictionary comes after it and is
  // also the dictionary of a second folder.
  const std::string bytes = handMade({
      Value::text("$null"),
      arrayObject({Value::uid(3), Value::uid(4)}, 2),
      classDescription("NSArray", {"NSArray", "NSObject"}),
      Value::dictionary({{"fdat", Value::uid(6)}, {"$class", Value::uid(5)}}),
      Value::dictionary({{"fdat", Value::uid(6)}, {"$class", Value::uid(5)}}),
      classDescription("TrashFolder", {"TrashFolder", "NSObject"}),
      Value::dictionary({{"NS.keys", Value::array({Value::uid(8)})},
                         {"NS.objects", Value::array({Value::uid(9)})},
                         {"$class", Value::uid(7)}}),
      classDescription("NSDictionary", {"NSDictionary", "NSObject"}),
      Value::text("path"),
      Value::dictionary({{"NS.string", Value::text("/a")}, {"$class", Value::uid(10)}}),
      classDescription("NSMutableString", {"NSMutableString", "NSString", "NSObject"}),
  });
  const std::vector<TestRecord> folders = unarchive(bytes);
  ASSERT_EQ(2u, folders.size());
  EXPECT_EQ(Value::dictionary({{"path", Value::text("/a")}}), folders[0].data);
  EXPECT_EQ(folders[0].data, folders[1].data);
}

TEST(KeyedArchiveTest, AnArchiveWithoutRootHasNoFolders) {
  const std::string bytes = handMade({Value::text("$null")}, Value::dictionary({}));
  EXPECT_FALSE(unarchiveRootObjectArray(bytes, "TrashFolder", [](KeyedDecoder&) { FAIL(); }));
  const std::string nilRoot =
      handMade({Value::text("$null")}, Value::dictionary({{"root", Value::uid(0)}}));
  EXPECT_FALSE(unarchiveRootObjectArray(nilRoot, "TrashFolder", [](KeyedDecoder&) { FAIL(); }));
}

TEST(KeyedArchiveTest, MalformedArchivesAreRefused) {
  const Value folderClass = classDescription("TrashFolder", {"TrashFolder", "NSObject"});
  const Value arrayClass = classDescription("NSMutableArray", {"NSMutableArray", "NSObject"});
  Value wrongArchiver;
  std::string error;
  ASSERT_TRUE(readPropertyList(handMade({Value::text("$null")}), wrongArchiver, error));
  wrongArchiver.dictionaryPtr()->set("$archiver", Value::text("NSArchiver"));
  Value noObjects = wrongArchiver;
  noObjects.dictionaryPtr()->set("$archiver", Value::text("NSKeyedArchiver"));
  noObjects.dictionaryPtr()->remove("$objects");
  Value noTop = noObjects;
  noTop.dictionaryPtr()->set("$objects", Value::array({Value::text("$null")}));
  noTop.dictionaryPtr()->remove("$top");

  const struct {
    const char* label;
    std::string bytes;
  } kCases[] = {
      {"not a property list", "hello"},
      {"root not a dictionary", writeBinaryPropertyList(Value::array())},
      {"other archiver", writeBinaryPropertyList(wrongArchiver)},
      {"no $objects", writeBinaryPropertyList(noObjects)},
      {"no $top", writeBinaryPropertyList(noTop)},
      {"root out of range", handMade({Value::text("$null")})},
      {"element out of range",
       handMade({Value::text("$null"), arrayObject({Value::uid(9)}, 2), arrayClass})},
      {"folder whose items are the folder list",
       handMade({Value::text("$null"), arrayObject({Value::uid(3)}, 2), arrayClass,
                 Value::dictionary({{"fist", Value::uid(1)}, {"$class", Value::uid(4)}}),
                 folderClass})},
      {"root is a record", handMade({Value::text("$null"),
                                     Value::dictionary({{"$class", Value::uid(2)}}), folderClass})},
      {"element of another class",
       handMade({Value::text("$null"), arrayObject({Value::uid(3)}, 2), arrayClass,
                 Value::dictionary({{"$class", Value::uid(4)}}),
                 classDescription("TrashRule", {"TrashRule", "NSObject"})})},
      {"element is a string", handMade({Value::text("$null"), arrayObject({Value::uid(3)}, 2),
                                        arrayClass, Value::text("x")})},
      {"bytes where data belongs",
       handMade({Value::text("$null"), arrayObject({Value::uid(3)}, 2), arrayClass,
                 Value::dictionary({{"fink", Value::text("x")}, {"$class", Value::uid(4)}}),
                 folderClass})},
      {"unknown class where a value belongs",
       handMade({Value::text("$null"), arrayObject({Value::uid(3)}, 2), arrayClass,
                 Value::dictionary({{"fdat", Value::uid(5)}, {"$class", Value::uid(4)}}),
                 folderClass, Value::dictionary({{"$class", Value::uid(4)}})})},
      {"dictionary that contains itself",
       handMade(
           {Value::text("$null"), arrayObject({Value::uid(3)}, 2), arrayClass,
            Value::dictionary({{"fdat", Value::uid(5)}, {"$class", Value::uid(4)}}), folderClass,
            Value::dictionary({{"NS.keys", Value::array({Value::uid(7)})},
                               {"NS.objects", Value::array({Value::uid(5)})},
                               {"$class", Value::uid(6)}}),
            classDescription("NSDictionary", {"NSDictionary", "NSObject"}), Value::text("k")})},
      {"object without a class",
       handMade({Value::text("$null"), Value::dictionary({{"NS.objects", Value::array()}})})},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_THROW(unarchive(c.bytes), PlatformException);
  }
  const std::string selfContaining =
      handMade({Value::text("$null"), arrayObject({Value::uid(1)}, 2), arrayClass});
  EXPECT_THROW(unarchivePlainGraph(selfContaining), PlatformException);
}

TEST(KeyedArchiveTest, DamagedArchivesNeverCrash) {
  TestRecord folder;
  folder.bytes = "alias";
  folder.data = Value::dictionary({{"path", Value::text("/a")}, {"last", Value::real(1)}});
  folder.children = {item("/a/b", 1), item("/a/\xc3\xa9", 2)};
  for (const std::string& good : {archive({folder}), fixture("example-rule.bplist")}) {
    for (size_t length = 0; length < good.size(); ++length)
      EXPECT_THROW(unarchive(good.substr(0, length)), PlatformException) << length;
    for (size_t i = 0; i < good.size(); ++i) {
      for (int mask : {0x01, 0x04, 0x80, 0xFF}) {
        std::string damaged = good;
        damaged[i] = static_cast<char>(damaged[i] ^ mask);
        try {
          unarchive(damaged);
        } catch (const PlatformException&) {
        }
      }
    }
  }
}

}  // namespace
}  // namespace sweeprun
