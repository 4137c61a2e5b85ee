#include "companion/command_line.h"

#include "os/localization.h"

namespace sweeprun {

bool ParsedArguments::has(std::string_view name) const {
  for (const auto& option : options) {
    if (option.first == name) return true;
  }
  return false;
}

std::optional<std::string> ParsedArguments::last(std::string_view name) const {
  std::optional<std::string> value;
  for (const auto& option : options) {
    if (option.first == name) value = option.second;
  }
  return value;
}

std::vector<std::string> ParsedArguments::all(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& option : options) {
    if (option.first == name) values.push_back(option.second);
  }
  return values;
}

bool parseArguments(const std::vector<std::string>& arguments,
                    const std::vector<OptionDefinition>& definitions, size_t maxOperands,
                    ParsedArguments& parsed, std::string& error) {
  parsed = ParsedArguments();
  bool optionsEnded = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
      parsed.operands.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (argument == "-h" || argument == "--help") {
      parsed.help = true;
      continue;
    }
    if (argument.compare(0, 2, "--") != 0) {
      error = localized("unknown option '%@'", {argument});
      return false;
    }
    const size_t equals = argument.find('=');
    const std::string name =
        argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const OptionDefinition* definition = nullptr;
    for (const OptionDefinition& candidate : definitions) {
      if (candidate.name == name) definition = &candidate;
    }
    if (!definition) {
      error = localized("unknown option '--%@'", {name});
      return false;
    }
    std::string value;
    if (equals != std::string::npos) {
      if (!definition->takesValue) {
        error = localized("option '--%@' takes no value", {name});
        return false;
      }
      value = argument.substr(equals + 1);
    } else if (definition->takesValue) {
      if (i + 1 >= arguments.size()) {
        error = localized("option '--%@' needs a value", {name});
        return false;
      }
      value = arguments[++i];
    }
    parsed.options.emplace_back(name, std::move(value));
  }
  if (parsed.operands.size() > maxOperands && !parsed.help) {
    error = localized("unexpected argument '%@'", {parsed.operands[maxOperands]});
    return false;
  }
  return true;
}

}  // namespace sweeprun
