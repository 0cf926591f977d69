#include "actions/ActionExecutor.h"

#include <cmath>
#include <limits>

#include "actions/MediaKeys.h"
#include "text/Url.h"

namespace quib {

namespace {
constexpr const char* kNeedsAccessibility = "손쉬운 사용 권한이 필요합니다";
constexpr const char* kNotMade = "이벤트 생성 실패";

// Whole pixels toward zero; none when the value is not finite or does not fit 32 bits.
std::optional<std::int32_t> wheelDelta(double v) {
  if (!std::isfinite(v)) return std::nullopt;
  const double t = std::trunc(v);
  if (t < std::numeric_limits<std::int32_t>::min() || t > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(t);
}
}  // namespace

ActionExecutor::ActionExecutor(Platform platform, MainQueue& mainQueue)
    : platform_(platform),
      keyboard_(platform, mainQueue),
      audio_(platform.audio),
      apps_(platform.applications) {}

ActionResult ActionExecutor::perform(const QuibAction& a) {
  platform_.events.takeSendFailure();  // a failure before this action is not this action's
  ActionResult result = dispatch(a);
  // Made and posted is not sent: a desktop that refused an event or left it unanswered gets no ok.
  if (platform_.events.takeSendFailure() && result.ok) return {false, kNotSent};
  return result;
}

ActionResult ActionExecutor::dispatch(const QuibAction& a) {
  const std::string value = a.value.value_or("");
  switch (a.kind) {
    case QuibActionKind::launchApp:
      return apps_.launchApp(value);
    case QuibActionKind::keystroke:
      return keyboard_.keystroke(value, a.modifiers);
    case QuibActionKind::volumeUp:
      if (!MediaKeys::press(platform_.events, MediaKeys::kSoundUp)) return {false, kNotMade};
      return {true, "볼륨 올림"};
    case QuibActionKind::volumeDown:
      if (!MediaKeys::press(platform_.events, MediaKeys::kSoundDown)) return {false, kNotMade};
      return {true, "볼륨 내림"};
    case QuibActionKind::mute:
      if (!MediaKeys::press(platform_.events, MediaKeys::kMute)) return {false, kNotMade};
      return {true, "음소거 전환"};
    case QuibActionKind::audioOutputNext:
      if (auto name = audio_.switchToNext()) return {true, "출력: " + *name};
      return {false, "오디오 출력 전환 실패"};
    case QuibActionKind::screenshotRegion:
      return screenshotRegion();
    case QuibActionKind::openURL:
      return openAddress(a);
    case QuibActionKind::openSite:
      return openSite(a);
    case QuibActionKind::typeText:
      return keyboard_.typeText(value);
    case QuibActionKind::setClipboard:
      return setClipboard(a);
    case QuibActionKind::pointerMove:
      return pointerMove(a);
    case QuibActionKind::pointerScroll:
      return pointerScroll(a);
    case QuibActionKind::pointerClick:
      return pointerClick(a);
    case QuibActionKind::pointerDown:
      return pointerButton(true);
    case QuibActionKind::pointerUp:
      return pointerButton(false);
  }
  return {false, ""};
}

ActionResult ActionExecutor::screenshotRegion() {
  // The reply names the shortcut the phone knows, whichever way the desktop is asked.
  static const std::vector<std::string> kShortcut = {"command", "shift"};
  switch (platform_.screenshots.startRegionScreenshot()) {
    case Screenshots::Start::useKeystroke:
      return keyboard_.keystroke("4", kShortcut);
    case Screenshots::Start::started:
      return {true, "command+shift 4"};
    case Screenshots::Start::failed:
      break;
  }
  return {false, kNotMade};
}

ActionResult ActionExecutor::openAddress(const QuibAction& a) {
  if (!a.url || !Url::isParseable(*a.url)) return {false, "주소가 올바르지 않음"};
  // What happens once the handler has it is not awaited; an address no handler takes must not be
  // answered with success.
  if (!platform_.workspace.openURL(*a.url)) return {false, "이 주소를 열 앱이 없음: " + *a.url};
  return {true, Url::displayHost(*a.url).value_or(*a.url)};
}

ActionResult ActionExecutor::openSite(const QuibAction& a) {
  if (a.preferApp == true && a.value && apps_.appPath(*a.value)) return apps_.launchApp(*a.value);
  return openAddress(a);
}

ActionResult ActionExecutor::setClipboard(const QuibAction& a) {
  platform_.pasteboard.clearContents();
  if (!platform_.pasteboard.writeItems({PasteboardItem::text(a.value.value_or(""))}))
    return {false, Keyboard::kClipboardUnavailable};
  return {true, "클립보드에 복사됨"};
}

Point ActionExecutor::pointer() {
  return platform_.events.pointerLocation().value_or(Point{0, 0});
}

ActionResult ActionExecutor::pointerMove(const QuibAction& a) {
  const double dx = a.dx.value_or(0), dy = a.dy.value_or(0);
  if (!platform_.accessibility.isTrusted()) return {false, kNeedsAccessibility};
  const Point from = pointer();
  const Point to{from.x + dx, from.y + dy};
  auto e = platform_.events.makeMouseEvent(
      draggingButton_ ? EventType::leftMouseDragged : EventType::mouseMoved, to, MouseButton::left);
  if (!e) return {false, "이동 실패"};
  e->flags = 0;
  platform_.events.post(*e);
  return {true, ""};
}

ActionResult ActionExecutor::pointerScroll(const QuibAction& a) {
  auto dx = wheelDelta(a.dx.value_or(0)), dy = wheelDelta(a.dy.value_or(0));
  if (!dx || !dy) return {false, "스크롤 실패"};
  auto e = platform_.events.makeScrollEvent(*dy, *dx);
  if (!e) return {false, "스크롤 실패"};
  e->flags = 0;
  platform_.events.post(*e);
  return {true, ""};
}

ActionResult ActionExecutor::pointerClick(const QuibAction& a) {
  const std::string button = a.value.value_or("left");
  if (!platform_.accessibility.isTrusted()) return {false, kNeedsAccessibility};
  const Point at = pointer();
  const bool right = button == "right";
  const int downType = right ? EventType::rightMouseDown : EventType::leftMouseDown;
  const int upType = right ? EventType::rightMouseUp : EventType::leftMouseUp;
  const MouseButton which = right ? MouseButton::right : MouseButton::left;
  const int clicks = button == "double" ? 2 : 1;
  for (int i = 1; i <= clicks; ++i) {
    auto down = platform_.events.makeMouseEvent(downType, at, which);
    auto up = platform_.events.makeMouseEvent(upType, at, which);
    if (!down || !up) return {false, kNotMade};
    down->clickState = up->clickState = i;
    down->flags = up->flags = 0;
    platform_.events.post(*down);
    platform_.events.post(*up);
  }
  return {true, right ? "우클릭" : "클릭"};
}

ActionResult ActionExecutor::pointerButton(bool down) {
  const Point at = pointer();
  auto e = platform_.events.makeMouseEvent(down ? EventType::leftMouseDown : EventType::leftMouseUp, at,
                                           MouseButton::left);
  // A release is remembered even when it cannot be made: the button must not stay down in our books.
  draggingButton_ = down && e;
  if (!e) return {false, kNotMade};
  e->flags = 0;
  platform_.events.post(*e);
  return {true, down ? "드래그 시작" : "드래그 끝"};
}

}  // namespace quib
