// Resolves the bytes as an alias record. Resolving reads the file system
// (it looks for a moved folder near its recorded place), so the paths a
// record holds are confined to a tree in the scratch folder: a record path
// must start with "/@", which stands for that tree, and must not climb out
// with "..". Records that name anything else are refused as inputs, which
// keeps every run reading the same few folders. Whatever resolves must lie
// in the tree.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "fs/alias_record.h"

using namespace sweeprun;

namespace {

// The record layout up to the two length-prefixed paths: "SWAL", version,
// device, inode, birth time and the has-relative flag.
constexpr size_t kPathsOffset = 4 + 1 + 8 + 8 + 8 + 1;
constexpr std::string_view kRootMark = "/@";

bool climbs(std::string_view path) { return path.find("..") != std::string_view::npos; }

uint32_t lengthAt(std::string_view bytes, size_t at) {
  uint32_t length = 0;
  for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(bytes[at + i]);
  return length;
}

void putLength(std::string& out, size_t length) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((length >> (8 * i)) & 0xff));
}

// The record with "/@" in its absolute path replaced by |root|; none when the
// record's paths could reach outside |root|. Bytes that are not laid out as
// a record (they resolve only by the stored path) pass unchanged.
std::optional<std::string> confined(std::string_view bytes, const std::string& root) {
  if (bytes.substr(0, 4) != "SWAL" || bytes.size() < kPathsOffset + 4) return std::string(bytes);
  const uint32_t relativeLength = lengthAt(bytes, kPathsOffset);
  const size_t absoluteAt = kPathsOffset + 4 + size_t{relativeLength} + 4;
  if (absoluteAt > bytes.size()) return std::string(bytes);
  const std::string_view relative = bytes.substr(kPathsOffset + 4, relativeLength);
  const uint32_t absoluteLength = lengthAt(bytes, absoluteAt - 4);
  const std::string_view absolute = bytes.substr(absoluteAt, absoluteLength);
  if (climbs(relative) || climbs(absolute) || relative.substr(0, 1) == "/") return std::nullopt;
  if (absolute.substr(0, kRootMark.size()) != kRootMark ||
      (absolute.size() > kRootMark.size() && absolute[kRootMark.size()] != '/'))
    return std::nullopt;
  std::string out(bytes.substr(0, absoluteAt - 4));
  const std::string rebased = root + std::string(absolute.substr(kRootMark.size()));
  putLength(out, rebased.size());
  out += rebased;
  out += bytes.substr(absoluteAt + absolute.size());
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The tree: the base folder holds "a/b/c"; the root mark stands for the
  // base, so a record's parent and grandparent folders stay inside the
  // scratch folder.
  static const std::string base = [] {
    const std::string folder = scratchFolder() + "/tree/base";
    std::filesystem::create_directories(folder + "/a/b/c");
    std::filesystem::create_directories(folder + "/moved");
    return folder;
  }();
  const std::optional<std::string> record = confined(fuzzInput(data, size), base);
  if (!record) return -1;

  const AliasResolution resolution = resolveAliasRecord(*record, base, base + "/a");
  if (resolution.resultCode == 0 &&
      resolution.path.compare(0, scratchFolder().size(), scratchFolder()) != 0)
    fuzzFailure("an alias resolved outside the folders it names");
  return 0;
}
