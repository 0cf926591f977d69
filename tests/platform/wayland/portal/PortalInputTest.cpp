// The portal input sink against a fake RemoteDesktop portal on a private session bus: what it asks
// the desktop, in which order, and what it makes of each answer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>

#include "platform/wayland/portal/PortalInput.h"
#include "support/FakePortal.h"
#include "support/SessionBus.h"

namespace quib {
namespace {

using test::FakeRemoteDesktop;
using Calls = std::vector<std::string>;

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class PortalInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus.running());
    // The program's own connection, apart from the one the fake portal answers on.
    client = g_dbus_connection_new_for_address_sync(
        bus.address().c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    ASSERT_NE(client, nullptr);
  }
  void TearDown() override {
    g_dbus_connection_close_sync(client, nullptr, nullptr);
    g_object_unref(client);
  }

  std::unique_ptr<PortalInput> makeInput(std::function<bool(std::uint32_t)> typable = {},
                                         bool clipboard = false) {
    PortalInputOptions o;
    o.clipboard = clipboard;
    o.typable = std::move(typable);
    o.bus = client;
    o.restoreTokenFile = tokenFile;
    o.callTimeout = std::chrono::milliseconds(200);
    o.onStateChange = [this] { ++changes; };
    return std::make_unique<PortalInput>(std::move(o));
  }
  // Until the attempt has an outcome, either way.
  bool settle(PortalInput& input) {
    return bus.pump([&] { return input.describe().find("asking") == std::string::npos; });
  }
  bool startReady(PortalInput& input) {
    input.start();
    return bus.pump([&] { return input.ready(); });
  }
  bool received(FakeRemoteDesktop& portal, std::uint64_t inputCalls) {
    return bus.pump([&] { return portal.inputCalls() >= inputCalls; });
  }

  test::SessionBus bus;
  GDBusConnection* client = nullptr;
  std::filesystem::path tokenFile = bus.home() / "data" / "quibbleton" / "portal-restore-token";
  int changes = 0;
};

TEST_F(PortalInputTest, AsksOnceAndLaterStartsRestoreTheChoiceWithoutADialog) {
  FakeRemoteDesktop portal(bus);
  ASSERT_TRUE(portal.owned());
  {
    auto input = makeInput();
    EXPECT_FALSE(input->ready());
    EXPECT_FALSE(input->key(0x61, true)) << "nothing is sent before the session starts";
    ASSERT_TRUE(startReady(*input)) << input->whyNot();
    // The Shift tap after the start is thrown away by desktops that drop a new session's first event;
    // no screen is asked for, though the portal offers screen casts.
    EXPECT_EQ(portal.calls(), (Calls{"CreateSession", "SelectDevices types=3 persist_mode=2", "Start dialog",
                                     "Keysym 0xffe1 press", "Keysym 0xffe1 release"}));
    EXPECT_EQ(input->whyNot(), "");
    EXPECT_EQ(input->describe(), "RemoteDesktop portal (keyboard and pointer)");
    EXPECT_FALSE(input->motionAbsolute(10, 10)) << "no screen is shared: motion is relative";
    EXPECT_GE(changes, 2);
    EXPECT_EQ(readFile(tokenFile), "token-1\n");
    struct stat st {};
    ASSERT_EQ(::stat(tokenFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the token lets anyone in this session skip the dialog";
  }
  ASSERT_TRUE(bus.pump([&] { return portal.openSessions() == 0; })) << "the session is closed with its sink";
  EXPECT_EQ(portal.calls().back(), "Close");

  const std::size_t mark = portal.calls().size();
  auto again = makeInput();
  ASSERT_TRUE(startReady(*again)) << again->whyNot();
  EXPECT_EQ(portal.callsFrom(mark),
            (Calls{"CreateSession", "SelectDevices types=3 persist_mode=2 restore_token=token-1",
                   "Start restored", "Keysym 0xffe1 press", "Keysym 0xffe1 release"}));
  EXPECT_EQ(portal.dialogs(), 1);
  EXPECT_EQ(readFile(tokenFile), "token-2\n") << "tokens are single use: the new one replaces the spent one";
}

TEST_F(PortalInputTest, InputReachesThePortalInOrderEachCallAfterThePreviousReply) {
  // A slow portal that handles calls arriving together in any order.
  FakeRemoteDesktop::Behaviour b;
  b.inputDelayMs = 2;
  FakeRemoteDesktop portal(bus, b);
  auto input = makeInput();
  ASSERT_TRUE(startReady(*input));
  const std::size_t mark = portal.calls().size();
  EXPECT_TRUE(input->key(0xffe1, true));  // Shift_L stays down until released
  EXPECT_TRUE(input->key(0x61, true));
  EXPECT_TRUE(input->key(0x61, false));
  EXPECT_TRUE(input->key(0xffe1, false));
  EXPECT_TRUE(input->motionRelative(1.5, -2));
  EXPECT_TRUE(input->button(0x110, true));
  EXPECT_TRUE(input->button(0x110, false));
  EXPECT_TRUE(input->axisSteps(InputSink::Axis::vertical, 3));
  EXPECT_TRUE(input->axisSteps(InputSink::Axis::horizontal, -2));
  EXPECT_TRUE(input->axisSteps(InputSink::Axis::vertical, 0)) << "no steps: nothing to send, nothing failed";
  EXPECT_TRUE(input->button(0x111, true));
  ASSERT_TRUE(received(portal, 14));
  // Each press follows a pixel there and back, which makes GNOME find the window under the pointer.
  EXPECT_EQ(
      portal.callsFrom(mark),
      (Calls{"Keysym 0xffe1 press", "Keysym 0x61 press", "Keysym 0x61 release", "Keysym 0xffe1 release",
             "Motion 1.5 -2", "Motion 1 0", "Motion -1 0", "Button 0x110 press", "Button 0x110 release",
             "AxisDiscrete 0 3", "AxisDiscrete 1 -2", "Motion 1 0", "Motion -1 0", "Button 0x111 press"}));
  ASSERT_EQ(input->typeText("Hello, GNOME 43!"), std::optional<bool>(true));
  std::string typed;
  for (const std::string& call : portal.callsFrom(mark + 14))
    if (call.ends_with(" press")) typed += static_cast<char>(std::stoul(call.substr(7, 4), nullptr, 16));
  EXPECT_EQ(typed, "Hello, GNOME 43!");
  EXPECT_EQ(portal.overlapping(), 0);
}

TEST_F(PortalInputTest, ACallWithoutReplyFailsTheInputAndReleasesWhatIsHeld) {
  FakeRemoteDesktop portal(bus);
  auto input = makeInput();
  ASSERT_TRUE(startReady(*input));
  ASSERT_TRUE(input->key(0xffe1, true));
  ASSERT_TRUE(input->button(0x110, true));
  const std::size_t mark = portal.calls().size();
  portal.change([](auto& b) { b.unansweredInput = 1; });
  EXPECT_FALSE(input->key(0x61, true)) << "no reply within the bound: not reported as sent";
  EXPECT_EQ(portal.callsFrom(mark), (Calls{"Keysym 0x61 press", "Button 0x110 release", "Keysym 0x61 release",
                                           "Keysym 0xffe1 release"}));
  EXPECT_TRUE(input->ready()) << "a slow reply is no lost session";
  portal.change([](auto& b) { b.unansweredInput = 1; });
  EXPECT_EQ(input->typeText("ab"), std::optional<bool>(false));
  EXPECT_EQ(portal.callsFrom(mark + 4), (Calls{"Keysym 0x61 press", "Keysym 0x61 release"}))
      << "the rest of the text is not sent";
}

TEST_F(PortalInputTest, TextIsTypedAsKeysymsOrNotAtAll) {
  FakeRemoteDesktop portal(bus);
  // A keymap without the emoji: the desktop would drop its keysym without a word.
  auto input = makeInput([](std::uint32_t keysym) { return keysym != 0x101f600; });
  ASSERT_TRUE(startReady(*input));
  const std::size_t mark = portal.calls().size();
  // Capitals are their own keysyms (the compositor adds Shift); a line end is Return, not the
  // Linefeed keysym no application acts on; CRLF is one Return.
  ASSERT_EQ(input->typeText("aB\r\n한"), std::optional<bool>(true));
  ASSERT_TRUE(received(portal, 8));
  EXPECT_EQ(portal.callsFrom(mark),
            (Calls{"Keysym 0x61 press", "Keysym 0x61 release", "Keysym 0x42 press", "Keysym 0x42 release",
                   "Keysym 0xff0d press", "Keysym 0xff0d release", "Keysym 0x100d55c press",
                   "Keysym 0x100d55c release"}));

  // A text that cannot be typed whole is not typed at all: pasted instead, or refused.
  EXPECT_EQ(input->typeText("ok\x01"), std::nullopt);
  EXPECT_EQ(input->typeText("ab😀"), std::nullopt);
  EXPECT_EQ(input->typeText(std::string(InputSink::kMaxKeyedKeys + 1, 'a')), std::nullopt);
  EXPECT_EQ(input->typeText("bad \xff utf-8"), std::optional<bool>(false));
  EXPECT_EQ(PortalInput::keysymsFor("\t😀"), (std::vector<std::uint32_t>{0xff09, 0x101f600}));
  EXPECT_EQ(PortalInput::keysymsFor("\n\n"), (std::vector<std::uint32_t>{0xff0d, 0xff0d}));
  EXPECT_TRUE(input->key(0x7a, true));
  ASSERT_TRUE(received(portal, 10));
  EXPECT_EQ(portal.callsFrom(mark + 8), Calls{"Keysym 0x7a press"})
      << "nothing was sent for the refused texts";
}

// Each way a start can end short of a session: what is still sent, what the user is told, and
// that asking again shows the dialog on a fresh session.
TEST_F(PortalInputTest, WhatTheDesktopAnswersDecidesWhatIsSentAndWhatIsSaid) {
  const std::string noPortal =
      "the desktop has no remote-desktop portal (org.freedesktop.portal.RemoteDesktop)";
  FakeRemoteDesktop::Behaviour other, declined, keyboardOnly, pointerOnly;
  other.remoteDesktop = false;  // a portal with other interfaces only
  declined.startResponse = 1;
  keyboardOnly.grantDevices = 1;
  keyboardOnly.version = 1;  // knows no restore tokens: none is offered, an old one is kept
  pointerOnly.grantDevices = 2;
  struct Case {
    std::optional<FakeRemoteDesktop::Behaviour> portal;  // none: nothing owns the portal's name
    std::string whyNot;
    bool keys, pointer;
    std::optional<Calls> calls;
    std::string oldToken, token;  // the token file before and after
  };
  const Case cases[] = {
      {std::nullopt, noPortal, false, false, std::nullopt, "", ""},
      {other, noPortal, false, false, Calls{}, "", ""},
      {declined, "you declined input access; the menu's permission item asks again", false, false,
       std::nullopt, "", ""},
      {keyboardOnly, "the desktop allowed the keyboard but not the pointer", true, false,
       Calls{"CreateSession", "SelectDevices types=3", "Start dialog", "Keysym 0xffe1 press",
             "Keysym 0xffe1 release"},
       "token-old\n", "token-old\n"},
      {pointerOnly, "the desktop allowed the pointer but not the keyboard", false, true, std::nullopt, "",
       "token-1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.whyNot);
    std::filesystem::remove(tokenFile);
    if (!c.oldToken.empty()) {
      std::filesystem::create_directories(tokenFile.parent_path());
      std::ofstream(tokenFile) << c.oldToken;
    }
    auto portal = c.portal ? std::make_unique<FakeRemoteDesktop>(bus, *c.portal) : nullptr;
    auto input = makeInput();
    input->start();
    ASSERT_TRUE(settle(*input));
    if (!portal) {
      EXPECT_EQ(input->describe(), "RemoteDesktop portal (not started)");
    }
    if (c.calls) {
      EXPECT_EQ(portal->calls(), *c.calls);
    }
    EXPECT_FALSE(input->ready());
    EXPECT_EQ(input->whyNot(), c.whyNot);
    EXPECT_EQ(input->key(0x61, true), c.keys);
    EXPECT_EQ(input->typeText("a"), std::optional<bool>(c.keys));
    EXPECT_EQ(input->motionRelative(1, 0), c.pointer);
    EXPECT_EQ(input->axisSteps(InputSink::Axis::vertical, 1), c.pointer);
    EXPECT_EQ(readFile(tokenFile), c.token);
    if (!portal || !c.portal->remoteDesktop || c.portal->version < 2) continue;
    if (!c.keys && !c.pointer) {
      EXPECT_TRUE(bus.pump([&] { return portal->openSessions() == 0; }));
    }
    portal->change([](auto& b) {
      b.startResponse = 0;
      b.grantDevices = 3;
    });
    input->requestAccess();
    ASSERT_TRUE(bus.pump([&] { return input->ready(); })) << input->whyNot();
    EXPECT_EQ(portal->dialogs(), 2);
    EXPECT_EQ(portal->openSessions(), 1u);
  }
}

TEST_F(PortalInputTest, WhileTheDialogIsOpenInputIsRefusedAndNothingIsAskedTwice) {
  FakeRemoteDesktop::Behaviour b;
  b.holdDialog = true;
  FakeRemoteDesktop portal(bus, b);
  auto input = makeInput();
  input->start();
  ASSERT_TRUE(bus.pump([&] { return portal.dialogs() == 1; }));
  EXPECT_EQ(input->whyNot(), "waiting for you to allow input access in the desktop's dialog");
  EXPECT_FALSE(input->motionRelative(1, 1));
  input->requestAccess();
  input->start();
  ASSERT_TRUE(portal.answerDialog(0));
  ASSERT_TRUE(bus.pump([&] { return input->ready(); }));
  const Calls all = portal.calls();
  EXPECT_EQ(std::count(all.begin(), all.end(), "CreateSession"), 1);
}

TEST_F(PortalInputTest, SessionClosedOrLostByTheDesktopIsOpenedAgainWithTheToken) {
  FakeRemoteDesktop portal(bus);
  auto input = makeInput();
  ASSERT_TRUE(startReady(*input));

  std::size_t mark = portal.calls().size();
  ASSERT_TRUE(portal.closeSession());
  ASSERT_TRUE(bus.pump([&] { return portal.callsFrom(mark).size() == 5 && input->ready(); }))
      << input->whyNot();
  EXPECT_EQ(portal.callsFrom(mark),
            (Calls{"CreateSession", "SelectDevices types=3 persist_mode=2 restore_token=token-1",
                   "Start restored", "Keysym 0xffe1 press", "Keysym 0xffe1 release"}));
  EXPECT_EQ(portal.dialogs(), 1);

  // A portal that restarted knows the session no more: the first refused event asks again.
  EXPECT_TRUE(input->key(0x61, true));
  ASSERT_TRUE(portal.forgetSession());
  mark = portal.calls().size();
  EXPECT_FALSE(input->key(0x62, true)) << "refused: not sent";
  ASSERT_TRUE(bus.pump([&] { return portal.callsFrom(mark).size() >= 3 && input->ready(); }))
      << input->whyNot();
  EXPECT_EQ(portal.callsFrom(mark)[2], "Start restored");
  EXPECT_TRUE(input->key(0x62, false));
  ASSERT_TRUE(bus.pump([&] { return portal.calls().back() == "Keysym 0x62 release"; }));
}

TEST_F(PortalInputTest, ADesktopThatKeepsClosingTheSessionIsNotAskedForever) {
  FakeRemoteDesktop portal(bus);
  auto input = makeInput();
  ASSERT_TRUE(startReady(*input));
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(portal.closeSession());
    ASSERT_TRUE(bus.pump([&] { return portal.openSessions() == 1 && input->ready(); })) << round;
  }
  ASSERT_TRUE(portal.closeSession());
  ASSERT_TRUE(bus.pump([&] { return !input->ready(); }));
  ASSERT_TRUE(settle(*input));
  EXPECT_EQ(portal.openSessions(), 0u);
  EXPECT_EQ(input->whyNot(),
            "the desktop keeps closing the input session; the menu's permission item asks again");
  input->requestAccess();
  ASSERT_TRUE(bus.pump([&] { return input->ready(); }));
}

TEST_F(PortalInputTest, TheSessionsClipboardCarriesCopiesBothWays) {
  {
    // A portal without the Clipboard interface: input alone, and a clipboard that refuses.
    FakeRemoteDesktop portal(bus);
    auto input = makeInput({}, true);
    ASSERT_TRUE(startReady(*input));
    EXPECT_EQ(portal.calls()[2], "Start dialog");
    EXPECT_FALSE(input->pasteboard()->available());
    EXPECT_FALSE(input->pasteboard()->writeItems({PasteboardItem::text("nowhere")}));
  }
  FakeRemoteDesktop::Behaviour b;
  b.clipboard = true;
  FakeRemoteDesktop portal(bus, b);
  auto input = makeInput({}, true);
  ASSERT_TRUE(startReady(*input)) << input->whyNot();
  EXPECT_EQ(portal.calls(),
            (Calls{"CreateSession", "SelectDevices types=3 persist_mode=2 restore_token=token-1",
                   "RequestClipboard", "Start dialog", "Keysym 0xffe1 press", "Keysym 0xffe1 release"}));
  Pasteboard& clipboard = *input->pasteboard();
  ASSERT_TRUE(clipboard.available());

  ASSERT_TRUE(clipboard.writeItems({PasteboardItem::text("from phone 한글")}));
  EXPECT_EQ(portal.calls().back(), "SetSelection text/plain;charset=utf-8,text/plain,UTF8_STRING");
  const std::uint32_t serial = portal.paste("text/plain;charset=utf-8");
  ASSERT_TRUE(bus.pump([&] { return portal.pasted(serial).has_value(); }));
  EXPECT_EQ(portal.pasted(serial), "from phone 한글");

  // Another program's copy counts once its text is in; a password manager's reads as concealed.
  const auto count = clipboard.changeCount();
  portal.copy({"text/plain;charset=utf-8", "x-kde-passwordManagerHint"}, "copied elsewhere");
  ASSERT_TRUE(bus.pump([&] { return clipboard.changeCount() != count; }));
  EXPECT_EQ(clipboard.changeCount(), count + 1);
  EXPECT_EQ(clipboard.string(), "copied elsewhere");
  const auto types = clipboard.types();
  EXPECT_NE(std::find(types.begin(), types.end(), PasteboardType::concealed), types.end());
}

}  // namespace
}  // namespace quib
