#include "actions/ActionFixture.h"

namespace quib::test {
namespace {

using namespace std::chrono_literals;

struct Key {
  int type;
  int code;
  std::uint64_t flags;
  bool operator==(const Key&) const = default;
};

std::vector<Key> keys(const std::vector<InputEvent>& events) {
  std::vector<Key> out;
  for (const auto& e : events) out.push_back({e.type, e.keyCode, e.flags});
  return out;
}

using KeyboardTest = ActionFixture;

TEST_F(KeyboardTest, ModifiersPressInFixedOrderAndReleaseInReverse) {
  auto r = executor.perform(action(QuibActionKind::keystroke, "c", {"shift", "command"}));
  EXPECT_EQ(r, (ActionResult{true, "shift+command c"}));
  const auto cmd = EventFlags::command, shift = EventFlags::shift;
  EXPECT_EQ(keys(posted()), (std::vector<Key>{{12, 56, shift},
                                              {12, 55, shift | cmd},
                                              {10, 8, shift | cmd},
                                              {11, 8, shift | cmd},
                                              {12, 55, shift},
                                              {12, 56, 0}}));
  // The key is held for 15 ms between down and up.
  auto all = desktop.events().posted();
  ASSERT_EQ(all.size(), 7u);
  EXPECT_EQ(all[3].type, -1);
  EXPECT_EQ(all[3].data1, 15000);
}

TEST_F(KeyboardTest, KeyNamesAndModifierNames) {
  EXPECT_EQ(executor.perform(action(QuibActionKind::keystroke, "A")), (ActionResult{true, " A"}));
  EXPECT_EQ(keys(posted()), (std::vector<Key>{{10, 0, 0}, {11, 0, 0}}));
  desktop.events().clearEvents();
  EXPECT_EQ(executor.perform(action(QuibActionKind::keystroke, "Return", {"Cmd", "hyper", "CMD"})),
            (ActionResult{true, "Cmd+hyper+CMD Return"}));
  EXPECT_EQ(keys(posted()), (std::vector<Key>{{12, 55, EventFlags::command},
                                              {10, 36, EventFlags::command},
                                              {11, 36, EventFlags::command},
                                              {12, 55, 0}}));
  EXPECT_EQ(Keyboard::keyCode("esc"), 53);
  EXPECT_EQ(Keyboard::keyCode("escape"), 53);
  EXPECT_EQ(Keyboard::keyCode("delete"), 51);
  EXPECT_EQ(Keyboard::keyCode("UP"), 126);
  EXPECT_EQ(Keyboard::modifierFlag("Alt"), EventFlags::alternate);
  EXPECT_EQ(Keyboard::modifierFlag("ctrl"), EventFlags::control);
}

TEST_F(KeyboardTest, ScreenshotIsCommandShift4) {
  EXPECT_EQ(executor.perform(action(QuibActionKind::screenshotRegion)),
            (ActionResult{true, "command+shift 4"}));
  EXPECT_EQ(posted()[2].keyCode, 21);
}

TEST_F(KeyboardTest, TypeTextPastesCountsClustersAndRestores) {
  desktop.pasteboard().copyText("before");
  // A family emoji: seven code points, one character.
  auto r = executor.perform(action(
      QuibActionKind::typeText, "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7"));
  EXPECT_EQ(r, (ActionResult{true, "입력함 (1자)"}));
  // The paste item is marked transient and pasted with command-V.
  auto types = desktop.pasteboard().types();
  EXPECT_NE(std::find(types.begin(), types.end(), PasteboardType::transient), types.end());
  EXPECT_EQ(posted()[1].keyCode, 9);
  advance(599ms);
  EXPECT_NE(desktop.pasteboard().string(), "before");
  advance(1ms);
  EXPECT_EQ(desktop.pasteboard().string(), "before");
  EXPECT_EQ(executor.perform(action(QuibActionKind::typeText, "")), (ActionResult{false, "빈 텍스트"}));
}

TEST_F(KeyboardTest, BurstRestoresTheClipboardFromBeforeTheFirstOnce) {
  desktop.pasteboard().copyText("original");
  executor.perform(action(QuibActionKind::typeText, "one"));
  advance(300ms);
  executor.perform(action(QuibActionKind::typeText, "two"));
  advance(599ms);
  EXPECT_EQ(desktop.pasteboard().string(), "two");
  const auto before = desktop.pasteboard().changeCount();
  advance(1ms);
  EXPECT_EQ(desktop.pasteboard().string(), "original");
  advance(5000ms);
  EXPECT_EQ(desktop.pasteboard().changeCount(), before + 2);  // one clear and one write, once
}

TEST_F(KeyboardTest, NewerCopyWinsAndEmptyClipboardStaysEmpty) {
  executor.perform(action(QuibActionKind::typeText, "typed"));
  advance(600ms);
  EXPECT_TRUE(desktop.pasteboard().items().empty());
  desktop.pasteboard().copyText("keep");
  executor.perform(action(QuibActionKind::typeText, "typed"));
  desktop.pasteboard().copyText("copied meanwhile");
  advance(600ms);
  EXPECT_EQ(desktop.pasteboard().string(), "copied meanwhile");
}

// What typing put on the clipboard goes away even when the paste itself fails, and what comes back
// is every item with every type it had, not just its text.
TEST_F(KeyboardTest, RestoreAfterAFailedPasteBringsBackWholeItems) {
  const std::vector<PasteboardItem> before{
      PasteboardItem{{{PasteboardType::plainText, "caption"},
                      {"public.html", "<b>caption</b>"},
                      {"public.png", "\x89PNG"}}},
      PasteboardItem{
          {{"public.url", "https://example.com/"}, {PasteboardType::plainText, "https://example.com/"}}}};
  desktop.pasteboard().clearContents();
  desktop.pasteboard().writeItems(before);
  desktop.events().failEvents({InputEvent::Kind::keyboard});
  EXPECT_EQ(executor.perform(action(QuibActionKind::typeText, "typed")),
            (ActionResult{false, "이벤트 생성 실패"}));
  EXPECT_EQ(desktop.pasteboard().string(), "typed");
  advance(599ms);
  EXPECT_EQ(desktop.pasteboard().string(), "typed");
  advance(1ms);
  EXPECT_EQ(desktop.pasteboard().items(), before);
}

}  // namespace
}  // namespace quib::test
