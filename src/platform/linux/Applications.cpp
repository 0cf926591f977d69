#include "platform/linux/Applications.h"

#include <gdk/gdk.h>
#include <gio/gdesktopappinfo.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string_view>
#include <unordered_map>

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

std::optional<std::string> idOf(GAppInfo* info) {
  const char* id = g_app_info_get_id(info);
  if (id && *id) return std::string(id);
  return std::nullopt;
}

std::string foldedOrEmpty(const char* s) {
  return s && *s ? folded(s) : std::string();
}

}  // namespace

struct LinuxApplications::Index {
  struct Entry {
    std::shared_ptr<GAppInfo> info;
    std::string id;
    // The id and every name the entry goes by (localized, untranslated, window class), folded.
    std::array<std::string, 5> names;
    std::optional<std::string> listedName;  // shown in launchers: its localized name
  };
  std::vector<Entry> entries;
  std::unordered_map<std::string, std::size_t> byId;
  std::array<std::optional<std::string>, std::size(kRoles)> roles;  // the entry filling each role

  static std::shared_ptr<const Index> read();
};

namespace {

std::optional<std::string> byRole(const Role& role,
                                  const std::vector<LinuxApplications::Index::Entry>& entries) {
  if (role.contentType) {
    AppInfoPtr def(g_app_info_get_default_for_type(role.contentType, FALSE));
    if (def) return idOf(def.get());
  }
  // An entry the user installed for themselves fills the role before the system's ones.
  const std::string userDir = std::string(g_get_user_data_dir()) + "/applications/";
  std::optional<std::string> system;
  for (const auto& e : entries) {
    if (!G_IS_DESKTOP_APP_INFO(e.info.get()) || !e.listedName ||
        !hasCategory(G_DESKTOP_APP_INFO(e.info.get()), role.category))
      continue;
    const char* file = g_desktop_app_info_get_filename(G_DESKTOP_APP_INFO(e.info.get()));
    if (file && std::string_view(file).starts_with(userDir)) return e.id;
    if (!system) system = e.id;
  }
  return system;
}

GdkAppLaunchContext* launchContext() {
  GdkDisplay* display = gdk_display_get_default();
  return display ? gdk_display_get_app_launch_context(display) : nullptr;
}

}  // namespace

std::shared_ptr<const LinuxApplications::Index> LinuxApplications::Index::read() {
  auto index = std::make_shared<Index>();
  GList* list = g_app_info_get_all();
  for (GList* l = list; l; l = l->next) {
    std::shared_ptr<GAppInfo> info(G_APP_INFO(l->data), [](GAppInfo* p) { g_object_unref(p); });
    auto id = idOf(info.get());
    if (!id || !G_IS_DESKTOP_APP_INFO(info.get())) continue;
    auto* d = G_DESKTOP_APP_INFO(info.get());
    Entry e{info, *id, {}, std::nullopt};
    // Name[xx] for the current locale is what get_name returns; the untranslated one is read
    // separately so both spellings match.
    std::unique_ptr<char, GFree> plain(g_desktop_app_info_get_string(d, "Name"));
    e.names = {folded(*id), foldedOrEmpty(g_app_info_get_name(info.get())),
               foldedOrEmpty(g_app_info_get_display_name(info.get())),
               foldedOrEmpty(g_desktop_app_info_get_startup_wm_class(d)), foldedOrEmpty(plain.get())};
    // should_show leaves out NoDisplay, Hidden, OnlyShowIn elsewhere; g_app_info_get_all already
    // dropped entries whose TryExec is missing.
    const char* name = g_app_info_get_name(info.get());
    if (g_app_info_should_show(info.get()) && name && *name) e.listedName = name;
    index->byId.emplace(e.id, index->entries.size());
    index->entries.push_back(std::move(e));
  }
  g_list_free(list);
  for (std::size_t r = 0; r < std::size(kRoles); ++r) index->roles[r] = byRole(kRoles[r], index->entries);
  return index;
}

LinuxApplications::LinuxApplications(ChildLimits childLimits)
    : childLimits_(childLimits), iconTheme_(gtk_icon_theme_new()), index_(Index::read()) {
  // The monitor speaks on this thread's main context, and only once the entries have been read.
  monitor_ = g_app_info_monitor_get();
  changedHandler_ = g_signal_connect_swapped(monitor_, "changed", G_CALLBACK(+[](LinuxApplications* self) {
                                               std::lock_guard lock(self->indexMutex_);
                                               self->stale_ = true;
                                               self->wake_.notify_one();
                                             }),
                                             this);
  indexer_ = std::thread([this] { reindexLoop(); });
}

LinuxApplications::~LinuxApplications() {
  g_signal_handler_disconnect(monitor_, changedHandler_);
  g_object_unref(monitor_);
  {
    std::lock_guard lock(indexMutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  indexer_.join();
  g_object_unref(iconTheme_);
}

void LinuxApplications::reindexLoop() {
  for (;;) {
    {
      std::unique_lock lock(indexMutex_);
      wake_.wait(lock, [&] { return stopping_ || stale_; });
      if (stopping_) return;
      stale_ = false;
    }
    auto fresh = Index::read();  // the slow part, on this thread only
    std::lock_guard lock(indexMutex_);
    index_ = std::move(fresh);
  }
}

std::shared_ptr<const LinuxApplications::Index> LinuxApplications::index() {
  std::lock_guard lock(indexMutex_);
  return index_;
}

std::optional<std::string> LinuxApplications::find(const std::string& name) {
  if (name.empty() || !g_utf8_validate(name.data(), gssize(name.size()), nullptr)) return std::nullopt;
  const std::string want = folded(name);
  const std::string wantId = want + ".desktop";
  const auto index = this->index();
  // An entry of that exact id or name wins over the role it might stand for.
  for (const auto& e : index->entries) {
    if (e.names[0] == wantId) return e.id;
    for (const auto& n : e.names)
      if (!n.empty() && n == want) return e.id;
  }
  for (std::size_t r = 0; r < std::size(kRoles); ++r)
    for (const char* n : kRoles[r].names)
      if (n && folded(n) == want) return index->roles[r];
  return std::nullopt;
}

std::vector<std::string> LinuxApplications::installedNames() {
  std::vector<std::string> names;
  for (const auto& e : index()->entries)
    if (e.listedName) names.push_back(*e.listedName);
  return names;
}

std::optional<std::string> LinuxApplications::iconData(const std::string& locator, int size) {
  if (size <= 0) return std::nullopt;
  const auto index = this->index();
  auto at = index->byId.find(locator);
  if (at == index->byId.end()) return std::nullopt;
  GIcon* icon = g_app_info_get_icon(index->entries[at->second].info.get());  // owned by the entry
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
  std::shared_ptr<GAppInfo> info;
  {
    const auto index = this->index();
    if (auto at = index->byId.find(locator); at != index->byId.end()) info = index->entries[at->second].info;
  }
  // Installed a moment ago, before the index heard of it: read from its file.
  if (!info) {
    GDesktopAppInfo* fresh = g_desktop_app_info_new(locator.c_str());
    if (!fresh) return false;
    info.reset(G_APP_INFO(fresh), [](GAppInfo* p) { g_object_unref(p); });
  }
  GdkAppLaunchContext* ctx = launchContext();
  // Spawned with the descriptor limit this program started with; an entry that is started over
  // D-Bus gets the session bus's.
  bool ok = g_desktop_app_info_launch_uris_as_manager(
      G_DESKTOP_APP_INFO(info.get()), nullptr, G_APP_LAUNCH_CONTEXT(ctx), G_SPAWN_SEARCH_PATH,
      applyChildLimits, const_cast<ChildLimits*>(&childLimits_), nullptr, nullptr, nullptr);
  if (ctx) g_object_unref(ctx);
  return ok;
}

}  // namespace quib
