// The clipboard through data-control on the test compositor, read and written from outside with
// wl-paste and wl-copy, and by a password manager's copy that carries the hint.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "WaylandTestDesktop.h"
#include "platform/linux/MainContextWait.h"
#include "platform/wayland/Pasteboard.h"
#include "support/ChildProcess.h"

namespace quib::test {
namespace {

bool pumpUntil(const std::function<bool()>& done) {
  return linuxdesktop::iterateMainContextUntil(done, std::chrono::seconds(5));
}

// Dispatches what the compositor sends in answer to everything sent so far.
void settle() {
  testConnection()->roundtrip();
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

// Runs a reader of the clipboard while the main context answers its requests; its output, or none
// when it failed.
std::optional<std::string> readFromOutside(const std::string& command) {
  GSubprocess* p =
      g_subprocess_new(GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_SILENCE),
                       nullptr, "/bin/sh", "-c", command.c_str(), nullptr);
  if (!p) return std::nullopt;
  std::pair<bool, char*> r{false, nullptr};  // done, output
  const auto finished = [](GObject* o, GAsyncResult* result, gpointer data) {
    auto* r = static_cast<std::pair<bool, char*>*>(data);
    g_subprocess_communicate_utf8_finish(G_SUBPROCESS(o), result, &r->second, nullptr, nullptr);
    r->first = true;
  };
  g_subprocess_communicate_utf8_async(p, nullptr, nullptr, finished, &r);
  if (!pumpUntil([&] { return r.first; })) {
    g_subprocess_force_exit(p);
    pumpUntil([&] { return r.first; });
  }
  std::optional<std::string> out;
  if (r.second && g_subprocess_get_if_exited(p) && g_subprocess_get_exit_status(p) == 0) out = r.second;
  g_free(r.second);
  g_object_unref(p);
  return out;
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

  // A password manager's copy reads as concealed text; reading it changes nothing.
  ChildProcess copy({QUIB_HINTED_COPY, "copied elsewhere 한글"});
  ASSERT_TRUE(changedFrom(start + 5)) << copy.output();
  EXPECT_EQ(pasteboard->changeCount(), start + 6);
  EXPECT_EQ(pasteboard->string(), "copied elsewhere 한글");
  const auto named = pasteboard->types();
  ASSERT_FALSE(named.empty());
  EXPECT_EQ(named.front(), PasteboardType::plainText);
  for (const char* t : {PasteboardType::concealed, "text/plain;charset=utf-8"})
    EXPECT_NE(std::find(named.begin(), named.end(), t), named.end()) << t;
  const auto items = pasteboard->items();
  ASSERT_EQ(items.size(), 1u);
  ASSERT_GE(items[0].entries.size(), 2u);
  using Entry = std::pair<std::string, std::string>;
  EXPECT_EQ(items[0].entries[0], (Entry{PasteboardType::plainText, "copied elsewhere 한글"}));
  EXPECT_EQ(items[0].entries[1], (Entry{PasteboardType::concealed, ""}));
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
    EXPECT_TRUE(pasteboard->items().size() <= 1);  // at most the hint, read before the text
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(100)) << "no second wait";
    EXPECT_LT(loop.longest(), std::chrono::milliseconds(300));
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
  EXPECT_TRUE(c.roundtrip());
  ASSERT_TRUE(pasteboard->writeItems({PasteboardItem::text("after the stall")}));
  EXPECT_EQ(readFromOutside("wl-paste -n"), "after the stall");
  wl_region_destroy(region);
  wl_compositor_destroy(compositor);
}

}  // namespace
}  // namespace quib::test
