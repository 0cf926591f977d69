#pragma once
// A named domain of typed values that outlives the process: the stand-in for the desktop's user
// defaults. A value stored under one type reads as absent through every other type's getter.
// Writes report success; callers that the protocol tells to ignore the outcome may do so.
// Safe on any thread.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace quib {

struct DefaultsValue {
  enum class Type { string, boolean, integer, real, array, dictionary, date, data };
  Type type = Type::string;
  // string, boolean, integer, real, array and dictionary values (arrays and dictionaries may hold
  // any JSON element, as a property list may).
  nlohmann::json json;
  std::chrono::system_clock::time_point date{};
  std::vector<std::uint8_t> data;

  static DefaultsValue of(nlohmann::json j);  // picks the type from the JSON kind
  static DefaultsValue ofDate(std::chrono::system_clock::time_point t);
  static DefaultsValue ofData(std::vector<std::uint8_t> bytes);

  // The value as a list or dictionary of strings; none when it is of another type or holds any
  // element that is not a string.
  std::optional<std::vector<std::string>> asStringArray() const;
  std::optional<std::map<std::string, std::string>> asStringDictionary() const;
};

class UserDefaults {
 public:
  virtual ~UserDefaults() = default;

  virtual std::optional<DefaultsValue> value(const std::string& key) = 0;
  virtual bool set(const std::string& key, const DefaultsValue& value) = 0;
  virtual bool remove(const std::string& key) = 0;
  // Reads, changes and writes one key as one transaction, so that concurrent writers (threads or
  // processes) cannot lose each other's update. The function gets the current value and returns
  // the new one (none removes the key). Returns whether the write took.
  virtual bool update(
      const std::string& key,
      const std::function<std::optional<DefaultsValue>(std::optional<DefaultsValue>)>& change) = 0;

  std::optional<std::string> string(const std::string& key);
  std::optional<bool> boolean(const std::string& key);
  std::optional<std::int64_t> integer(const std::string& key);
  // Absent unless every element is a string.
  std::optional<std::vector<std::string>> stringArray(const std::string& key);
  // Absent unless every value is a string.
  std::optional<std::map<std::string, std::string>> stringDictionary(const std::string& key);
  std::optional<std::chrono::system_clock::time_point> date(const std::string& key);
  std::optional<std::vector<std::uint8_t>> data(const std::string& key);

  bool setString(const std::string& key, const std::string& v);
  bool setBoolean(const std::string& key, bool v);
  bool setInteger(const std::string& key, std::int64_t v);
  bool setStringArray(const std::string& key, const std::vector<std::string>& v);
  bool setStringDictionary(const std::string& key, const std::map<std::string, std::string>& v);
  bool setDate(const std::string& key, std::chrono::system_clock::time_point v);
  bool setData(const std::string& key, const std::vector<std::uint8_t>& v);
};

}  // namespace quib
