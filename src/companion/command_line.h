#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sweeprun {

/// One long option a command accepts ("--name", or "--name VALUE").
struct OptionDefinition {
  std::string_view name;  // without the leading "--"
  bool takesValue = false;
};

/// The arguments of one command, split into options and operands.
struct ParsedArguments {
  /// Options in command-line order, with their values (empty for flags).
  std::vector<std::pair<std::string, std::string>> options;
  std::vector<std::string> operands;
  bool help = false;

  bool has(std::string_view name) const;
  /// The value of the option's last occurrence, or none.
  std::optional<std::string> last(std::string_view name) const;
  /// The values of every occurrence, in order.
  std::vector<std::string> all(std::string_view name) const;
};

/// Splits the arguments that follow a command's name. An option takes its
/// value from "--name=VALUE" or from the next argument, whatever that looks
/// like; "--" ends the options; "-h" and "--help" ask for help. False, with
/// the message in |error|, for an unknown option, a missing value, a value
/// given to a flag, or more than |maxOperands| operands.
bool parseArguments(const std::vector<std::string>& arguments,
                    const std::vector<OptionDefinition>& definitions, size_t maxOperands,
                    ParsedArguments& parsed, std::string& error);

}  // namespace sweeprun
