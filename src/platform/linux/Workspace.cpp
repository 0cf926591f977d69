#include "platform/linux/Workspace.h"

#include <gdk/gdk.h>
#include <gio/gio.h>

#include <memory>

namespace quib {

bool LinuxWorkspace::openURL(const std::string& url) {
  if (url.empty() || url.find('\0') != std::string::npos ||
      !g_utf8_validate(url.data(), gssize(url.size()), nullptr))
    return false;
  // A bare word or path is no address. For a real one GIO looks the handler up before it launches
  // (by scheme, or by the file's type for file: addresses) and fails right away when there is none.
  std::unique_ptr<char, decltype(&g_free)> scheme(g_uri_parse_scheme(url.c_str()), g_free);
  if (!scheme) return false;
  GdkDisplay* display = gdk_display_get_default();
  GdkAppLaunchContext* ctx = display ? gdk_display_get_app_launch_context(display) : nullptr;
  bool ok = g_app_info_launch_default_for_uri(url.c_str(), G_APP_LAUNCH_CONTEXT(ctx), nullptr);
  if (ctx) g_object_unref(ctx);
  return ok;
}

}  // namespace quib
