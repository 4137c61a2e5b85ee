#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace sweeprun {

namespace {

namespace fs = std::filesystem;

// Gives the owner full access to every folder below |directory| (links are
// not followed), so that a test that took write access away cannot make the
// clean-up fail.
void openUpFolders(const fs::path& directory) {
  std::error_code ec;
  fs::permissions(directory, fs::perms::owner_all, fs::perm_options::add, ec);
  std::vector<fs::path> folders;
  for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->symlink_status(ec).type() == fs::file_type::directory) folders.push_back(it->path());
  }
  for (const fs::path& folder : folders) openUpFolders(folder);
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = ::testing::TempDir();
  if (pattern.empty() || pattern.back() != '/') pattern.push_back('/');
  pattern += "sweeprun-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp(" << pattern << ") failed";
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  openUpFolders(path_);
  std::error_code ec;
  fs::remove_all(path_, ec);  // remove_all removes links, never their targets
}

std::string TempDir::file(std::string_view name) const { return path_ + "/" + std::string(name); }

std::string TempDir::write(std::string_view name, std::string_view bytes) const {
  const std::string target = file(name);
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << target;
  return target;
}

std::string TempDir::read(std::string_view name) const {
  std::ifstream in(file(name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace sweeprun
