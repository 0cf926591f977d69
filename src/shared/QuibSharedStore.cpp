#include "shared/QuibSharedStore.h"

#include <cstdlib>

#include "server/QuibService.h"

namespace quib {

namespace {
constexpr const char* kToken = "pairingToken";
constexpr const char* kPaused = "connectionPaused";
constexpr const char* kLastHost = "lastHost";
constexpr const char* kLastPort = "lastPort";
constexpr const char* kMacName = "macName";
constexpr const char* kWidgetButtons = "widgetButtonIDs";
constexpr const char* kLastResult = "lastWidgetResult";
constexpr const char* kLastResultAt = "lastWidgetResultAt";
}  // namespace

const std::vector<std::string>& QuibSharedStore::defaultWidgetButtons() {
  static const std::vector<std::string> buttons = {"app.claude",        "edit.copy",  "edit.paste",
                                                   "sys.captureRegion", "app.chrome", "snd.mute",
                                                   "snd.volDown",       "snd.volUp"};
  return buttons;
}

std::filesystem::path QuibSharedStore::defaultDirectory() {
  if (const char* d = std::getenv("QUIB_CONFIG_DIR"); d && *d) return d;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return std::filesystem::path(x) / "quib";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : ".") / ".config" / "quib";
}

std::unique_ptr<SqliteDefaults> QuibSharedStore::open() const {
  auto d = std::make_unique<SqliteDefaults>(directory_, appGroup, /*quiet=*/true);
  if (!d->isOpen()) return nullptr;
  return d;
}

std::optional<std::string> QuibSharedStore::readString(const char* key) const {
  auto d = open();
  return d ? d->string(key) : std::nullopt;
}

void QuibSharedStore::writeString(const char* key, const std::optional<std::string>& v) const {
  auto d = open();
  if (!d) return;
  if (v)
    d->setString(key, *v);
  else
    d->remove(key);
}

std::optional<std::string> QuibSharedStore::token() const {
  return readString(kToken);
}
void QuibSharedStore::setToken(const std::optional<std::string>& v) const {
  writeString(kToken, v);
}
std::optional<std::string> QuibSharedStore::lastHost() const {
  return readString(kLastHost);
}
void QuibSharedStore::setLastHost(const std::optional<std::string>& v) const {
  writeString(kLastHost, v);
}
std::optional<std::string> QuibSharedStore::macName() const {
  return readString(kMacName);
}
void QuibSharedStore::setMacName(const std::optional<std::string>& v) const {
  writeString(kMacName, v);
}

bool QuibSharedStore::connectionPaused() const {
  auto d = open();
  return d ? d->boolean(kPaused).value_or(false) : false;
}

void QuibSharedStore::setConnectionPaused(bool v) const {
  if (auto d = open()) d->setBoolean(kPaused, v);
}

std::uint16_t QuibSharedStore::lastPort() const {
  auto d = open();
  const std::int64_t port = d ? d->integer(kLastPort).value_or(0) : 0;
  if (port < 1 || port > 65535) return QuibService::defaultPort;
  return static_cast<std::uint16_t>(port);
}

void QuibSharedStore::setLastPort(std::uint16_t v) const {
  if (auto d = open()) d->setInteger(kLastPort, v);
}

std::vector<std::string> QuibSharedStore::widgetButtonIDs() const {
  auto d = open();
  auto ids = d ? d->stringArray(kWidgetButtons) : std::nullopt;
  return ids ? *ids : defaultWidgetButtons();
}

void QuibSharedStore::setWidgetButtonIDs(const std::vector<std::string>& v) const {
  if (auto d = open()) d->setStringArray(kWidgetButtons, v);
}

std::optional<QuibSharedStore::Result> QuibSharedStore::lastResult() const {
  auto text = readString(kLastResult);
  if (!text) return std::nullopt;
  auto d = open();
  auto at = d ? d->date(kLastResultAt) : std::nullopt;
  if (!at) return std::nullopt;
  return Result{*text, *at};
}

void QuibSharedStore::recordResult(const std::string& text) const {
  writeString(kLastResult, text);
  if (auto d = open()) d->setDate(kLastResultAt, std::chrono::system_clock::now());
}

}  // namespace quib
