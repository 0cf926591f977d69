// Typing by pasting and the clipboard history, on a main queue run by a test clock from this thread.
#include <gtest/gtest.h>

#include "actions/ActionExecutor.h"
#include "actions/ClipboardWatcher.h"
#include "platform/virtual/Desktop.h"
#include "support/TempDir.h"

namespace quib::test {
namespace {

using namespace std::chrono_literals;
using History = std::vector<std::string>;

class ClipboardTest : public ::testing::Test {
 protected:
  TempDir root;
  VirtualDesktop desktop{root.path()};
  ManualClock clock;
  MainQueue queue{clock};
  ActionExecutor executor{desktop.platform(), queue};
  VirtualPasteboard& board = desktop.pasteboard();
  std::optional<ClipboardWatcher> watcher;

  void SetUp() override {
    board.copyText("at launch");
    watcher.emplace(board, queue);
    watcher->start();
  }
  ActionResult type(const std::string& text) {
    return executor.perform({QuibActionKind::typeText, text, {}, {}, {}, {}, {}});
  }
  void advance(std::chrono::milliseconds d) {
    clock.advance(d);
    queue.runUntilIdle();
  }
  void copy(const std::string& text, std::vector<std::string> types = {}) {
    board.copyText(text, std::move(types));
    advance(1000ms);
  }
};

// What typing put on the clipboard goes away 0.6 s after the last of a burst, even when a paste
// failed, and what comes back is every item with every type it had.
TEST_F(ClipboardTest, TypingRestoresWhatWasThereBeforeTheBurst) {
  const std::vector<PasteboardItem> before{
      PasteboardItem{{{PasteboardType::plainText, "caption"},
                      {"public.html", "<b>caption</b>"},
                      {"public.png", "\x89PNG"}}},
      PasteboardItem{
          {{"public.url", "https://example.com/"}, {PasteboardType::plainText, "https://example.com/"}}}};
  board.clearContents();
  board.writeItems(before);
  desktop.events().failEvents({InputEvent::Kind::keyboard});
  EXPECT_EQ(type("one"), (ActionResult{false, "이벤트 생성 실패"}));
  desktop.events().failEvents({});
  advance(300ms);
  EXPECT_EQ(type("two").ok, true);
  const auto types = board.types();
  EXPECT_NE(std::find(types.begin(), types.end(), PasteboardType::transient), types.end());
  advance(599ms);
  EXPECT_EQ(board.string(), "two");
  advance(1ms);
  EXPECT_EQ(board.items(), before);

  // An empty clipboard stays empty; a copy made meanwhile is not overwritten.
  board.clearContents();
  type("typed");
  advance(600ms);
  EXPECT_TRUE(board.items().empty());
  type("typed");
  board.copyText("copied meanwhile");
  advance(600ms);
  EXPECT_EQ(board.string(), "copied meanwhile");
}

TEST_F(ClipboardTest, RecordsNewTextNewestFirstOnceAndKeepsThirty) {
  advance(1000ms);
  EXPECT_TRUE(watcher->history().empty());  // what was there at launch is not recorded
  copy("secret", {PasteboardType::concealed});
  copy("typed", {PasteboardType::transient});
  copy("  \n\t\xE3\x80\x80");  // ASCII and ideographic spaces
  board.clearContents();
  board.writeItems({PasteboardItem{{{"public.png", "\x89PNG"}}}});
  advance(1000ms);
  EXPECT_TRUE(watcher->history().empty());
  for (const char* text : {"A", "B", "A", "A"}) copy(text);
  EXPECT_EQ(watcher->history(), (History{"A", "B"}));
  // What the phone sets is recorded.
  board.copyText("second");
  advance(1000ms);
  executor.perform({QuibActionKind::setClipboard, "from phone", {}, {}, {}, {}, {}});
  advance(1000ms);
  EXPECT_EQ(watcher->history(), (History{"from phone", "second", "A", "B"}));

  std::string longText;
  for (int i = 0; i < 20005; ++i) longText += "\xED\x95\x9C";  // one Hangul syllable each
  copy(longText);
  EXPECT_EQ(watcher->history()[0].size(), 20000u * 3);
  for (int i = 0; i < 31; ++i) copy("item " + std::to_string(i));
  // Typed text sits on the clipboard for 0.6 s; a poll that falls inside that window must see the
  // transient marker and leave it out.
  advance(500ms);  // the next poll is 0.5 s away, before the restore at 0.6 s
  type("typed");
  advance(500ms);
  EXPECT_EQ(board.string(), "typed");  // the poll ran while the typed text was there
  advance(1000ms);
  EXPECT_EQ(board.string(), "item 30");
  const auto h = watcher->history();
  EXPECT_EQ(std::tuple(h.size(), h.front(), h.back()), std::tuple(30u, "item 30", "item 1"));
}

}  // namespace
}  // namespace quib::test
