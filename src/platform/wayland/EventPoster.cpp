#include "platform/wayland/EventPoster.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace quib {

namespace {

constexpr std::uint32_t kButtonLeft = 0x110;   // BTN_LEFT
constexpr std::uint32_t kButtonRight = 0x111;  // BTN_RIGHT

}  // namespace

WaylandEventPoster::WaylandEventPoster(InputSink* sink, std::function<std::optional<Screens>()> screens,
                                       LinuxEventPosterOptions options)
    : DesktopEventPoster(std::move(options)), sink_(sink), screens_(std::move(screens)) {}

WaylandEventPoster::~WaylandEventPoster() {
  if (connected()) releaseAll();
}

bool WaylandEventPoster::connected() const {
  return sink_ && sink_->ready();
}

std::optional<Point> WaylandEventPoster::pointerLocation() {
  if (!connected()) return std::nullopt;
  if (!pointer_) {
    const auto box = screens_ ? screens_() : std::nullopt;
    pointer_ =
        box ? Point{std::floor(box->x + box->width / 2), std::floor(box->y + box->height / 2)} : Point{};
  }
  return pointer_;
}

void WaylandEventPoster::pause(std::chrono::microseconds duration) {
  std::this_thread::sleep_for(duration);
}

std::optional<bool> WaylandEventPoster::typeText(const std::string& utf8) {
  if (!connected()) return false;
  releaseAll();
  return sink_->typeText(utf8);
}

bool WaylandEventPoster::canPress(std::uint16_t, KeyTable::KeySymbol) {
  // The sink binds whatever keysym its keymap lacks.
  return true;
}

void WaylandEventPoster::postModifier(std::uint16_t keyCode, bool down) {
  if (!down) {
    postKey(keyCode, false);
    return;
  }
  if (heldKeys_.count(keyCode)) return;
  postKey(keyCode, true);
}

void WaylandEventPoster::postKey(std::uint16_t keyCode, bool down) {
  if (auto it = heldKeys_.find(keyCode); it != heldKeys_.end()) {
    // A second down without an up: the first press ends here.
    sent(sink_->key(it->second, false));
    heldKeys_.erase(it);
  }
  if (!down) return;
  auto sym = keysymFor(keyCode);
  if (!sym) return;
  const auto keysym = static_cast<std::uint32_t>(*sym);
  if (sent(sink_->key(keysym, true))) heldKeys_[keyCode] = keysym;
}

void WaylandEventPoster::moveTo(Point location, bool /*mayHoldBack: each sink sends at once*/) {
  Point to{std::round(location.x), std::round(location.y)};
  if (const auto box = screens_ ? screens_() : std::nullopt) {
    to.x = std::clamp(to.x, box->x, box->x + box->width - 1);
    to.y = std::clamp(to.y, box->y, box->y + box->height - 1);
  }
  if (!sink_->motionAbsolute(to.x, to.y)) {
    const Point from = pointerLocation().value_or(Point{});
    sent(sink_->motionRelative(to.x - from.x, to.y - from.y));
  }
  pointer_ = to;
}

void WaylandEventPoster::postButton(MouseButton button, bool down) {
  const std::uint32_t code = button == MouseButton::left ? kButtonLeft : kButtonRight;
  if (down) {
    if (heldButtons_.count(button)) return;
    if (sent(sink_->button(code, true))) heldButtons_.insert(button);
    return;
  }
  heldButtons_.erase(button);
  sent(sink_->button(code, false));
}

void WaylandEventPoster::postWheel(int axis, std::int64_t clicks) {
  // Our clicks count up and left as positive; the sink's steps count down and right.
  sent(sink_->axisSteps(axis == 0 ? InputSink::Axis::vertical : InputSink::Axis::horizontal,
                        static_cast<int>(-clicks)));
}

void WaylandEventPoster::releaseAll() {
  // Plain keys before modifiers, so nothing is typed with a stale modifier.
  std::vector<std::uint16_t> order;
  for (const auto& [code, sym] : heldKeys_)
    if (!isModifierCode(code)) order.push_back(code);
  for (const auto& [code, sym] : heldKeys_)
    if (isModifierCode(code)) order.push_back(code);
  for (std::uint16_t code : order) postKey(code, false);
  while (!heldButtons_.empty()) postButton(*heldButtons_.begin(), false);
}

}  // namespace quib
