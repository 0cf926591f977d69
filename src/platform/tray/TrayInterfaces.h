#pragma once
// The names and the introspection the tray exports: the StatusNotifierItem the panel shows and the
// com.canonical.dbusmenu menu behind it. Any thread.
#include <gio/gio.h>

namespace quib::tray {

inline constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
inline constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
inline constexpr const char* kMenuInterface = "com.canonical.dbusmenu";
// What the status item was called where this menu came from; hosts show it as the item's name.
inline constexpr const char* kTitle = "Quibox";

// Both interfaces, parsed once and kept for the life of the process.
GDBusNodeInfo* trayIntrospection();

}  // namespace quib::tray
