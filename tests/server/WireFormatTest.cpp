#include <gtest/gtest.h>

#include "server/QuibCodec.h"
#include "server/QuibService.h"

namespace quib {
namespace {

ClientMessage readClient(std::string_view s) {
  return QuibCodec::decode<ClientMessage>(s);
}

TEST(WireFormatTest, ConstantsAndEnumerationOrder) {
  std::vector<std::string> names;
  for (auto k : allQuibActionKinds()) names.emplace_back(toString(k));
  EXPECT_EQ(names, (std::vector<std::string>{"launchApp", "keystroke", "volumeUp", "volumeDown", "mute",
                                             "audioOutputNext", "screenshotRegion", "openURL", "openSite",
                                             "typeText", "setClipboard", "pointerMove", "pointerScroll",
                                             "pointerClick", "pointerDown", "pointerUp"}));
  for (auto k : allQuibActionKinds()) EXPECT_EQ(quibActionKindFromString(toString(k)), k);
  EXPECT_FALSE(quibActionKindFromString("Mute"));
  for (auto k : ClientMessage::allKinds())
    EXPECT_EQ(ClientMessage::kindFromString(ClientMessage::kindName(k)), k);
  for (auto k : ServerMessage::allKinds())
    EXPECT_EQ(ServerMessage::kindFromString(ServerMessage::kindName(k)), k);
  EXPECT_EQ(ClientMessage::kindName(ClientMessage::Kind::ping), "ping");
  EXPECT_EQ(ServerMessage::kindName(ServerMessage::Kind::error), "error");
}

TEST(WireFormatTest, EncodesCompactInTableOrderOmittingAbsentFields) {
  ClientMessage m;
  m.type = ClientMessage::Kind::action;
  QuibAction a;
  a.kind = QuibActionKind::keystroke;
  a.value = "c";
  a.modifiers = {"command"};
  m.action = a;
  m.requestId = "2";
  EXPECT_EQ(
      QuibCodec::encodeLine(m),
      "{\"type\":\"action\",\"action\":{\"kind\":\"keystroke\",\"value\":\"c\",\"modifiers\":[\"command\"]},"
      "\"requestId\":\"2\"}\n");

  QuibAction move;
  move.kind = QuibActionKind::pointerMove;
  move.dx = 12.5;
  move.dy = -4;
  EXPECT_EQ(QuibCodec::encode(move), R"({"kind":"pointerMove","modifiers":[],"dx":12.5,"dy":-4.0})");

  ServerMessage ack;
  ack.type = ServerMessage::Kind::ack;
  ack.requestId = "2";
  ack.ok = true;
  ack.message = "command c";
  ack.accessibilityGranted = true;
  EXPECT_EQ(QuibCodec::encode(ack),
            R"({"type":"ack","requestId":"2","ok":true,"message":"command c","accessibilityGranted":true})");
  ServerMessage bare;
  bare.type = ServerMessage::Kind::frontApp;
  EXPECT_EQ(QuibCodec::encode(bare), R"({"type":"frontApp"})");
  bare.message = std::string("\xc3\x28");  // text that is not UTF-8 cannot be encoded
  EXPECT_THROW(QuibCodec::encode(bare), EncodeError);
}

TEST(WireFormatTest, RoundTripsEveryField) {
  ClientMessage m;
  m.type = ClientMessage::Kind::appCheck;
  m.code = "000123";
  m.token = "T";
  QuibAction a{QuibActionKind::openSite, "Safari", {}, "https://x.test", true, 1.5, -2.0};
  m.action = a;
  m.appName = "한글";
  m.iconSize = 128;
  m.appNames = std::vector<std::string>{"A", "B"};
  m.url = "u";
  m.actions = std::vector<QuibAction>{a, a};
  m.requestId = "r";
  m.deviceName = "phone";
  EXPECT_EQ(readClient(QuibCodec::encode(m)), m);
  EXPECT_EQ(std::hash<QuibAction>{}(a), std::hash<QuibAction>{}(QuibAction(a)));

  ServerMessage s;
  s.type = ServerMessage::Kind::appList;
  s.hostName = "h";
  s.installedApps = std::vector<std::string>{};
  s.clipboardItems = std::vector<std::string>{"x"};
  EXPECT_EQ(QuibCodec::decode<ServerMessage>(QuibCodec::encode(s)), s);
}

TEST(WireFormatTest, StrictReading) {
  EXPECT_EQ(readClient(R"({"type":"ping"})").requestId, std::nullopt);
  EXPECT_EQ(readClient(" \r\n\t{\"type\":\"ping\"}").type, ClientMessage::Kind::ping);
  for (const char* bad :
       {R"({"type":"Ping"})", R"({"type":"pong"})", R"({"requestId":"1"})", "[]", "not json", "", " \n",
        "\"{}\"", "e:AAAA", R"({"type":"action","action":{"kind":"mute"}})",
        R"({"type":"action","action":{"kind":"fly","modifiers":[]}})",
        R"({"type":"action","action":{"modifiers":[]}})", R"({"type":"appIcon","iconSize":"128"})",
        R"({"type":"appIcon","iconSize":12.5})", R"({"type":"appIcon","iconSize":1e20})",
        R"({"type":"appCheck","appNames":["a",1]})", R"({"type":"ping","requestId":5})",
        R"({"type":"ping","actions":[{"kind":"mute"}]})", "{\"type\":\"ping\",\"requestId\":\"\xff\"}"}) {
    EXPECT_THROW(readClient(bad), DecodeError) << bad;
  }
  auto mute =
      readClient(R"({"type":"action","action":{"kind":"mute","modifiers":[],"extra":1},"foo":"bar"})");
  ASSERT_TRUE(mute.action);
  EXPECT_EQ(mute.action->kind, QuibActionKind::mute);
  EXPECT_EQ(readClient(R"({"type":"appIcon","appName":null})").appName, std::nullopt);
  EXPECT_EQ(readClient(R"({"type":"appIcon","iconSize":128.0})").iconSize, 128);
  EXPECT_EQ(readClient(R"({"type":"appIcon","iconSize":-3})").iconSize, -3);
  EXPECT_EQ(
      readClient(R"({"type":"action","action":{"kind":"pointerMove","modifiers":[],"dx":3}})").action->dx,
      3.0);
  EXPECT_EQ(QuibCodec::decode<ServerMessage>(R"({"type":"frontApp"})").type, ServerMessage::Kind::frontApp);
}

}  // namespace
}  // namespace quib
