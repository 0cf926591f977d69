#include "platform/linux/Applications.h"

#include <gdk/gdk.h>
#include <gio/gdesktopappinfo.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string_view>

namespace quib {
namespace {

struct GFree {
  void operator()(void* p) const { g_free(p); }
};
struct GUnref {
  void operator()(void* p) const { g_object_unref(p); }
};
using AppInfoPtr = std::unique_ptr<GAppInfo, GUnref>;

std::string folded(std::string_view s) {
  std::unique_ptr<char, GFree> f(g_utf8_casefold(s.data(), gssize(s.size())));
  return f ? std::string(f.get()) : std::string(s);
}

bool sameText(const char* a, const std::string& foldedB) {
  return a && *a && folded(a) == foldedB;
}

// The applications the phone knows by their names on its home desktop, and the role each plays on
// this one: a content type whose default handler fills it, else a desktop-entry category.
struct Role {
  std::array<const char*, 4> names;
  const char* contentType;
  const char* category;
};
constexpr Role kRoles[] = {
    {{"Safari", "com.apple.Safari", nullptr, nullptr}, "x-scheme-handler/https", "WebBrowser"},
    {{"Finder", "com.apple.finder", nullptr, nullptr}, "inode/directory", "FileManager"},
    {{"Terminal", "com.apple.Terminal", nullptr, nullptr}, nullptr, "TerminalEmulator"},
    {{"Mail", "com.apple.mail", nullptr, nullptr}, "x-scheme-handler/mailto", "Email"},
    {{"Music", "com.apple.Music", "iTunes", "com.apple.iTunes"}, "audio/mpeg", "Music"},
    {{"Calculator", "com.apple.calculator", nullptr, nullptr}, nullptr, "Calculator"},
    {{"TextEdit", "com.apple.TextEdit", nullptr, nullptr}, "text/plain", "TextEditor"},
    {{"System Settings", "System Preferences", "com.apple.systempreferences", "com.apple.Settings"},
     nullptr,
     "Settings"},
};

bool hasCategory(GDesktopAppInfo* info, const char* category) {
  const char* cats = g_desktop_app_info_get_categories(info);
  if (!cats) return false;
  std::string_view all(cats), want(category);
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(';', start);
    if (end == std::string_view::npos) end = all.size();
    if (all.substr(start, end - start) == want) return true;
    start = end + 1;
  }
  return false;
}

std::vector<AppInfoPtr> allEntries() {
  std::vector<AppInfoPtr> out;
  GList* list = g_app_info_get_all();
  for (GList* l = list; l; l = l->next) out.emplace_back(G_APP_INFO(l->data));
  g_list_free(list);
  return out;
}

std::optional<std::string> idOf(GAppInfo* info) {
  const char* id = g_app_info_get_id(info);
  if (id && *id) return std::string(id);
  return std::nullopt;
}

std::optional<std::string> byRole(const Role& role, const std::vector<AppInfoPtr>& entries) {
  if (role.contentType) {
    AppInfoPtr def(g_app_info_get_default_for_type(role.contentType, FALSE));
    if (def) return idOf(def.get());
  }
  // An entry the user installed for themselves fills the role before the system's ones.
  const std::string userDir = std::string(g_get_user_data_dir()) + "/applications/";
  std::optional<std::string> system;
  for (const auto& e : entries) {
    if (!G_IS_DESKTOP_APP_INFO(e.get()) || !g_app_info_should_show(e.get()) ||
        !hasCategory(G_DESKTOP_APP_INFO(e.get()), role.category))
      continue;
    const char* file = g_desktop_app_info_get_filename(G_DESKTOP_APP_INFO(e.get()));
    if (file && std::string_view(file).starts_with(userDir)) return idOf(e.get());
    if (!system) system = idOf(e.get());
  }
  return system;
}

GdkAppLaunchContext* launchContext() {
  GdkDisplay* display = gdk_display_get_default();
  return display ? gdk_display_get_app_launch_context(display) : nullptr;
}

}  // namespace

LinuxApplications::LinuxApplications() : iconTheme_(gtk_icon_theme_new()) {}

LinuxApplications::~LinuxApplications() {
  g_object_unref(iconTheme_);
}

std::optional<std::string> LinuxApplications::find(const std::string& name) {
  if (name.empty() || !g_utf8_validate(name.data(), gssize(name.size()), nullptr)) return std::nullopt;
  const std::string want = folded(name);
  const std::string wantId = want + ".desktop";
  auto entries = allEntries();
  // An entry of that exact id or name wins over the role it might stand for.
  for (const auto& e : entries) {
    if (!G_IS_DESKTOP_APP_INFO(e.get())) continue;
    auto* d = G_DESKTOP_APP_INFO(e.get());
    const char* id = g_app_info_get_id(e.get());
    if (sameText(id, want) || sameText(id, wantId) || sameText(g_app_info_get_name(e.get()), want) ||
        sameText(g_app_info_get_display_name(e.get()), want) ||
        sameText(g_desktop_app_info_get_startup_wm_class(d), want))
      return idOf(e.get());
    // Name[xx] for the current locale is what get_name returns; the untranslated one is asked
    // separately so both spellings match.
    std::unique_ptr<char, GFree> plain(g_desktop_app_info_get_string(d, "Name"));
    if (sameText(plain.get(), want)) return idOf(e.get());
  }
  for (const auto& role : kRoles)
    for (const char* n : role.names)
      if (sameText(n, want)) return byRole(role, entries);
  return std::nullopt;
}

std::vector<std::string> LinuxApplications::installedNames() {
  std::vector<std::string> names;
  for (const auto& e : allEntries()) {
    // should_show leaves out NoDisplay, Hidden, OnlyShowIn elsewhere; g_app_info_get_all already
    // dropped entries whose TryExec is missing.
    if (!g_app_info_should_show(e.get())) continue;
    const char* n = g_app_info_get_name(e.get());
    if (n && *n) names.emplace_back(n);
  }
  return names;
}

std::optional<std::string> LinuxApplications::iconData(const std::string& locator, int size) {
  if (size <= 0) return std::nullopt;
  std::unique_ptr<GDesktopAppInfo, GUnref> info(g_desktop_app_info_new(locator.c_str()));
  if (!info) return std::nullopt;
  GIcon* icon = g_app_info_get_icon(G_APP_INFO(info.get()));  // owned by info
  if (!icon) return std::nullopt;
  std::unique_ptr<GdkPixbuf, GUnref> pixbuf;
  {
    std::lock_guard lock(iconMutex_);
    // FORCE_SIZE renders scalable sources at the size asked and scales fixed ones to it, so the
    // caller always gets size x size (or the aspect-kept fit) to trim and place.
    std::unique_ptr<GtkIconInfo, GUnref> found(gtk_icon_theme_lookup_by_gicon(
        iconTheme_, icon, size, GtkIconLookupFlags(GTK_ICON_LOOKUP_FORCE_SIZE)));
    if (!found) return std::nullopt;
    pixbuf.reset(gtk_icon_info_load_icon(found.get(), nullptr));
  }
  if (!pixbuf) return std::nullopt;
  gchar* buf = nullptr;
  gsize len = 0;
  if (!gdk_pixbuf_save_to_buffer(pixbuf.get(), &buf, &len, "png", nullptr, nullptr)) return std::nullopt;
  std::string out(buf, len);
  g_free(buf);
  return out;
}

bool LinuxApplications::launch(const std::string& locator) {
  std::unique_ptr<GDesktopAppInfo, GUnref> info(g_desktop_app_info_new(locator.c_str()));
  if (!info) return false;
  GdkAppLaunchContext* ctx = launchContext();
  bool ok = g_app_info_launch(G_APP_INFO(info.get()), nullptr, G_APP_LAUNCH_CONTEXT(ctx), nullptr);
  if (ctx) g_object_unref(ctx);
  return ok;
}

}  // namespace quib
