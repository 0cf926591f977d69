#pragma once
// One snapshot of the X server's keyboard map, read with XKB, and where a keysym can be typed on it:
// which keycode, in which group, with which extra modifiers (Shift, the third level). Main thread
// (it makes requests on the display it is given).
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <optional>
#include <set>

namespace quib {

class XkbKeymap {
 public:
  struct Placement {
    KeyCode keycode = 0;
    int group = 0;               // the group to lock for the press when it is not the current one
    unsigned extraMods = 0;      // real modifiers the level needs (Shift, the third level's)
    bool clearCapsLock = false;  // Caps Lock is on and would change the keysym
  };

  // Reads the map and the keyboard state; `valid()` is false when the server did not answer.
  explicit XkbKeymap(Display* display);
  ~XkbKeymap();
  XkbKeymap(const XkbKeymap&) = delete;
  XkbKeymap& operator=(const XkbKeymap&) = delete;

  bool valid() const { return xkb_ != nullptr; }
  int currentGroup() const { return group_; }
  unsigned lockedMods() const { return lockedMods_; }
  // Modifiers set by keys held down right now, by anyone.
  unsigned heldMods() const { return baseMods_; }

  // Prefers the current group and the fewest extra modifiers; none when the keysym is not on the map
  // (or needs modifiers that no key gives).
  std::optional<Placement> find(KeySym sym) const;
  // The first keycode that gives `sym` on its first level in any group, for modifier keys.
  std::optional<KeyCode> firstLevelKey(KeySym sym) const;
  // A keycode without any keysym that is not in `taken`, to bind a missing keysym to.
  std::optional<KeyCode> spareKeycode(const std::set<KeyCode>& taken) const;
  // The real modifiers the key sets.
  unsigned modifiersOf(KeyCode keycode) const;

 private:
  std::optional<KeyCode> keyFor(KeySym sym, unsigned mods, int group) const;

  XkbDescPtr xkb_ = nullptr;
  int group_ = 0;
  int numGroups_ = 1;
  unsigned lockedMods_ = 0;
  unsigned baseMods_ = 0;
  unsigned shiftMask_ = ShiftMask;
  unsigned levelThreeMask_ = 0;  // 0 when no key gives the third level
  bool hasCapsLockKey_ = false;
};

}  // namespace quib
