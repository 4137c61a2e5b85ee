#pragma once

#include <string>
#include <string_view>

namespace sweeprun {

/// A fresh directory under the test's temporary folder, removed with
/// everything in it when the object goes. Removal never follows a symbolic
/// link out of the directory, and folders a test made read-only are opened
/// up first so that they can be emptied.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  /// The path of |name| inside the directory.
  std::string file(std::string_view name) const;

  /// Writes |bytes| to |name| inside the directory, replacing it; returns its path.
  std::string write(std::string_view name, std::string_view bytes) const;
  /// The content of |name| inside the directory; empty when it cannot be read.
  std::string read(std::string_view name) const;

 private:
  std::string path_;
};

}  // namespace sweeprun
