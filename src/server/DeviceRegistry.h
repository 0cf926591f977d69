#pragma once
// The paired devices, persisted in the user defaults: "pairedTokens" (every issued, unrevoked token)
// and "pairedDeviceNames" (token to display name, a label store only). Nothing is cached: every
// check reads the store. Safe on any thread (the store is).
#include <map>
#include <optional>
#include <set>
#include <string>

#include "platform/UserDefaults.h"

namespace quib {

class DeviceRegistry {
 public:
  static constexpr const char* kTokensKey = "pairedTokens";
  static constexpr const char* kNamesKey = "pairedDeviceNames";

  explicit DeviceRegistry(UserDefaults& defaults) : defaults_(defaults) {}

  // Absent or unreadable values count as empty.
  std::set<std::string> tokens();
  bool isPaired(const std::string& token);
  std::map<std::string, std::string> names();
  std::optional<std::string> name(const std::string& token);

  void addToken(const std::string& token);
  void removeToken(const std::string& token);
  // Writes only when the stored name is missing or differs.
  void setNameIfChanged(const std::string& token, const std::string& name);
  void removeName(const std::string& token);
  void forgetAll();

 private:
  UserDefaults& defaults_;
};

}  // namespace quib
