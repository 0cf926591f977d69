#include "platform/linux/HostInfo.h"

#include <glib.h>

#include <fstream>
#include <sstream>

namespace quib {

std::optional<std::string> LinuxHostInfo::prettyHostName(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  std::optional<std::string> found;
  while (std::getline(lines, line)) {
    constexpr std::string_view key = "PRETTY_HOSTNAME=";
    if (!line.starts_with(key)) continue;
    // The file is shell-compatible: the value may be quoted or escaped.
    gchar* value = g_shell_unquote(line.c_str() + key.size(), nullptr);
    if (!value) continue;
    std::string v = value;
    g_free(value);
    found = v.empty() ? std::nullopt : std::optional(v);
  }
  if (found && !g_utf8_validate(found->data(), static_cast<gssize>(found->size()), nullptr)) return std::nullopt;
  return found;
}

std::optional<std::string> LinuxHostInfo::localizedHostName() {
  std::ifstream in(machineInfo_);
  if (in) {
    std::stringstream text;
    text << in.rdbuf();
    if (auto pretty = prettyHostName(text.str())) return pretty;
  }
  const char* name = g_get_host_name();  // never null; "localhost" when unknown
  if (!name || !*name) return std::nullopt;
  return std::string(name);
}

}  // namespace quib
