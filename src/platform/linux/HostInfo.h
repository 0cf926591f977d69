#pragma once
// The computer's name on Linux: the pretty host name the desktop's settings show (systemd's
// machine-info file), else the kernel's host name. Safe on any thread.
#include <filesystem>
#include <optional>
#include <string>

#include "platform/HostInfo.h"

namespace quib {

class LinuxHostInfo final : public HostInfo {
 public:
  explicit LinuxHostInfo(std::filesystem::path machineInfo = "/etc/machine-info")
      : machineInfo_(std::move(machineInfo)) {}

  std::optional<std::string> localizedHostName() override;

  // The PRETTY_HOSTNAME value of a machine-info text (shell-style quoting undone); none when absent
  // or empty.
  static std::optional<std::string> prettyHostName(const std::string& machineInfoText);

 private:
  std::filesystem::path machineInfo_;
};

}  // namespace quib
