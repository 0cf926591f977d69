#pragma once
// The paired devices, persisted in the user defaults: "pairedTokens" (every issued, unrevoked token)
// and "pairedDeviceNames" (token to display name, a label store only). Nothing is cached: every
// check reads the store. Safe on any thread (the store is).
//
// Revoked tokens are remembered too, a bounded list under "revokedTokens": a phone that was
// unpaired and keeps coming back with its old token is then told to pair again rather than taken
// for someone guessing the code.
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/UserDefaults.h"

namespace quib {

class DeviceRegistry {
 public:
  static constexpr const char* kTokensKey = "pairedTokens";
  static constexpr const char* kNamesKey = "pairedDeviceNames";
  static constexpr const char* kRevokedKey = "revokedTokens";
  static constexpr std::size_t kMaxRevoked = 64;

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
  // Unpairs one token (token and name removed) and remembers it as revoked.
  void revoke(const std::string& token);
  // Unpairs every token, remembering them as revoked.
  void forgetAll();
  // The remembered revoked tokens, the most recently revoked last.
  std::vector<std::string> revokedTokens();

 private:
  UserDefaults& defaults_;
};

}  // namespace quib
