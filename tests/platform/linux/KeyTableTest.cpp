#include <gtest/gtest.h>

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

// Which key each code names is read back from the display in the event poster's tests; here what
// the tables say beside it.
TEST(LinuxKeyTable, CommandKeyChoiceModifierFlagsAndCodesThatAreNoKeys) {
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
  // The ISO extra key, the fn key, out of range.
  for (std::uint16_t code : {10, 52, 63, 102, 127, 128, 0xFFFF})
    EXPECT_EQ(KeyTable::keysym(code), std::nullopt) << code;
}

}  // namespace quib
