// Pointer moves per second through the Wayland backend's wlroots path (virtual pointer, absolute
// motion) against the X11 path (XTest), in the same run. Each batch ends with a round trip, so a
// move counts once the display server has taken it. Needs both a compositor and an X server: run
// it under tests/platform/wayland/with-sway.sh --with-x. Rates are in wall time: the display
// server's own work counts.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "platform/linux/EventPoster.h"
#include "platform/wayland/EventPoster.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WlrootsInput.h"

// clang-format off: last, its macros clash with the headers above
#include <X11/Xlib.h>
// clang-format on

namespace {

constexpr int kBatch = 1000;

quib::Point place(int i) {
  return quib::Point{static_cast<double>(100 + i % 500), static_cast<double>(100 + (i * 7) % 400)};
}

void BM_WlrootsPointerMoves(benchmark::State& state) {
  std::string why;
  auto connection = quib::WaylandConnection::open(why);
  if (!connection) return state.SkipWithError(("no Wayland display: " + why).c_str());
  auto sink = quib::WlrootsInput::create(*connection);
  if (!sink) return state.SkipWithError("the compositor has no virtual pointer");
  quib::WaylandEventPoster events(sink.get(), [] {
    return std::optional(quib::WaylandEventPoster::Screens{0, 0, 1280, 800});
  });
  int i = 0;
  for (auto _ : state) {
    for (int n = 0; n < kBatch; ++n) {
      auto e = events.makeMouseEvent(quib::EventType::mouseMoved, place(i++), quib::MouseButton::left);
      events.post(*e);
      events.flush();  // each move its own burst: X11 would otherwise send only the last of them
    }
    connection->roundtrip();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_WlrootsPointerMoves)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_X11PointerMoves(benchmark::State& state) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return state.SkipWithError("no X display");
  {
    quib::LinuxEventPoster events(display);
    int i = 0;
    for (auto _ : state) {
      for (int n = 0; n < kBatch; ++n) {
        auto e = events.makeMouseEvent(quib::EventType::mouseMoved, place(i++), quib::MouseButton::left);
        events.post(*e);
        events.flush();
      }
      XSync(display, False);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
  }
  XCloseDisplay(display);
}
BENCHMARK(BM_X11PointerMoves)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
