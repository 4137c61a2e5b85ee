#pragma once

#include <string_view>

namespace sweeprun {

// Every settings key the system reads, in one place. The configuration-file
// vocabulary (TrashConfigFileParser::xmlKeys) reuses the names of the keys
// that are settings too.

/// Keep a run log (boolean reading).
inline constexpr std::string_view kLogToFile = "LogToFile";
/// Path of the run log file; standardized before use (a leading "~" expanded).
inline constexpr std::string_view kLogFileName = "LogFileName";
/// Days of run-log history to keep (numeric reading); 0 keeps everything.
inline constexpr std::string_view kLogLimit = "LogLimit";
/// strftime format shared with the companion application; must hold no
/// conversion of the time of day.
inline constexpr std::string_view kDateFormat = "DateFormat";
/// Optional path of the metrics file each run replaces (Prometheus text
/// format); standardized before use. None: no metrics file.
inline constexpr std::string_view kMetricsFile = "MetricsFile";
/// System mode: the run is enabled (the configuration's "Disabled" inverted).
inline constexpr std::string_view kIsOn = "ison";
/// Accepted and kept, read by no part of the tool.
inline constexpr std::string_view kUseGrowl = "UseGrowl";
inline constexpr std::string_view kGrowlnotifyPath = "GrowlnotifyPath";
inline constexpr std::string_view kDisabledGrowlMessages = "DisabledGrowlMessages";
/// Registered in user mode for the companion application; never read here.
inline constexpr std::string_view kRunClient = "RunClient";
inline constexpr std::string_view kClientInterval = "ClientInterval";
inline constexpr std::string_view kLogApp = "LogApp";
inline constexpr std::string_view kWaistSize = "WaistSize";

/// The tool's own defaults domain.
inline constexpr std::string_view kToolDomain = "sweeprun";
/// The companion application's preferences domain, shared with it.
inline constexpr std::string_view kCompanionDomain = "org.sweeply.Sweeply";

/// One registered default of user mode. Kinds are kept as the companion
/// application expects them: "LogToFile" and "LogLimit" are texts, although
/// they are read as a boolean and a number.
struct RegisteredDefault {
  enum class Kind { kBoolean, kInteger, kReal, kText };
  std::string_view key;
  Kind kind;
  std::string_view text;  // kText
  double number;          // kBoolean (0 or 1), kInteger, kReal
};

/// The defaults registered in user mode; they apply where no domain of the
/// search list holds the key.
inline constexpr RegisteredDefault kUserModeRegisteredDefaults[] = {
    {kRunClient, RegisteredDefault::Kind::kBoolean, {}, 1},
    {kClientInterval, RegisteredDefault::Kind::kInteger, {}, 5},
    {kLogToFile, RegisteredDefault::Kind::kText, "NO", 0},
    {kLogFileName, RegisteredDefault::Kind::kText, "~/Library/Logs/Sweeply.log", 0},
    {kLogApp, RegisteredDefault::Kind::kText, "TextEdit", 0},
    {kLogLimit, RegisteredDefault::Kind::kText, "7", 0},
    {kUseGrowl, RegisteredDefault::Kind::kBoolean, {}, 1},
    {kWaistSize, RegisteredDefault::Kind::kReal, {}, 0.0},
};

}  // namespace sweeprun
