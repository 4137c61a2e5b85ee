#pragma once

#include <optional>
#include <string>

namespace sweeprun {

/// The value of the environment variable |name|, or none when it is not set.
std::optional<std::string> environmentValue(const char* name);

/// The home folder of the user running the tool: HOME when it is set and not
/// empty, else the home folder of the real user id in the account database;
/// empty when neither is known.
std::string currentHomeDirectory();

/// The folder that holds the running executable (from /proc/self/exe); empty
/// when it cannot be read.
std::string currentExecutableDirectory();

/// The process's file-creation mask (umask), read once: a constant of the
/// process, since nothing in the tool changes it.
unsigned fileCreationMask();

/// The effective user id of the process.
unsigned effectiveUserId();
/// The process id of the running process.
unsigned currentProcessId();

/// What the account database says of one user.
struct UserAccount {
  std::string home;    // absolute, or empty when the account has none
  unsigned group = 0;  // primary group
};

/// The account of |user| in the account database; none when there is none.
std::optional<UserAccount> accountOfUser(unsigned user);

}  // namespace sweeprun
