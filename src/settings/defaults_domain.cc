#include "settings/defaults_domain.h"

#include "fs/file_io.h"
#include "fs/path.h"
#include "plist/property_list.h"

namespace sweeprun {

namespace {

constexpr unsigned kPreferencesFileMode = 0600;
constexpr unsigned kPreferencesFolderMode = 0700;

// A domain name becomes a file name: it must not reach outside the
// preferences folder.
bool isValidDomainName(std::string_view domain) {
  return !domain.empty() && domain != "." && domain != ".." &&
         domain.find('/') == std::string_view::npos && domain.find('\0') == std::string_view::npos;
}

// Without an absolute home folder the preferences would land relative to the
// working folder.
bool isUsableHome(std::string_view homeDirectory) {
  return !homeDirectory.empty() && homeDirectory[0] == '/';
}

std::string preferencesFolder(std::string_view homeDirectory) {
  return joinPath(joinPath(homeDirectory, "Library"), "Preferences");
}

// Reads the file at |path| when it exists. |bytes| keeps what was read, so
// that a rewrite can keep the file's format.
DomainReadStatus readDomainFile(const std::string& path, Dictionary& values, std::string& bytes,
                                std::string& error) {
  values = Dictionary();
  bytes.clear();
  if (!entryExists(path, error))
    return error.empty() ? DomainReadStatus::kMissing : DomainReadStatus::kDamaged;
  if (!readFile(path, bytes, error)) return DomainReadStatus::kDamaged;
  Value root;
  std::string reason;
  if (!readPropertyList(bytes, root, reason)) {
    error = path + ": not a property list (" + reason + ")";
    return DomainReadStatus::kDamaged;
  }
  Dictionary* dictionary = root.dictionaryPtr();
  if (!dictionary) {
    error = path + ": the root of the property list is not a dictionary";
    return DomainReadStatus::kDamaged;
  }
  values = std::move(*dictionary);
  return DomainReadStatus::kRead;
}

}  // namespace

std::string defaultsDomainPath(std::string_view homeDirectory, std::string_view domain) {
  return joinPath(preferencesFolder(homeDirectory), std::string(domain) + ".plist");
}

DomainReadStatus readDefaultsDomain(std::string_view homeDirectory, std::string_view domain,
                                    Dictionary& values, std::string& error) {
  if (!isValidDomainName(domain)) {
    values = Dictionary();
    error = "invalid preferences domain name '" + std::string(domain) + "'";
    return DomainReadStatus::kDamaged;
  }
  if (!isUsableHome(homeDirectory)) {
    values = Dictionary();
    return DomainReadStatus::kMissing;
  }
  std::string bytes;
  return readDomainFile(defaultsDomainPath(homeDirectory, domain), values, bytes, error);
}

bool writeDefaultsDomainValue(std::string_view homeDirectory, std::string_view domain,
                              std::string_view key, const Value& value, std::string& error) {
  if (!isValidDomainName(domain)) {
    error = "invalid preferences domain name '" + std::string(domain) + "'";
    return false;
  }
  if (!isUsableHome(homeDirectory)) {
    error = "no home folder to hold the preferences";
    return false;
  }
  const std::string path = defaultsDomainPath(homeDirectory, domain);
  Dictionary values;
  std::string bytes;
  // Rewriting a file we could not read would lose every other key in it.
  if (readDomainFile(path, values, bytes, error) == DomainReadStatus::kDamaged) {
    error += "; not overwritten";
    return false;
  }
  const bool wasXml = !bytes.empty() && bytes.compare(0, 6, "bplist") != 0;

  if (value.isNone()) {
    values.remove(key);
  } else {
    values.set(key, value);
  }
  const std::string library = joinPath(homeDirectory, "Library");
  if (!makeFolder(library, kPreferencesFolderMode, error) ||
      !makeFolder(preferencesFolder(homeDirectory), kPreferencesFolderMode, error))
    return false;
  const Value root = Value::dictionary(std::move(values));
  return writeFileAtomically(path,
                             wasXml ? writeXmlPropertyList(root) : writeBinaryPropertyList(root),
                             error, kPreferencesFileMode);
}

}  // namespace sweeprun
