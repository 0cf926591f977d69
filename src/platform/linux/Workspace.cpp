#include "platform/linux/Workspace.h"

#include <gdk/gdk.h>
#include <gio/gio.h>

#include <memory>

namespace quib {

bool LinuxWorkspace::openURL(const std::string& url) {
  if (url.empty() || !g_utf8_validate(url.data(), gssize(url.size()), nullptr)) return false;
  std::unique_ptr<char, decltype(&g_free)> scheme(g_uri_parse_scheme(url.c_str()), g_free);
  if (!scheme) return false;
  // launch_default_for_uri would fall back to asking a portal or reporting later; checking the
  // handler first gives a plain false for a scheme nothing on this desktop opens.
  GAppInfo* handler = g_app_info_get_default_for_uri_scheme(scheme.get());
  if (!handler) return false;
  g_object_unref(handler);
  GdkDisplay* display = gdk_display_get_default();
  GdkAppLaunchContext* ctx = display ? gdk_display_get_app_launch_context(display) : nullptr;
  bool ok = g_app_info_launch_default_for_uri(url.c_str(), G_APP_LAUNCH_CONTEXT(ctx), nullptr);
  if (ctx) g_object_unref(ctx);
  return ok;
}

}  // namespace quib
