#include "platform/linux/XkbKeymap.h"

#include <X11/keysym.h>

#include <algorithm>

namespace quib {

XkbKeymap::XkbKeymap(Display* display) {
  if (!display) return;
  xkb_ = XkbGetMap(display, XkbAllClientInfoMask, XkbUseCoreKbd);
  if (!xkb_) return;
  XkbStateRec state{};
  if (XkbGetState(display, XkbUseCoreKbd, &state) == Success) {
    group_ = state.group;
    lockedMods_ = state.locked_mods;
    baseMods_ = state.base_mods;
  }
  if (auto key = firstLevelKey(XK_ISO_Level3_Shift)) levelThreeMask_ = modifiersOf(*key);
  hasCapsLockKey_ = firstLevelKey(XK_Caps_Lock).has_value();
  for (int kc = xkb_->min_key_code; kc <= xkb_->max_key_code; ++kc)
    numGroups_ = std::max(numGroups_, static_cast<int>(XkbKeyNumGroups(xkb_, kc)));
}

XkbKeymap::~XkbKeymap() {
  if (xkb_) XkbFreeKeyboard(xkb_, 0, True);
}

std::optional<KeyCode> XkbKeymap::keyFor(KeySym sym, unsigned mods, int group) const {
  for (int kc = xkb_->min_key_code; kc <= xkb_->max_key_code; ++kc) {
    if (XkbKeyNumGroups(xkb_, kc) == 0) continue;
    unsigned consumed = 0;
    KeySym out = NoSymbol;
    if (XkbTranslateKeyCode(xkb_, static_cast<KeyCode>(kc), XkbBuildCoreState(mods, group), &consumed,
                            &out) &&
        out == sym)
      return static_cast<KeyCode>(kc);
  }
  return std::nullopt;
}

std::optional<XkbKeymap::Placement> XkbKeymap::find(KeySym sym) const {
  if (!xkb_ || sym == NoSymbol) return std::nullopt;
  // Num Lock stays as the user set it (it picks the keypad's level); Caps Lock is cleared only when
  // it would change the keysym.
  const unsigned locked = lockedMods_ & ~static_cast<unsigned>(ShiftMask);
  const bool capsOn = (locked & LockMask) != 0;
  unsigned extras[4] = {0, shiftMask_, 0, 0};
  int extraCount = 2;
  if (levelThreeMask_) {
    extras[extraCount++] = levelThreeMask_;
    extras[extraCount++] = levelThreeMask_ | shiftMask_;
  }
  for (int pass = 0; pass < 2; ++pass) {  // the current group first, then the others
    for (int g = 0; g < XkbNumKbdGroups; ++g) {
      const int group = pass == 0 ? group_ : g;
      if (pass == 1 && (g == group_ || g >= numGroups_)) continue;
      for (int i = 0; i < extraCount; ++i) {
        for (bool clearCaps : {false, true}) {
          if (clearCaps && (!capsOn || !hasCapsLockKey_)) continue;
          const unsigned mods = (clearCaps ? locked & ~static_cast<unsigned>(LockMask) : locked) | extras[i];
          if (auto kc = keyFor(sym, mods, group)) return Placement{*kc, group, extras[i], clearCaps};
        }
      }
      if (pass == 0) break;
    }
  }
  return std::nullopt;
}

std::optional<KeyCode> XkbKeymap::firstLevelKey(KeySym sym) const {
  if (!xkb_) return std::nullopt;
  for (int kc = xkb_->min_key_code; kc <= xkb_->max_key_code; ++kc) {
    const int groups = XkbKeyNumGroups(xkb_, kc);
    for (int g = 0; g < groups; ++g)
      if (XkbKeySymEntry(xkb_, kc, 0, g) == sym) return static_cast<KeyCode>(kc);
  }
  return std::nullopt;
}

std::optional<KeyCode> XkbKeymap::spareKeycode(const std::set<KeyCode>& taken) const {
  if (!xkb_ || !xkb_->map || !xkb_->map->modmap) return std::nullopt;
  // From the top: the low codes are the ones keyboards send.
  for (int kc = xkb_->max_key_code; kc >= xkb_->min_key_code; --kc) {
    const auto code = static_cast<KeyCode>(kc);
    if (XkbKeyNumSyms(xkb_, kc) == 0 && xkb_->map->modmap[kc] == 0 && !taken.count(code)) return code;
  }
  return std::nullopt;
}

unsigned XkbKeymap::modifiersOf(KeyCode keycode) const {
  if (!xkb_ || !xkb_->map || !xkb_->map->modmap) return 0;
  return xkb_->map->modmap[keycode];
}

}  // namespace quib
