#include "platform/virtual/VirtualDesktop.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace quib {

namespace {

std::string flagNames(std::uint64_t flags) {
  std::string out;
  auto add = [&](std::uint64_t f, const char* name) {
    if (!(flags & f)) return;
    if (!out.empty()) out += "+";
    out += name;
  };
  add(EventFlags::control, "control");
  add(EventFlags::alternate, "option");
  add(EventFlags::shift, "shift");
  add(EventFlags::command, "command");
  return out;
}

// Shortest form that reads back the same (500, 112.5), without printf's locale work.
std::string point(Point p) {
  char buf[64];
  char* end = std::to_chars(buf, buf + 30, p.x).ptr;
  *end++ = ',';
  end = std::to_chars(end, buf + sizeof buf, p.y).ptr;
  return std::string(buf, end);
}

std::string describe(const InputEvent& e) {
  std::string text;
  switch (e.kind) {
    case InputEvent::Kind::keyboard: {
      const char* what = e.type == EventType::keyDown ? "key down "
                         : e.type == EventType::keyUp ? "key up "
                                                      : "flags changed ";
      text = what + std::to_string(e.keyCode);
      break;
    }
    case InputEvent::Kind::mouse: {
      static const char* names[] = {"",         "left down",   "left up",     "right down",
                                    "right up", "mouse moved", "left dragged"};
      text = (e.type >= 1 && e.type <= 6 ? names[e.type] : "mouse") + std::string(" ") + point(e.location);
      if (e.clickState) text += " click " + std::to_string(e.clickState);
      break;
    }
    case InputEvent::Kind::scroll:
      text = "scroll " + std::to_string(e.wheel1) + "," + std::to_string(e.wheel2);
      break;
    case InputEvent::Kind::systemDefined: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "media key %lld %s", static_cast<long long>((e.data1 >> 16) & 0xFFFF),
                    ((e.data1 >> 8) & 0xFF) == 0x0A ? "down" : "up");
      return buf;
    }
  }
  if (e.flags) text += " flags " + flagNames(e.flags);
  return text;
}

}  // namespace

VirtualDesktop::VirtualDesktop(std::filesystem::path root) : root_(root), files_(root, "/Users/me") {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') hostName_ = name;
}

void VirtualDesktop::setEffectObserver(std::function<void(const std::string&)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

void VirtualDesktop::emit(const std::string& effect) {
  std::function<void(const std::string&)> observer;
  {
    std::lock_guard lock(mutex_);
    observer = observer_;
  }
  if (observer) observer(effect);
}

bool VirtualDesktop::isTrustedPrompting() {
  if (trusted_) return true;
  ++prompts_;
  emit("accessibility prompt");
  return false;
}

std::optional<std::string> VirtualDesktop::localizedHostName() {
  std::lock_guard lock(mutex_);
  return hostName_;
}

void VirtualDesktop::setHostName(std::optional<std::string> name) {
  std::lock_guard lock(mutex_);
  hostName_ = std::move(name);
}

// Events

std::optional<InputEvent> VirtualDesktop::make(InputEvent e) {
  std::lock_guard lock(mutex_);
  if (failing_.contains(e.kind)) return std::nullopt;
  return e;
}

std::optional<Point> VirtualDesktop::pointerLocation() {
  std::lock_guard lock(mutex_);
  if (failing_.contains(InputEvent::Kind::mouse)) return std::nullopt;
  return pointer_;
}

std::optional<InputEvent> VirtualDesktop::makeKeyboardEvent(std::uint16_t keyCode, bool down) {
  InputEvent e;
  e.kind = InputEvent::Kind::keyboard;
  e.type = down ? EventType::keyDown : EventType::keyUp;
  e.keyCode = keyCode;
  return make(e);
}

std::optional<InputEvent> VirtualDesktop::makeMouseEvent(int type, Point location, MouseButton button) {
  InputEvent e;
  e.kind = InputEvent::Kind::mouse;
  e.type = type;
  e.location = location;
  e.button = button;
  return make(e);
}

std::optional<InputEvent> VirtualDesktop::makeScrollEvent(std::int32_t vertical, std::int32_t horizontal) {
  InputEvent e;
  e.kind = InputEvent::Kind::scroll;
  e.type = EventType::scrollWheel;
  e.wheel1 = vertical;
  e.wheel2 = horizontal;
  return make(e);
}

std::optional<InputEvent> VirtualDesktop::makeSystemDefinedEvent(int subtype, std::uint64_t modifierFlags,
                                                                 std::int64_t data1, std::int64_t data2) {
  InputEvent e;
  e.kind = InputEvent::Kind::systemDefined;
  e.type = EventType::systemDefined;
  e.subtype = subtype;
  e.flags = modifierFlags;
  e.data1 = data1;
  e.data2 = data2;
  return make(e);
}

void VirtualDesktop::post(const InputEvent& event) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
    // Moving events move the pointer, as on a real desktop.
    if (event.kind == InputEvent::Kind::mouse) pointer_ = event.location;
  }
  emit(describe(event));
}

void VirtualDesktop::pause(std::chrono::microseconds duration) {
  // Recorded, not slept: the virtual desktop has no one to wait for.
  InputEvent e;
  e.type = -1;
  e.data1 = duration.count();
  std::lock_guard lock(mutex_);
  events_.push_back(e);
}

std::vector<InputEvent> VirtualDesktop::events() {
  std::lock_guard lock(mutex_);
  return events_;
}

void VirtualDesktop::clearEvents() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

void VirtualDesktop::setPointer(Point p) {
  std::lock_guard lock(mutex_);
  pointer_ = p;
}

void VirtualDesktop::failEvents(std::set<InputEvent::Kind> kinds) {
  std::lock_guard lock(mutex_);
  failing_ = std::move(kinds);
}

// Pasteboard

std::int64_t VirtualDesktop::changeCount() {
  std::lock_guard lock(mutex_);
  return changeCount_;
}

std::vector<PasteboardItem> VirtualDesktop::items() {
  std::lock_guard lock(mutex_);
  return items_;
}

std::vector<std::string> VirtualDesktop::types() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& item : items_)
    for (const auto& [type, data] : item.entries)
      if (std::find(out.begin(), out.end(), type) == out.end()) out.push_back(type);
  return out;
}

std::optional<std::string> VirtualDesktop::string() {
  std::lock_guard lock(mutex_);
  for (const auto& item : items_)
    for (const auto& [type, data] : item.entries)
      if (type == PasteboardType::plainText) return data;
  return std::nullopt;
}

void VirtualDesktop::clearContents() {
  {
    std::lock_guard lock(mutex_);
    items_.clear();
    ++changeCount_;
  }
  emit("clipboard cleared");
}

bool VirtualDesktop::writeItems(const std::vector<PasteboardItem>& items) {
  std::string text;
  {
    std::lock_guard lock(mutex_);
    items_.insert(items_.end(), items.begin(), items.end());
    ++changeCount_;
    for (const auto& item : items)
      for (const auto& [type, data] : item.entries)
        if (type == PasteboardType::plainText && text.empty()) text = data;
  }
  emit("clipboard " + text);
  return true;
}

void VirtualDesktop::copyText(const std::string& text, std::vector<std::string> extraTypes) {
  PasteboardItem item = PasteboardItem::text(text);
  for (auto& t : extraTypes) item.entries.emplace_back(std::move(t), "");
  std::lock_guard lock(mutex_);
  items_ = {item};
  changeCount_ += 2;  // a clear and a write
}

// Workspace

bool VirtualDesktop::openURL(const std::string& url) {
  {
    std::lock_guard lock(mutex_);
    openedURLs_.push_back(url);
  }
  emit("open " + url);
  return true;
}

bool VirtualDesktop::openApplication(const std::string& bundlePath) {
  {
    std::lock_guard lock(mutex_);
    openedApps_.push_back(bundlePath);
  }
  emit("launch " + bundlePath);
  return true;
}

std::optional<std::string> VirtualDesktop::applicationPath(const std::string& bundleIdentifier) {
  std::lock_guard lock(mutex_);
  auto it = bundleIds_.find(bundleIdentifier);
  if (it == bundleIds_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> VirtualDesktop::iconData(const std::string& path) {
  {
    std::lock_guard lock(mutex_);
    if (auto it = icons_.find(path); it != icons_.end()) return it->second;
  }
  for (const char* name : {"icon.png", "icon.svg"}) {
    std::ifstream f(files_.onDisk(path) / name, std::ios::binary);
    if (!f) continue;
    std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    return bytes;
  }
  return std::nullopt;
}

void VirtualDesktop::setIcon(const std::string& path, std::string encodedImage) {
  std::lock_guard lock(mutex_);
  icons_[path] = std::move(encodedImage);
}

void VirtualDesktop::setBundleIdentifier(const std::string& identifier, const std::string& path) {
  std::lock_guard lock(mutex_);
  bundleIds_[identifier] = path;
}

std::vector<std::string> VirtualDesktop::openedURLs() {
  std::lock_guard lock(mutex_);
  return openedURLs_;
}

std::vector<std::string> VirtualDesktop::openedApplications() {
  std::lock_guard lock(mutex_);
  return openedApps_;
}

// Audio

std::optional<std::vector<std::uint32_t>> VirtualDesktop::deviceIds() {
  std::lock_guard lock(mutex_);
  std::vector<std::uint32_t> ids;
  for (const auto& d : audio_) ids.push_back(d.id);
  return ids;
}

std::optional<std::uint32_t> VirtualDesktop::defaultOutputDevice() {
  std::lock_guard lock(mutex_);
  return defaultOutput_;
}

std::optional<std::vector<std::uint32_t>> VirtualDesktop::outputChannelsPerBuffer(std::uint32_t device) {
  std::lock_guard lock(mutex_);
  for (const auto& d : audio_)
    if (d.id == device) return d.outputBuffers;
  return std::nullopt;
}

std::optional<std::string> VirtualDesktop::deviceName(std::uint32_t device) {
  std::lock_guard lock(mutex_);
  for (const auto& d : audio_)
    if (d.id == device) return d.name;
  return std::nullopt;
}

bool VirtualDesktop::setDefaultOutputDevice(std::uint32_t device) {
  std::string name;
  {
    std::lock_guard lock(mutex_);
    auto it =
        std::find_if(audio_.begin(), audio_.end(), [&](const AudioDevice& d) { return d.id == device; });
    if (it == audio_.end()) return false;
    defaultOutput_ = device;
    name = it->name.value_or("?");
  }
  emit("audio output " + name);
  return true;
}

void VirtualDesktop::setAudioDevices(std::vector<AudioDevice> devices,
                                     std::optional<std::uint32_t> defaultOutput) {
  std::lock_guard lock(mutex_);
  audio_ = std::move(devices);
  defaultOutput_ = defaultOutput;
}

}  // namespace quib
