// A foreign CLIPBOARD owner for the tests, as another application would be: offers the given
// targets, prints "ready" once it owns the selection and exits when another client takes it.
//   quib_clipboard_owner [--stall-on=TARGET] TARGET=TEXT | TARGET=@FILE ...
// --stall-on: hangs when asked for that target, like a hung application.
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::pair<std::string, std::string>> targets;  // name, bytes
std::string stallOn;

void serve(GtkClipboard*, GtkSelectionData* d, guint info, gpointer) {
  if (targets[info].first == stallOn)
    for (;;) pause();
  const std::string& b = targets[info].second;
  gtk_selection_data_set(d, gtk_selection_data_get_target(d), 8, reinterpret_cast<const guchar*>(b.data()),
                         static_cast<gint>(b.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (!gtk_init_check(&argc, &argv)) return 2;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto eq = a.find('=');
    if (eq == std::string::npos) return 2;
    if (a.starts_with("--stall-on=")) {
      stallOn = a.substr(eq + 1);
      continue;
    }
    std::string bytes = a.substr(eq + 1);
    if (bytes.starts_with("@")) {
      std::stringstream s;
      s << std::ifstream(bytes.substr(1), std::ios::binary).rdbuf();
      bytes = s.str();
    }
    targets.emplace_back(a.substr(0, eq), bytes);
  }
  std::vector<GtkTargetEntry> entries;
  for (guint i = 0; i < targets.size(); ++i) entries.push_back({targets[i].first.data(), 0, i});
  if (!gtk_clipboard_set_with_data(
          gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), entries.data(), static_cast<guint>(entries.size()),
          serve, [](GtkClipboard*, gpointer) { gtk_main_quit(); }, nullptr))
    return 1;
  std::printf("ready\n");
  std::fflush(stdout);
  gtk_main();
  return 0;
}
