#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/run_world.h"
#include "plist/value.h"
#include "settings/settings.h"

namespace sweeprun {

/// The settings object of user mode: the user's defaults. A key is looked up
/// in this order, the first domain that holds it winning:
///   1. the argument domain, from "-Key value" pairs on the command line
///      (values are texts);
///   2. the tool's own domain "sweeprun";
///   3. the domains added with addSuiteNamed, in the order they were added;
///   4. the registered defaults.
/// Persistent domains are read from their files (settings/defaults_domain.h)
/// when the object is made or the suite is added. A damaged domain file reads
/// as an empty domain: it never stops a run.
class UserDefaults : public Settings {
 public:
  /// The defaults of the user whose home folder is |world|'s; a value that
  /// cannot be saved is reported to the world's run log as it stands then.
  /// |world| must outlive the object. The argument domain is built from
  /// |arguments| (argv, the program name first).
  UserDefaults(const RunWorld& world, const std::vector<std::string>& arguments);

  Value objectForKey(std::string_view key) const override;
  /// The value when it is a text; the decimal text when it is a number
  /// (booleans "1" or "0"); otherwise none.
  std::optional<std::string> stringForKey(std::string_view key) const override;
  /// Stores the value in the tool's own domain, in memory only: nothing is
  /// written to disk, and the argument domain still wins over it. (The one
  /// persistent write the tool makes goes through setCompanionValue.)
  void setObject(const Value& value, std::string_view key) override;

  /// Adds the persistent domain |domain| to the search list, after the
  /// domains already there. Adding a domain twice does nothing.
  void addSuiteNamed(std::string_view domain);
  /// Adds |defaults| to the registered defaults, replacing earlier ones of
  /// the same key.
  void registerDefaults(const Dictionary& defaults);

  /// Writes |value| under |key| into the companion application's preferences
  /// domain file and synchronises it to disk at once, so that the companion
  /// application sees it; the copy of that domain in the search list follows.
  /// A domain file that cannot be read is left untouched. A failed write is
  /// reported (TrashLog::err) and returns false.
  bool setCompanionValue(const Value& value, std::string_view key) override;

 private:
  struct Domain {
    std::string name;
    Dictionary values;
  };

  const RunWorld* world_;
  std::string homeDirectory_;
  Dictionary argumentDomain_;
  std::vector<Domain> persistentDomains_;  // the tool's own first, then the suites
  Dictionary registered_;
};

/// The registered defaults of user mode (settings_keys.h) as a dictionary.
Dictionary userModeRegisteredDefaults();

/// The argument domain of |arguments| (argv, the program name first): an
/// argument "-Key" followed by a value forms a pair; the value is taken as
/// text. A following argument that begins with "-" is not a value, unless it
/// reads as a negative number ("-1", "-.5").
Dictionary argumentDomainFromArguments(const std::vector<std::string>& arguments);

}  // namespace sweeprun
