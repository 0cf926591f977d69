#include "shared/CatalogStores.h"

#include <algorithm>
#include <functional>

#include "server/JsonRead.h"

namespace quib {

namespace {

// Records stored as one JSON array in bytes; a single unreadable record empties the whole list.
template <typename Record>
std::vector<Record> decodeList(const std::optional<DefaultsValue>& stored,
                               Record (*fromJson)(const nlohmann::json&)) {
  if (!stored || stored->type != DefaultsValue::Type::data) return {};
  const auto& bytes = stored->data;
  auto j = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
  if (j.is_discarded() || !j.is_array()) return {};
  std::vector<Record> out;
  try {
    for (const auto& e : j) out.push_back(fromJson(e));
  } catch (const DecodeError&) {
    return {};
  }
  return out;
}

template <typename Record>
std::optional<DefaultsValue> encodeList(const std::vector<Record>& list) {
  auto array = nlohmann::ordered_json::array();
  for (const auto& r : list) array.push_back(toJson(r));
  try {
    const std::string text = array.dump();
    return DefaultsValue::ofData(std::vector<std::uint8_t>(text.begin(), text.end()));
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

template <typename Record>
void changeList(const QuibSharedStore& suite, const char* key, Record (*fromJson)(const nlohmann::json&),
                const std::function<void(std::vector<Record>&)>& change) {
  auto d = suite.open();
  if (!d) return;
  d->update(key, [&](std::optional<DefaultsValue> stored) -> std::optional<DefaultsValue> {
    auto list = decodeList(stored, fromJson);
    change(list);
    auto encoded = encodeList(list);
    return encoded ? encoded : stored;  // nothing is stored when encoding fails
  });
}

template <typename Record>
std::vector<Record> readList(const QuibSharedStore& suite, const char* key,
                             Record (*fromJson)(const nlohmann::json&)) {
  auto d = suite.open();
  return d ? decodeList(d->value(key), fromJson) : std::vector<Record>{};
}

template <typename Record>
void writeList(const QuibSharedStore& suite, const char* key, const std::vector<Record>& list) {
  auto encoded = encodeList(list);
  if (!encoded) return;
  if (auto d = suite.open()) d->set(key, *encoded);
}

template <typename Record>
void upsertInto(std::vector<Record>& list, const Record& r) {
  auto it = std::find_if(list.begin(), list.end(), [&](const Record& e) { return e.id == r.id; });
  if (it != list.end())
    *it = r;
  else
    list.push_back(r);
}

}  // namespace

std::vector<Snippet> SnippetStore::all() const {
  return readList(suite_, key, &snippetFromJson);
}
void SnippetStore::setAll(const std::vector<Snippet>& list) const {
  writeList(suite_, key, list);
}
void SnippetStore::upsert(const Snippet& s) const {
  changeList<Snippet>(suite_, key, &snippetFromJson, [&](auto& list) { upsertInto(list, s); });
}
void SnippetStore::remove(const Snippet& s) const {
  changeList<Snippet>(suite_, key, &snippetFromJson, [&](auto& list) {
    std::erase_if(list, [&](const Snippet& e) { return e.id == s.id; });
  });
}

std::vector<CustomSite> CustomSiteStore::all() const {
  return readList(suite_, key, &customSiteFromJson);
}
void CustomSiteStore::setAll(const std::vector<CustomSite>& list) const {
  writeList(suite_, key, list);
}
void CustomSiteStore::upsert(const CustomSite& s) const {
  changeList<CustomSite>(suite_, key, &customSiteFromJson, [&](auto& list) { upsertInto(list, s); });
}
void CustomSiteStore::remove(const std::string& id) const {
  changeList<CustomSite>(suite_, key, &customSiteFromJson, [&](auto& list) {
    std::erase_if(list, [&](const CustomSite& e) { return e.id == id; });
  });
}

std::vector<std::string> CustomAppStore::all() const {
  auto d = suite_.open();
  auto list = d ? d->stringArray(key) : std::nullopt;
  return list.value_or(std::vector<std::string>{});
}

void CustomAppStore::setAll(const std::vector<std::string>& list) const {
  if (auto d = suite_.open()) d->setStringArray(key, list);
}

void CustomAppStore::add(const std::string& name) const {
  auto d = suite_.open();
  if (!d) return;
  d->update(key, [&](std::optional<DefaultsValue> stored) -> std::optional<DefaultsValue> {
    // The same reading as all(): anything but an array of strings counts as empty.
    auto list = (stored ? stored->asStringArray() : std::nullopt).value_or(std::vector<std::string>{});
    if (std::find(list.begin(), list.end(), name) == list.end()) list.push_back(name);
    return DefaultsValue::of(nlohmann::json(list));
  });
}

}  // namespace quib
