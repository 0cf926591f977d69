#pragma once
// The virtual desktop's input: posted events are recorded (and told to the effect log), the
// pointer follows posted mouse events, and chosen kinds of event can be made to fail.
// Thread-safe.
#include <mutex>
#include <set>
#include <vector>

#include "platform/EventPoster.h"
#include "platform/virtual/EffectLog.h"

namespace quib {

class VirtualEventPoster final : public EventPoster {
 public:
  explicit VirtualEventPoster(EffectLog& log) : log_(log) {}

  std::optional<Point> pointerLocation() override;
  std::optional<InputEvent> makeKeyboardEvent(std::uint16_t keyCode, bool down) override;
  std::optional<InputEvent> makeMouseEvent(int type, Point location, MouseButton button) override;
  std::optional<InputEvent> makeScrollEvent(std::int32_t vertical, std::int32_t horizontal) override;
  std::optional<InputEvent> makeSystemDefinedEvent(int subtype, std::uint64_t modifierFlags,
                                                   std::int64_t data1, std::int64_t data2) override;
  void post(const InputEvent& event) override;
  bool takeSendFailure() override;
  // Recorded, not slept: the virtual desktop has no one to wait for.
  void pause(std::chrono::microseconds duration) override;

  // Posted events, and the pauses between them as events of type -1 with data1 = microseconds.
  std::vector<InputEvent> posted();
  void clearEvents();
  void setPointer(Point p);
  // Events of these kinds cannot be made (pointer location: the mouse kind).
  void failEvents(std::set<InputEvent::Kind> kinds);
  // Events of these kinds are made but the desktop does not take them when posted.
  void refuseSends(std::set<InputEvent::Kind> kinds);

  // The effect-log line of one event.
  static std::string describe(const InputEvent& e);

 private:
  std::optional<InputEvent> make(InputEvent e);

  EffectLog& log_;
  std::mutex mutex_;  // guards the members below
  std::vector<InputEvent> events_;
  std::set<InputEvent::Kind> failing_;
  std::set<InputEvent::Kind> refused_;
  bool sendFailed_ = false;
  Point pointer_{500, 400};
};

}  // namespace quib
