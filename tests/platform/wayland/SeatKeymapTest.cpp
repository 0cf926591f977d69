// What the desktop's keymap can type decides what text goes through the portal: read from the
// keymap's own text form, as the compositor sends it.
#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/wayland/SeatKeymap.h"

namespace quib {
namespace {

std::string keymapText(const char* layout) {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  xkb_rule_names names{"evdev", "pc105", layout, "", ""};
  xkb_keymap* map = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  std::string text;
  if (map) {
    char* s = xkb_keymap_get_as_string(map, XKB_KEYMAP_FORMAT_TEXT_V1);
    text = s;
    free(s);
    xkb_keymap_unref(map);
  }
  xkb_context_unref(context);
  return text;
}

}  // namespace

TEST(SeatKeymapTest, KeysymsAreThoseOfTheFirstLayoutAtAnyLevel) {
  const auto us = SeatKeymap::keysymsOf(keymapText("us"));
  ASSERT_FALSE(us.empty());
  for (std::uint32_t sym : {XKB_KEY_a, XKB_KEY_A, XKB_KEY_exclam, XKB_KEY_Return, XKB_KEY_space})
    EXPECT_TRUE(us.contains(sym)) << sym;
  EXPECT_FALSE(us.contains(xkb_utf32_to_keysym(U'한')));
  EXPECT_FALSE(us.contains(XKB_KEY_adiaeresis));
  // A German keymap types its umlauts; only the first layout of a multi-layout keymap counts,
  // since that is the one a keysym is looked up in.
  EXPECT_TRUE(SeatKeymap::keysymsOf(keymapText("de")).contains(XKB_KEY_adiaeresis));
  EXPECT_FALSE(SeatKeymap::keysymsOf(keymapText("us,de")).contains(XKB_KEY_adiaeresis));
  // Where a keysym is, for sending it as a key code: evdev codes, Shift at level 1.
  EXPECT_EQ(us.at(XKB_KEY_a), (KeyPlace{30, 0}));
  EXPECT_EQ(us.at(XKB_KEY_A), (KeyPlace{30, 1}));
  EXPECT_EQ(us.at(XKB_KEY_exclam), (KeyPlace{2, 1}));
  EXPECT_EQ(us.at(XKB_KEY_Shift_L), (KeyPlace{42, 0}));
  EXPECT_TRUE(SeatKeymap::keysymsOf("not a keymap").empty());
  EXPECT_TRUE(SeatKeymap::keysymsOf("").empty());
}

}  // namespace quib
