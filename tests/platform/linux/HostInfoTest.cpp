#include <gtest/gtest.h>

#include <fstream>

#include "platform/linux/HostInfo.h"
#include "support/TempDir.h"

namespace quib {

TEST(LinuxHostInfo, PrettyNameIsUnquotedAndPreferred) {
  EXPECT_EQ(LinuxHostInfo::prettyHostName("PRETTY_HOSTNAME=\"민수의 노트북\"\nCHASSIS=laptop\n"),
            "민수의 노트북");
  EXPECT_EQ(LinuxHostInfo::prettyHostName("PRETTY_HOSTNAME='Ann'\\''s PC'\n"), "Ann's PC");
  EXPECT_EQ(LinuxHostInfo::prettyHostName("PRETTY_HOSTNAME=Work\\ Box"), "Work Box");
  EXPECT_EQ(LinuxHostInfo::prettyHostName("CHASSIS=laptop\n"), std::nullopt);
  EXPECT_EQ(LinuxHostInfo::prettyHostName("PRETTY_HOSTNAME=\"\"\n"), std::nullopt);
  EXPECT_EQ(LinuxHostInfo::prettyHostName("PRETTY_HOSTNAME=\"\xff\xfe\"\n"), std::nullopt);

  test::TempDir dir;
  std::ofstream(dir.path() / "machine-info") << "PRETTY_HOSTNAME=\"Kitchen PC\"\n";
  EXPECT_EQ(LinuxHostInfo(dir.path() / "machine-info").localizedHostName(), "Kitchen PC");
  // Without the file the kernel's host name is used.
  auto plain = LinuxHostInfo(dir.path() / "absent").localizedHostName();
  ASSERT_TRUE(plain);
  EXPECT_FALSE(plain->empty());
}

}  // namespace quib
