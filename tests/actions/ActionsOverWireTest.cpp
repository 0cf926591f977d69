// Actions end to end: a sealed request over TCP, the effect on the virtual desktop, the ack.
#include <gtest/gtest.h>

#include "support/TestServer.h"

namespace quib::test {
namespace {

// What the executor does with each action is its own tests' business; here, what only the
// server checks and what the ack carries.
TEST(ActionsOverWireTest, TextBoundAndRefusalsReachThePhone) {
  TestServer t;
  auto c = t.connectPaired("phone");
  auto set = c->request(actionRequest("3", {QuibActionKind::setClipboard, "from phone", {}, {}, {}, {}, {}}));
  EXPECT_EQ(set.message, "클립보드에 복사됨");
  EXPECT_EQ(set.accessibilityGranted, true);
  EXPECT_EQ(t.desktop().pasteboard().string(), "from phone");

  // A text past the bound is refused before the desktop sees any of it; counted in characters.
  std::string text;
  for (int i = 0; i < 20001; ++i) text += "가";
  const auto before = t.desktop().events().posted().size();
  auto tooLong = c->request(actionRequest("5", {QuibActionKind::typeText, text, {}, {}, {}, {}, {}}));
  EXPECT_EQ(tooLong.ok, false);
  EXPECT_EQ(tooLong.message, "텍스트가 너무 깁니다 (최대 20000자)");
  EXPECT_EQ(t.desktop().pasteboard().string(), "from phone");
  EXPECT_EQ(t.desktop().events().posted().size(), before);
  text.resize(text.size() - 3);
  EXPECT_EQ(c->request(actionRequest("6", {QuibActionKind::typeText, text, {}, {}, {}, {}, {}})).ok, true);

  t.desktop().accessibility().setTrusted(false);
  auto refused = c->request(actionRequest("4", {QuibActionKind::pointerMove, {}, {}, {}, {}, 1.0, 1.0}));
  EXPECT_EQ(refused.ok, false);
  EXPECT_EQ(refused.message, "손쉬운 사용 권한이 필요합니다");
  EXPECT_EQ(refused.accessibilityGranted, false);
}

TEST(ActionsOverWireTest, WithoutAClipboardTheClipboardRequestsFailPlainly) {
  TestServer t;
  auto c = t.connectPaired("phone");
  t.desktop().pasteboard().setAvailable(false);
  auto set = c->request(actionRequest("1", {QuibActionKind::setClipboard, "from phone", {}, {}, {}, {}, {}}));
  EXPECT_EQ(set.ok, false);
  EXPECT_EQ(set.message, "클립보드를 사용할 수 없음");
  auto history = c->request(request(ClientMessage::Kind::clipboard, "2"));
  EXPECT_EQ(history.type, ServerMessage::Kind::clipboard);
  EXPECT_EQ(history.ok, false);
  EXPECT_EQ(history.clipboardItems, std::vector<std::string>{});
  // Typing by pasting cannot work either: no shortcut is pressed.
  const auto before = t.desktop().events().posted().size();
  auto typed = c->request(actionRequest("3", {QuibActionKind::typeText, "x", {}, {}, {}, {}, {}}));
  EXPECT_EQ(typed.ok, false);
  EXPECT_EQ(typed.message, "클립보드를 사용할 수 없음");
  EXPECT_EQ(t.desktop().events().posted().size(), before);

  t.desktop().pasteboard().setAvailable(true);
  EXPECT_EQ(c->request(request(ClientMessage::Kind::clipboard, "4")).ok, true);
}

TEST(ActionsOverWireTest, PipelinedMovesEachGetAnAck) {
  TestServer t;
  auto c = t.connectPaired("phone");
  constexpr int n = 500;  // more than the per-connection bound on outstanding actions
  for (int i = 0; i < n; ++i)
    c->send(actionRequest(std::to_string(i), {QuibActionKind::pointerMove, {}, {}, {}, {}, 1.0, 0.0}));
  for (int i = 0; i < n; ++i) {
    auto ack = c->readReply();
    ASSERT_EQ(ack.requestId, std::to_string(i));
    ASSERT_EQ(ack.ok, true);
  }
}

}  // namespace
}  // namespace quib::test
