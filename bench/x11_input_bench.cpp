// Key-to-X-event latency of the X11 input backend: from posting a key through XTest until another
// X client, a focused window on its own connection, reads the KeyPress. Needs an X server: run it
// under tests/platform/linux/with-desktop.sh or xvfb-run -a. Reports p50/p99/max in microseconds.
#include <benchmark/benchmark.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/linux/EventPoster.h"

// clang-format off: last, its macros clash with the headers above
#include <X11/Xlib.h>
// clang-format on

namespace {

using Clock = std::chrono::steady_clock;

// A focused window that reads key events on its own connection.
struct Reader {
  Display* display = XOpenDisplay(nullptr);
  Window window = 0;

  Reader() {
    if (!display) return;
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.event_mask = KeyPressMask | KeyReleaseMask | StructureNotifyMask;
    window = XCreateWindow(display, DefaultRootWindow(display), 0, 0, 200, 200, 0, CopyFromParent,
                           InputOutput, CopyFromParent, CWOverrideRedirect | CWEventMask, &attrs);
    XMapRaised(display, window);
    for (XEvent ev; XNextEvent(display, &ev), ev.type != MapNotify;) {
    }
    XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
    XSync(display, True);
  }
  ~Reader() {
    if (display) XCloseDisplay(display);
  }
  // Waits (at most a second) for the next event of `type`.
  bool waitFor(int type) {
    for (;;) {
      while (XPending(display)) {
        XEvent ev;
        XNextEvent(display, &ev);
        if (ev.type == type) return true;
      }
      pollfd fd{ConnectionNumber(display), POLLIN, 0};
      if (poll(&fd, 1, 1000) <= 0) return false;
    }
  }
};

void report(benchmark::State& state, std::vector<double>& micros) {
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  auto at = [&](double q) {
    return micros[static_cast<std::size_t>(q * static_cast<double>(micros.size() - 1))];
  };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
  state.counters["max_us"] = micros.back();
}

// `shortcut`: Control (the command key) goes down first, as a keystroke with a modifier posts it.
void keyLatency(benchmark::State& state, bool shortcut) {
  Display* posterDisplay = XOpenDisplay(nullptr);
  Reader reader;
  if (!posterDisplay || !reader.display) {
    state.SkipWithError("no X display (run under xvfb-run -a)");
    return;
  }
  std::vector<double> micros;
  {
    quib::LinuxEventPoster events(posterDisplay);
    auto command = events.makeKeyboardEvent(55, true);
    auto down = events.makeKeyboardEvent(8, true);
    auto up = events.makeKeyboardEvent(8, false);
    if (!command || !down || !up) {
      state.SkipWithError("the key cannot be made");
      return;
    }
    command->type = quib::EventType::flagsChanged;
    auto commandUp = *command;
    command->flags = quib::EventFlags::command;
    commandUp.flags = 0;
    for (auto _ : state) {
      const auto start = Clock::now();
      if (shortcut) events.post(*command);
      events.post(*down);
      events.flush();  // as the server does after each burst of actions
      if (!reader.waitFor(KeyPress)) {
        state.SkipWithError("the key press did not arrive");
        break;
      }
      micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
      events.post(*up);
      if (shortcut) events.post(commandUp);
      events.flush();
      // The next round starts from a quiet connection.
      if (!reader.waitFor(KeyRelease) || (shortcut && !reader.waitFor(KeyRelease))) {
        state.SkipWithError("the key release did not arrive");
        break;
      }
    }
  }
  XCloseDisplay(posterDisplay);
  report(state, micros);
}

void BM_KeyToXEvent(benchmark::State& state) {
  keyLatency(state, false);
}
void BM_ShortcutToXEvent(benchmark::State& state) {
  keyLatency(state, true);
}

}  // namespace

BENCHMARK(BM_KeyToXEvent)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShortcutToXEvent)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);
