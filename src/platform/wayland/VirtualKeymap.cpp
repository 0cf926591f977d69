#include "platform/wayland/VirtualKeymap.h"

#include <xkbcommon/xkbcommon.h>

#include <cstdio>

namespace quib {

namespace {

constexpr const char* kKeycodes = "evdev+aliases(qwerty)";
constexpr const char* kSymbols = "pc+us+inet(evdev)";

xkb_context* context() {
  // One context for the process: it only caches the XKB data files.
  static xkb_context* c = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  return c;
}

std::string symName(VirtualKeymap::KeySym sym) {
  char name[64];
  if (xkb_keysym_get_name(sym, name, sizeof name) > 0) return name;
  std::snprintf(name, sizeof name, "0x%08x", sym);
  return name;
}

std::string baseText(const std::string& extraSymbols) {
  return std::string("xkb_keymap {\n  xkb_keycodes { include \"") + kKeycodes +
         "\" };\n  xkb_types { include \"complete\" };\n  xkb_compat { include \"complete\" };\n"
         "  xkb_symbols { include \"" +
         kSymbols + "\"\n" + extraSymbols + "  };\n};\n";
}

// The named keys of the plain layout that have no keysym, lowest first: where extras go. Codes
// below 256 come first, as X11 clients under XWayland see only those.
const std::vector<std::pair<xkb_keycode_t, std::string>>& freeKeyNames() {
  static const std::vector<std::pair<xkb_keycode_t, std::string>> keys = [] {
    std::vector<std::pair<xkb_keycode_t, std::string>> out;
    const std::string text = baseText("");
    xkb_keymap* k = xkb_keymap_new_from_string(context(), text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                               XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!k) return out;
    for (xkb_keycode_t kc = 9; kc <= xkb_keymap_max_keycode(k); ++kc) {
      const char* name = xkb_keymap_key_get_name(k, kc);
      if (name && xkb_keymap_num_layouts_for_key(k, kc) == 0) out.emplace_back(kc, name);
    }
    xkb_keymap_unref(k);
    return out;
  }();
  return keys;
}

}  // namespace

void VirtualKeymap::Free::operator()(xkb_keymap* k) const {
  xkb_keymap_unref(k);
}

std::size_t VirtualKeymap::freeKeys() {
  return freeKeyNames().size();
}

std::optional<VirtualKeymap> VirtualKeymap::withExtras(const std::vector<KeySym>& extras) {
  const auto& free = freeKeyNames();
  std::string symbols;
  for (std::size_t i = 0; i < extras.size() && i < free.size(); ++i)
    symbols += "    key <" + free[i].second + "> { [ " + symName(extras[i]) + " ] };\n";
  return compile(baseText(symbols));
}

std::optional<VirtualKeymap> VirtualKeymap::forKeysyms(const std::vector<KeySym>& syms) {
  std::string codes, symbols;
  for (std::size_t i = 0; i < syms.size() && i < kTextKeys; ++i) {
    std::string name = "T";  // built in two steps: GCC 12 misreads "T" + to_string as overlapping
    name += std::to_string(i);
    codes += "    <" + name + "> = " + std::to_string(i + 9) + ";\n";
    symbols += "    key <" + name + "> { [ " + symName(syms[i]) + " ] };\n";
  }
  return compile("xkb_keymap {\n  xkb_keycodes {\n    minimum = 8;\n    maximum = 255;\n" + codes +
                 "  };\n  xkb_types { include \"complete\" };\n  xkb_compat { include \"complete\" };\n"
                 "  xkb_symbols {\n" +
                 symbols + "  };\n};\n");
}

std::optional<VirtualKeymap> VirtualKeymap::compile(std::string text) {
  if (!context()) return std::nullopt;
  xkb_keymap* k = xkb_keymap_new_from_string(context(), text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                             XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (!k) return std::nullopt;
  VirtualKeymap m;
  m.keymap_.reset(k, Free{});
  // The compositor reads the file up to its size, which counts the final NUL.
  m.text_ = std::move(text);
  m.text_.push_back('\0');
  for (xkb_keycode_t kc = xkb_keymap_min_keycode(k); kc <= xkb_keymap_max_keycode(k); ++kc) {
    const xkb_keysym_t* syms = nullptr;
    const int n = xkb_keymap_key_get_syms_by_level(k, kc, 0, 0, &syms);
    // The lowest key wins: the main block's keys come before the keypad's and the extras.
    if (n == 1 && !m.firstLevel_.count(syms[0])) m.firstLevel_[syms[0]] = kc - 8;
  }
  return m;
}

std::optional<std::uint32_t> VirtualKeymap::keyFor(KeySym sym) const {
  auto it = firstLevel_.find(sym);
  if (it == firstLevel_.end()) return std::nullopt;
  return it->second;
}

std::uint32_t VirtualKeymap::modifierMaskOf(std::uint32_t evdevKey) const {
  // Pressing the key on a fresh state shows which modifiers it sets.
  xkb_state* state = xkb_state_new(keymap_.get());
  if (!state) return 0;
  xkb_state_update_key(state, evdevKey + 8, XKB_KEY_DOWN);
  const std::uint32_t mods = xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED);
  xkb_state_unref(state);
  return mods;
}

VirtualKeymap::KeySym keysymForCodepoint(char32_t c) {
  switch (c) {
    case U'\n':
    case U'\r':
      return XKB_KEY_Return;
    case U'\t':
      return XKB_KEY_Tab;
    case U'\b':
      return XKB_KEY_BackSpace;
    default:
      return xkb_utf32_to_keysym(static_cast<std::uint32_t>(c));
  }
}

}  // namespace quib
