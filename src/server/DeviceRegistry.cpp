#include "server/DeviceRegistry.h"

namespace quib {

std::set<std::string> DeviceRegistry::tokens() {
  auto list = defaults_.stringArray(kTokensKey);
  if (!list) return {};
  return {list->begin(), list->end()};
}

bool DeviceRegistry::isPaired(const std::string& token) {
  return tokens().contains(token);
}

std::map<std::string, std::string> DeviceRegistry::names() {
  return defaults_.stringDictionary(kNamesKey).value_or(std::map<std::string, std::string>{});
}

std::optional<std::string> DeviceRegistry::name(const std::string& token) {
  auto all = names();
  auto it = all.find(token);
  if (it == all.end()) return std::nullopt;
  return it->second;
}

namespace {
// Read-modify-write of one key in one transaction; unreadable contents start over empty.
template <typename Change>
void updateTokens(UserDefaults& d, Change&& change) {
  d.update(DeviceRegistry::kTokensKey, [&](std::optional<DefaultsValue> v) -> std::optional<DefaultsValue> {
    auto list = v ? v->asStringArray() : std::nullopt;
    std::set<std::string> set;
    if (list) set.insert(list->begin(), list->end());
    change(set);
    return DefaultsValue::of(nlohmann::json(std::vector<std::string>(set.begin(), set.end())));
  });
}

template <typename Change>
void updateNames(UserDefaults& d, Change&& change) {
  d.update(DeviceRegistry::kNamesKey, [&](std::optional<DefaultsValue> v) -> std::optional<DefaultsValue> {
    auto map = (v ? v->asStringDictionary() : std::nullopt).value_or(std::map<std::string, std::string>{});
    if (!change(map)) return v;  // unchanged: write back what was there
    return DefaultsValue::of(nlohmann::json(map));
  });
}
}  // namespace

void DeviceRegistry::addToken(const std::string& token) {
  updateTokens(defaults_, [&](std::set<std::string>& s) { s.insert(token); });
}

void DeviceRegistry::removeToken(const std::string& token) {
  updateTokens(defaults_, [&](std::set<std::string>& s) { s.erase(token); });
}

void DeviceRegistry::setNameIfChanged(const std::string& token, const std::string& name) {
  if (this->name(token) == name) return;
  updateNames(defaults_, [&](std::map<std::string, std::string>& m) {
    auto [it, inserted] = m.try_emplace(token, name);
    if (!inserted && it->second == name) return false;
    it->second = name;
    return true;
  });
}

void DeviceRegistry::removeName(const std::string& token) {
  updateNames(defaults_, [&](std::map<std::string, std::string>& m) {
    m.erase(token);
    return true;
  });
}

std::vector<std::string> DeviceRegistry::revokedTokens() {
  return defaults_.stringArray(kRevokedKey).value_or(std::vector<std::string>{});
}

namespace {
// Written before the tokens are removed: a crash in between leaves a token both paired and
// revoked, and a paired token is tried first.
void remember(UserDefaults& d, const std::vector<std::string>& revoked) {
  if (revoked.empty()) return;
  d.update(DeviceRegistry::kRevokedKey, [&](std::optional<DefaultsValue> v) -> std::optional<DefaultsValue> {
    auto list = (v ? v->asStringArray() : std::nullopt).value_or(std::vector<std::string>{});
    for (const auto& t : revoked) {
      std::erase(list, t);
      list.push_back(t);
    }
    if (list.size() > DeviceRegistry::kMaxRevoked)
      list.erase(list.begin(), list.end() - static_cast<std::ptrdiff_t>(DeviceRegistry::kMaxRevoked));
    return DefaultsValue::of(nlohmann::json(list));
  });
}
}  // namespace

void DeviceRegistry::revoke(const std::string& token) {
  remember(defaults_, {token});
  removeToken(token);
  removeName(token);
}

void DeviceRegistry::forgetAll() {
  auto all = tokens();
  remember(defaults_, std::vector<std::string>(all.begin(), all.end()));
  defaults_.setStringArray(kTokensKey, {});
  defaults_.setStringDictionary(kNamesKey, {});
}

}  // namespace quib
