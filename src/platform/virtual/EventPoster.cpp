#include "platform/virtual/EventPoster.h"

#include <charconv>
#include <cstdio>
#include <utility>

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

}  // namespace

std::string VirtualEventPoster::describe(const InputEvent& e) {
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

std::optional<InputEvent> VirtualEventPoster::make(InputEvent e) {
  std::lock_guard lock(mutex_);
  if (failing_.contains(e.kind)) return std::nullopt;
  return e;
}

std::optional<Point> VirtualEventPoster::pointerLocation() {
  std::lock_guard lock(mutex_);
  if (failing_.contains(InputEvent::Kind::mouse)) return std::nullopt;
  return pointer_;
}

std::optional<InputEvent> VirtualEventPoster::makeKeyboardEvent(std::uint16_t keyCode, bool down) {
  return make(InputEvent::key(keyCode, down));
}

std::optional<InputEvent> VirtualEventPoster::makeMouseEvent(int type, Point location, MouseButton button) {
  return make(InputEvent::mouse(type, location, button));
}

std::optional<InputEvent> VirtualEventPoster::makeScrollEvent(std::int32_t vertical,
                                                              std::int32_t horizontal) {
  return make(InputEvent::scroll(vertical, horizontal));
}

std::optional<InputEvent> VirtualEventPoster::makeSystemDefinedEvent(int subtype, std::uint64_t modifierFlags,
                                                                     std::int64_t data1, std::int64_t data2) {
  return make(InputEvent::systemDefined(subtype, modifierFlags, data1, data2));
}

void VirtualEventPoster::post(const InputEvent& event) {
  {
    std::lock_guard lock(mutex_);
    if (refused_.count(event.kind)) {
      sendFailed_ = true;
      return;
    }
    events_.push_back(event);
    // Moving events move the pointer, as on a real desktop.
    if (event.kind == InputEvent::Kind::mouse) pointer_ = event.location;
  }
  log_.emit(describe(event));
}

void VirtualEventPoster::pause(std::chrono::microseconds duration) {
  InputEvent e;
  e.type = -1;
  e.data1 = duration.count();
  std::lock_guard lock(mutex_);
  events_.push_back(e);
}

std::vector<InputEvent> VirtualEventPoster::posted() {
  std::lock_guard lock(mutex_);
  return events_;
}

void VirtualEventPoster::clearEvents() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

void VirtualEventPoster::setPointer(Point p) {
  std::lock_guard lock(mutex_);
  pointer_ = p;
}

void VirtualEventPoster::failEvents(std::set<InputEvent::Kind> kinds) {
  std::lock_guard lock(mutex_);
  failing_ = std::move(kinds);
}

bool VirtualEventPoster::takeSendFailure() {
  std::lock_guard lock(mutex_);
  return std::exchange(sendFailed_, false);
}

void VirtualEventPoster::refuseSends(std::set<InputEvent::Kind> kinds) {
  std::lock_guard lock(mutex_);
  refused_ = std::move(kinds);
}

}  // namespace quib
