// Input through GNOME's remote-desktop session (mutter), as the program sends it: the latency from
// a key press sent to the key event in a window (p50, p99 of 1,000 presses, split at mutter's
// reply), and the time for a 1,000-character ASCII text to arrive whole in a text field. Needs
// gnome-shell: run it under tests/platform/wayland/with-gnome.sh. Times are wall time; the
// compositor's own work counts.
//
// The window runs on the main thread and the sender on a thread of its own with its own main
// context, as the program and a window are separate processes: the window's painting never delays
// the next press, and the sender never reads the window's events.
#include <gtk/gtk.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/wayland/SeatKeymap.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/mutter/MutterInput.h"
#include "platform/wayland/mutter/MutterSession.h"

namespace {

using Clock = std::chrono::steady_clock;

// What the window saw, written on the main thread and read by the sender.
std::mutex seenMutex;
std::condition_variable seenChanged;
int presses = 0;
Clock::time_point lastPress;
std::size_t textLength = 0;
Clock::time_point lastChange;

// With --still the window takes each key without changing, so nothing repaints: the latency then
// leaves out the compositor painting the window between presses.
bool still = false;

gboolean onKey(GtkWidget*, GdkEventKey*, gpointer) {
  const auto now = Clock::now();
  {
    std::lock_guard lock(seenMutex);
    ++presses;
    lastPress = now;
  }
  seenChanged.notify_all();
  return still && presses > 0 ? TRUE : FALSE;
}

void onChanged(GtkEditable* entry, gpointer) {
  const auto now = Clock::now();
  {
    std::lock_guard lock(seenMutex);
    textLength = std::string(gtk_entry_get_text(GTK_ENTRY(entry))).size();
    lastChange = now;
  }
  seenChanged.notify_all();
}

template <typename Done>
bool waitSeen(Done done, std::chrono::milliseconds limit) {
  std::unique_lock lock(seenMutex);
  return seenChanged.wait_for(lock, limit, done);
}

double ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

void report(const char* name, std::vector<double> v) {
  std::sort(v.begin(), v.end());
  std::printf("%s: p50 %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms (%zu presses)\n", name, v[v.size() / 2],
              v[v.size() * 9 / 10], v[v.size() * 99 / 100], v.back(), v.size());
}

// The sender's whole run, on its own thread and main context; 0 when every measure completed.
int send(GtkEntry* entry) {
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  std::string why;
  auto connection = quib::WaylandConnection::open(why);
  if (!connection) {
    std::fprintf(stderr, "no Wayland display: %s\n", why.c_str());
    return 1;
  }
  quib::SeatKeymap keymap(*connection);
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  int failed = 0;
  {
    quib::MutterSession session(bus);
    quib::MutterInput input(session, [&](std::uint32_t keysym) {
      return keymap.catchUp() ? keymap.locate(keysym) : std::nullopt;
    });
    if (!input.ready()) {
      std::fprintf(stderr, "no remote-desktop session: %s\n", input.whyNot().c_str());
      failed = 1;
    }
    // The first presses after the window appeared settle the shell's keyboard state: not counted.
    constexpr int kWarmUp = 20, kPresses = 1000;
    std::vector<double> latencies, calls;
    for (int i = -kWarmUp; i < kPresses && !failed; ++i) {
      int before = 0;
      {
        std::lock_guard lock(seenMutex);
        before = presses;
      }
      const auto start = Clock::now();
      if (!input.key('a', true)) failed = 1;
      const auto replied = Clock::now();
      if (!waitSeen([&] { return presses > before; }, std::chrono::seconds(2))) {
        std::fprintf(stderr, "press %d did not arrive\n", i);
        failed = 1;
      }
      if (i >= 0) {
        std::lock_guard lock(seenMutex);
        latencies.push_back(ms(lastPress - start));
        calls.push_back(ms(replied - start));
      }
      if (!input.key('a', false)) failed = 1;
      while (g_main_context_iteration(context, FALSE)) {
      }
    }
    // The same round trip through the bus with nothing for mutter to do: what the bus and the
    // threads on both sides cost alone.
    std::vector<double> pings;
    for (int i = 0; i < kPresses && !failed; ++i) {
      const auto start = Clock::now();
      GVariant* reply = g_dbus_connection_call_sync(
          bus, quib::MutterSession::kService, session.path().c_str(), "org.freedesktop.DBus.Peer", "Ping",
          nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
      if (!reply) failed = 1;
      if (reply) g_variant_unref(reply);
      pings.push_back(ms(Clock::now() - start));
    }
    if (!failed) {
      report("key to event", latencies);
      report("  mutter's reply to the press", calls);
      report("  a bus round trip to the shell alone (Peer.Ping)", pings);
    }

    still = false;
    g_main_context_invoke(
        nullptr,
        +[](gpointer e) -> gboolean {
          gtk_entry_set_text(GTK_ENTRY(e), "");
          return G_SOURCE_REMOVE;
        },
        entry);
    waitSeen([] { return textLength == 0; }, std::chrono::seconds(2));
    std::string text;
    for (int i = 0; text.size() < 1000; ++i)
      text += "The quick brown fox jumps over the lazy dog, 0123456789! "[i % 57];
    // Typed 20 keys at a time, each piece awaited in the field as a phone's texts come: a window
    // that falls far behind on a loaded machine is dropped by the compositor.
    const auto start = Clock::now();
    bool typedAll = true, whole = true;
    for (std::size_t at = 0; at < text.size() && !failed && whole; at += 20) {
      typedAll = input.typeText(text.substr(at, 20)).value_or(false) && typedAll;
      whole =
          waitSeen([&] { return textLength >= std::min(text.size(), at + 20); }, std::chrono::seconds(10));
    }
    std::lock_guard lock(seenMutex);
    std::printf("1,000-character ASCII text, typed 20 keys at a time: whole in the field after %.0f ms%s\n",
                ms(lastChange - start), typedAll && whole ? "" : " (NOT WHOLE)");
    if (!typedAll || !whole) failed = 1;
  }
  g_object_unref(bus);
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
  return failed;
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  still = argc > 1 && std::string(argv[1]) == "--still";
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
  g_signal_connect(entry, "changed", G_CALLBACK(onChanged), nullptr);
  gtk_widget_show_all(window);
  gtk_window_present(GTK_WINDOW(window));
  // As the test window does: the shell gives a new window the focus once it is asked for.
  const auto until = Clock::now() + std::chrono::seconds(10);
  while (!gtk_widget_get_mapped(window) && Clock::now() < until) g_main_context_iteration(nullptr, FALSE);
  gdk_window_focus(gtk_widget_get_window(window), GDK_CURRENT_TIME);
  gtk_widget_grab_focus(entry);
  const auto settled = Clock::now() + std::chrono::milliseconds(300);
  while (Clock::now() < settled) g_main_context_iteration(nullptr, FALSE);

  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  std::atomic<int> result{1};
  std::thread sender([&] {
    result = send(GTK_ENTRY(entry));
    g_main_context_invoke(
        nullptr,
        +[](gpointer l) -> gboolean {
          g_main_loop_quit(static_cast<GMainLoop*>(l));
          return G_SOURCE_REMOVE;
        },
        loop);
  });
  g_main_loop_run(loop);
  sender.join();
  g_main_loop_unref(loop);
  return result;
}
