#pragma once
// The text of a D-Bus call's error for the user's line on why input is refused: the remote error's
// name stripped, as the desktop's own message says it. Any thread.
#include <gio/gio.h>

#include <string>

namespace quib {

inline std::string dbusErrorText(const GError* error) {
  GError* copy = g_error_copy(error);
  g_dbus_error_strip_remote_error(copy);
  std::string text = copy->message ? copy->message : "unknown error";
  g_error_free(copy);
  return text;
}

}  // namespace quib
