#include "actions/ActionFixture.h"
#include "actions/ClipboardWatcher.h"

namespace quib::test {
namespace {

using namespace std::chrono_literals;
using History = std::vector<std::string>;

class ClipboardWatcherTest : public ActionFixture {
 protected:
  void SetUp() override {
    desktop.pasteboard().copyText("at launch");
    watcher = std::make_unique<ClipboardWatcher>(desktop.pasteboard(), queue);
    watcher->start();
  }
  void copy(const std::string& text, std::vector<std::string> types = {}) {
    desktop.pasteboard().copyText(text, std::move(types));
    advance(1000ms);
  }
  std::unique_ptr<ClipboardWatcher> watcher;
};

TEST_F(ClipboardWatcherTest, RecordsNewestFirstWithoutDuplicates) {
  advance(1000ms);
  EXPECT_TRUE(watcher->history().empty());  // what was there at launch is not recorded
  copy("A");
  copy("B");
  copy("A");
  copy("A");
  EXPECT_EQ(watcher->history(), (History{"A", "B"}));
  // Precomposed then decomposed: one entry, the newer form.
  copy("caf\xC3\xA9");
  copy("cafe\xCC\x81");
  EXPECT_EQ(watcher->history(), (History{"cafe\xCC\x81", "A", "B"}));
}

TEST_F(ClipboardWatcherTest, SkipsConcealedTransientBlankAndImages) {
  copy("secret", {PasteboardType::concealed});
  copy("typed", {PasteboardType::transient});
  copy("  \n\t\xE3\x80\x80");  // ASCII and ideographic spaces
  desktop.pasteboard().clearContents();
  desktop.pasteboard().writeItems({PasteboardItem{{{"public.png", "\x89PNG"}}}});
  advance(1000ms);
  EXPECT_TRUE(watcher->history().empty());
}

TEST_F(ClipboardWatcherTest, CutsLongTextAndKeepsThirty) {
  std::string longText;
  for (int i = 0; i < 20005; ++i) longText += "\xED\x95\x9C";  // one Hangul syllable each
  copy(longText);
  EXPECT_EQ(watcher->history()[0].size(), 20000u * 3);
  for (int i = 0; i < 31; ++i) copy("item " + std::to_string(i));
  auto h = watcher->history();
  EXPECT_EQ(h.size(), 30u);
  EXPECT_EQ(h.front(), "item 30");
  EXPECT_EQ(h.back(), "item 1");
}

TEST_F(ClipboardWatcherTest, TwoChangesWithinOnePollAreOne) {
  desktop.pasteboard().copyText("first");
  desktop.pasteboard().copyText("second");
  advance(1000ms);
  EXPECT_EQ(watcher->history(), History{"second"});
  // setClipboard from the phone is recorded (typed text is not: see below).
  executor.perform(action(QuibActionKind::setClipboard, "from phone"));
  advance(1000ms);
  EXPECT_EQ(watcher->history().front(), "from phone");
}

// Typed text sits on the clipboard for 0.6 s; a poll that falls inside that window must see the
// transient marker and leave it out of the history.
TEST_F(ClipboardWatcherTest, TypedTextCaughtByAPollIsNotRecorded) {
  copy("kept");
  advance(500ms);  // the next poll is 0.5 s away, before the restore at 0.6 s
  executor.perform(action(QuibActionKind::typeText, "typed"));
  advance(500ms);
  EXPECT_EQ(desktop.pasteboard().string(), "typed");  // the poll ran while the typed text was there
  advance(1000ms);
  EXPECT_EQ(desktop.pasteboard().string(), "kept");
  EXPECT_EQ(watcher->history(), History{"kept"});
}

}  // namespace
}  // namespace quib::test
