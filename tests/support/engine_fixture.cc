#include "support/engine_fixture.h"

#include <algorithm>

#include "fs/path.h"
#include "support/fs_tree.h"

namespace sweeprun {

EngineTest::EngineTest() : now_(Date::fromUnix(kStartUnixSeconds)) {
  context_.homeDirectory = temp_.file("home");
  context_.userTrashPath = temp_.file("home/.local/share/Trash/files");
  context_.usersFolder = temp_.file("Users");
  context_.configPath = temp_.file("sweeprun.plist");
  context_.clock = [this] { return now_; };
  makeFolder(context_.homeDirectory);
  scope_.emplace(context_);
  logPath_ = temp_.file("run.log");
  log_.open(logPath_);
  context_.runLog = &log_;
}

EngineTest::~EngineTest() {
  context_.runLog = nullptr;
  log_.close();
}

std::string EngineTest::trashInfo() const {
  return joinPath(deletingLastPathComponent(trashFiles()), "info");
}

std::vector<std::string> EngineTest::newLogLines() {
  const std::string text = readText(logPath_).value_or("");
  std::vector<std::string> lines;
  size_t start = std::min(logRead_, text.size());
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  logRead_ = text.size();
  return lines;
}

std::vector<std::string> EngineTest::entryLines(const std::vector<std::string>& lines) {
  std::vector<std::string> entries;
  for (const std::string& line : lines) {
    if (line.size() < 3 || line[1] != ' ') continue;
    if (std::string_view("+ =->").find(line[0]) == std::string_view::npos) continue;
    entries.push_back(line);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

bool EngineTest::contains(const std::vector<std::string>& lines, std::string_view line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TrashFolder EngineTest::watching(const std::string& path, std::vector<TrashRule> rules,
                                 int64_t action) const {
  TrashFolder folder = TrashFolder::folderWithPath();
  folder.setPath(path, context_);
  folder.setRules(std::move(rules));
  folder.setValue("play", Value::integer(action));
  return folder;
}

TrashRule EngineTest::nameEndsWith(std::string_view suffix) {
  TrashRule rule = TrashRule::trashRuleWithType(kNameRule);
  rule.setValue("part", Value::integer(3));
  rule.setValue("name", Value::text(suffix));
  return rule;
}

std::optional<TrashItem> EngineTest::tracked(const TrashFolder& folder, std::string_view name) {
  if (!folder.items()) return std::nullopt;
  for (const TrashItem& item : *folder.items()) {
    if (lastPathComponent(item.path()) == name) return item;
  }
  return std::nullopt;
}

}  // namespace sweeprun
