#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fs/mapped_file.h"

namespace sweeprun {

namespace {

void removeScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(scratchFolder(), ignored);
}

}  // namespace

const std::string& scratchFolder() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/sweeprun-fuzz-XXXXXX";
    if (!mkdtemp(templ.data())) fuzzFailure("cannot make the scratch folder");
    return templ;
  }();
  static const bool cleanup = [] { return std::atexit(removeScratchFolder) == 0; }();
  (void)cleanup;
  return folder;
}

void writeScratchFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) fuzzFailure("cannot write an input file into the scratch folder");
}

FuzzProcess::FuzzProcess(bool checkMode) : context(), scope_(context) {
  installMappedFileGuard();
  context.checkMode = checkMode;
  context.homeDirectory = scratchFolder() + "/home";
  context.usersFolder = scratchFolder() + "/Users";
  context.out = &discard_;
  context.err = &discard_;
  std::filesystem::create_directories(context.homeDirectory);
  std::filesystem::create_directories(context.usersFolder);
}

void fuzzFailure(const char* what) {
  std::fprintf(stderr, "fuzz target: %s\n", what);
  std::abort();
}

}  // namespace sweeprun
