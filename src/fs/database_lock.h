#pragma once

#include <chrono>
#include <string>

namespace sweeprun {

/// An exclusive hold on a folder database, from the moment a program reads
/// it to change it until it has saved it, so that no two programs (a run
/// and a sweeply command) ever save over each other's changes. The lock is
/// an advisory lock on the open file "<database>.lock" beside the database
/// (never the database itself, which every save replaces), so a lock file
/// left behind by a killed program blocks nothing. Released when the object
/// goes.
class DatabaseLock {
 public:
  enum class Status {
    kLocked,
    kBusy,    // another program held it for all of |wait|
    kFailed,  // the lock file could not be opened; the message says why
  };

  DatabaseLock() = default;
  ~DatabaseLock();
  DatabaseLock(DatabaseLock&& other) noexcept;
  DatabaseLock& operator=(DatabaseLock&& other) noexcept;
  DatabaseLock(const DatabaseLock&) = delete;
  DatabaseLock& operator=(const DatabaseLock&) = delete;

  /// Takes the lock of the database at |databasePath|, waiting up to |wait|
  /// for another holder. The lock file is opened as the database is (a link
  /// another user planted on the way is not followed, nor a final link) and
  /// made, mode 0600, when missing; its folder must exist. Fills |error|
  /// unless kLocked.
  static Status acquire(const std::string& databasePath, std::chrono::milliseconds wait,
                        DatabaseLock& lock, std::string& error);

  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace sweeprun
