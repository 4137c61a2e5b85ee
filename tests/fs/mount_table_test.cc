#include "fs/mount_table.h"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

namespace sweeprun {
namespace {

TEST(MountTableTest, FindsTheDeepestMountOfTheDeviceThatHoldsThePath) {
  const std::string table =
      "22 1 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n"
      "30 22 0:40 / /media/usb\\040stick rw - vfat /dev/sdb1 rw\n"
      "31 22 8:1 /srv /srv/bound rw - ext4 /dev/sda1 rw\n"
      "32 22 0:41 / /tmp rw - tmpfs none rw\n"
      "garbage line\n";
  const struct {
    uint64_t device;
    const char* path;
    const char* expected;  // nullptr: none
  } kCases[] = {
      {makedev(8, 1), "/home/alice/file", "/"},
      {makedev(8, 1), "/srv/bound/x", "/srv/bound"},
      {makedev(0, 40), "/media/usb stick/photo.jpg", "/media/usb stick"},
      {makedev(0, 40), "/media/usb stickier/photo.jpg", nullptr},
      {makedev(0, 41), "/tmp", "/tmp"},
      {makedev(0, 41), "/home/alice", nullptr},
      {makedev(9, 9), "/anything", nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    const std::optional<std::string> found = mountPointIn(table, c.device, c.path);
    if (c.expected) {
      EXPECT_EQ(c.expected, found.value_or("<none>"));
    } else {
      EXPECT_FALSE(found) << *found;
    }
  }
}

}  // namespace
}  // namespace sweeprun
