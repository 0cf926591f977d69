// The portal input sink against a fake RemoteDesktop portal on a private session bus, in what a
// real desktop cannot be made to do on demand: declining, granting part, leaving a call
// unanswered, closing or losing the session; and the order of what is asked and sent.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>

#include "platform/wayland/Accessibility.h"
#include "platform/wayland/portal/PortalInput.h"
#include "support/FakePortal.h"
#include "support/SessionBus.h"

namespace quib {
namespace {

using test::FakeRemoteDesktop;
using Calls = std::vector<std::string>;

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string key(std::uint32_t keysym, bool down) {
  return "KeyboardKeysym " + std::to_string(keysym) + (down ? " 1" : " 0");
}

// A start's calls, the clipboard asked for first where the portal has it; then a tap of Shift and a
// pixel's move there and back for desktops that drop a new session's first key and first click.
Calls started(const std::string& select, const std::string& start, bool clipboard = false,
              bool pointer = true) {
  Calls calls{"CreateSession", "SelectDevices types=3" + select, start, key(0xffe1, true),
              key(0xffe1, false)};
  if (pointer) calls.insert(calls.end(), {"PointerMotion 1.0 0.0", "PointerMotion -1.0 0.0"});
  if (clipboard) calls.insert(calls.begin() + 1, "RequestClipboard");
  return calls;
}

class PortalInputTest : public ::testing::Test {
 protected:
  std::unique_ptr<PortalInput> makeInput(std::function<bool(std::uint32_t)> typable = {}) {
    return std::make_unique<PortalInput>(PortalInputOptions{
        bus.connection(), tokenFile, std::chrono::milliseconds(200), {}, true, std::move(typable)});
  }
  // Until the attempt has an outcome, either way.
  bool settle(PortalInput& input) {
    return bus.pump([&] { return input.describe().find("asking") == std::string::npos; });
  }
  bool startReady(PortalInput& input) {
    input.start();
    return bus.pump([&] { return input.ready(); });
  }

  test::SessionBus bus;
  std::filesystem::path tokenFile = bus.home() / "data" / "quibbleton" / "portal-restore-token";
};

// One consent, remembered; input and the clipboard through the session, each call after the
// previous one's reply.
TEST_F(PortalInputTest, AsksOnceThenRestoresAndSendsEachCallAfterThePreviousReply) {
  FakeRemoteDesktop::Behaviour b;
  b.clipboard = true;
  FakeRemoteDesktop portal(bus, b);
  {
    // A keymap without the emoji: the desktop would drop its keysym without a word.
    auto input = makeInput([](std::uint32_t keysym) { return keysym != 0x101f600; });
    ASSERT_TRUE(startReady(*input)) << input->whyNot();
    EXPECT_EQ(portal.calls(), started(" persist_mode=2", "Start dialog", true)) << "no screen is asked for";
    EXPECT_FALSE(input->motionAbsolute(10, 10)) << "no screen is shared: motion is relative";
    EXPECT_EQ(readFile(tokenFile), "token-1\n");
    struct stat st {};
    ASSERT_EQ(::stat(tokenFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the token lets anyone in this session skip the dialog";

    std::size_t mark = portal.calls().size();
    EXPECT_TRUE(input->key(0xffe1, true));
    EXPECT_TRUE(input->button(0x110, true));
    EXPECT_TRUE(input->axisSteps(InputSink::Axis::horizontal, -2));
    // Capitals are their own keysyms (the compositor adds Shift); a line end is Return, CRLF one.
    ASSERT_EQ(input->typeText("B\r\n한"), std::optional<bool>(true));
    // A text that cannot be typed whole is not typed at all: pasted instead, or refused.
    EXPECT_EQ(input->typeText("ok\x01"), std::nullopt);
    EXPECT_EQ(input->typeText("ab😀"), std::nullopt);
    EXPECT_EQ(input->typeText(std::string(InputSink::kMaxKeyedKeys + 1, 'a')), std::nullopt);
    EXPECT_EQ(input->typeText("bad \xff utf-8"), std::optional<bool>(false));
    EXPECT_EQ(PortalInput::keysymsFor("\t\n\n"), (std::vector<std::uint32_t>{0xff09, 0xff0d, 0xff0d}));
    // Each press follows a pixel there and back, which makes GNOME find the window under the pointer.
    EXPECT_EQ(portal.calls(mark),
              (Calls{key(0xffe1, true), "PointerMotion 1.0 0.0", "PointerMotion -1.0 0.0",
                     "PointerButton 272 1", "PointerAxisDiscrete 1 -2", key(0x42, true), key(0x42, false),
                     key(0xff0d, true), key(0xff0d, false), key(0x100d55c, true), key(0x100d55c, false)}));

    // A call is sent only after the previous one's reply: one without a reply within the bound is
    // not reported as sent, nothing comes after it but the release of what is held.
    mark = portal.calls().size();
    portal.change([](auto& b) { b.unansweredInput = 1; });
    EXPECT_FALSE(input->key(0x61, true));
    EXPECT_TRUE(input->ready()) << "a slow reply is no lost session";
    portal.change([](auto& b) { b.unansweredInput = 1; });
    EXPECT_EQ(input->typeText("ab"), std::optional<bool>(false));
    EXPECT_EQ(portal.calls(mark), (Calls{key(0x61, true), "PointerButton 272 0", key(0x61, false),
                                         key(0xffe1, false), key(0x61, true), key(0x61, false)}))
        << "the rest of the text is not sent";
  }
  ASSERT_TRUE(bus.pump([&] { return portal.openSessions() == 0; })) << "the session is closed with its sink";
  const std::size_t mark = portal.calls().size();
  auto again = makeInput();
  ASSERT_TRUE(startReady(*again)) << again->whyNot();
  EXPECT_EQ(portal.calls(mark), started(" persist_mode=2 restore_token=token-1", "Start restored", true));
  EXPECT_EQ(readFile(tokenFile), "token-2\n") << "tokens are single use: the new one replaces the spent one";

  Pasteboard& clipboard = *again->pasteboard();
  ASSERT_TRUE(clipboard.writeItems({PasteboardItem::text("from phone 한글")}));
  EXPECT_EQ(portal.calls().back(), "SetSelection mime_types=text/plain;charset=utf-8,text/plain,UTF8_STRING");
  // Another program's copy counts once its text is in; a password manager's reads as concealed.
  const auto count = clipboard.changeCount();
  portal.copy({"text/plain;charset=utf-8", "x-kde-passwordManagerHint"}, "copied elsewhere");
  ASSERT_TRUE(bus.pump([&] { return clipboard.changeCount() != count; }));
  EXPECT_EQ(clipboard.changeCount(), count + 1);
  EXPECT_EQ(clipboard.string(), "copied elsewhere");
  const auto types = clipboard.types();
  EXPECT_NE(std::find(types.begin(), types.end(), PasteboardType::concealed), types.end());
  portal.copy({"text/plain", "UTF8_STRING"}, "copied on GNOME", true);
  EXPECT_TRUE(bus.pump([&] { return clipboard.string() == "copied on GNOME"; }));
  // GNOME confirms each write, and tells of a copy made just before one only after it: that copy
  // is older than ours and is not read (it would be our own, and GNOME's portal dies of that). The
  // first write teaches that writes are confirmed; a later copy is read once.
  portal.change([](auto& b) { b.confirmWrites = true; });
  for (const std::string stale : {"", "text/plain"}) {
    portal.change([&](auto& b) { b.copiedBeforeWrite = stale.empty() ? Calls{} : Calls{stale}; });
    ASSERT_TRUE(clipboard.writeItems({PasteboardItem::text("ours")}));
    const auto written = portal.calls().size();
    portal.copy({"text/plain"}, "theirs" + stale);
    ASSERT_TRUE(bus.pump([&] { return clipboard.string() == "theirs" + stale; }));
    const auto after = portal.calls(written);
    EXPECT_EQ(
        std::count_if(after.begin(), after.end(), [](auto& c) { return c.starts_with("SelectionRead"); }), 1);
  }
}

// Each way a start can end short of a session: what is still sent, what the user is told, and
// that asking again shows the dialog on a fresh session.
TEST_F(PortalInputTest, WhatTheDesktopAnswersDecidesWhatIsSentAndWhatIsSaid) {
  FakeRemoteDesktop::Behaviour declined, keyboardOnly, pointerOnly;
  declined.startResponse = 1;
  keyboardOnly.grantDevices = 1;
  keyboardOnly.version = 1;  // knows no restore tokens: none is offered, an old one is kept
  pointerOnly.grantDevices = 2;
  struct Case {
    std::optional<FakeRemoteDesktop::Behaviour> portal;  // none: nothing owns the portal's name
    std::string whyNot;
    bool keys, pointer;
    std::string oldToken, token;  // the token file before and after
  };
  const Case cases[] = {
      {std::nullopt, "the desktop has no remote-desktop portal (org.freedesktop.portal.RemoteDesktop)", false,
       false, "", ""},
      {declined, "you declined input access; the menu's permission item asks again", false, false, "", ""},
      {keyboardOnly, "the desktop allowed the keyboard but not the pointer", true, false, "old\n", "old\n"},
      {pointerOnly, "the desktop allowed the pointer but not the keyboard", false, true, "", "token-1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.whyNot);
    std::filesystem::create_directories(tokenFile.parent_path());
    std::ofstream(tokenFile) << c.oldToken;
    auto portal = c.portal ? std::make_unique<FakeRemoteDesktop>(bus, *c.portal) : nullptr;
    auto input = makeInput();
    input->start();
    ASSERT_TRUE(settle(*input));
    if (c.keys) {
      EXPECT_EQ(portal->calls(), started("", "Start dialog", false, c.pointer));
    }
    EXPECT_FALSE(input->ready());
    EXPECT_EQ(input->whyNot(), c.whyNot);
    EXPECT_EQ(input->key(0x61, true), c.keys);
    EXPECT_EQ(input->typeText("a"), std::optional<bool>(c.keys));
    EXPECT_EQ(input->motionRelative(1, 0), c.pointer);
    EXPECT_EQ(readFile(tokenFile), c.token);
    EXPECT_FALSE(input->pasteboard()->writeItems({PasteboardItem::text("no clipboard on these")}));
    if (!portal || c.portal->version < 2) continue;
    // The menu's permission item asks again, once, on a fresh session.
    portal->change([](auto& b) { b = {}; });
    WaylandAccessibility trust(input.get());
    EXPECT_FALSE(trust.isTrustedPrompting());
    ASSERT_TRUE(bus.pump([&] { return input->ready(); })) << input->whyNot();
    EXPECT_TRUE(trust.isTrustedPrompting());
    EXPECT_EQ(portal->dialogs(), 2);
    EXPECT_EQ(portal->openSessions(), 1u);
  }
}

// Closed by the desktop, or lost when the portal restarted (the first refused event tells): opened
// again with the token and no dialog; but a desktop that keeps closing it at once is not asked forever.
TEST_F(PortalInputTest, SessionClosedOrLostIsOpenedAgainWithTheTokenUntilItKeepsClosing) {
  FakeRemoteDesktop portal(bus);
  auto input = makeInput();
  ASSERT_TRUE(startReady(*input));
  std::size_t mark = portal.calls().size();
  ASSERT_TRUE(portal.endSession(true));
  ASSERT_TRUE(bus.pump([&] { return portal.calls(mark).size() == 7 && input->ready(); })) << input->whyNot();
  EXPECT_EQ(portal.calls(mark), started(" persist_mode=2 restore_token=token-1", "Start restored"));

  EXPECT_TRUE(input->key(0x61, true));
  ASSERT_TRUE(portal.endSession(false));
  mark = portal.calls().size();
  EXPECT_FALSE(input->key(0x62, true)) << "refused: not sent";
  ASSERT_TRUE(bus.pump([&] { return portal.calls(mark).size() == 7 && input->ready(); })) << input->whyNot();
  EXPECT_EQ(portal.calls(mark), started(" persist_mode=2 restore_token=token-2", "Start restored"));
  EXPECT_TRUE(input->key(0x62, false));
  ASSERT_TRUE(bus.pump([&] { return portal.calls().back() == key(0x62, false); }));

  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(portal.endSession(true));
    ASSERT_TRUE(bus.pump([&] { return portal.openSessions() == 1 && input->ready(); })) << round;
  }
  ASSERT_TRUE(portal.endSession(true));
  ASSERT_TRUE(bus.pump([&] { return !input->ready(); }));
  ASSERT_TRUE(settle(*input));
  EXPECT_EQ(portal.openSessions(), 0u);
  EXPECT_EQ(input->whyNot(),
            "the desktop keeps closing the input session; the menu's permission item asks again");
  input->requestAccess();
  ASSERT_TRUE(bus.pump([&] { return input->ready(); }));
}

}  // namespace
}  // namespace quib
