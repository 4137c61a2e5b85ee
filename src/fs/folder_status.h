#pragma once

namespace sweeprun {

/// How opening (or creating) a folder came out.
enum class OpenStatus {
  kOpened,
  kMissing,       // nothing at the path
  kNotDirectory,  // something that is not a folder, or a link we refuse to follow
  kFailed,        // any other failure; the message says which
};

/// How removing an entry came out.
enum class RemoveStatus {
  kRemoved,
  kGone,         // the entry was already gone
  kSkipped,      // another file system is mounted there (or below): left alone
  kIsDirectory,  // removeFile() met a folder and left it
  kFailed,
};

/// How moving an entry came out.
enum class MoveStatus {
  kMoved,
  kGone,           // the source entry was already gone
  kTargetExists,   // something holds the target name; nothing was changed
  kSourceRemains,  // copied to the target (other volume), but the source could
                   // not be removed completely
  kFailed,         // nothing at the target name; the source is intact
};

/// How creating a file came out.
enum class CreateStatus { kCreated, kExists, kFailed };

}  // namespace sweeprun
