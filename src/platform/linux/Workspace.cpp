#include "platform/linux/Workspace.h"

#include <gdk/gdk.h>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <memory>

namespace quib {

bool LinuxWorkspace::openURL(const std::string& url) {
  if (url.empty() || url.find('\0') != std::string::npos ||
      !g_utf8_validate(url.data(), gssize(url.size()), nullptr))
    return false;
  // A bare word or path is no address. For a real one the handler is looked up before anything
  // is launched (by scheme, or by the file's type for file: addresses); none means failure.
  std::unique_ptr<char, decltype(&g_free)> scheme(g_uri_parse_scheme(url.c_str()), g_free);
  if (!scheme) return false;
  std::unique_ptr<GFile, decltype(&g_object_unref)> file(g_file_new_for_uri(url.c_str()), g_object_unref);
  std::unique_ptr<GAppInfo, decltype(&g_object_unref)> handler(
      g_file_query_default_handler(file.get(), nullptr, nullptr), g_object_unref);
  if (!handler) return false;
  GdkDisplay* display = gdk_display_get_default();
  GdkAppLaunchContext* ctx = display ? gdk_display_get_app_launch_context(display) : nullptr;
  GList uris{const_cast<char*>(url.c_str()), nullptr, nullptr};
  // Spawned with the descriptor limit this program started with.
  bool ok =
      G_IS_DESKTOP_APP_INFO(handler.get())
          ? g_desktop_app_info_launch_uris_as_manager(
                G_DESKTOP_APP_INFO(handler.get()), &uris, G_APP_LAUNCH_CONTEXT(ctx), G_SPAWN_SEARCH_PATH,
                applyChildLimits, const_cast<ChildLimits*>(&childLimits_), nullptr, nullptr, nullptr)
          : g_app_info_launch_uris(handler.get(), &uris, G_APP_LAUNCH_CONTEXT(ctx), nullptr);
  if (ctx) g_object_unref(ctx);
  return ok;
}

}  // namespace quib
