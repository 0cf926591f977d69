// Actions end to end: a sealed request over TCP, the effect on the virtual desktop, the ack.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "support/TestServer.h"

namespace quib::test {
namespace {

QuibAction act(QuibActionKind kind, std::optional<std::string> value = {},
               std::vector<std::string> mods = {}) {
  return {kind, std::move(value), std::move(mods), {}, {}, {}, {}};
}
QuibAction delta(QuibActionKind kind, std::optional<double> dx, std::optional<double> dy) {
  return {kind, {}, {}, {}, {}, dx, dy};
}
QuibAction open(std::optional<std::string> url, std::optional<std::string> app = {},
                std::optional<bool> preferApp = {}) {
  return {
      app ? QuibActionKind::openSite : QuibActionKind::openURL, app, {}, std::move(url), preferApp, {}, {}};
}

struct Row {
  QuibAction action;
  ActionResult result;
  std::string events = "";  // what reached the desktop, as seen() writes it
};

class ActionsOverWireTest : public ::testing::Test {
 protected:
  TestServer t;
  std::unique_ptr<QuibClient> c = t.connectPaired("phone");

  ServerMessage send(const QuibAction& a) { return c->request(actionRequest("a", a)); }

  // The events that reached the desktop since the last call: "move x,y", "ldown x,y c1 R" (click
  // count, right button), "kdown 8 sm" (shift, control, alt, meta for command), "scroll 3,-2",
  // "sys 8 a00 10a00 -1" (subtype, flags, data in hex), "pause 15000" (microseconds).
  std::string seen() {
    static const std::map<int, std::string> names = {
        {-1, "pause"}, {1, "ldown"},  {2, "lup"},  {3, "rdown"},  {4, "rup"},  {5, "move"},
        {6, "drag"},   {10, "kdown"}, {11, "kup"}, {12, "flags"}, {14, "sys"}, {22, "scroll"}};
    std::ostringstream out;
    for (const InputEvent& e : t.desktop().events().posted()) {
      out << (out.tellp() ? ", " : "") << names.at(e.type);
      if (e.type == -1) {
        out << ' ' << e.data1;
      } else if (e.kind == InputEvent::Kind::mouse) {
        out << ' ' << e.location.x << ',' << e.location.y << (e.clickState ? " c" : "");
        if (e.clickState) out << e.clickState;
        if (e.button == MouseButton::right) out << " R";
      } else if (e.kind == InputEvent::Kind::scroll) {
        out << ' ' << e.wheel1 << ',' << e.wheel2;
      } else if (e.kind == InputEvent::Kind::systemDefined) {
        out << ' ' << e.subtype << std::hex << ' ' << e.flags << ' ' << e.data1 << std::dec << ' ' << e.data2;
      } else {
        out << ' ' << e.keyCode << (e.flags ? " " : "");
        for (auto [flag, letter] : {std::pair{EventFlags::shift, 's'},
                                    {EventFlags::control, 'c'},
                                    {EventFlags::alternate, 'a'},
                                    {EventFlags::command, 'm'}})
          if (e.flags & flag) out << letter;
      }
    }
    t.desktop().events().clearEvents();
    return out.str();
  }

  void run(const std::vector<Row>& rows) {
    for (const Row& r : rows) {
      const auto reply = send(r.action);
      const std::string what = std::string(toString(r.action.kind)) + " " + r.action.value.value_or("");
      EXPECT_EQ(std::pair(reply.ok.value_or(false), reply.message.value_or("?")),
                std::pair(r.result.ok, r.result.message))
          << what;
      EXPECT_EQ(seen(), r.events) << what;
    }
  }
};

TEST_F(ActionsOverWireTest, PointerKeysAndMediaKeys) {
  using K = QuibActionKind;
  t.desktop().events().setPointer({100, 100});
  run({
      {delta(K::pointerMove, 12.5, -4), {true, ""}, "move 112.5,96"},
      {delta(K::pointerMove, {}, {}), {true, ""}, "move 112.5,96"},
      {act(K::pointerDown), {true, "드래그 시작"}, "ldown 112.5,96"},
      {delta(K::pointerMove, 10, 0), {true, ""}, "drag 122.5,96"},
      {act(K::pointerUp), {true, "드래그 끝"}, "lup 122.5,96"},
      {delta(K::pointerMove, 1, 1), {true, ""}, "move 123.5,97"},
      {act(K::pointerClick, "double"),
       {true, "클릭"},
       "ldown 123.5,97 c1, lup 123.5,97 c1, ldown 123.5,97 c2, lup 123.5,97 c2"},
      {act(K::pointerClick, "right"), {true, "우클릭"}, "rdown 123.5,97 c1 R, rup 123.5,97 c1 R"},
      // Scrolling truncates to whole lines; a missing axis is zero.
      {delta(K::pointerScroll, -2.5, 3.9), {true, ""}, "scroll 3,-2"},
      {delta(K::pointerScroll, {}, -3.9), {true, ""}, "scroll -3,0"},
      // Modifiers press in a fixed order and release in reverse, around a key held 15 ms.
      {act(K::keystroke, "c", {"shift", "command"}),
       {true, "shift+command c"},
       "flags 56 s, flags 55 sm, kdown 8 sm, pause 15000, kup 8 sm, flags 55 s, flags 56"},
      {act(K::keystroke, "escape", {"Alt", "ctrl"}),
       {true, "Alt+ctrl escape"},
       "flags 59 c, flags 58 ca, kdown 53 ca, pause 15000, kup 53 ca, flags 58 c, flags 59"},
      {act(K::volumeDown), {true, "볼륨 내림"}, "sys 8 a00 10a00 -1, sys 8 b00 10b00 -1"},
      // Text is pasted with command-V and counted in characters: a family emoji is one.
      {act(K::typeText, "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"),
       {true, "입력함 (1자)"},
       "flags 55 m, kdown 9 m, pause 15000, kup 9 m, flags 55"},
  });
}

// Each refusal: the phone reads why, and nothing reaches the desktop.
TEST_F(ActionsOverWireTest, RefusalsSayWhyAndReachNothing) {
  using K = QuibActionKind;
  using E = InputEvent::Kind;
  const ActionResult noPermission{false, "손쉬운 사용 권한이 필요합니다"}, notMade{false, "이벤트 생성 실패"},
      noScroll{false, "스크롤 실패"}, noClipboard{false, "클립보드를 사용할 수 없음"};
  std::string tooLong;
  for (int i = 0; i < 20001; ++i) tooLong += "가";  // the bound counts characters, not bytes
  struct Case {
    bool trusted;
    std::set<E> failing;
    std::vector<QuibAction> actions;
    ActionResult result;
  };
  const Case cases[] = {
      {true, {}, {act(K::keystroke, "f1", {"command"})}, {false, "지원하지 않는 키: f1"}},
      {true, {}, {act(K::keystroke)}, {false, "지원하지 않는 키: "}},
      {true, {}, {act(K::typeText, tooLong)}, {false, "텍스트가 너무 깁니다 (최대 20000자)"}},
      {true, {}, {act(K::typeText, "")}, {false, "빈 텍스트"}},
      {false,
       {},
       {act(K::keystroke, "c"), act(K::typeText, "x"), delta(K::pointerMove, 1, 1), act(K::pointerClick)},
       noPermission},
      {true, {E::keyboard}, {act(K::keystroke, "c")}, notMade},
      {true, {E::mouse}, {act(K::pointerClick), act(K::pointerDown)}, notMade},
      {true, {E::mouse}, {delta(K::pointerMove, 1, 1)}, {false, "이동 실패"}},
      {true, {E::systemDefined}, {act(K::volumeUp)}, notMade},
      {true, {E::scroll}, {delta(K::pointerScroll, 0, 1)}, noScroll},
      // A peer cannot send NaN, and a number too large for a double is out of range too.
      {true, {}, {delta(K::pointerScroll, 0, 1e12), delta(K::pointerScroll, -1e12, 0)}, noScroll},
  };
  t.desktop().pasteboard().copyText("before");
  for (const Case& k : cases) {
    t.desktop().accessibility().setTrusted(k.trusted);
    t.desktop().events().failEvents(k.failing);
    for (const QuibAction& a : k.actions) run({{a, k.result}});
  }
  EXPECT_EQ(t.desktop().pasteboard().string(), "before");
  t.desktop().events().failEvents({});
  t.desktop().events().setPointer({0, 0});
  run({{delta(K::pointerMove, 1, 1), {true, ""}, "move 1,1"}});  // the refused press left no drag behind
  // Without permission scrolling and the buttons still work.
  t.desktop().accessibility().setTrusted(false);
  EXPECT_EQ(send(delta(K::pointerMove, 1, 1)).accessibilityGranted, false);
  run({{delta(K::pointerScroll, 0, 1), {true, ""}, "scroll 1,0"},
       {act(K::pointerDown), {true, "드래그 시작"}, "ldown 1,1"},
       {act(K::pointerUp), {true, "드래그 끝"}, "lup 1,1"}});
  t.desktop().accessibility().setTrusted(true);

  // A desktop that makes an action's events and then does not take them gets no ok for it.
  for (const auto& [kind, a] :
       std::vector<std::pair<E, QuibAction>>{{E::systemDefined, act(K::volumeUp)},
                                             {E::keyboard, act(K::keystroke, "a")},
                                             {E::mouse, act(K::pointerClick)},
                                             {E::scroll, delta(K::pointerScroll, 0, 40)}}) {
    t.desktop().events().refuseSends({kind});
    EXPECT_EQ(send(a).message, "이벤트 전달 실패") << toString(a.kind);
    t.desktop().events().refuseSends({});
    EXPECT_EQ(send(a).ok, true) << toString(a.kind);
  }

  // Without a clipboard the clipboard requests fail plainly, and typing by pasting presses nothing.
  t.desktop().pasteboard().setAvailable(false);
  seen();
  run({{act(K::setClipboard, "x"), noClipboard}, {act(K::typeText, "x"), noClipboard}});
  auto history = c->request(request(ClientMessage::Kind::clipboard, "2"));
  EXPECT_EQ(std::tuple(history.ok, history.clipboardItems), std::tuple(false, std::vector<std::string>{}));
}

TEST_F(ActionsOverWireTest, OpeningLaunchingAudioAndClipboard) {
  using K = QuibActionKind;
  using D = VirtualAudioHardware::AudioDevice;
  const ActionResult badAddress{false, "주소가 올바르지 않음"};
  run({
      {open("https://www.example.com/path?q=1"), {true, "www.example.com"}},
      {open("mailto:someone@example.com"), {true, "mailto:someone@example.com"}},
      {open("https://위키.한국/대문"), {true, "위키.한국"}},
      {open(std::nullopt), badAddress},
      {open("not a url"), badAddress},
      {open("http://bad%zz"), badAddress},
  });
  EXPECT_EQ(t.desktop().workspace().openedURLs(),
            (std::vector<std::string>{"https://www.example.com/path?q=1", "mailto:someone@example.com",
                                      "https://위키.한국/대문"}));

  // A name is one folder entry or an identifier: a path is not looked up.
  std::filesystem::create_directories(t.desktop().files().onDisk("/Applications/YouTube.app"));
  run({
      {act(K::launchApp, "YouTube"), {true, "YouTube 실행"}},
      {open("https://youtube.com", "YouTube", true), {true, "YouTube 실행"}},
      {open("https://youtube.com", "YouTube"), {true, "youtube.com"}},
      {open("https://music.test", "Missing", true), {true, "music.test"}},
      {act(K::launchApp), {false, "앱 이름이 비어 있음"}},
      {act(K::launchApp, "../Applications/YouTube"), {false, "앱을 찾을 수 없음: ../Applications/YouTube"}},
  });
  EXPECT_EQ(t.desktop().applications().launched(),
            (std::vector<std::string>{"/Applications/YouTube.app", "/Applications/YouTube.app"}));

  // Outputs only, named and with a known direction, in turn, wrapping; with no current one, the first.
  const auto next = act(K::audioOutputNext);
  run({{next, {false, "오디오 출력 전환 실패"}}});
  using Buffers = std::vector<std::uint32_t>;
  t.desktop().audio().setAudioDevices(
      {D{9, "Mic", Buffers{0}}, D{10, "A", Buffers{2}}, D{11, "B", Buffers{0, 2}}, D{12, "C", Buffers{2}},
       D{13, std::nullopt, Buffers{2}}, D{14, "Broken", std::nullopt}},
      12);
  run({{next, {true, "출력: A"}}, {next, {true, "출력: B"}}});
  EXPECT_EQ(t.desktop().audio().defaultOutputDevice(), 11u);
  t.desktop().audio().setAudioDevices({D{10, "A", Buffers{2}}, D{11, "B", Buffers{2}}}, std::nullopt);
  run({{next, {true, "출력: A"}}});
  EXPECT_EQ(t.desktop().audio().defaultOutputDevice(), 10u);

  t.desktop().pasteboard().copyText("before");
  run({{act(K::setClipboard), {true, "클립보드에 복사됨"}}});
  EXPECT_EQ(std::tuple(t.desktop().pasteboard().items().size(), t.desktop().pasteboard().string()),
            std::tuple(1u, ""));
}

TEST_F(ActionsOverWireTest, PipelinedMovesEachGetAnAck) {
  constexpr int n = 500;  // more than the per-connection bound on outstanding actions
  for (int i = 0; i < n; ++i)
    c->send(actionRequest(std::to_string(i), delta(QuibActionKind::pointerMove, 1, 0)));
  for (int i = 0; i < n; ++i) {
    auto ack = c->readReply();
    ASSERT_EQ(std::tuple(ack.requestId, ack.ok), std::tuple(std::to_string(i), true));
  }
}

}  // namespace
}  // namespace quib::test
