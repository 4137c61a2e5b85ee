#include "settings/user_defaults.h"

#include <charconv>
#include <utility>

#include "log/trash_log.h"
#include "os/localization.h"
#include "os/run_world.h"
#include "settings/defaults_domain.h"
#include "settings/settings_keys.h"

namespace sweeprun {

namespace {

std::string decimalText(const Value& number) {
  switch (number.kind()) {
    case Value::Kind::kBoolean:
      return number.asBool() ? "1" : "0";
    case Value::Kind::kInteger:
      return std::to_string(number.asInteger());
    case Value::Kind::kUnsigned:
      return std::to_string(number.asUnsigned());
    default: {
      char buffer[64];
      auto result = std::to_chars(buffer, buffer + sizeof buffer, number.asReal());
      return std::string(buffer, result.ptr);
    }
  }
}

bool looksLikeNegativeNumber(std::string_view argument) {
  return argument.size() > 1 && argument[0] == '-' &&
         ((argument[1] >= '0' && argument[1] <= '9') || argument[1] == '.');
}

Value registeredValue(const RegisteredDefault& entry) {
  switch (entry.kind) {
    case RegisteredDefault::Kind::kBoolean:
      return Value::boolean(entry.number != 0);
    case RegisteredDefault::Kind::kInteger:
      return Value::integer(static_cast<int64_t>(entry.number));
    case RegisteredDefault::Kind::kReal:
      return Value::real(entry.number);
    case RegisteredDefault::Kind::kText:
      break;
  }
  return Value::text(entry.text);
}

}  // namespace

UserDefaults::UserDefaults(const RunWorld& world, const std::vector<std::string>& arguments)
    : world_(&world),
      homeDirectory_(world.homeDirectory),
      argumentDomain_(argumentDomainFromArguments(arguments)) {
  addSuiteNamed(kToolDomain);
}

Value UserDefaults::objectForKey(std::string_view key) const {
  if (const Value* value = argumentDomain_.find(key)) return *value;
  for (const Domain& domain : persistentDomains_) {
    if (const Value* value = domain.values.find(key)) return *value;
  }
  return registered_.get(key);
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
  const Value value = objectForKey(key);
  if (value.isText()) return std::string(value.asText());
  if (value.isNumber()) return decimalText(value);
  return std::nullopt;
}

void UserDefaults::setObject(const Value& value, std::string_view key) {
  persistentDomains_.front().values.set(key, value);
}

void UserDefaults::addSuiteNamed(std::string_view domain) {
  for (const Domain& present : persistentDomains_) {
    if (present.name == domain) return;
  }
  Domain added{std::string(domain), Dictionary()};
  std::string ignored;
  // A damaged preferences file must not stop a run; it reads as empty.
  readDefaultsDomain(homeDirectory_, domain, added.values, ignored);
  persistentDomains_.push_back(std::move(added));
}

void UserDefaults::registerDefaults(const Dictionary& defaults) {
  for (const auto& [key, value] : defaults) registered_.set(key, value);
}

bool UserDefaults::setCompanionValue(const Value& value, std::string_view key) {
  std::string error;
  if (!writeDefaultsDomainValue(homeDirectory_, kCompanionDomain, key, value, error)) {
    TrashLog::err(world_->runLog,
                  localized("Unable to save %@ in the preferences: %@", {key, error}));
    return false;
  }
  for (Domain& present : persistentDomains_) {
    if (present.name != kCompanionDomain) continue;
    if (value.isNone()) {
      present.values.remove(key);
    } else {
      present.values.set(key, value);
    }
  }
  return true;
}

Dictionary userModeRegisteredDefaults() {
  Dictionary defaults;
  for (const RegisteredDefault& entry : kUserModeRegisteredDefaults)
    defaults.set(entry.key, registeredValue(entry));
  return defaults;
}

Dictionary argumentDomainFromArguments(const std::vector<std::string>& arguments) {
  Dictionary domain;
  for (size_t i = 1; i + 1 < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const std::string& next = arguments[i + 1];
    if (argument.size() < 2 || argument[0] != '-') continue;
    if (!next.empty() && next[0] == '-' && !looksLikeNegativeNumber(next)) continue;
    domain.set(std::string_view(argument).substr(1), Value::text(next));
    ++i;
  }
  return domain;
}

}  // namespace sweeprun
