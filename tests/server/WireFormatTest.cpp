#include <gtest/gtest.h>

#include "server/QuibCodec.h"
#include "server/QuibService.h"

namespace quib {
namespace {

ClientMessage readClient(std::string_view s) {
  return QuibCodec::decode<ClientMessage>(s);
}

// The action names as phones spell them, and every field, compact, in the table's order, absent ones
// left out: each line reads back to a record that writes the same bytes.
TEST(WireFormatTest, EveryNameAndFieldWritesBackTheSameBytes) {
  std::vector<std::string> names;
  for (auto k : allQuibActionKinds()) names.emplace_back(toString(k));
  EXPECT_EQ(names, (std::vector<std::string>{"launchApp", "keystroke", "volumeUp", "volumeDown", "mute",
                                             "audioOutputNext", "screenshotRegion", "openURL", "openSite",
                                             "typeText", "setClipboard", "pointerMove", "pointerScroll",
                                             "pointerClick", "pointerDown", "pointerUp"}));
  for (
      const char* line :
      {R"({"type":"action","action":{"kind":"keystroke","value":"c","modifiers":["command"]},"requestId":"2"})",
       R"({"type":"appCheck","code":"000123","token":"T","action":{"kind":"openSite","value":"Safari",)"
       R"("modifiers":[],"url":"https://x.test","preferApp":true,"dx":1.5,"dy":-2.0},"appName":"한글",)"
       R"("iconSize":128,"appNames":["A","B"],"url":"u","actions":[{"kind":"mute","modifiers":[]}],)"
       R"("requestId":"r","deviceName":"phone"})"})
    EXPECT_EQ(QuibCodec::encodeLine(readClient(line)), std::string(line) + "\n");
  const char* reply =
      R"({"type":"appList","hostName":"h","token":"t","requestId":"r","ok":false,"message":"m",)"
      R"("needsPairing":true,"accessibilityGranted":false,"salt":"s","appName":"a","iconPNGBase64":"i",)"
      R"("url":"u","installedApps":[],"clipboardItems":["x"]})";
  EXPECT_EQ(QuibCodec::encode(QuibCodec::decode<ServerMessage>(reply)), reply);
  ServerMessage bad;
  bad.message = std::string("\xc3\x28");  // text that is not UTF-8 cannot be written
  EXPECT_THROW(QuibCodec::encode(bad), EncodeError);
}

TEST(WireFormatTest, StrictReading) {
  EXPECT_EQ(readClient(" \r\n\t{\"type\":\"ping\"}").type, ClientMessage::Kind::ping);
  for (const char* bad :
       {R"({"type":"Ping"})", R"({"requestId":"1"})", "[]", "not json", "", "e:AAAA",
        R"({"type":"action","action":{"kind":"mute"}})",
        R"({"type":"action","action":{"kind":"fly","modifiers":[]}})",
        R"({"type":"action","action":{"modifiers":[]}})", R"({"type":"appIcon","iconSize":12.5})",
        R"({"type":"appIcon","iconSize":1e20})", R"({"type":"appCheck","appNames":["a",1]})",
        R"({"type":"ping","requestId":5})", R"({"type":"ping","actions":[{"kind":"mute"}]})",
        "{\"type\":\"ping\",\"requestId\":\"\xff\"}"})
    EXPECT_THROW(readClient(bad), DecodeError) << bad;
  // Nesting and element counts past what any request needs are refused before parsing.
  std::string wide = R"({"type":"ping","x":[0)";
  for (int i = 0; i < 5000; ++i) wide += ",0";
  for (const std::string& bad :
       {R"({"type":"ping","x":)" + std::string(5000, '[') + std::string(5000, ']') + "}", wide + "]}"})
    EXPECT_THROW(readClient(bad), DecodeError);
  auto mute =
      readClient(R"({"type":"action","action":{"kind":"mute","modifiers":[],"extra":1},"foo":"bar"})");
  ASSERT_TRUE(mute.action);
  EXPECT_EQ(mute.action->kind, QuibActionKind::mute);
  EXPECT_EQ(
      readClient(R"({"type":"action","action":{"kind":"pointerMove","modifiers":[],"dx":3}})").action->dx,
      3.0);
}

}  // namespace
}  // namespace quib
