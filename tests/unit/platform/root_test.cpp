#include "platform/root.h"

#include <gtest/gtest.h>

#include <string>

TEST(Root, FixedPathsGetTheRootButTheKernelsOwnDoNot) {
  ASSERT_EQ(set_root(""), 0);
  EXPECT_FALSE(has_root());
  EXPECT_STREQ(rooted("/mnt/jffs2/station.ini").c_str(), "/mnt/jffs2/station.ini");

  ASSERT_EQ(set_root("/tmp/dev-root/"), 0);
  EXPECT_STREQ(root_dir(), "/tmp/dev-root");
  EXPECT_STREQ(rooted("/mnt/jffs2/station.ini").c_str(), "/tmp/dev-root/mnt/jffs2/station.ini");
  EXPECT_STREQ(rooted("/dev/i2c-0").c_str(), "/tmp/dev-root/dev/i2c-0");
  EXPECT_STREQ(rooted("/proc/net/route").c_str(), "/proc/net/route");
  EXPECT_STREQ(rooted("/dev/null").c_str(), "/dev/null");
  EXPECT_STREQ(rooted("/processes").c_str(), "/tmp/dev-root/processes");

  EXPECT_EQ(set_root(std::string(kRootMax + 1, 'x').c_str()), -1);
  ASSERT_EQ(set_root(nullptr), 0);
  EXPECT_FALSE(has_root());
}
