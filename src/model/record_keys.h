#pragma once

#include <string_view>

// The keys under which the folder database keeps each record's state. They
// are part of the stored format: another program that reads or writes the
// same file uses the same four letters, so a value here never changes.

namespace sweeprun {

/// A watched folder's settings and history (its "data" dictionary).
namespace folder_key {
inline constexpr std::string_view kPath = "path";         // absolute, standardized
inline constexpr std::string_view kName = "name";         // as the file manager shows it
inline constexpr std::string_view kAction = "play";       // TrashFolder::kTrashAction and others
inline constexpr std::string_view kDestination = "move";  // the folder of the move action
inline constexpr std::string_view kDatedFolder = "datf";  // moves go into a dated sub-folder
inline constexpr std::string_view kEnabled = "ison";
inline constexpr std::string_view kMayBeAbsent = "temp";  // absence is skipped quietly
inline constexpr std::string_view kMatchAll = "gran";     // 1: every rule; else any rule
inline constexpr std::string_view kOnceADay = "once";
inline constexpr std::string_view kLastCheck = "last";
inline constexpr std::string_view kCheckAgainOn = "next";  // a day checked even if already
inline constexpr std::string_view kChecks = "hits";
inline constexpr std::string_view kTakenIn = "ckin";
inline constexpr std::string_view kMovedOut = "cout";
inline constexpr std::string_view kRemovedByLastCheck = "loud";
inline constexpr std::string_view kCompanionState = "busy";  // kept, never read
inline constexpr std::string_view kReadMeName = "rfil";
inline constexpr std::string_view kReadMeText = "rtxt";
inline constexpr std::string_view kUnmatchedPattern = "glob";  // a configured path no entry matched
// The size budget: after the rules, the oldest staying entries go until the
// folder's entries add up to no more than "bdgt" bytes; none first seen
// within "bage" seconds goes. Without "bdgt" the folder has no budget.
inline constexpr std::string_view kBudget = "bdgt";
inline constexpr std::string_view kBudgetMinimumAge = "bage";
inline constexpr std::string_view kSizeAtLastCheck = "bsiz";  // bytes; budgeted folders only
// Why a run turned the folder off, and when (the run's start): only a run
// that did not find the folder does, and enabling it again drops both.
inline constexpr std::string_view kDisabledOn = "doff";
inline constexpr std::string_view kDisabledBecause = "dwhy";  // kFolderNotFound
inline constexpr std::string_view kFolderNotFound = "folder not found";
}  // namespace folder_key

/// A rule of a folder (its "data" dictionary).
namespace rule_key {
inline constexpr std::string_view kKind = "type";  // kAgeRule and others
inline constexpr std::string_view kEnabled = "ison";
inline constexpr std::string_view kCount = "teve";  // time units, or checks
inline constexpr std::string_view kUnit = "tune";   // index into the units table
inline constexpr std::string_view kName = "name";   // the text names are compared with
inline constexpr std::string_view kNamePart = "part";
inline constexpr std::string_view kReversed = "oppo";
inline constexpr std::string_view kSize = "size";  // bytes
}  // namespace rule_key

/// A tracked entry (TrashItem keeps them in typed fields; these are their
/// stored names).
namespace item_key {
inline constexpr std::string_view kPath = "path";
inline constexpr std::string_view kFileNumber = "fnum";
inline constexpr std::string_view kSize = "size";
inline constexpr std::string_view kCreated = "cdat";
inline constexpr std::string_view kModified = "mdat";
inline constexpr std::string_view kCheckedIn = "idat";
inline constexpr std::string_view kChecks = "hits";  // checks survived unchanged
}  // namespace item_key

/// The keys of the archived objects themselves.
namespace archive_key {
inline constexpr std::string_view kFolderAlias = "fink";
inline constexpr std::string_view kFolderData = "fdat";
inline constexpr std::string_view kFolderItems = "fist";
inline constexpr std::string_view kFolderRules = "full";
inline constexpr std::string_view kRuleData = "rdat";
inline constexpr std::string_view kItemData = "idat";
}  // namespace archive_key

}  // namespace sweeprun
