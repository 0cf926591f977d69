#pragma once
// The small facts the phone side keeps between launches, in the defaults suite that the phone app
// and its widget share. Every accessor opens the suite afresh; nothing is cached. A suite that
// cannot be opened reads as the defaults and ignores writes. Safe on any thread and process.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/SqliteDefaults.h"

namespace quib {

class QuibSharedStore {
 public:
  static constexpr const char* appGroup = "group.app.quibbleton.shared";
  static const std::vector<std::string>& defaultWidgetButtons();

  struct Result {
    std::string text;
    std::chrono::system_clock::time_point at;
  };

  // The folder that holds the suite (several processes may use the same one).
  explicit QuibSharedStore(std::filesystem::path directory) : directory_(std::move(directory)) {}
  // $QUIB_CONFIG_DIR, else $XDG_CONFIG_HOME/quib, else ~/.config/quib.
  static std::filesystem::path defaultDirectory();

  std::optional<std::string> token() const;
  void setToken(const std::optional<std::string>& v) const;
  bool connectionPaused() const;
  void setConnectionPaused(bool v) const;
  std::optional<std::string> lastHost() const;
  void setLastHost(const std::optional<std::string>& v) const;
  // 50913 when absent, below 1, or too large for a port.
  std::uint16_t lastPort() const;
  void setLastPort(std::uint16_t v) const;
  std::optional<std::string> macName() const;
  void setMacName(const std::optional<std::string>& v) const;
  std::vector<std::string> widgetButtonIDs() const;
  void setWidgetButtonIDs(const std::vector<std::string>& v) const;
  std::optional<Result> lastResult() const;
  void recordResult(const std::string& text) const;

  // Opens the suite for one operation; none when it cannot be opened.
  std::unique_ptr<SqliteDefaults> open() const;

 private:
  std::optional<std::string> readString(const char* key) const;
  void writeString(const char* key, const std::optional<std::string>& v) const;

  std::filesystem::path directory_;
};

}  // namespace quib
