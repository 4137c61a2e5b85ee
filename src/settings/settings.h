#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "plist/value.h"

namespace sweeprun {

/// The process-wide source of settings. In user mode it is the user's
/// defaults (UserDefaults); in system and check mode the configuration-file
/// parser (TrashConfigFileParser). Every key the system reads is listed in
/// settings_keys.h.
class Settings {
 public:
  virtual ~Settings() = default;

  /// The stored value, or none.
  virtual Value objectForKey(std::string_view key) const = 0;
  /// The value as text, or none when absent or not text-like.
  virtual std::optional<std::string> stringForKey(std::string_view key) const = 0;
  /// The boolean reading of the value; false when absent.
  virtual bool boolForKey(std::string_view key) const { return objectForKey(key).boolReading(); }
  /// Stores the value under the key, replacing an earlier one.
  virtual void setObject(const Value& value, std::string_view key) = 0;
  void setBool(bool value, std::string_view key) { setObject(Value::boolean(value), key); }

  /// Stores |value| under |key| in the companion application's preferences
  /// domain and writes that domain to disk at once, so the companion sees it.
  /// Only the user's defaults have such a domain; other settings objects keep
  /// the value in memory, as setObject does. False when the write failed.
  virtual bool setCompanionValue(const Value& value, std::string_view key) {
    setObject(value, key);
    return true;
  }
};

}  // namespace sweeprun
