// The clipboard through data-control on the test compositor, read and written from outside with
// wl-paste and wl-copy (and a password-manager-style copy that carries the hint).
#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include "WaylandTestDesktop.h"
#include "actions/Keyboard.h"
#include "platform/MainQueue.h"
#include "platform/virtual/Desktop.h"
#include "platform/wayland/EventPoster.h"
#include "platform/wayland/Pasteboard.h"
#include "platform/wayland/WlrootsInput.h"
#include "support/TempDir.h"

namespace quib::test {
namespace {

namespace fs = std::filesystem;

// Runs a reader of the clipboard while our side answers its requests; its output, or none when it
// failed.
std::optional<std::string> readFromOutside(const std::string& command) {
  TempDir dir;
  const fs::path out = dir.path() / "out";
  const std::string line = command + " >" + out.string() + " 2>/dev/null";
  GPid pid = 0;
  const char* argv[] = {"/bin/sh", "-c", line.c_str(), nullptr};
  if (!g_spawn_async(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
                     &pid, nullptr))
    return std::nullopt;
  struct Exit {
    bool done = false;
    int status = -1;
  } exit;
  // The child's end wakes the main context, which meanwhile answers the reader's requests.
  g_child_watch_add(
      pid,
      [](GPid p, gint status, gpointer e) {
        static_cast<Exit*>(e)->done = true;
        static_cast<Exit*>(e)->status = status;
        g_spawn_close_pid(p);
      },
      &exit);
  if (!pumpUntil([&] { return exit.done; })) return std::nullopt;
  if (!g_spawn_check_wait_status(exit.status, nullptr)) return std::nullopt;
  std::ifstream in(out);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Another client's copy, serving until replaced or stopped.
struct ForeignCopy {
  explicit ForeignCopy(std::vector<std::string> argv) : process(std::move(argv)) {}
  ~ForeignCopy() {
    process.signal(SIGTERM);
    process.wait();
  }
  ChildProcess process;
};

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

TEST_F(WaylandPasteboardTest, OurWritesAndClearsReachOtherClientsAndAreCountedOnce) {
  const auto start = pasteboard->changeCount();
  pasteboard->clearContents();
  ASSERT_TRUE(pasteboard->writeItems({PasteboardItem::text("from us ✓")}));
  EXPECT_EQ(pasteboard->changeCount(), start + 2);
  settle();
  EXPECT_EQ(pasteboard->changeCount(), start + 2);  // the compositor's news of our own copy
  EXPECT_EQ(pasteboard->string(), "from us ✓");

  EXPECT_EQ(readFromOutside("wl-paste -n"), "from us ✓");
  EXPECT_EQ(readFromOutside("wl-paste -n -t UTF8_STRING"), "from us ✓");
  auto types = readFromOutside("wl-paste --list-types").value_or("");
  EXPECT_NE(types.find("text/plain;charset=utf-8\n"), std::string::npos) << types;
  EXPECT_EQ(types.find("x-kde-passwordManagerHint"), std::string::npos) << types;

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
  EXPECT_EQ(pasteboard->string(), std::nullopt);
  settle();
  settle();
  EXPECT_EQ(readFromOutside("wl-paste -n"), std::nullopt);  // "No selection"
  EXPECT_EQ(pasteboard->changeCount(), start + 5);
}

TEST_F(WaylandPasteboardTest, ForeignCopiesAreCountedAndReadBack) {
  ASSERT_TRUE(pasteboard->writeItems({PasteboardItem::text("ours first")}));
  settle();
  auto count = pasteboard->changeCount();
  ForeignCopy copy({"/usr/bin/wl-copy", "--foreground", "copied elsewhere 한글"});
  ASSERT_TRUE(changedFrom(count)) << copy.process.output();
  EXPECT_EQ(pasteboard->changeCount(), count + 1);
  EXPECT_EQ(pasteboard->string(), "copied elsewhere 한글");
  auto types = pasteboard->types();
  ASSERT_FALSE(types.empty());
  EXPECT_EQ(types.front(), PasteboardType::plainText);
  EXPECT_NE(std::find(types.begin(), types.end(), "text/plain;charset=utf-8"), types.end());
  auto items = pasteboard->items();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].entries.front(),
            (std::pair<std::string, std::string>{PasteboardType::plainText, "copied elsewhere 한글"}));
  // Reading changes nothing.
  settle();
  EXPECT_EQ(pasteboard->changeCount(), count + 1);
}

// Neither a clipboard owner that never sends what it offers nor a compositor that stops reading
// for a while holds up the main thread or loses the connection.
TEST_F(WaylandPasteboardTest, AnOwnerThatNeverAnswersIsCutOff) {
  auto count = pasteboard->changeCount();
  {
    ForeignCopy stuck({QUIB_HINTED_COPY, "--stall", "never sent"});
    ASSERT_TRUE(stuck.process.waitFor("ready\n")) << stuck.process.output();
    // Meanwhile the main loop keeps turning: a 10 ms timer is never held up by the read.
    struct Turns {
      std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
      std::chrono::steady_clock::duration longest{};
    } turns;
    const guint ticker = g_timeout_add(
        10,
        [](gpointer p) -> gboolean {
          auto* t = static_cast<Turns*>(p);
          const auto now = std::chrono::steady_clock::now();
          t->longest = std::max(t->longest, now - t->last);
          t->last = now;
          return G_SOURCE_CONTINUE;
        },
        &turns);
    ASSERT_TRUE(changedFrom(count));
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(pasteboard->string(), std::nullopt);
    EXPECT_TRUE(pasteboard->items().size() <= 1);  // at most the hint, read before the text
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(100)) << "no second wait";
    g_source_remove(ticker);
    EXPECT_LT(turns.longest, std::chrono::milliseconds(300));
    count = pasteboard->changeCount();
  }
  ForeignCopy next({"/usr/bin/wl-copy", "--foreground", "after the stuck one"});
  ASSERT_TRUE(
      pumpUntil([&] { return pasteboard->string() == std::optional<std::string>("after the stuck one"); }));
}

TEST_F(WaylandPasteboardTest, ACompositorThatStopsReadingForAWhileIsNotLost) {
  // sway's socket names its process: sway-ipc.<uid>.<pid>.sock.
  const std::string ipc = fs::path(std::getenv("SWAYSOCK") ? std::getenv("SWAYSOCK") : "").filename();
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
  EXPECT_TRUE(c.roundtrip());
  ASSERT_TRUE(pasteboard->writeItems({PasteboardItem::text("after the stall")}));
  EXPECT_EQ(readFromOutside("wl-paste -n"), "after the stall");
  wl_region_destroy(region);
  wl_compositor_destroy(compositor);
}

// The compositor's keys, but text left to be pasted, as on a desktop whose keymap lacks it.
class PastingSink final : public InputSink {
 public:
  explicit PastingSink(InputSink& keys) : keys_(keys) {}
  bool ready() override { return keys_.ready(); }
  void requestAccess() override {}
  std::string whyNot() override { return keys_.whyNot(); }
  std::string describe() override { return "keys without text"; }
  bool key(std::uint32_t keysym, bool down) override { return keys_.key(keysym, down); }
  bool motionRelative(double dx, double dy) override { return keys_.motionRelative(dx, dy); }
  bool motionAbsolute(double x, double y) override { return keys_.motionAbsolute(x, y); }
  bool button(std::uint32_t b, bool down) override { return keys_.button(b, down); }
  bool axisSteps(Axis axis, int steps) override { return keys_.axisSteps(axis, steps); }
  std::optional<bool> typeText(const std::string&) override { return std::nullopt; }

 private:
  InputSink& keys_;
};

TEST_F(WaylandPasteboardTest, TextsPastedBackToBackArriveOnceAndInOrder) {
  // The virtual keyboard comes before the window: sway drops the first keys of a later one.
  auto keys = WlrootsInput::create(*testConnection());
  ASSERT_NE(keys, nullptr);
  PastingSink sink(*keys);
  WaylandEventPoster events(&sink, {});
  TempDir root;
  VirtualDesktop desktop{root.path()};
  Platform v = desktop.platform();
  ManualClock clock;
  MainQueue queue{clock};
  Keyboard keyboard(Platform{v.accessibility, v.host, events, *pasteboard, v.workspace, v.applications,
                             v.audio, v.screenshots},
                    queue);
  std::optional<TestWindow> window(std::in_place);

  // Called one after another without the main loop in between, as a batch of actions runs.
  for (const char* text : {" alpha", " beta"}) EXPECT_TRUE(keyboard.typeText(text).ok) << text;
  EXPECT_TRUE(keyboard.keystroke("return", {}).ok);
  EXPECT_EQ(keyboard.typeText(" 한글 👍🏽").message, "입력함 (5자)");
  for (const char* seen : {"text  alpha\n", "text  alpha beta\n", "key Return -\n",
                           "text  alpha beta \\ud55c\\uae00 \\U0001f44d\\U0001f3fd\n"})
    EXPECT_TRUE(window->waitFor(seen)) << seen << " in " << window->output();

  // No window asks for the text: nothing arrived, and the reply says so.
  window.reset();
  EXPECT_EQ(keyboard.typeText("lost").message, "붙여넣기 실패");
}

}  // namespace
}  // namespace quib::test
