#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "platform/EventPoster.h"
#include "platform/linux/KeyTable.h"

// clang-format off: last, its macros clash with the headers above
#include <X11/Xlib.h>
#include <X11/keysym.h>
// clang-format on

namespace quib {

namespace {
std::string symName(std::optional<KeyTable::KeySymbol> sym) {
  if (!sym) return "(none)";
  const char* n = XKeysymToString(static_cast<KeySym>(*sym));
  return n ? n : "(unnamed)";
}
}  // namespace

// Every keystroke name reaching its key is read back from the display in the event poster's tests.
TEST(LinuxKeyTable, TheRestOfTheKeyboard) {
  // Codes of the ANSI layout that no keystroke name reaches yet, as "code keysym" pairs.
  std::istringstream keys(
      "27 minus 24 equal 33 bracketleft 30 bracketright 39 apostrophe 41 semicolon "
      "42 backslash 43 comma 47 period 44 slash 50 grave 117 Delete 115 Home 119 End 116 Prior "
      "121 Next 122 F1 120 F2 99 F3 118 F4 96 F5 97 F6 98 F7 100 F8 101 F9 109 F10 103 F11 "
      "111 F12 105 F13 107 F14 113 F15 106 F16 64 F17 79 F18 80 F19 90 F20 82 KP_0 83 KP_1 "
      "89 KP_7 91 KP_8 92 KP_9 65 KP_Decimal 67 KP_Multiply 69 KP_Add 75 KP_Divide "
      "78 KP_Subtract 76 KP_Enter 81 KP_Equal 71 Clear 57 Caps_Lock 56 Shift_L 60 Shift_R "
      "58 Alt_L 61 Alt_R 59 Control_L 62 Control_R 72 XF86AudioRaiseVolume "
      "73 XF86AudioLowerVolume 74 XF86AudioMute");
  std::set<std::string> seen;
  std::uint16_t code;
  for (std::string expected; keys >> code >> expected;) {
    EXPECT_EQ(symName(KeyTable::keysym(code)), expected) << code;
    EXPECT_TRUE(seen.insert(expected).second) << expected;
  }
  EXPECT_EQ(seen.size(), 59u);  // the whole table was read
  // Codes that are no key of this layout (the ISO extra key, the fn key, out of range).
  for (std::uint16_t code : {10, 52, 63, 102, 127, 128, 0xFFFF})
    EXPECT_EQ(KeyTable::keysym(code), std::nullopt) << code;
}

TEST(LinuxKeyTable, CommandIsControlUnlessSuperIsChosen) {
  EXPECT_EQ(symName(KeyTable::keysym(55)), "Control_R");
  EXPECT_EQ(symName(KeyTable::keysym(55, CommandKey::super)), "Super_L");
  EXPECT_EQ(symName(KeyTable::keysym(54, CommandKey::super)), "Super_R");
  // The choice touches nothing but the command keys.
  for (std::uint16_t code = 0; code < 128; ++code) {
    if (code == 54 || code == 55) continue;
    EXPECT_EQ(KeyTable::keysym(code, CommandKey::super), KeyTable::keysym(code)) << code;
  }

  EXPECT_EQ(KeyTable::modifierFlag(55), EventFlags::command);
  EXPECT_EQ(KeyTable::modifierFlag(60), EventFlags::shift);
  EXPECT_EQ(KeyTable::modifierFlag(61), EventFlags::alternate);
  EXPECT_EQ(KeyTable::modifierFlag(62), EventFlags::control);
  EXPECT_EQ(KeyTable::modifierFlag(8), 0u);
  EXPECT_EQ(symName(KeyTable::modifierFallback(XK_Alt_R)), "Alt_L");
  EXPECT_EQ(KeyTable::modifierFallback(XK_a), std::nullopt);
}

}  // namespace quib
