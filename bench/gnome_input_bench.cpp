// Input through GNOME's remote-desktop session (mutter), as the program sends it: the latency from
// a key press sent to the key event in a window of ours (p50, p99 of 1,000 presses), and the time
// for a 1,000-character ASCII text to arrive whole in a text field. Needs gnome-shell: run it under
// tests/platform/wayland/with-gnome.sh. Times are wall time; the compositor's own work counts.
#include <gtk/gtk.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/wayland/SeatKeymap.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/mutter/MutterInput.h"
#include "platform/wayland/mutter/MutterSession.h"

namespace {

using Clock = std::chrono::steady_clock;

int presses = 0;

gboolean onKey(GtkWidget*, GdkEventKey*, gpointer) {
  ++presses;
  return FALSE;
}

template <typename Done>
bool iterateUntil(Done done, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!done() && Clock::now() < end) g_main_context_iteration(nullptr, FALSE);
  return done();
}

double ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  gdk_set_allowed_backends("wayland");
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr, "no Wayland display\n");
    return 77;
  }
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_max_length(GTK_ENTRY(entry), 0);
  gtk_container_add(GTK_CONTAINER(window), entry);
  g_signal_connect(window, "key-press-event", G_CALLBACK(onKey), nullptr);
  gtk_widget_show_all(window);
  gtk_window_present(GTK_WINDOW(window));
  // As the test window does: the shell gives a new window the focus once it is asked for.
  iterateUntil([&] { return gtk_widget_get_mapped(window); }, std::chrono::seconds(10));
  gdk_window_focus(gtk_widget_get_window(window), GDK_CURRENT_TIME);
  gtk_widget_grab_focus(entry);
  iterateUntil([] { return false; }, std::chrono::milliseconds(300));

  std::string why;
  auto connection = quib::WaylandConnection::open(why);
  if (!connection) {
    std::fprintf(stderr, "no Wayland display: %s\n", why.c_str());
    return 1;
  }
  quib::SeatKeymap keymap(*connection);
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  quib::MutterSession session(bus);
  quib::MutterInput input(
      session, [&](std::uint32_t keysym) { return keymap.catchUp() ? keymap.locate(keysym) : std::nullopt; });
  if (!input.ready()) {
    std::fprintf(stderr, "no remote-desktop session: %s\n", input.whyNot().c_str());
    return 1;
  }
  iterateUntil([] { return false; }, std::chrono::milliseconds(200));

  constexpr int kPresses = 1000;
  std::vector<double> latencies;
  for (int i = 0; i < kPresses; ++i) {
    const int before = presses;
    const auto start = Clock::now();
    if (!input.key('a', true)) return 1;
    if (!iterateUntil([&] { return presses > before; }, std::chrono::seconds(2))) {
      std::fprintf(stderr, "press %d did not arrive\n", i);
      return 1;
    }
    latencies.push_back(ms(Clock::now() - start));
    input.key('a', false);
  }
  std::sort(latencies.begin(), latencies.end());
  std::printf("key to event: p50 %.2f ms, p99 %.2f ms, max %.2f ms (%d presses)\n", latencies[kPresses / 2],
              latencies[kPresses * 99 / 100], latencies.back(), kPresses);

  gtk_entry_set_text(GTK_ENTRY(entry), "");
  iterateUntil([] { return false; }, std::chrono::milliseconds(200));
  std::string text;
  for (int i = 0; text.size() < 1000; ++i)
    text += "The quick brown fox jumps over the lazy dog, 0123456789! "[i % 57];
  // The window shares this thread: its events are read between pieces of the text, as a window of
  // its own would read them meanwhile (unread, they fill the compositor's buffer and it drops us).
  const auto start = Clock::now();
  bool typedAll = true;
  for (std::size_t at = 0; at < text.size(); at += 20) {
    typedAll = input.typeText(text.substr(at, 20)).value_or(false) && typedAll;
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
  }
  const auto sent = Clock::now();
  const bool whole =
      iterateUntil([&] { return text == gtk_entry_get_text(GTK_ENTRY(entry)); }, std::chrono::seconds(30));
  std::printf("1,000-character ASCII text: sent in %.0f ms, whole in the field after %.0f ms%s\n",
              ms(sent - start), ms(Clock::now() - start), typedAll && whole ? "" : " (NOT WHOLE)");
  g_object_unref(bus);
  return whole ? 0 : 1;
}
