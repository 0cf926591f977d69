// The Wayland backend on the test compositor (headless sway, started by with-sway.sh): the virtual
// keyboard and pointer, driven directly and through the event poster, read back by a GTK window;
// what the desktop's keymap can type; a lost compositor in the menu; the clipboard through
// data-control, read and written from outside with wl-paste and wl-copy and by a password manager's
// copy that carries the hint; and a compositor that stops reading for a while. What every desktop's
// poster shares (the command key, scroll remainders, media keys) is checked on X11, and each action
// end to end by the program test.
#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "platform/linux/MainContextWait.h"
#include "platform/wayland/Accessibility.h"
#include "platform/wayland/EventPoster.h"
#include "platform/wayland/Pasteboard.h"
#include "platform/wayland/SeatKeymap.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WlrootsInput.h"
#include "support/ChildProcess.h"

namespace quib::test {
namespace {

using std::chrono::milliseconds;

// The test compositor's connection, opened once for the binary; null when it does not open.
WaylandConnection* testConnection() {
  static std::unique_ptr<WaylandConnection> connection = [] {
    std::string why;
    auto c = WaylandConnection::open(why);
    if (!c) std::fprintf(stderr, "no Wayland display (%s); run under with-sway.sh\n", why.c_str());
    return c;
  }();
  return connection.get();
}

bool pumpUntil(const std::function<bool()>& done) {
  return linuxdesktop::iterateMainContextUntil(done, std::chrono::seconds(5));
}

// The longest the default main context went without turning while this watched it (a 5 ms timer).
class LoopWatch {
 public:
  LoopWatch() : source_(g_timeout_add(5, tick, this)) {}
  ~LoopWatch() { g_source_remove(source_); }
  LoopWatch(const LoopWatch&) = delete;  // the timer holds this address
  milliseconds longest() const { return std::chrono::duration_cast<milliseconds>(longest_); }

 private:
  static gboolean tick(gpointer p) {
    auto* w = static_cast<LoopWatch*>(p);
    const auto now = std::chrono::steady_clock::now();
    w->longest_ = std::max(w->longest_, now - std::exchange(w->last_, now));
    return G_SOURCE_CONTINUE;
  }
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration longest_{};
  unsigned source_;
};

TEST(WlrootsInputTest, KeysAndTextsBeyondOneKeymapArriveInOrder) {
  SeatKeymap seat(*testConnection());  // no keyboard on the seat: the program run first took its own
  // Made before the window: sway drops the first keys of a keyboard made while a window has focus.
  auto sink = WlrootsInput::create(*testConnection());
  ASSERT_NE(sink, nullptr);
  EXPECT_TRUE(seat.catchUp()) << "the keymap of a keyboard the seat gained later is read";
  ChildProcess window({"/usr/bin/env", "GDK_BACKEND=wayland", "/usr/bin/python3", QUIB_TEST_WINDOW});
  ASSERT_TRUE(window.waitFor("ready\n")) << window.output();
  // A keysym the layout lacks (EuroSign on the US layout) is bound for it.
  EXPECT_TRUE(sink->key(0x20ac, true) && sink->key(0x20ac, false));
  EXPECT_TRUE(window.waitFor("key EuroSign -\n")) << window.output();
  // What is still held when the sink lets go is released, so nothing sticks.
  ASSERT_TRUE(sink->key(0xffe3, true));  // Control_L
  sink->releaseAll();
  EXPECT_TRUE(sink->key('b', true) && sink->key('b', false));
  EXPECT_TRUE(window.waitFor("key b -\n")) << window.output();

  // More different characters than one keymap holds, then one of the first keymap's again; the
  // window prints the field with Python's unicode_escape.
  std::u32string chars;
  for (char32_t c = 0x4e00; c < 0x4e00 + 300; ++c) chars.push_back(c);
  chars += U"\u4e00z \u05e9\u05dc\u05d5\u05dd";
  std::string text, shown = "text \\u20acb";
  for (char32_t c : chars) {
    char buf[12];
    text.append(buf, static_cast<std::size_t>(g_unichar_to_utf8(c, buf)));
    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
    shown += c < 0x80 ? std::string(1, static_cast<char>(c)) : buf;
  }
  ASSERT_EQ(sink->typeText(text + "\n"), std::optional<bool>(true));
  EXPECT_TRUE(window.waitFor(shown + "\n")) << window.output().substr(0, 2000);
  // The newline is the Return key: the field keeps one line.
  EXPECT_TRUE(window.waitFor("key Return -\n")) << window.output();
  EXPECT_EQ(sink->typeText("\xff\xfe not UTF-8"), std::optional<bool>(false));
}

// Where the pointer goes is the poster's to say (the program test sees the moves and clicks arrive).
TEST(WaylandEventPosterTest, ThePointerIsWhereWeLastPutItWithinTheScreens) {
  auto sink = WlrootsInput::create(*testConnection());
  ASSERT_NE(sink, nullptr);
  WaylandEventPoster events(sink.get(), [] {
    return std::optional(WaylandEventPoster::Screens{0, 0, 1280, 800});
  });
  for (const auto& [to, at] : {std::pair{Point{200.4, 149.6}, Point{200, 150}}, {{-50, 9999}, {0, 799}}}) {
    events.post(*events.makeMouseEvent(EventType::mouseMoved, to, MouseButton::left));
    EXPECT_EQ(events.pointerLocation(), at);
  }

  WaylandEventPoster without(nullptr, nullptr);
  EXPECT_FALSE(without.makeKeyboardEvent(0, true));
  EXPECT_FALSE(without.makeMouseEvent(EventType::mouseMoved, {1, 1}, MouseButton::left));
  EXPECT_FALSE(without.pointerLocation());
  EXPECT_EQ(without.typeText("x"), std::optional<bool>(false));
}

// What the desktop's keymap can type decides what text goes through the portal: read from the
// keymap's own text form, as the compositor sends it.
std::string keymapText(const char* layout) {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  const xkb_rule_names names{"evdev", "pc105", layout, "", ""};
  xkb_keymap* map = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  char* text = map ? xkb_keymap_get_as_string(map, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
  const std::string out = text ? text : "";
  free(text);
  xkb_keymap_unref(map);
  xkb_context_unref(context);
  return out;
}

TEST(SeatKeymapTest, KeysymsAreThoseOfTheFirstLayoutAtAnyLevel) {
  const auto us = SeatKeymap::keysymsOf(keymapText("us"));
  ASSERT_FALSE(us.empty());
  EXPECT_FALSE(us.contains(XKB_KEY_adiaeresis));
  // A German keymap types its umlauts; only the first layout of a multi-layout keymap counts,
  // since that is the one a keysym is looked up in.
  EXPECT_TRUE(SeatKeymap::keysymsOf(keymapText("de")).contains(XKB_KEY_adiaeresis));
  EXPECT_FALSE(SeatKeymap::keysymsOf(keymapText("us,de")).contains(XKB_KEY_adiaeresis));
  // Where a keysym is, for sending it as a key code: evdev codes, Shift at level 1.
  EXPECT_EQ(us.at(XKB_KEY_a), (KeyPlace{30, 0}));
  EXPECT_EQ(us.at(XKB_KEY_A), (KeyPlace{30, 1}));
  EXPECT_TRUE(SeatKeymap::keysymsOf("not a keymap").empty());
}

TEST(WaylandAccessibilityTest, ALostCompositorIsToldNotAskedFor) {
  // A lost compositor connection is no permission to ask for: the menu says what happened.
  bool lost = false;
  WaylandAccessibility cut(nullptr, [&] { return lost; });
  EXPECT_EQ(cut.problem(), "");
  lost = true;
  cut.refresh();
  EXPECT_EQ(cut.problem(), "디스플레이 서버와의 연결이 끊어졌습니다 (프로그램을 다시 시작하세요)");
  EXPECT_TRUE(cut.isTrusted()) << "actions answer that their events failed, not that permission is missing";
}

// Dispatches what the compositor sends in answer to everything sent so far.
void settle() {
  testConnection()->roundtrip();
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

// Runs a reader of the clipboard (for 5 s at most) while the main context answers its requests;
// its output, or none when it failed.
std::optional<std::string> readFromOutside(const std::string& command) {
  g_autofree gchar* out = nullptr;
  gint status = 0;
  std::atomic<bool> done = false;
  std::thread reader([&] {
    g_spawn_command_line_sync(("timeout 5 " + command).c_str(), &out, nullptr, &status, nullptr);
    done = true;
    g_main_context_wakeup(nullptr);
  });
  pumpUntil([&] { return done.load(); });
  reader.join();
  return out && g_spawn_check_wait_status(status, nullptr) ? std::optional<std::string>(out) : std::nullopt;
}

class WaylandPasteboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(testConnection(), nullptr);
    ASSERT_TRUE(WaylandPasteboard::available(*testConnection()));
    pasteboard = std::make_unique<WaylandPasteboard>(*testConnection());
  }
  // Waits for the next change made by someone else.
  bool changedFrom(std::int64_t count) {
    return pumpUntil([&] { return pasteboard->changeCount() != count; });
  }
  std::unique_ptr<WaylandPasteboard> pasteboard;
};

TEST_F(WaylandPasteboardTest, CopiesBothWaysAreCountedOnceWithTheirHint) {
  const auto start = pasteboard->changeCount();
  pasteboard->clearContents();
  ASSERT_TRUE(pasteboard->writeItems({PasteboardItem::text("from us ✓")}));
  EXPECT_EQ(pasteboard->changeCount(), start + 2);
  settle();
  EXPECT_EQ(pasteboard->changeCount(), start + 2);  // the compositor's news of our own copy
  EXPECT_EQ(readFromOutside("wl-paste -n"), "from us ✓");

  // Concealed contents carry the hint that clipboard managers honour.
  PasteboardItem secret = PasteboardItem::text("hunter2");
  secret.entries.emplace_back(PasteboardType::concealed, "");
  pasteboard->clearContents();
  ASSERT_TRUE(pasteboard->writeItems({secret}));
  EXPECT_EQ(readFromOutside("wl-paste -n -t x-kde-passwordManagerHint"), "secret");
  EXPECT_EQ(readFromOutside("wl-paste -n"), "hunter2");
  EXPECT_EQ(pasteboard->items(), std::vector<PasteboardItem>{secret});
  EXPECT_EQ(pasteboard->changeCount(), start + 4);

  // A clear that no write follows empties the selection for everyone.
  pasteboard->clearContents();
  EXPECT_EQ(pasteboard->changeCount(), start + 5);
  settle();
  settle();
  EXPECT_EQ(readFromOutside("wl-paste -n"), std::nullopt);  // "No selection"
  EXPECT_EQ(pasteboard->changeCount(), start + 5);

  // A password manager's copy counts once and reads as concealed; reading it changes nothing.
  ChildProcess copy({QUIB_HINTED_COPY, "copied elsewhere 한글"});
  ASSERT_TRUE(changedFrom(start + 5)) << copy.output();
  EXPECT_EQ(pasteboard->string(), "copied elsewhere 한글");
  const auto types = pasteboard->types();
  EXPECT_NE(std::find(types.begin(), types.end(), PasteboardType::concealed), types.end());
  settle();
  EXPECT_EQ(pasteboard->changeCount(), start + 6);
}

// Neither a clipboard owner that never sends what it offers nor a compositor that stops reading
// for a while holds up the main thread or loses the connection.
TEST_F(WaylandPasteboardTest, AnOwnerThatNeverAnswersIsCutOff) {
  auto count = pasteboard->changeCount();
  {
    ChildProcess stuck({QUIB_HINTED_COPY, "--stall", "never sent"});
    ASSERT_TRUE(stuck.waitFor("ready\n")) << stuck.output();
    LoopWatch loop;
    ASSERT_TRUE(changedFrom(count));
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(pasteboard->string(), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(100)) << "no second wait";
    EXPECT_LT(loop.longest(), milliseconds(300));
    count = pasteboard->changeCount();
  }
  ChildProcess next({"/usr/bin/wl-copy", "--foreground", "after the stuck one"});
  ASSERT_TRUE(
      pumpUntil([&] { return pasteboard->string() == std::optional<std::string>("after the stuck one"); }));
}

TEST_F(WaylandPasteboardTest, ACompositorThatStopsReadingForAWhileIsNotLost) {
  // sway's socket names its process: sway-ipc.<uid>.<pid>.sock.
  const std::string ipc =
      std::filesystem::path(std::getenv("SWAYSOCK") ? std::getenv("SWAYSOCK") : "").filename();
  int uid = 0, pid = 0;
  ASSERT_EQ(std::sscanf(ipc.c_str(), "sway-ipc.%d.%d.sock", &uid, &pid), 2) << ipc;
  WaylandConnection& c = *testConnection();
  // Requests the compositor answers with no event: once it reads again it owes us nothing, so its
  // own buffer towards us cannot overflow (which would end the connection for another reason).
  auto* compositor = static_cast<wl_compositor*>(c.bind(&wl_compositor_interface, 4));
  ASSERT_NE(compositor, nullptr);
  wl_region* region = wl_compositor_create_region(compositor);
  ASSERT_EQ(::kill(pid, SIGSTOP), 0);
  bool stalled = false;
  for (int batch = 0; batch < 100000 && !stalled; ++batch) {
    for (int i = 0; i < 100; ++i) wl_region_add(region, 0, 0, 1, 1);
    stalled = !c.flush();
  }
  ::kill(pid, SIGCONT);
  ASSERT_TRUE(stalled);
  EXPECT_FALSE(c.broken());
  ASSERT_TRUE(pumpUntil([&] { return c.flush(); }));
  ASSERT_TRUE(pasteboard->writeItems({PasteboardItem::text("after the stall")}));
  EXPECT_EQ(readFromOutside("wl-paste -n"), "after the stall");
  wl_region_destroy(region);
  wl_compositor_destroy(compositor);
}

}  // namespace
}  // namespace quib::test
