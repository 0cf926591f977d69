// A foreign CLIPBOARD owner for the tests, as another application would be: offers the given
// targets, prints "ready" once it owns the selection and exits when another client takes it.
//   quib_clipboard_owner [--stall | --stall-on=TARGET] TARGET=TEXT | TARGET=@FILE ...
// --stall: takes the selection but never answers a request, like a hung application;
// --stall-on: hangs only when asked for that target.
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Target {
  std::string name;
  std::string bytes;
};
std::vector<Target> targets;
bool stall = false;
std::string stallOn;

void serve(GtkClipboard*, GtkSelectionData* d, guint info, gpointer) {
  if (stall || targets[info].name == stallOn)
    for (;;) pause();
  const std::string& b = targets[info].bytes;
  gtk_selection_data_set(d, gtk_selection_data_get_target(d), 8, reinterpret_cast<const guchar*>(b.data()),
                         static_cast<gint>(b.size()));
}

void lost(GtkClipboard*, gpointer) {
  gtk_main_quit();
}

}  // namespace

int main(int argc, char** argv) {
  if (!gtk_init_check(&argc, &argv)) return 2;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--stall") {
      stall = true;
      continue;
    }
    if (a.starts_with("--stall-on=")) {
      stallOn = a.substr(11);
      continue;
    }
    auto eq = a.find('=');
    if (eq == std::string::npos) return 2;
    Target t{a.substr(0, eq), a.substr(eq + 1)};
    if (t.bytes.starts_with("@")) {
      std::ifstream in(t.bytes.substr(1), std::ios::binary);
      std::stringstream s;
      s << in.rdbuf();
      t.bytes = s.str();
    }
    targets.push_back(std::move(t));
  }
  std::vector<GtkTargetEntry> entries;
  for (guint i = 0; i < targets.size(); ++i)
    entries.push_back({const_cast<gchar*>(targets[i].name.c_str()), 0, i});
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  if (!gtk_clipboard_set_with_data(clipboard, entries.data(), static_cast<guint>(entries.size()), serve, lost,
                                   nullptr))
    return 1;
  std::printf("ready\n");
  std::fflush(stdout);
  gtk_main();
  return 0;
}
