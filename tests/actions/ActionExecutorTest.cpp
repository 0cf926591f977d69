#include "actions/ActionFixture.h"

namespace quib::test {
namespace {

using ActionExecutorTest = ActionFixture;

QuibAction delta(QuibActionKind kind, std::optional<double> dx, std::optional<double> dy) {
  QuibAction a;
  a.kind = kind;
  a.dx = dx;
  a.dy = dy;
  return a;
}

TEST_F(ActionExecutorTest, MovesClicksAndDrags) {
  desktop.events().setPointer({100, 100});
  EXPECT_EQ(executor.perform(delta(QuibActionKind::pointerMove, 12.5, -4)), (ActionResult{true, ""}));
  EXPECT_EQ(executor.perform(delta(QuibActionKind::pointerMove, std::nullopt, std::nullopt)),
            (ActionResult{true, ""}));
  EXPECT_EQ(executor.perform(action(QuibActionKind::pointerDown)), (ActionResult{true, "드래그 시작"}));
  EXPECT_EQ(executor.perform(delta(QuibActionKind::pointerMove, 10, 0)), (ActionResult{true, ""}));
  EXPECT_EQ(executor.perform(action(QuibActionKind::pointerUp)), (ActionResult{true, "드래그 끝"}));
  executor.perform(delta(QuibActionKind::pointerMove, 1, 1));
  auto e = posted();
  ASSERT_EQ(e.size(), 6u);
  EXPECT_EQ(e[0].type, EventType::mouseMoved);
  EXPECT_EQ(e[0].location, (Point{112.5, 96}));
  EXPECT_EQ(e[1].location, (Point{112.5, 96}));
  EXPECT_EQ(e[2].type, EventType::leftMouseDown);
  EXPECT_EQ(e[3].type, EventType::leftMouseDragged);
  EXPECT_EQ(e[3].location, (Point{122.5, 96}));
  EXPECT_EQ(e[4].type, EventType::leftMouseUp);
  EXPECT_EQ(e[4].location, (Point{122.5, 96}));
  EXPECT_EQ(e[5].type, EventType::mouseMoved);
  EXPECT_FALSE(executor.draggingButton());
}

TEST_F(ActionExecutorTest, ClickKinds) {
  EXPECT_EQ(executor.perform(action(QuibActionKind::pointerClick, "double")), (ActionResult{true, "클릭"}));
  auto e = posted();
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ((std::vector<std::int64_t>{e[0].clickState, e[1].clickState, e[2].clickState, e[3].clickState}),
            (std::vector<std::int64_t>{1, 1, 2, 2}));
  EXPECT_EQ(e[2].type, EventType::leftMouseDown);
  desktop.events().clearEvents();
  EXPECT_EQ(executor.perform(action(QuibActionKind::pointerClick, "right")), (ActionResult{true, "우클릭"}));
  EXPECT_EQ(posted()[0].type, EventType::rightMouseDown);
  EXPECT_EQ(posted()[1].button, MouseButton::right);
  desktop.events().clearEvents();
  EXPECT_EQ(executor.perform(action(QuibActionKind::pointerClick, "Right")), (ActionResult{true, "클릭"}));
  EXPECT_EQ(posted().size(), 2u);
  EXPECT_EQ(posted()[0].type, EventType::leftMouseDown);
}

// Each refusal: the phone reads why, nothing reaches the desktop, and no button is left down in
// our books.
TEST_F(ActionExecutorTest, RefusalsSayWhyAndPostNothing) {
  using K = InputEvent::Kind;
  const ActionResult noPermission{false, "손쉬운 사용 권한이 필요합니다"}, notMade{false, "이벤트 생성 실패"},
      noScroll{false, "스크롤 실패"};
  struct Case {
    bool trusted;
    std::set<K> failing;
    QuibAction action;
    ActionResult result;
  };
  std::vector<Case> cases = {
      {true, {}, action(QuibActionKind::keystroke, "f1", {"command"}), {false, "지원하지 않는 키: f1"}},
      {true, {}, action(QuibActionKind::keystroke), {false, "지원하지 않는 키: "}},
      {false, {}, action(QuibActionKind::keystroke, "c"), noPermission},
      {false, {}, action(QuibActionKind::typeText, "x"), noPermission},
      {false, {}, delta(QuibActionKind::pointerMove, 1, 1), noPermission},
      {false, {}, action(QuibActionKind::pointerClick), noPermission},
      {true, {K::keyboard}, action(QuibActionKind::keystroke, "c"), notMade},
      {true, {K::mouse}, action(QuibActionKind::pointerClick), notMade},
      {true, {K::mouse}, delta(QuibActionKind::pointerMove, 1, 1), {false, "이동 실패"}},
      {true, {K::mouse}, action(QuibActionKind::pointerDown), notMade},
      {true, {K::scroll}, delta(QuibActionKind::pointerScroll, 0, 1), noScroll},
  };
  for (double bad : {1e12, -1e12, std::numeric_limits<double>::infinity(), std::nan("")}) {
    cases.push_back({true, {}, delta(QuibActionKind::pointerScroll, 0, bad), noScroll});
    cases.push_back({true, {}, delta(QuibActionKind::pointerScroll, bad, 0), noScroll});
  }
  for (const Case& c : cases) {
    desktop.accessibility().setTrusted(c.trusted);
    desktop.events().failEvents(c.failing);
    EXPECT_EQ(executor.perform(c.action), c.result) << toString(c.action.kind);
    EXPECT_TRUE(posted().empty()) << toString(c.action.kind);
    EXPECT_FALSE(executor.draggingButton());
  }
  // Without permission scrolling and the buttons still work.
  desktop.accessibility().setTrusted(false);
  desktop.events().failEvents({});
  EXPECT_EQ(executor.perform(delta(QuibActionKind::pointerScroll, 0, 1)), (ActionResult{true, ""}));
  EXPECT_EQ(executor.perform(action(QuibActionKind::pointerDown)).ok, true);
}

TEST_F(ActionExecutorTest, ScrollTruncatesToWholeLines) {
  executor.perform(delta(QuibActionKind::pointerScroll, -2.5, 3.9));
  executor.perform(delta(QuibActionKind::pointerScroll, std::nullopt, -3.9));
  auto e = posted();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].wheel1, 3);
  EXPECT_EQ(e[0].wheel2, -2);
  EXPECT_EQ(e[1].wheel1, -3);
  EXPECT_EQ(e[1].wheel2, 0);
}

TEST_F(ActionExecutorTest, MediaKeysPostDownAndUp) {
  EXPECT_EQ(executor.perform(action(QuibActionKind::volumeDown)), (ActionResult{true, "볼륨 내림"}));
  auto e = posted();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].subtype, 8);
  EXPECT_EQ(e[0].data1, (1 << 16) | 0xA00);
  EXPECT_EQ(e[0].flags, 0xA00u);
  EXPECT_EQ(e[1].data1, (1 << 16) | 0xB00);
  EXPECT_EQ(e[1].data2, -1);
  EXPECT_EQ(executor.perform(action(QuibActionKind::mute)), (ActionResult{true, "음소거 전환"}));
  EXPECT_EQ(posted()[2].data1 >> 16, 7);
}

// A desktop that cannot make an action's events, or makes them and then does not take them, gets
// no ok for it; the next action that does reach it is ok again.
TEST_F(ActionExecutorTest, InputTheDesktopDidNotTakeIsNeverOk) {
  struct Case {
    InputEvent::Kind kind;
    QuibAction action;
  };
  QuibAction key = action(QuibActionKind::keystroke, "a");
  const std::vector<Case> cases = {{InputEvent::Kind::systemDefined, action(QuibActionKind::volumeUp)},
                                   {InputEvent::Kind::keyboard, key},
                                   {InputEvent::Kind::mouse, action(QuibActionKind::pointerClick, "left")},
                                   {InputEvent::Kind::scroll, delta(QuibActionKind::pointerScroll, 0, 40)}};
  for (const auto& c : cases) {
    desktop.events().failEvents({c.kind});
    EXPECT_FALSE(executor.perform(c.action).ok) << static_cast<int>(c.kind);
    desktop.events().failEvents({});
    desktop.events().refuseSends({c.kind});
    EXPECT_EQ(executor.perform(c.action), (ActionResult{false, "이벤트 전달 실패"}))
        << static_cast<int>(c.kind);
    desktop.events().refuseSends({});
    EXPECT_TRUE(executor.perform(c.action).ok) << static_cast<int>(c.kind);
  }
}

TEST_F(ActionExecutorTest, AudioOutputSwitching) {
  using D = VirtualAudioHardware::AudioDevice;
  const auto next = action(QuibActionKind::audioOutputNext);
  EXPECT_EQ(executor.perform(next), (ActionResult{false, "오디오 출력 전환 실패"}));
  desktop.audio().setAudioDevices(
      {D{1, "Mic", std::vector<std::uint32_t>{0}}, D{2, "Speakers", std::vector<std::uint32_t>{2}}}, 1);
  EXPECT_EQ(executor.perform(next), (ActionResult{true, "출력: Speakers"}));  // one output: nothing set
  EXPECT_EQ(desktop.audio().defaultOutputDevice(), 1u);
  desktop.audio().setAudioDevices(
      {D{10, "A", std::vector<std::uint32_t>{2}}, D{11, "B", std::vector<std::uint32_t>{0, 2}},
       D{12, "C", std::vector<std::uint32_t>{2}}, D{13, std::nullopt, std::vector<std::uint32_t>{2}},
       D{14, "Broken", std::nullopt}},
      12);
  EXPECT_EQ(executor.audio().outputDevices(),
            (std::vector<AudioOutput::Device>{{10, "A"}, {11, "B"}, {12, "C"}}));
  EXPECT_EQ(executor.perform(next), (ActionResult{true, "출력: A"}));  // wraps
  EXPECT_EQ(desktop.audio().defaultOutputDevice(), 10u);
  EXPECT_EQ(executor.perform(next), (ActionResult{true, "출력: B"}));
  desktop.audio().setAudioDevices(
      {D{10, "A", std::vector<std::uint32_t>{2}}, D{11, "B", std::vector<std::uint32_t>{2}}}, std::nullopt);
  EXPECT_EQ(executor.perform(next), (ActionResult{true, "출력: A"}));  // no current device: the first
}

TEST_F(ActionExecutorTest, OpeningAddressesAndSites) {
  auto open = [&](std::optional<std::string> url, std::optional<std::string> value = std::nullopt,
                  std::optional<bool> preferApp = std::nullopt) {
    QuibAction a = action(preferApp || value ? QuibActionKind::openSite : QuibActionKind::openURL, value);
    a.url = std::move(url);
    a.preferApp = preferApp;
    return executor.perform(a);
  };
  EXPECT_EQ(open("https://www.example.com/path?q=1"), (ActionResult{true, "www.example.com"}));
  EXPECT_EQ(open("mailto:someone@example.com"), (ActionResult{true, "mailto:someone@example.com"}));
  // An empty authority names no host: the text itself is the answer.
  EXPECT_EQ(open("things:///add?title=Milk"), (ActionResult{true, "things:///add?title=Milk"}));
  EXPECT_EQ(open("https:///example.com"), (ActionResult{true, "https:///example.com"}));
  EXPECT_EQ(open("https://위키.한국/대문"), (ActionResult{true, "위키.한국"}));  // internationalized
  EXPECT_EQ(open(std::nullopt), (ActionResult{false, "주소가 올바르지 않음"}));
  EXPECT_EQ(open("not a url"), (ActionResult{false, "주소가 올바르지 않음"}));
  EXPECT_EQ(open("http://bad%zz"), (ActionResult{false, "주소가 올바르지 않음"}));
  EXPECT_EQ(desktop.workspace().openedURLs(),
            (std::vector<std::string>{"https://www.example.com/path?q=1", "mailto:someone@example.com",
                                      "things:///add?title=Milk", "https:///example.com",
                                      "https://위키.한국/대문"}));
  makeApp("/Applications/YouTube.app");
  EXPECT_EQ(open("https://youtube.com", "YouTube", true), (ActionResult{true, "YouTube 실행"}));
  EXPECT_EQ(open("https://youtube.com", "YouTube", std::nullopt), (ActionResult{true, "youtube.com"}));
  EXPECT_EQ(open("https://music.test", "Missing", true), (ActionResult{true, "music.test"}));
  EXPECT_EQ(desktop.applications().launched(), std::vector<std::string>{"/Applications/YouTube.app"});
}

TEST_F(ActionExecutorTest, SetClipboard) {
  EXPECT_EQ(executor.perform(action(QuibActionKind::setClipboard, "hello")),
            (ActionResult{true, "클립보드에 복사됨"}));
  EXPECT_EQ(desktop.pasteboard().string(), "hello");
  EXPECT_EQ(executor.perform(action(QuibActionKind::setClipboard)),
            (ActionResult{true, "클립보드에 복사됨"}));
  EXPECT_EQ(desktop.pasteboard().string(), "");
  EXPECT_EQ(desktop.pasteboard().items().size(), 1u);
}

TEST_F(ActionExecutorTest, AppLookupOrderLinksAndIdentifiers) {
  AppLocator& apps = executor.apps();
  makeApp("/Users/me/Applications/Notes.app");
  EXPECT_EQ(apps.appPath("Notes"), "/Users/me/Applications/Notes.app");
  makeApp("/System/Library/CoreServices/Notes.app");
  EXPECT_EQ(apps.appPath("Notes"), "/System/Library/CoreServices/Notes.app");
  makeApp("/Applications/Notes.app");
  EXPECT_EQ(apps.appPath("Notes"), "/Applications/Notes.app");
  EXPECT_FALSE(apps.appPath("notes"));      // not case-folded
  EXPECT_FALSE(apps.appPath("Notes.app"));  // the suffix is not stripped
  EXPECT_FALSE(apps.appPath("../Applications/Notes"));
  makeApp("/Elsewhere/Real.app");
  std::filesystem::create_directories(desktop.files().onDisk("/System/Applications"));
  std::filesystem::create_symlink(desktop.files().onDisk("/Elsewhere/Real.app"),
                                  desktop.files().onDisk("/System/Applications/Linked.app"));
  EXPECT_EQ(apps.appPath("Linked"), "/Elsewhere/Real.app");
  desktop.applications().setBundleIdentifier("com.example.notes", "/Elsewhere/Real.app");
  EXPECT_EQ(apps.appPath("com.example.notes"), "/Elsewhere/Real.app");
  EXPECT_EQ(executor.perform(action(QuibActionKind::launchApp, "com.example.notes")),
            (ActionResult{true, "com.example.notes 실행"}));
  EXPECT_EQ(executor.perform(action(QuibActionKind::launchApp)),
            (ActionResult{false, "앱 이름이 비어 있음"}));
  EXPECT_EQ(executor.perform(action(QuibActionKind::launchApp, "Nope")),
            (ActionResult{false, "앱을 찾을 수 없음: Nope"}));
}

}  // namespace
}  // namespace quib::test
