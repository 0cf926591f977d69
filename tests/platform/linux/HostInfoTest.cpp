#include <gtest/gtest.h>

#include <fstream>

#include "platform/linux/HostInfo.h"
#include "support/TempDir.h"

namespace quib {

TEST(LinuxHostInfo, PrettyNameIsUnquotedAndPreferred) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"PRETTY_HOSTNAME=\"민수의 노트북\"\nCHASSIS=laptop\n", "민수의 노트북"},
      {"PRETTY_HOSTNAME=\"\"\n", std::nullopt},
      {"PRETTY_HOSTNAME=\"\xff\xfe\"\n", std::nullopt}};
  for (const auto& [file, name] : cases) EXPECT_EQ(LinuxHostInfo::prettyHostName(file), name) << file;

  test::TempDir dir;
  std::ofstream(dir.path() / "machine-info") << "PRETTY_HOSTNAME=\"Kitchen PC\"\n";
  EXPECT_EQ(LinuxHostInfo(dir.path() / "machine-info").localizedHostName(), "Kitchen PC");
  // Without the file the kernel's host name is used.
  EXPECT_NE(LinuxHostInfo(dir.path() / "absent").localizedHostName().value_or(""), "");
}

}  // namespace quib
