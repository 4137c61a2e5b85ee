#include "companion/preview.h"

#include <gtest/gtest.h>

#include "companion/json_text.h"
#include "companion_test_env.h"
#include "engine/trash_collector.h"
#include "fs/file_io.h"
#include "support/fs_tree.h"

namespace sweeprun {
namespace {

class PreviewTest : public CompanionTest {
 protected:
  // One real run, with what it decided.
  Value run() {
    PreviewRecorder recorder;
    TrashApplication application;
    RunOptions options;
    options.application = &application;
    options.observers = {&recorder};
    TrashCollector collector(process(), std::move(options));
    collector.run();
    now_.seconds += 60;
    return recorder.result();
  }
  std::string databaseBytes() const {
    std::string bytes, error;
    readFile(databasePath(), bytes, error);
    return bytes;
  }
};

TEST_F(PreviewTest, AgreesWithTheNextRunAndTouchesNothing) {
  const std::string inbox = folder("Inbox"), other = folder("Other"), archive = folder("Archive");
  ASSERT_EQ(0, sweeply({"add", inbox, "--condition", "name: *.tmp", "--condition",
                        "delay: 1 checks", "--any"}));
  ASSERT_EQ(0, sweeply({"add", other, "--condition", "name: *.tmp", "--action", "moveto:" + archive,
                        "--dated"}));
  const std::string third = folder("Third");
  ASSERT_EQ(0, sweeply({"add", third, "--condition", "name: *.tmp"}));
  ASSERT_EQ(0, sweeply({"add", folder("Off"), "--disabled"}));
  writeText(inbox + "/keep.txt", "kept for a while");
  writeText(inbox + "/changing.txt", "one");
  makeFolder(inbox + "/folder.tmp");
  run();
  run();
  // What the third run meets: a new entry whose name is taken in the Trash
  // (twice over, by two folders of one run), a changed one, and entries of
  // the second folder bound for a dated folder.
  writeText(inbox + "/new.tmp", "new");
  writeText(other + "/new.tmp", "also new");
  writeText(third + "/new.tmp", "new here too");
  writeText(*context_.userTrashPath + "/new.tmp", "already in the Trash");
  writeText(inbox + "/changing.txt", "two, longer");

  const std::string databaseBefore = databaseBytes();
  ASSERT_EQ(0, sweeply({"preview", "--json"})) << err();
  const std::string preview = out();
  EXPECT_EQ(databaseBefore, databaseBytes());
  EXPECT_TRUE(entryExists(inbox + "/new.tmp"));
  EXPECT_TRUE(entryExists(other + "/new.tmp"));

  const std::string decided = jsonText(run());
  EXPECT_EQ(decided, preview);
  EXPECT_NE(std::string::npos, preview.find("new copy 2.tmp")) << preview;
  EXPECT_NE(std::string::npos, preview.find("\"decision\": \"startOver\"")) << preview;
  EXPECT_NE(std::string::npos, preview.find("\"reason\": \"not enabled\"")) << preview;
}

TEST_F(PreviewTest, NamedFolderOnly) {
  const std::string a = folder("A"), b = folder("B");
  ASSERT_EQ(0, sweeply({"add", a}));
  ASSERT_EQ(0, sweeply({"add", b}));
  writeText(b + "/x", "x");
  ASSERT_EQ(0, sweeply({"preview", b}));
  EXPECT_EQ(b + "\n  take in      x\n  0 entries would be removed.\n", out());
  EXPECT_EQ(kCompanionFailure, sweeply({"preview", folder("C")}));
}

}  // namespace
}  // namespace sweeprun
